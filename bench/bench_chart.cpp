// The chart and history review on a full ring: LoadWindow of a 241-record live window and of
// a 321-record history page, both across the ring's end, from a 65500-record SQLite database
// (with the query plans SQLite chose), and one full redraw of the main window's chart at its
// real size (clear, grid, zoom, ten curves of a 321-record page, time and date labels).
//
//   bench_chart [repeats]   (default 200)
#include "app/AppContext.h"
#include "app/ssqx.h"
#include "logging/DatabaseSetup.h"
#include "logging/Ring.h"
#include "logging/SqliteRecordStore.h"
#include "trend/ChartSurface.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace hx;

namespace {

struct Figures {
    double median = 0, p95 = 0;
};

Figures measure(int count, const std::function<void()>& step) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        step();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[ms.size() * 95 / 100]};
}

// A full ring, one record a second, the newest in slot `pointer` (so the ring wraps there).
bool fillRing(const QString& path, int32_t pointer) {
    SqliteStoreOptions quick;
    quick.sync = SqliteStoreOptions::Sync::Normal;
    SqliteRecordStore store(path, quick);
    if (!store.isOpen()) return false;
    for (int k = 0; k < kRingSize; ++k) {
        StoredRecord r;
        r.id = (pointer + 1 + k - 1) % kRingSize + 1; // oldest first, after the pointer
        const int second = 36000 + k;
        r.date = 46000 + second / 86400;
        r.time = (second % 86400) / 86400.0;
        for (int c = 0; c < 10; ++c)
            r.values[c] = float(750 + 600 * std::sin((k + 37 * c) / 90.0));
        if (store.writeRecord(r) == WriteOutcome::Failed) return false;
    }
    return true;
}

void printPlan(const QString& path, const char* what, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, (std::string("explain query plan ") + sql).c_str(), -1, &st, nullptr) ==
        SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW)
            std::printf("  plan of %s: %s\n", what,
                        reinterpret_cast<const char*>(sqlite3_column_text(st, 3)));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    QString error;
    const int32_t pointer = 100; // both windows run across the ring's end
    if (!createRecordDatabase(path, false, &error) || !fillRing(path, pointer)) {
        std::fprintf(stderr, "bench_chart: cannot make the ring: %s\n", qPrintable(error));
        return 1;
    }

    AppContext context;
    context.databasePath = path;
    context.openStore = [](const QString& p) { return openRecordStore(p); };
    ssqx window(context);
    window.show();
    window.Timer1->stop();
    window.Timer2->stop();
    TrendState& st = window.trend();

    std::printf("%-58s %10s %10s\n", "operation (ms)", "median", "p95");
    const Figures live = measure(repeats, [&] {
        st.Win_Len = kLiveWinLen;
        st.Win_End = pointer;
        window.history().LoadWindow();
    });
    std::printf("%-58s %10.3f %10.3f\n", "LoadWindow, 241-record live window across the ring's end",
                live.median, live.p95);
    const Figures page = measure(repeats, [&] {
        st.Win_Len = kHistoryWinLen;
        st.Win_End = pointer;
        window.history().LoadWindow();
    });
    std::printf("%-58s %10.3f %10.3f\n", "LoadWindow, 321-record page across the ring's end", page.median,
                page.p95);

    // A history page as F7 leaves it, then the full redraw the 1 s timer makes.
    window.Command8_Click();
    st.Zoom_Level = 4;
    const Figures redraw = measure(repeats, [&] {
        window.redraw();
        window.pt->image(); // the drawing finished into the surface's picture
    });
    const QSize size = window.pt->size();
    std::printf("%-58s %10.3f %10.3f\n",
                qPrintable(QStringLiteral("full chart redraw, 321-record page, %1x%2 px")
                               .arg(size.width())
                               .arg(size.height())),
                redraw.median, redraw.p95);

    printPlan(path, "the live window in one range",
              qPrintable(windowQuerySql(windowStart(30000, 241), 30000, 241)));
    printPlan(path, "the page across the ring's end",
              qPrintable(windowQuerySql(windowStart(pointer, kHistoryWinLen), pointer, kHistoryWinLen)));
    return 0;
}
