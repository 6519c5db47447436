// The publisher's messages, its cursor file and its settings, without a broker.
#include "core/Clock.h"
#include "publish/Messages.h"
#include "publish/MqttSettings.h"
#include "publish/PublishCursor.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace hx;

class PublishMessagesTest : public QObject {
    Q_OBJECT

  private slots:
    void aRecordCarriesItsSlotAndTheInstantWithItsOffsetFromUtc() {
        const QDateTime at(QDate(2026, 7, 14), QTime(14, 3, 22));
        StoredRecord record;
        record.id = 4711;
        record.date = dayNumberOf(at.date());
        record.time = dayFractionOf(at.time());
        record.values = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        record.values[2] = NAN;
        const QJsonObject o = QJsonDocument::fromJson(recordMessage(record)).object();
        QCOMPARE(o.value("slot").toInt(), 4711);
        const QString time = o.value("time").toString();
        QVERIFY2(time.contains(QRegularExpression("[+-]\\d\\d:\\d\\d$")), qPrintable(time));
        // Read back with its offset, it names the instant the recorder stored in local time.
        QCOMPARE(QDateTime::fromString(time, Qt::ISODate).toSecsSinceEpoch(), at.toSecsSinceEpoch());
        QCOMPARE(o.value("ch1").toDouble(), 1.0);
        QCOMPARE(o.value("da2").toDouble(), 10.0);
        QVERIFY(o.value("ch3").isNull()); // no reading, not a made-up 0
    }

    // A cursor file holds a cursor or reads as damaged: never a wrong cursor, never "start
    // now" (which would skip what was stored while the broker was away).
    void theCursorSurvivesARestartAndADamagedOneIsNoCursor() {
        QTemporaryDir dir;
        const QString path = cursorPathFor(dir.filePath("Rdatabj.db"));
        QVERIFY(!readPublishCursor(path).cursor && !readPublishCursor(path).damaged);
        const PublishCursor cursor{65500, *instantOfIsoText("2026-12-08T23:59:59")};
        QString error;
        QVERIFY2(writePublishCursor(path, cursor, &error), qPrintable(error));
        QCOMPARE(readPublishCursor(path).cursor, cursor);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray good = file.readAll();
        file.close();
        QByteArray torn = good;
        torn[0] = '1'; // still looks like a cursor, but is not the one written
        for (const QByteArray& damaged :
             {torn, good.left(good.size() / 2), QByteArray("65501 2026-12-08T23:59:59\n"),
              QByteArray("12 yesterday\n"), QByteArray("")}) {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(damaged);
            file.close();
            QVERIFY2(!readPublishCursor(path).cursor && readPublishCursor(path).damaged, damaged.constData());
        }
        // A link planted in its place is neither followed nor overwritten.
        QFile target(dir.filePath("precious"));
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("keep\n") == 5);
        target.close();
        QVERIFY(QFile::remove(path) && QFile::link(target.fileName(), path));
        QVERIFY(readPublishCursor(path).damaged);
        QVERIFY(!writePublishCursor(path, cursor, &error));
        QVERIFY(target.open(QIODevice::ReadOnly) && target.readAll() == "keep\n");
    }

    void settingsComeFromTheEnvironmentAndAWrongOneIsRefused() {
        QTemporaryDir dir;
        QFile password(dir.filePath("password"));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write("s3cret\n");
        password.close();
        QVERIFY(password.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        qputenv("HX5800_MQTT", "mqtts://broker.plant");
        qputenv("HX5800_MQTT_USER", "line7");
        qputenv("HX5800_MQTT_PASSWORD_FILE", password.fileName().toUtf8());
        QString error;
        auto settings = mqttSettingsFromEnvironment("/data/Rdatabj.db", "com1", 3, &error);
        QVERIFY2(settings, qPrintable(error));
        QCOMPARE(settings->port, 8883);
        QVERIFY(settings->tls);
        QCOMPARE(settings->password, QStringLiteral("s3cret"));
        // Two lines on one PC, an instrument at address 1 on each: their own topics, their own
        // stable client identifiers within MQTT 3.1.1's 23 letters and digits.
        QCOMPARE(settings->topicPrefix, QStringLiteral("hx5800/%1/com1/3").arg(QSysInfo::machineHostName()));
        const auto line2 = mqttSettingsFromEnvironment("/data/line2.db", "/dev/ttyUSB0", 3, &error);
        QVERIFY(line2->topicPrefix.endsWith("/ttyUSB0/3") && settings->clientId != line2->clientId);
        QCOMPARE(settings->clientId,
                 mqttSettingsFromEnvironment("/data/Rdatabj.db", "com1", 3, &error)->clientId);
        QVERIFY(
            QRegularExpression("^[0-9a-zA-Z]{1,23}$").match(QString::fromLatin1(line2->clientId)).hasMatch());
        // Working, but not as one may think: said in the status line.
        qputenv("HX5800_MQTT", "mqtt://broker.plant");
        QVERIFY(mqttSettingsFromEnvironment("/data/Rdatabj.db", "com1", 3, &error)->warning.contains("明文"));

        for (const auto& [name, value] : std::vector<std::pair<const char*, QString>>{
                 {"HX5800_MQTT_PASSWORD_FILE", dir.filePath("missing")},
                 {"HX5800_MQTT", "http://broker.plant:1883"},
                 {"HX5800_MQTT_TOPIC", "plant/+/line"},
                 {"HX5800_MQTT_TOPIC", "plant/#"},
                 {"HX5800_MQTT_TOPIC", "plant//line"},
                 {"HX5800_MQTT_TOPIC", "/plant"}}) {
            const QByteArray before = qgetenv(name);
            qputenv(name, value.toUtf8());
            QVERIFY2(!mqttSettingsFromEnvironment("/data/Rdatabj.db", "com1", 3, &error) && !error.isEmpty(),
                     qPrintable(value));
            qputenv(name, before);
        }
        QVERIFY(password.setPermissions(password.permissions() | QFile::ReadOther)); // as ssh refuses a key
        QVERIFY(!mqttSettingsFromEnvironment("/data/Rdatabj.db", "com1", 3, &error) &&
                error.contains("chmod"));
        qunsetenv("HX5800_MQTT_TOPIC");
        qunsetenv("HX5800_MQTT");
        QVERIFY(!mqttSettingsFromEnvironment("/data/Rdatabj.db", "com1", 3, &error));
        QVERIFY(error.isEmpty()); // off, not wrong
    }
};

QTEST_GUILESS_MAIN(PublishMessagesTest)
#include "test_publish_messages.moc"
