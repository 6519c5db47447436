// The publishing program killed and started again (reliability_program_child, the whole
// program offscreen against the simulator): the broker publishes the program's last will,
// "offline", and no record is missing after the restart, also none the broker had not yet
// acknowledged when the program died.
#include "MqttTestSupport.h"
#include "support/SimProcess.h"

#include "logging/DatabaseSetup.h"

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
};

QTEST_GUILESS_MAIN(PublishCrashTest)
#include "test_publish_crash.moc"
