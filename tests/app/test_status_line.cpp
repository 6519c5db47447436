// The status line's texts for an open that failed and for a recording another program does:
// the operator reads the cause in Chinese, never the system's English message.
#include "app/StatusLine.h"

#include <QtTest>

using hx::OpenError;
using hx::PortStatus;
using hx::RecorderClaim;
using hx::RecordingHealth;

Q_DECLARE_METATYPE(hx::OpenError)
Q_DECLARE_METATYPE(hx::RecorderClaim)

class StatusLineTest : public QObject {
    Q_OBJECT
  private slots:
    void aPortThatCannotBeOpenedTellsWhyInChinese_data() {
        QTest::addColumn<OpenError>("cause");
        QTest::addColumn<int>("errnoValue");
        QTest::addColumn<QString>("told");
        QTest::newRow("unplugged") << OpenError::NoDevice << ENOENT << u8"设备不存在";
        QTest::newRow("not in dialout")
            << OpenError::NoPermission << EACCES << u8"无权限 (请将用户加入 dialout 组)";
        QTest::newRow("held by another program")
            << OpenError::Busy << EWOULDBLOCK << u8"端口被另一个程序占用";
        QTest::newRow("unknown baud rate") << OpenError::BadSetting << 0 << u8"设置无效";
        QTest::newRow("anything else, with its number") << OpenError::Other << ENOTTY << u8"错误码 25";
    }
    void aPortThatCannotBeOpenedTellsWhyInChinese() {
        QFETCH(OpenError, cause);
        QFETCH(int, errnoValue);
        QFETCH(QString, told);
        const PortStatus status{false, "/dev/ttyUSB0", "English system message", cause, errnoValue};
        const QString text = hx::portStatusText(1, status, true);
        QVERIFY2(text.startsWith(QString::fromUtf8(u8"端口1 无法打开 /dev/ttyUSB0: ")), qPrintable(text));
        QVERIFY2(text.contains(told), qPrintable(text));
        QVERIFY2(!text.contains("English"), qPrintable(text));
    }

    void aRecordingThisProgramDoesNotMakeSaysWhy_data() {
        QTest::addColumn<RecorderClaim>("claim");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("told");
        QTest::newRow("another program here")
            << RecorderClaim::OtherProgram << QString()
            << u8"记录: 另一个程序正在记录到 /data/Rdatabj.db (进程 1234), 本程序不记录";
        QTest::newRow("another program on another host")
            << RecorderClaim::OtherProgram << "hall-2" << u8"(进程 1234, 主机 hall-2)";
        QTest::newRow("no lock file") << RecorderClaim::NoLockFile << QString()
                                      << u8"记录: 不记录, 无法创建锁文件 /data/Rdatabj.db.recorder-lock";
    }
    void aRecordingThisProgramDoesNotMakeSaysWhy() {
        QFETCH(RecorderClaim, claim);
        QFETCH(QString, host);
        QFETCH(QString, told);
        RecordingHealth health;
        health.path = QStringLiteral("/data/Rdatabj.db");
        health.claim = claim;
        health.otherPid = 1234;
        health.otherHost = host;
        health.error = QStringLiteral("English reason");
        health.lastRecordFailed = true;
        const QString text = hx::recordingStatusText(health);
        QVERIFY2(text.contains(told), qPrintable(text));
        QVERIFY(!text.contains("English"));
    }
};

QTEST_GUILESS_MAIN(StatusLineTest)
#include "test_status_line.moc"
