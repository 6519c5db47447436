// The whole program against a faulty line: a silent instrument, broken, late and exception
// answers, an instrument stopped and continued, the device removed and created again. For
// each: nothing from a broken or late answer reaches the shared values, a label or the
// recording; the window thread never stalls long; the status line names the fault; polling
// resumes within 2 s once the instrument answers again.
#include "ProgramHarness.h"

#include "core/SharedState.h"

#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

#include <functional>

#include <sqlite3.h>

using namespace hx;
using namespace hx::test;

namespace {

// The program's limits: a call to a silent instrument costs about 0.1 s of the window thread.
constexpr qint64 kLongestStallMs = 300;
constexpr qint64 kResumeMs = 2000;

int recordCount(const QString& database) {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    int n = -1;
    if (sqlite3_open_v2(database.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "select count(*) from pv_data", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

} // namespace

class LinkFaultsTest : public QObject {
    Q_OBJECT

  private slots:
    void theProgramRidesOutLineFaults_data() {
        QTest::addColumn<QString>("on");    // simulator command that starts the fault ("" = special)
        QTest::addColumn<QString>("off");   // and ends it
        QTest::addColumn<QString>("named"); // what the status line shows, a counter above 0
        QTest::newRow("silent instrument") << "silent on"
                                           << "silent off" << u8"超时 [1-9]";
        QTest::newRow("every 5th answer corrupt") << "corrupt-every 5"
                                                  << "corrupt-every 0" << u8"校验错 [1-9]";
        QTest::newRow("answers after the time limit") << "delay 150"
                                                      << "delay 0" << u8"超时 [1-9]";
        QTest::newRow("exception answers") << "exception-every 3"
                                           << "exception-every 0" << u8"异常 [1-9]";
        QTest::newRow("instrument stopped and continued") << ""
                                                          << "pause" << u8"超时 [1-9]";
        QTest::newRow("device removed and created again") << ""
                                                          << "remove" << u8"设备错 [1-9]";
    }
    void theProgramRidesOutLineFaults() {
        QFETCH(QString, on);
        QFETCH(QString, off);
        QFETCH(QString, named);
        ProgramHarness program;
        QVERIFY2(program.start(), qPrintable(program.why()));

        if (off == "pause")
            program.sim().pause();
        else if (off == "remove")
            program.removeDevice();
        else
            QVERIFY(program.command(on));
        QTest::qWait(4000);
        program.window().updateStatusLine();
        const QString status = program.window().statusLink->text();
        QVERIFY2(status.contains(QRegularExpression(named)), qPrintable(status));

        if (off == "pause")
            program.sim().resume();
        else if (off == "remove")
            QVERIFY(program.replaceDevice());
        else
            QVERIFY(program.command(off));
        const qint64 resumeMs = program.msUntilFreshValues(5000);
        QTest::qWait(1500); // a record or two after the fault

        const qint64 stallMs = program.heartbeat().longestStallMs();
        qInfo("%s: longest stall %lld ms, polling resumed after %lld ms", QTest::currentDataTag(), stallMs,
              resumeMs);
        QVERIFY2(program.valuesAreSane(),
                 qPrintable("a value from a broken or late answer was shown: " + program.firstInsane()));
        QString slot;
        QVERIFY2(program.recordsAreSane(&slot), qPrintable("a broken value was recorded in " + slot));
        QVERIFY2(stallMs < kLongestStallMs, qPrintable(QString::number(stallMs)));
        QVERIFY2(resumeMs >= 0 && resumeMs <= kResumeMs, qPrintable(QString::number(resumeMs)));
    }

    // The instrument behind a Modbus TCP gateway: the program records as on a serial line, and
    // rides out the gateway going away (killed) and coming back on the same port.
    void theProgramRidesOutAGatewayRestart() {
        ProgramHarness program;
        program.useTcp();
        QVERIFY2(program.start(), qPrintable(program.why()));
        QVERIFY(QTest::qWaitFor([&] { return recordCount(program.databasePath()) >= 2; }, 5000));
        program.removeDevice();
        QTest::qWait(3000);
        program.window().updateStatusLine();
        const QString status = program.window().statusLink->text();
        QVERIFY2(status.contains(u8"网关: 网关拒绝连接") && status.contains(u8"每秒探测一次"),
                 qPrintable(status));

        QVERIFY(program.replaceDevice());
        const qint64 resumeMs = program.msUntilFreshValues(5000);
        QTest::qWait(1500);
        program.window().updateStatusLine();
        QVERIFY2(!program.window().statusLink->text().contains(u8"网关"),
                 qPrintable(program.window().statusLink->text()));
        const qint64 stallMs = program.heartbeat().longestStallMs();
        qInfo("gateway restarted: longest stall %lld ms, polling resumed after %lld ms", stallMs, resumeMs);
        QVERIFY2(program.valuesAreSane(),
                 qPrintable("a value from a failed call was shown: " + program.firstInsane()));
        QString slot;
        QVERIFY2(program.recordsAreSane(&slot), qPrintable("a broken value was recorded in " + slot));
        QVERIFY2(stallMs < kLongestStallMs, qPrintable(QString::number(stallMs)));
        QVERIFY2(resumeMs >= 0 && resumeMs <= kResumeMs, qPrintable(QString::number(resumeMs)));
    }
};

QTEST_MAIN(LinkFaultsTest)
#include "test_link_faults.moc"
