// Soak: the recorder and the live trend on one database file with a clock the test moves, a
// full lap of the ring and more (65500 + 300 records, one a second) starting just before
// midnight; then paging back through the whole ring, across its wrap, to the oldest record
// and forward again to live.
#include <cmath>
#include <span>
#include <vector>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include "TrendTestSupport.h"
#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "logging/LoggingTestSupport.h"
#include "logging/SqliteRecordStore.h"
#include "logging/mscom.h"
#include "trend/HistoryReview.h"
#include "trend/LiveTrend.h"

using namespace hx;

namespace {

constexpr int kRecords = kRingSize + 300;
const QDateTime kStart(QDate(2024, 3, 14), QTime(23, 50, 0)); // midnight after 600 records

// Record n (1-based) carries n in CH1 and n + c in channel c, so any slot tells which
// record it holds.
int recordIn(const TrendState& st, int slot) {
    return int(st.Trend_Value[0][slot]);
}

qint64 secondOf(double date, double time) {
    return qint64(std::llround((date + time) * 86400.0));
}

// Slots first..last hold records newest - (last - first) .. newest, one second apart, with
// every channel intact and no gap marked.
void verifyRun(const TrendState& st, int first, int last, int newest) {
    for (int s = first; s <= last; ++s) {
        const int n = newest - (last - s);
        QCOMPARE(recordIn(st, s), n);
        QCOMPARE(st.Trend_Value[9][s], float(n + 9));
        if (s > first)
            QCOMPARE(secondOf(st.Trend_Date[s], st.Trend_Time[s]),
                     secondOf(st.Trend_Date[s - 1], st.Trend_Time[s - 1]) + 1);
        QCOMPARE(int(st.Gap_Mark[s]), 0);
    }
}

} // namespace

class TestRecordingSoak : public QObject {
    Q_OBJECT
  private slots:
    void init() { resetSharedState(); }

    void fullRingAcrossMidnightThenPagingAcrossTheWrap() {
        QTemporaryDir dir;
        const QString path = testing::freshDatabase(dir);
        testing::FakeClock clock(kStart);
        const qint64 startSecond = clock.seconds();
        // The records need no power-cut safety here; the ring arithmetic is the same.
        mscom recorder(path, clock, [](const QString& p) -> std::unique_ptr<RecordStore> {
            SqliteStoreOptions options;
            options.sync = SqliteStoreOptions::Sync::Normal;
            return std::make_unique<SqliteRecordStore>(p, options);
        });
        recorder.Timer1.stop();
        std::vector<int32_t> writtenSlots;
        int failedWrites = 0;
        QObject::connect(&recorder, &mscom::recordWritten, [&](const StoredRecord& r, WriteOutcome o) {
            writtenSlots.push_back(r.id);
            if (o != WriteOutcome::Committed) ++failedWrites;
        });
        Main_Open = kTrue;

        auto liveStore = openRecordStore(path);
        QVERIFY2(liveStore->isOpen(), qPrintable(liveStore->lastError()));
        TrendState st;
        test::RecordingTrendView view(st);
        HistoryReview review(st, liveStore.get(), view);
        review.openLiveWindow();

        QElapsedTimer elapsed;
        elapsed.start();
        int reloads = 0;
        for (int n = 1; n <= kRecords; ++n) {
            for (int c = 0; c < kDrawnChannels; ++c)
                Pv_Value[c] = float(n + c);
            freshValues().noteMeasured(0, FreshValues::kValues, FreshValues::steadyNowMs());
            // Two ticks in the second: the first records, the second must not.
            recorder.Timer1_Timer();
            recorder.Timer1_Timer();
            QCOMPARE(int(writtenSlots.size()), n);
            if (New_Record == kTrue) {
                New_Record = kFalse;
                const std::span<const float> values(Pv_Value, kDrawnChannels);
                if (appendLiveSample(st, review, view, values, clock.now())) {
                    ++reloads;
                    // The newest 241 records in time order, the newest in slot 241; before
                    // the ring holds that many, the records there are, still ending there.
                    const int loaded = std::min(n, kLiveWinLen);
                    verifyRun(st, kLiveWinLen - loaded + 1, kLiveWinLen, n);
                    QCOMPARE(st.Ring_Pos, writtenSlots.back());
                    view.canvas.reset();
                }
            }
            clock.advance(1);
        }
        const qint64 recordingMs = elapsed.elapsed();
        QCOMPARE(failedWrites, 0);
        QCOMPARE(reloads, kRecords / 20);

        // Every slot once per lap, in ring order; the pointer names the newest.
        for (int i = 0; i < kRecords; ++i)
            QCOMPARE(writtenSlots[i], i % kRingSize + 1);
        testing::Db db(path);
        QCOMPARE(db.rowCount(), qint64(kRingSize));
        QCOMPARE(db.pointer(), qint64(kRecords - kRingSize));
        const auto rows = db.rows("select w_id, ch1, w_date, w_time from pv_data order by w_id");
        QCOMPARE(rows.size(), kRingSize);
        for (const QStringList& row : rows) {
            const int id = row[0].toInt();
            const int n = id <= kRecords - kRingSize ? id + kRingSize : id;
            QCOMPARE(row[1].toDouble(), double(n));
            QCOMPARE(secondOf(row[2].toDouble(), row[3].toDouble()), startSecond + n - 1);
        }

        // Back page by page to the oldest record: each page a run of 321 consecutive records,
        // 60 further back than the one before, the last one exactly the oldest 321.
        elapsed.restart();
        const int oldest = kRecords - kRingSize + 1;
        std::vector<int> pageNewest{kRecords};
        while (!st.At_Oldest) {
            review.olderPage();
            const int expectedNewest = std::max(kRecords - kPageRecords * st.Page_Back, oldest + 320);
            verifyRun(st, 1, kHistoryWinLen, expectedNewest);
            QVERIFY2(expectedNewest < pageNewest.back(), "a page repeated");
            pageNewest.push_back(expectedNewest);
            view.canvas.reset();
            QVERIFY(st.Page_Back < 1200);
        }
        QCOMPARE(recordIn(st, 1), oldest);
        const int pages = st.Page_Back;
        QCOMPARE(pages, (kRingSize - kHistoryWinLen) / kPageRecords + 1);
        QVERIFY(!view.older);

        // Forward again: the same pages in reverse, then the newest 241 records live.
        while (st.Page_Back > 0) {
            pageNewest.pop_back();
            review.newerPage();
            if (st.Page_Back > 0) verifyRun(st, 1, kHistoryWinLen, pageNewest.back());
            view.canvas.reset();
        }
        verifyRun(st, 1, kLiveWinLen, kRecords);
        QVERIFY(view.liveTimer);
        QVERIFY(view.older);
        QVERIFY(!st.At_Oldest);
        qInfo("%d records in %lld ms; %d pages back and forth in %lld ms", kRecords, recordingMs, 2 * pages,
              elapsed.elapsed());
    }
};

QTEST_GUILESS_MAIN(TestRecordingSoak)
#include "test_recording_soak.moc"
