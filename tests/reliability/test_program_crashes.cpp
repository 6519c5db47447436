// The whole program killed with SIGKILL at random moments while it records and pages through
// history, 100 times over the same database. After every kill the database passes SQLite's
// integrity check, the ring pointer names the newest record, and every record whose commit
// the program saw is there. Started once more, it records into the next slot.
#include "support/SimProcess.h"

#include "logging/DatabaseSetup.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <map>
#include <utility>

namespace {

constexpr int kKills = 100;

struct Row {
    double date = 0, time = 0;
};

// What the database holds: rows by slot, the pointer, the integrity check's answer.
struct Contents {
    std::map<int, Row> rows;
    int pointer = -1;
    QString integrity;
};

Contents read(const QString& path) {
    Contents c;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return c;
    }
    auto each = [db](const char* sql, const std::function<void(sqlite3_stmt*)>& row) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return;
        while (sqlite3_step(st) == SQLITE_ROW)
            row(st);
        sqlite3_finalize(st);
    };
    each("pragma integrity_check", [&](sqlite3_stmt* st) {
        c.integrity += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    });
    each("select w_id, w_date, w_time from pv_data", [&](sqlite3_stmt* st) {
        c.rows[sqlite3_column_int(st, 0)] = {sqlite3_column_double(st, 1), sqlite3_column_double(st, 2)};
    });
    each("select p0 from sl_void limit 1", [&](sqlite3_stmt* st) { c.pointer = sqlite3_column_int(st, 0); });
    sqlite3_close(db);
    return c;
}

// The slot of the newest record by its date and time.
int newestSlot(const Contents& c) {
    int newest = -1;
    std::pair<double, double> at{-1, -1};
    for (const auto& [id, row] : c.rows)
        if (std::make_pair(row.date, row.time) > at) {
            at = {row.date, row.time};
            newest = id;
        }
    return newest;
}

} // namespace

class ProgramCrashesTest : public QObject {
    Q_OBJECT

  private slots:
    void killedAtRandomTheProgramKeepsEveryCommittedRecord() {
        QTemporaryDir dir;
        const QString db = dir.filePath("Rdatabj.db");
        QString error;
        QVERIFY2(hx::createRecordDatabase(db, false, &error), qPrintable(error));
        hx::test::SimProcess sim(QStringList{});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HX5800_COM1", sim.devicePath());
        env.insert("HX5800_DB", db);

        std::map<int, Row> acknowledged; // slot -> the last record the program saw committed there
        // Killed after ms, or (ms 0) once it has acknowledged a record: a sanitizer build on a busy
        // machine takes its time to get there.
        auto run = [&](int ms) {
            QProcess child;
            child.setProcessEnvironment(env);
            child.start(PROGRAM_CHILD, QStringList{});
            if (!child.waitForStarted(5000)) return QStringLiteral("did not start");
            const auto take = [&] {
                bool took = false;
                while (child.canReadLine()) {
                    const QList<QByteArray> f = child.readLine().trimmed().split(' ');
                    if (f.size() == 3) acknowledged[f[0].toInt()] = {f[1].toDouble(), f[2].toDouble()};
                    took = took || f.size() == 3;
                }
                return took;
            };
            if (ms > 0)
                QTest::qWait(ms);
            else
                QTest::qWaitFor(take, 60000);
            child.kill(); // SIGKILL
            child.waitForFinished(5000);
            take();
            return QString();
        };

        int killsWhileRecording = 0;
        for (int kill = 0; kill < kKills; ++kill) {
            // The hand-over comes after about 1.5 s; recording and paging go on from there.
            const int ms = 1600 + int(QRandomGenerator::global()->bounded(1400));
            const QString why = run(ms);
            QVERIFY2(why.isEmpty(), qPrintable(why));
            const Contents c = read(db);
            QCOMPARE(c.integrity, QStringLiteral("ok"));
            if (c.rows.empty()) continue;
            ++killsWhileRecording;
            QCOMPARE(c.pointer, newestSlot(c));
            for (const auto& [id, row] : acknowledged) {
                const auto it = c.rows.find(id);
                QVERIFY2(
                    it != c.rows.end() && it->second.date == row.date && it->second.time == row.time,
                    qPrintable(
                        QStringLiteral("kill %1: acknowledged record in slot %2 lost").arg(kill).arg(id)));
            }
        }
        QVERIFY(killsWhileRecording > kKills / 2);
        QVERIFY(!acknowledged.empty());

        // Started again, it goes on in the slot after the pointer.
        const int before = read(db).pointer;
        std::map<int, Row> previous = acknowledged;
        acknowledged.clear();
        QVERIFY(run(0).isEmpty());
        QVERIFY(!acknowledged.empty());
        QCOMPARE(acknowledged.begin()->first, before + 1);
        qInfo("%d kills, %d while recording; %zu records acknowledged, none lost", kKills,
              killsWhileRecording, previous.size());
    }
};

QTEST_GUILESS_MAIN(ProgramCrashesTest)
#include "test_program_crashes.moc"
