// The whole program publishing to a real broker: the simulator on its line, the recording in
// a temporary folder, Mosquitto on a free port. Every record arrives once and in order; a
// broker outage loses nothing; a broker that refuses the login is named in the status line
// while the recording goes on.
#include "MqttTestSupport.h"
#include "ProgramHarness.h"

#include "journal/EventJournal.h"
#include "logging/mscom.h"
#include "publish/PublishCursor.h"
#include "publish/Publisher.h"

#include <QLabel>
#include <QtTest>

#include <algorithm>

using namespace hx;
using namespace hx::test;

namespace {

const QString kPrefix = QStringLiteral("hx5800/test-line");

// The last message on a topic, as a consumer that joins now would see it.
QJsonObject lastOn(const Subscriber& subscriber, const QString& leaf) {
    QJsonObject last;
    for (const ReceivedMessage& m : subscriber.messages())
        if (m.topic == kPrefix + '/' + leaf) last = m.json();
    return last;
}

// Waits until the subscriber holds every record of the database (each once, duplicates
// dropped) and returns what it holds.
std::vector<std::pair<int, QString>> waitForAll(const Subscriber& subscriber, const QString& database,
                                                int timeoutMs) {
    const auto stored = recordsInDatabase(database);
    // On time-out the caller's comparison says what is missing.
    (void)QTest::qWaitFor([&] { return withoutRepeats(subscriber.records()).size() >= stored.size(); },
                          timeoutMs);
    return subscriber.records();
}

bool startsWith(const std::vector<std::pair<int, QString>>& got,
                const std::vector<std::pair<int, QString>>& want) {
    return got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin());
}

} // namespace

class PublishProgramTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { qputenv("HX5800_MQTT_TOPIC", kPrefix.toUtf8()); }
    void cleanup() {
        for (const char* name :
             {"HX5800_MQTT", "HX5800_MQTT_TOPIC", "HX5800_MQTT_USER", "HX5800_MQTT_PASSWORD_FILE"})
            qunsetenv(name);
    }

    // One program, one broker: every record once and in order with the program's state and the
    // journal's events; then the broker slow and gone: the records of the outage arrive after
    // it, in order, and the window thread never waits for the broker.
    void everyRecordArrivesOnceInOrderAlsoAcrossABrokerOutage() {
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), kPrefix + "/#");
        QVERIFY(subscriber.waitConnected(5000));
        qputenv("HX5800_MQTT", broker.url().toUtf8());
        ProgramHarness program;
        QVERIFY2(program.start(), qPrintable(program.why()));
        QVERIFY(program.app().publisher());
        QTest::qWait(6000);

        const auto stored = recordsInDatabase(program.databasePath());
        QVERIFY(stored.size() >= 4);
        const auto got = waitForAll(subscriber, program.databasePath(), 10000);
        QVERIFY(startsWith(got, stored));
        QCOMPARE(withoutRepeats(got).size(), got.size()); // none twice

        // The simulator's frozen picture: CH2's setpoint alarm on, CH1 fine, DO1 closed.
        QTRY_VERIFY(lastOn(subscriber, "alarm/ch2-setpoint-alarm").value("on").toBool());
        // Only states read from the instrument go out: CH2's alarm is on from its first message.
        const auto messages = subscriber.messages();
        const auto first = std::find_if(messages.begin(), messages.end(), [](const ReceivedMessage& m) {
            return m.topic == kPrefix + "/alarm/ch2-setpoint-alarm";
        });
        QVERIFY(first != messages.end() && first->json().value("on").toBool());
        QCOMPARE(lastOn(subscriber, "alarm/ch1-open-circuit").value("on").toBool(false), false);
        QVERIFY(lastOn(subscriber, "alarm/do1").value("on").toBool());
        const QJsonObject status = lastOn(subscriber, "status");
        QCOMPARE(status.value("state").toString(), QStringLiteral("online"));
        QVERIFY(status.value("port").toObject().value("open").toBool());
        QTRY_COMPARE(lastOn(subscriber, "status").value("instrument").toString(),
                     QStringLiteral("answering"));
        // The instrument answered from its first poll on: it was never called silent.
        for (const ReceivedMessage& m : subscriber.messages())
            QVERIFY(m.topic != kPrefix + "/status" || m.json().value("instrument") != "silent");
        QVERIFY(program.window().statusRecording->text().contains(QStringLiteral("MQTT: 已连接")));

        // The journal's events go out too: the port opened, the alarms present at the start.
        QStringList kinds;
        for (const ReceivedMessage& m : subscriber.messages())
            if (m.topic == kPrefix + "/event") kinds << m.json().value("kind").toString();
        QVERIFY2(kinds.contains("port-opened") && kinds.contains("alarm-raised"),
                 qPrintable(kinds.join(' ')));

        // A broker that stops answering (slow), then one that is gone.
        program.heartbeat().reset();
        broker.pause();
        QTest::qWait(3000);
        broker.resume();
        broker.stop();
        QElapsedTimer stopped;
        stopped.start();
        const size_t beforeOutage = recordsInDatabase(program.databasePath()).size();
        QTRY_VERIFY_WITH_TIMEOUT(
            program.window().statusRecording->text().contains(QStringLiteral("正在重试")), 5000);
        QTest::qWait(int(std::max<qint64>(0, 20000 - stopped.elapsed()))); // gone for 20 s
        const qint64 stall = program.heartbeat().longestStallMs();
        QVERIFY(program.window().statusRecording->text().contains(QStringLiteral("待发记录")));
        QVERIFY(broker.start());

        const auto afterOutage = waitForAll(subscriber, program.databasePath(), 30000);
        const auto recorded = recordsInDatabase(program.databasePath());
        QVERIFY(recorded.size() >= beforeOutage + 12); // recording went on throughout
        QVERIFY(startsWith(withoutRepeats(afterOutage), recorded));
        qInfo("outage: %zu records recorded during it, all delivered afterwards; longest window-thread stall "
              "%lld ms",
              recorded.size() - beforeOutage, qlonglong(stall));
        QVERIFY2(stall < 300, qPrintable(QString::number(stall)));
    }

    // Records stored while the broker was away, the program ended, its cursor file damaged
    // (a torn write): after the restart every one of them arrives, and the status line says
    // the cursor could not be read.
    void aDamagedCursorLosesNoRecordAcrossARestart() {
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), kPrefix + "/record");
        QVERIFY(subscriber.waitConnected(5000));
        qputenv("HX5800_MQTT", broker.url().toUtf8());
        QTemporaryDir data;
        const QString database = data.filePath("Rdatabj.db");
        {
            ProgramHarness program({"--static"}, true, data.path());
            QVERIFY2(program.start(), qPrintable(program.why()));
            QTRY_VERIFY_WITH_TIMEOUT(subscriber.records().size() >= 2, 10000);
            broker.stop();
            const size_t before = recordsInDatabase(database).size();
            QTRY_VERIFY_WITH_TIMEOUT(recordsInDatabase(database).size() >= before + 10, 20000);
        } // a clean end: the cursors are saved
        QFile cursor(cursorPathFor(database));
        QVERIFY(cursor.open(QIODevice::ReadWrite) && cursor.write("9") == 1);
        cursor.close();
        QVERIFY(broker.start());
        ProgramHarness again({"--static"}, true, data.path());
        QVERIFY2(again.start(), qPrintable(again.why()));
        QTRY_VERIFY_WITH_TIMEOUT(
            again.window().statusRecording->text().contains(QStringLiteral("发布位置文件无法读取")), 10000);
        const auto got = waitForAll(subscriber, database, 20000);
        QVERIFY(startsWith(withoutRepeats(got), recordsInDatabase(database)));
        bool journalled = false;
        for (const JournalEvent& e : again.app().journal().page({}, std::nullopt, 50))
            journalled |= e.kind == EventKind::PublishCursorUnreadable;
        QVERIFY(journalled);
    }

    void aRefusedLoginIsShownAndTheRecordingGoesOn() {
        BrokerProcess broker("line7", "right");
        QVERIFY(broker.start());
        QTemporaryDir dir;
        QFile password(dir.filePath("password"));
        QVERIFY(password.open(QIODevice::WriteOnly) && password.write("wrong\n") > 0);
        password.close();
        QVERIFY(password.setPermissions(QFile::ReadOwner | QFile::WriteOwner)); // others may not read it
        qputenv("HX5800_MQTT", broker.url().toUtf8());
        qputenv("HX5800_MQTT_USER", "line7");
        qputenv("HX5800_MQTT_PASSWORD_FILE", password.fileName().toUtf8());
        ProgramHarness program;
        QVERIFY2(program.start(), qPrintable(program.why()));
        QTRY_VERIFY_WITH_TIMEOUT(
            program.window().statusRecording->text().contains(QStringLiteral("代理拒绝登录")), 10000);
        const quint64 committed = program.app().recorder()->status().recordsCommitted;
        QTRY_VERIFY_WITH_TIMEOUT(program.app().recorder()->status().recordsCommitted >= committed + 2, 5000);
        // The line is redrawn once a second: the recording part follows the new records.
        QTRY_VERIFY2(program.window().statusRecording->text().contains(QStringLiteral("记录到")),
                     qPrintable(program.window().statusRecording->text()));
        QVERIFY(program.window().statusRecording->text().contains(QStringLiteral("代理拒绝登录")));
    }
};

QTEST_MAIN(PublishProgramTest)
#include "test_publish_program.moc"
