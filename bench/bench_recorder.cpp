// bench_recorder: what the recorder costs on this machine. Prints the median, 90th and 99th
// percentile of a recorder tick with no record due, of a record write with its commit under
// three durability settings, of the trend window query on a full ring, and the size of a
// full-ring file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "logging/DatabaseSetup.h"
#include "logging/Ring.h"
#include "logging/SqliteRecordStore.h"
#include "logging/mscom.h"

using namespace hx;

namespace {

class StillClock final : public Clock {
  public:
    ClockReading now() const override { return reading; }
    ClockReading reading{45365, 36000 / 86400.0};
};

struct Figures {
    double median = 0;
    double p90 = 0;
    double p99 = 0;
    double max = 0;
};

// Times each call of step in milliseconds.
Figures measure(int count, const std::function<void(int)>& step) {
    std::vector<double> ms;
    ms.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        step(i);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms[ms.size() * 99 / 100], ms.back()};
}

void printRow(const char* what, int count, const Figures& f) {
    std::printf("%-52s %6d %10.4f %10.4f %10.4f %10.4f\n", what, count, f.median, f.p90, f.p99, f.max);
}

StoredRecord recordFor(int32_t slot, int second) {
    StoredRecord r;
    r.id = slot;
    r.date = 45365 + second / 86400;
    r.time = (second % 86400) / 86400.0;
    for (int c = 0; c < 10; ++c)
        r.values[c] = float(second % 3000) + c * 0.5f;
    return r;
}

QString makeDatabase(const QTemporaryDir& dir, const QString& name) {
    QString error;
    const QString path = dir.filePath(name);
    if (!createRecordDatabase(path, false, &error))
        std::fprintf(stderr, "cannot create %s: %s\n", qPrintable(path), qPrintable(error));
    return path;
}

qint64 checkpointedSize(const QString& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "pragma wal_checkpoint(truncate)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return QFileInfo(path).size();
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("%-52s %6s %10s %10s %10s %10s\n", "operation (ms)", "n", "median", "p90", "p99", "max");

    // A tick with no record due: pointer read and the schedule test.
    {
        const QString path = makeDatabase(dir, "tick.db");
        StillClock clock;
        mscom recorder(path, clock);
        recorder.Timer1.stop();
        freshValues().noteMeasured(0, FreshValues::kValues, 0);
        recorder.Timer1_Timer(); // the first tick records at once
        printRow("recorder tick, no record due (WAL)", 5000,
                 measure(5000, [&](int) { recorder.Timer1_Timer(); }));
    }

    // A tick that records: the tick as the timer runs it, WAL + synchronous FULL.
    {
        const QString path = makeDatabase(dir, "tickrecord.db");
        StillClock clock;
        mscom recorder(path, clock);
        recorder.Timer1.stop();
        printRow("recorder tick with a record (WAL, FULL)", 500, measure(500, [&](int) {
                     clock.reading.time += 1 / 86400.0;
                     freshValues().noteMeasured(0, FreshValues::kValues, 0);
                     recorder.Timer1_Timer();
                 }));
    }

    struct Setting {
        const char* name;
        SqliteStoreOptions::Journal journal;
        SqliteStoreOptions::Sync sync;
    };
    const Setting settings[] = {
        {"record + pointer commit, WAL, synchronous FULL", SqliteStoreOptions::Journal::Wal,
         SqliteStoreOptions::Sync::Full},
        {"record + pointer commit, WAL, synchronous NORMAL", SqliteStoreOptions::Journal::Wal,
         SqliteStoreOptions::Sync::Normal},
        {"record + pointer commit, rollback journal, FULL", SqliteStoreOptions::Journal::Delete,
         SqliteStoreOptions::Sync::Full},
    };
    int n = 0;
    for (const Setting& s : settings) {
        const QString path = makeDatabase(dir, QStringLiteral("write%1.db").arg(n++));
        SqliteStoreOptions options;
        options.journal = s.journal;
        options.sync = s.sync;
        SqliteRecordStore store(path, options);
        if (!store.isOpen()) {
            std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
            return 1;
        }
        int failures = 0;
        const Figures f = measure(500, [&](int i) {
            if (store.writeRecord(recordFor(i + 1, i)) != WriteOutcome::Committed) ++failures;
        });
        printRow(s.name, 500, f);
        if (failures) std::printf("  (%d writes failed: %s)\n", failures, qPrintable(store.lastError()));
    }

    // A full ring, written record by record as the recorder does (NORMAL to be quick), then
    // overwritten in place and queried.
    const QString ringPath = makeDatabase(dir, "ring.db");
    {
        SqliteStoreOptions quick;
        quick.sync = SqliteStoreOptions::Sync::Normal;
        SqliteRecordStore store(ringPath, quick);
        for (int32_t slot = 1; slot <= kRingSize; ++slot)
            store.writeRecord(recordFor(slot, slot));
    }
    const qint64 ringBytes = checkpointedSize(ringPath);
    {
        SqliteRecordStore store(ringPath);
        printRow("overwrite in a full ring, WAL, synchronous FULL", 500, measure(500, [&](int i) {
                     store.writeRecord(recordFor(1 + i * 131 % kRingSize, kRingSize + i));
                 }));
        printRow("window query, 241 records, one rowid range", 200,
                 measure(200, [&](int) { store.selectWindow(windowStart(30000, 241), 30000, 241); }));
        printRow("window query, 241 records across the wrap", 200,
                 measure(200, [&](int) { store.selectWindow(windowStart(100, 241), 100, 241); }));
        printRow("history page, 321 records across the wrap", 200,
                 measure(200, [&](int) { store.selectWindow(windowStart(100, 321), 100, 321); }));
    }
    std::printf("\nfull ring (%d records) file size after checkpoint: %lld bytes (%.2f MiB)\n", kRingSize,
                ringBytes, ringBytes / 1048576.0);
    return 0;
}
