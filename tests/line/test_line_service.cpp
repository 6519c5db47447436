// hx5800-line end to end: four simulated instruments on one pseudo-terminal, each recorded
// into its own database with its own values and its alarms in its own journal; one falls
// silent and only it stops recording and is journalled lost; SIGTERM ends the service cleanly.
// A SIGKILL loses no stored record and a restart records every instrument again. And what it
// refuses before the line is touched, with exit status 2.
#include "link/ModbusLink.h"
#include "support/ChildSignal.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using hx::test::SimProcess;

namespace {

// One number a query on an SQLite file gives (-1 when it cannot be read yet).
double queryNumber(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    double value = -1;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
            value = sqlite3_column_double(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

QString databaseOf(const QTemporaryDir& dir, int address) {
    return dir.filePath(QStringLiteral("data/%1/Rdatabj.db").arg(address));
}
QString journalOf(const QTemporaryDir& dir, int address) {
    return dir.filePath(QStringLiteral("data/%1/Rdatabj.events.db").arg(address));
}
// Every row of the records up to id `last`, as text: what a reader found stored.
QString rowsText(const QString& path, int last) {
    sqlite3* db = nullptr;
    QString text;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "select * from pv_data where w_id <= ? order by w_id", -1, &statement,
                               nullptr) == SQLITE_OK) {
            sqlite3_bind_int(statement, 1, last);
            while (sqlite3_step(statement) == SQLITE_ROW)
                for (int c = 0; c < sqlite3_column_count(statement); ++c)
                    text +=
                        QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, c))) +
                        (c + 1 < sqlite3_column_count(statement) ? u',' : u'\n');
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return text;
}

int recordsOf(const QTemporaryDir& dir, int address) {
    return int(queryNumber(databaseOf(dir, address), "select count(*) from pv_data"));
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QTest::qWait(100);
    }
    return true;
}

void startLine(QProcess& line, const QStringList& args) {
    line.setProgram(QStringLiteral(HX5800_LINE));
    line.setArguments(args);
    line.setProcessChannelMode(QProcess::ForwardedChannels);
    line.start();
}

} // namespace

class LineServiceTest : public QObject {
    Q_OBJECT

  private slots:
    void everyInstrumentIsRecordedAndOnlyTheSilentOneStops() {
        SimProcess sim({"--static", "--slaves", "1-4"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QTemporaryDir dir;
        QProcess line;
        startLine(line, {"--port", sim.devicePath(), "--addresses", "1-4", "--data", dir.filePath("data")});
        QVERIFY(line.waitForStarted());

        // Each its own values: the simulator's --static values lie 10 (A - 1) above address 1's.
        const auto recordedOwnValues = [&] {
            for (int a = 1; a <= 4; ++a) {
                const QString db = databaseOf(dir, a);
                if (recordsOf(dir, a) < 3 ||
                    queryNumber(db, "select ch1 from pv_data order by w_id desc limit 1") !=
                        2500 + 10 * (a - 1) ||
                    queryNumber(db, "select ch4 from pv_data order by w_id desc limit 1") !=
                        3750 + 10 * (a - 1))
                    return false;
            }
            return true;
        };
        if (!waitFor(recordedOwnValues, 20000)) {
            for (int a = 1; a <= 4; ++a)
                qWarning() << a << recordsOf(dir, a)
                           << queryNumber(databaseOf(dir, a),
                                          "select ch1 from pv_data order by w_id desc limit 1");
            QFAIL("four databases with each instrument's own values");
        }

        // Channel 3 of instrument 2 in open-circuit alarm: journalled by instrument 2 alone.
        QVERIFY(sim.command("open-circuit 2 4"));
        const char* const raised = "select count(*) from events where kind = 1 and alarm_row = 3";
        QVERIFY2(waitFor([&] { return queryNumber(journalOf(dir, 2), raised) == 1; }, 10000),
                 "alarm journalled");
        for (const int a : {1, 3, 4})
            QCOMPARE(queryNumber(journalOf(dir, a), raised), 0.0);

        QVERIFY(sim.command("silent 3 on"));
        const auto lost = [&] {
            return queryNumber(journalOf(dir, 3), "select count(*) from events where kind = 13") >= 1;
        };
        QVERIFY2(waitFor(lost, 15000), "instrument 3 journalled lost");
        QCOMPARE(queryNumber(journalOf(dir, 1), "select count(*) from events where kind = 13"), 0.0);

        const int silentBefore = recordsOf(dir, 3);
        const std::array<int, 3> others = {1, 2, 4};
        std::array<int, 3> before{};
        for (size_t i = 0; i < others.size(); ++i)
            before[i] = recordsOf(dir, others[i]);
        QElapsedTimer watched;
        watched.start();
        QTest::qWait(5000);
        const double seconds = watched.elapsed() / 1000.0;
        QCOMPARE(recordsOf(dir, 3), silentBefore);
        // One record a second each: a record per whole second watched, give or take the edges.
        for (size_t i = 0; i < others.size(); ++i) {
            const int added = recordsOf(dir, others[i]) - before[i];
            QVERIFY2(
                added >= int(seconds) - 1 && added <= int(seconds) + 1,
                qPrintable(
                    QStringLiteral("address %1: %2 records in %3 s").arg(others[i]).arg(added).arg(seconds)));
        }

        QVERIFY(hx::test::signalChild(line, SIGTERM));
        QVERIFY(line.waitForFinished(10000));
        QCOMPARE(line.exitStatus(), QProcess::NormalExit);
        QCOMPARE(line.exitCode(), 0);
    }

    void aKilledServiceLosesNoStoredRecordAndTakesEveryInstrumentUpAgain() {
        SimProcess sim({"--static", "--slaves", "1-3"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QTemporaryDir dir;
        const QStringList args = {"--port", sim.devicePath(), "--addresses",
                                  "1-3",    "--data",         dir.filePath("data")};
        const auto everyOneHas = [&](const std::array<int, 3>& counts) {
            return [&dir, counts] {
                for (int a = 1; a <= 3; ++a)
                    if (recordsOf(dir, a) < counts[size_t(a - 1)]) return false;
                return true;
            };
        };
        QProcess line;
        startLine(line, args);
        QVERIFY2(waitFor(everyOneHas({5, 5, 5}), 30000), "every instrument recording");
        std::array<QString, 3> stored;
        std::array<int, 3> counts{};
        for (int a = 1; a <= 3; ++a) {
            counts[size_t(a - 1)] = recordsOf(dir, a);
            stored[size_t(a - 1)] = rowsText(databaseOf(dir, a), counts[size_t(a - 1)]);
            QCOMPARE(stored[size_t(a - 1)].count(u'\n'), counts[size_t(a - 1)]);
        }
        QVERIFY(hx::test::signalChild(line, SIGKILL));
        QVERIFY(line.waitForFinished(10000));
        QCOMPARE(line.exitStatus(), QProcess::CrashExit);

        QProcess again;
        startLine(again, args);
        QVERIFY2(waitFor(everyOneHas({counts[0] + 4, counts[1] + 4, counts[2] + 4}), 30000),
                 "every instrument recorded again after the restart");
        for (int a = 1; a <= 3; ++a) {
            QCOMPARE(rowsText(databaseOf(dir, a), counts[size_t(a - 1)]), stored[size_t(a - 1)]);
            QCOMPARE(queryNumber(databaseOf(dir, a), "select count(*) from pragma_integrity_check "
                                                     "where integrity_check <> 'ok'"),
                     0.0);
        }
        QVERIFY(hx::test::signalChild(again, SIGTERM));
        QVERIFY(again.waitForFinished(10000));
        QCOMPARE(again.exitCode(), 0);
    }

    void refusedBeforeTheLineIsTouched_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        // The address list's own cases are the simulator's table (one parser, in core/).
        QTest::newRow("address 0") << QStringList{"--addresses", "0-3"} << "outside the addresses 1..247";
        QTest::newRow("baud") << QStringList{"--addresses", "1", "--baud", "1200"}
                              << "is not 4800, 9600 or 19200";
        QTest::newRow("parity") << QStringList{"--addresses", "1", "--parity", "mark"}
                                << "is not none, odd or even";
        QTest::newRow("gateway") << QStringList{"--addresses", "1", "--port", "tcp://"}
                                 << "not a gateway address";
        QTest::newRow("data a file") << QStringList{"--addresses", "1", "--data", "FILE/data"}
                                     << "cannot be made";
        // Refused even to root (pseudo-file systems take no new files).
        QTest::newRow("data not writable")
            << QStringList{"--addresses", "1", "--data", "/proc"} << "cannot be written";
        QTest::newRow("port held") << QStringList{"--addresses", "1", "--port", "SIM"}
                                   << "in use by another program";
    }

    void refusedBeforeTheLineIsTouched() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        // Another program holds the line.
        hx::ModbusLink holder;
        QVERIFY(holder.openDevice(1, sim.devicePath().toStdString(), 1, 0) == 0);
        args.replaceInStrings(QStringLiteral("FILE"), file.fileName());
        args.replaceInStrings(QStringLiteral("SIM"), sim.devicePath());
        if (!args.contains("--data")) args << "--data" << dir.filePath("data");
        if (!args.contains("--port")) args << "--port" << sim.devicePath();

        QProcess line;
        line.setProgram(QStringLiteral(HX5800_LINE));
        line.setArguments(args);
        line.start();
        QVERIFY(line.waitForFinished(10000));
        QCOMPARE(line.exitCode(), 2);
        const QString err = QString::fromUtf8(line.readAllStandardError());
        QVERIFY2(err.contains(says), qPrintable(err));
        QVERIFY2(!QFile::exists(dir.filePath("data/1/Rdatabj.events.db")),
                 "the refused service journalled nothing");
    }
};

QTEST_GUILESS_MAIN(LineServiceTest)
#include "test_line_service.moc"
