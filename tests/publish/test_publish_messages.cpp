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

    void theCursorSurvivesARestartAndADamagedOneIsNoCursor() {
        QTemporaryDir dir;
        const QString path = cursorPathFor(dir.filePath("Rdatabj.db"));
        QVERIFY(!readPublishCursor(path));
        const PublishCursor cursor{65500, *instantOfIsoText("2026-12-08T23:59:59")};
        QString error;
        QVERIFY2(writePublishCursor(path, cursor, &error), qPrintable(error));
        QCOMPARE(readPublishCursor(path), cursor);
        for (const QByteArray& damaged :
             {QByteArray("65501 2026-12-08T23:59:59\n"), QByteArray("12 yesterday\n"), QByteArray("")}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(damaged);
            file.close();
            QVERIFY2(!readPublishCursor(path), damaged.constData());
        }
        // Overwritten in place: a longer leftover does not trail after the new line.
        QFile leftover(path);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.write(QByteArray(100, '9'));
        leftover.close();
        QVERIFY2(writePublishCursor(path, cursor, &error), qPrintable(error));
        QCOMPARE(readPublishCursor(path), cursor);
        QVERIFY(QFileInfo(path).size() < 100);
    }

    void settingsComeFromTheEnvironmentAndAWrongOneIsRefused() {
        QTemporaryDir dir;
        QFile password(dir.filePath("password"));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write("s3cret\n");
        password.close();
        qputenv("HX5800_MQTT", "mqtts://broker.plant");
        qputenv("HX5800_MQTT_USER", "line7");
        qputenv("HX5800_MQTT_PASSWORD_FILE", password.fileName().toUtf8());
        QString error;
        auto settings = mqttSettingsFromEnvironment("/data/Rdatabj.db", 3, &error);
        QVERIFY2(settings, qPrintable(error));
        QCOMPARE(settings->port, 8883);
        QVERIFY(settings->tls);
        QCOMPARE(settings->password, QStringLiteral("s3cret"));
        QCOMPARE(settings->topicPrefix, QStringLiteral("hx5800/%1/3").arg(QSysInfo::machineHostName()));

        qputenv("HX5800_MQTT_PASSWORD_FILE", dir.filePath("missing").toUtf8());
        QVERIFY(!mqttSettingsFromEnvironment("/data/Rdatabj.db", 3, &error));
        QVERIFY(error.contains("missing"));
        qputenv("HX5800_MQTT", "http://broker.plant:1883");
        QVERIFY(!mqttSettingsFromEnvironment("/data/Rdatabj.db", 3, &error));
        QVERIFY(!error.isEmpty());
        qunsetenv("HX5800_MQTT");
        QVERIFY(!mqttSettingsFromEnvironment("/data/Rdatabj.db", 3, &error));
        QVERIFY(error.isEmpty()); // off, not wrong
    }
};

QTEST_GUILESS_MAIN(PublishMessagesTest)
#include "test_publish_messages.moc"
