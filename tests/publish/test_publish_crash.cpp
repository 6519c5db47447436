// The publishing program killed and started again (reliability_program_child, the whole
// program offscreen against the simulator): the broker publishes the program's last will,
// "offline", and no record is missing after the restart, also none the broker had not yet
// acknowledged when the program died.
#include "MqttTestSupport.h"
#include "support/SimProcess.h"

#include "journal/EventJournal.h"
#include "logging/DatabaseSetup.h"
#include "publish/PublishCursor.h"
#include "support/ChildSignal.h"

#include <QSysInfo>

#include <QProcess>
#include <QtTest>

using namespace hx;
using namespace hx::test;

namespace {

const QString kPrefix = QStringLiteral("hx5800/crash-line");

int offlineCount(const Subscriber& subscriber) {
    int count = 0;
    for (const ReceivedMessage& m : subscriber.messages())
        if (m.topic == kPrefix + "/status" && m.json().value("state").toString() == QStringLiteral("offline"))
            ++count;
    return count;
}

} // namespace

class PublishCrashTest : public QObject {
    Q_OBJECT

  private slots:
    void killedAndStartedAgainItLeavesItsWillAndLosesNoRecord() {
        QTemporaryDir dir;
        const QString database = dir.filePath("Rdatabj.db");
        QString error;
        QVERIFY2(createRecordDatabase(database, false, &error), qPrintable(error));
        SimProcess sim({"--static"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), kPrefix + "/#");
        QVERIFY(subscriber.waitConnected(5000));

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HX5800_COM1", sim.devicePath());
        env.insert("HX5800_DB", database);
        env.insert("HX5800_MQTT", broker.url());
        env.insert("HX5800_MQTT_TOPIC", kPrefix);
        program.setProcessEnvironment(env);
        program.setStandardOutputFile(QProcess::nullDevice());
        const auto run = [&] {
            program.start(PROGRAM_CHILD, {});
            return program.waitForStarted(5000);
        };

        // Killed while the broker is there: the broker sends the will.
        QVERIFY(run());
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.records().size() >= 3, 20000);
        program.kill();
        program.waitForFinished(5000);
        QTRY_COMPARE_WITH_TIMEOUT(offlineCount(subscriber), 1, 10000);

        // Killed while records were handed to the broker but not acknowledged (the broker
        // stopped answering): they come after the restart.
        QVERIFY(run());
        QTRY_VERIFY_WITH_TIMEOUT(withoutRepeats(subscriber.records()).size() >=
                                         recordsInDatabase(database).size() &&
                                     subscriber.records().size() >= 5,
                                 20000);
        broker.pause();
        QTest::qWait(3000);
        program.kill();
        program.waitForFinished(5000);
        broker.resume();
        QTRY_COMPARE_WITH_TIMEOUT(offlineCount(subscriber), 2, 10000);
        const size_t beforeRestart = withoutRepeats(subscriber.records()).size();

        QVERIFY(run());
        QTest::qWait(3000);
        const auto stored = recordsInDatabase(database);
        QTRY_VERIFY_WITH_TIMEOUT(withoutRepeats(subscriber.records()).size() >= stored.size(), 20000);
        program.kill();
        program.waitForFinished(5000);

        const auto got = withoutRepeats(subscriber.records());
        QVERIFY(stored.size() > beforeRestart + 2); // the unacknowledged ones and new ones came
        QVERIFY(std::equal(stored.begin(), stored.end(), got.begin()));
        qInfo("%zu records, %zu messages with repeats after two kills", stored.size(),
              subscriber.records().size());
    }

    // Two programs on one PC, one per line, an instrument at address 1 on each, their
    // databases in one folder: two status topics, two journals, no event of one line in the
    // other's. A third copy paging line 1's database publishes nothing. SIGTERM ends each as
    // "退出" does: "offline" sent and the cursor saved, within about a second.
    void twoLinesOnOnePcPublishApartAndEndCleanly() {
        QTemporaryDir dir;
        SimProcess sim1({"--static"}), sim2({"--static"});
        QVERIFY(sim1.start() && sim2.start());
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), "hx5800/#");
        QVERIFY(subscriber.waitConnected(5000));
        const auto launch = [&](QProcess& program, int port, const QString& database,
                                const char* topic = "") {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const auto& [name, value] : {std::pair("HX5800_COM1", sim1.devicePath()),
                                              {"HX5800_COM2", sim2.devicePath()},
                                              {"HX5800_TEST_PORT", QString::number(port)},
                                              {"HX5800_DB", database},
                                              {"HX5800_MQTT", broker.url()},
                                              {"HX5800_MQTT_TOPIC", topic}})
                env.insert(name, value);
            program.setProcessEnvironment(env);
            program.setStandardOutputFile(QProcess::nullDevice());
            program.start(PROGRAM_CHILD, {});
            return program.waitForStarted(5000);
        };
        QString error;
        const QString line[] = {dir.filePath("line1.db"), dir.filePath("line2.db")};
        QVERIFY(createRecordDatabase(line[0], false, &error) && createRecordDatabase(line[1], false, &error));
        // The last message on a leaf of line 1 or 2's default prefix.
        const auto lastOn = [&](int port, const QString& leaf) {
            QJsonObject last;
            for (const ReceivedMessage& m : subscriber.messages())
                if (m.topic ==
                    QStringLiteral("hx5800/%1/com%2/1/").arg(QSysInfo::machineHostName()).arg(port) + leaf)
                    last = m.json();
            return last;
        };
        QProcess first, second, pager;
        QVERIFY(launch(first, 1, line[0]) && launch(second, 2, line[1]));
        QTRY_VERIFY_WITH_TIMEOUT(
            lastOn(1, "status")["state"] == "online" && lastOn(2, "status")["state"] == "online" &&
                lastOn(1, "record")["slot"].toInt() >= 4 && lastOn(2, "record")["slot"].toInt() >= 4,
            30000);
        QVERIFY(launch(pager, 1, line[0], "hx5800/pager")); // port 1 is the first one's: it only pages
        QTest::qWait(3000);

        QElapsedTimer ending;
        ending.start();
        for (QProcess* program : {&first, &second, &pager}) {
            QVERIFY(signalChild(*program, SIGTERM) && program->waitForFinished(5000));
            QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        }
        QVERIFY2(ending.elapsed() < 6000, qPrintable(QString::number(ending.elapsed())));
        for (int port : {1, 2}) {
            QCOMPARE(lastOn(port, "status")["state"].toString(), QStringLiteral("offline"));
            // Saved at the end: the cursor names the last record the broker acknowledged.
            QCOMPARE(readPublishCursor(cursorPathFor(line[port - 1])).cursor.value_or(PublishCursor{}).slot,
                     lastOn(port, "record")["slot"].toInt());
            EventJournal journal(EventJournal::pathBeside(line[port - 1]));
            QVERIFY(journal.storedCount() > 0);
            for (const JournalEvent& e : journal.page({}, std::nullopt, 1000))
                QVERIFY2(!e.subject.startsWith(QStringLiteral("端口")) ||
                             e.subject == QStringLiteral("端口%1").arg(port),
                         qPrintable(e.subject));
        }
        for (const ReceivedMessage& m : subscriber.messages())
            QVERIFY2(!m.topic.startsWith("hx5800/pager"), qPrintable(m.topic));
    }
};

QTEST_GUILESS_MAIN(PublishCrashTest)
#include "test_publish_crash.moc"
