// History review against a record store held in memory: loading the window, gap marks,
// failures, and paging back and forth through the ring.
#include <QTest>

#include "TrendTestSupport.h"
#include "core/SharedState.h"
#include "trend/HistoryReview.h"
#include "trend/TrendText.h"

using namespace hx;
using namespace hx::test;

namespace {

constexpr long long kNewestSecond = 10 * 86400LL + 12 * 3600; // leaves room for a full ring

int idInSlot(const TrendState& st, int slot) {
    return int(st.Trend_Value[0][slot]);
}

int nextId(int id) {
    return id == kRingSize ? 1 : id + 1;
}

// Every slot holds something, as after a long live run.
void scribble(TrendState& st) {
    for (int s = 0; s < kTrendSlots; ++s) {
        st.Trend_Date[s] = kDay - 3;
        st.Trend_Time[s] = 0.5;
        st.Gap_Mark[s] = 1;
        for (int c = 0; c < kDrawnChannels; ++c)
            st.Trend_Value[c][s] = -7;
    }
}

// Slots Win_Len - count + 1..Win_Len hold the ids firstId, firstId + 1, ... (past 65500 to
// 1), oldest first, every value channel of its record, and the rest of slots 0..321 are
// cleared.
void verifyWindow(const TrendState& st, int count, int firstId) {
    // The newest record stands in slot Win_Len, however few the records.
    const int first = st.Win_Len - count + 1;
    int id = firstId;
    for (int s = first; s <= st.Win_Len; ++s, id = nextId(id)) {
        QCOMPARE(idInSlot(st, s), id);
        QCOMPARE(st.Trend_Value[9][s], float(id + 9));
        QVERIFY(st.Trend_Date[s] != 0);
    }
    for (int s = 1; s <= 321; ++s) {
        if (s >= first && s <= st.Win_Len) continue;
        QCOMPARE(st.Trend_Value[0][s], 0.0f);
        QCOMPARE(st.Trend_Date[s], 0.0);
        QCOMPARE(st.Trend_Time[s], 0.0);
    }
    QCOMPARE(st.Trend_Value[0][0], 0.0f);
    QCOMPARE(st.Trend_Date[0], 0.0);
}

struct Fixture {
    TrendState st;
    FakeRecordStore store;
    RecordingTrendView view{st};
    HistoryReview review{st, &store, view};
};

} // namespace

class TestHistoryReview : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        resetSharedState();
        Y_Span = 1500;
    }

    void loadWindow_data() {
        QTest::addColumn<int>("ringFirst");
        QTest::addColumn<int>("ringLast");
        QTest::addColumn<int>("winLen");
        QTest::addColumn<int>("winEnd");
        QTest::addColumn<int>("winStart");
        QTest::addColumn<int>("loaded");
        QTest::addColumn<int>("firstId");
        QTest::newRow("live, Win_End 1000: ids 760..1000") << 1 << 2000 << 241 << 1000 << 759 << 241 << 760;
        QTest::newRow("live, Win_End 241: ids 1..241") << 1 << 2000 << 241 << 241 << 0 << 241 << 1;
        QTest::newRow("live, Win_End 100 on a full ring: 65360..65500 then 1..100")
            << 101 << 100 << 241 << 100 << 65359 << 241 << 65360;
        QTest::newRow("history, Win_End 65500 on a full ring")
            << 1 << 65500 << 321 << 65500 << 65179 << 321 << 65180;
        QTest::newRow("history, Win_End 5 across the end of the ring")
            << 6 << 5 << 321 << 5 << 65184 << 321 << 65185;
        QTest::newRow("fewer records than the window") << 1 << 100 << 241 << 100 << 65359 << 100 << 1;
        QTest::newRow("history page at the start of an unwrapped ring")
            << 1 << 500 << 321 << 320 << 65499 << 320 << 1;
        QTest::newRow("empty database") << 0 << 0 << 241 << 0 << 65259 << 0 << 0;
    }
    void loadWindow() {
        QFETCH(int, ringFirst);
        QFETCH(int, ringLast);
        QFETCH(int, winLen);
        QFETCH(int, winEnd);
        QFETCH(int, winStart);
        QFETCH(int, loaded);
        QFETCH(int, firstId);
        Fixture f;
        if (ringFirst > 0) f.store.fillRing(ringFirst, ringLast, kNewestSecond);
        scribble(f.st);
        f.st.Win_Len = static_cast<int16_t>(winLen);
        f.st.Win_End = winEnd;
        f.st.Slot_Offset = 180;
        f.review.LoadWindow();

        QCOMPARE(f.st.Win_Start, winStart);
        QCOMPARE(int(f.store.windowQueries.size()), 1);
        QCOMPARE(f.store.windowQueries[0].winStart, winStart);
        QCOMPARE(f.store.windowQueries[0].winEnd, winEnd);
        QCOMPARE(f.store.windowQueries[0].winLen, winLen);
        verifyWindow(f.st, loaded, firstId);
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(f.st.Gap_Mark[s]), 0);
        // The first visible slot's date and time, blank when it holds no record.
        QCOMPARE(f.view.firstDate, slotDateText(f.st, 181));
        QCOMPARE(f.view.firstTime, slotTimeText(f.st, 181));
        QCOMPARE(f.view.firstTime.isEmpty(), loaded == 0 || 181 <= winLen - loaded);
    }

    void gapMarks_data() {
        QTest::addColumn<QList<long long>>("seconds"); // instants of the records, oldest first
        QTest::addColumn<QList<int>>("marked");        // records (from 1) whose slot is marked
        QTest::newRow("one record a second: no gap") << QList<long long>{100, 101, 102, 103} << QList<int>{};
        QTest::newRow("first record late in the day: slot 1 not marked")
            << QList<long long>{15 * 3600, 15 * 3600 + 1} << QList<int>{};
        QTest::newRow("across midnight: no gap")
            << QList<long long>{86398, 86399, 86400, 86401} << QList<int>{};
        QTest::newRow("23:58:00 and 00:01:00 of the next day: no gap")
            << QList<long long>{86280, 86400 + 60} << QList<int>{};
        QTest::newRow("six-minute hole ends a gap") << QList<long long>{0, 1, 2, 362, 363} << QList<int>{4};
        QTest::newRow("four-minute hole is no gap") << QList<long long>{0, 1, 241, 242} << QList<int>{};
        QTest::newRow("299 s no gap, 301 s a gap") << QList<long long>{0, 299, 600} << QList<int>{3};
        QTest::newRow("same time of day a day apart")
            << QList<long long>{3600, 86400 + 3600} << QList<int>{2};
        QTest::newRow("several gaps")
            << QList<long long>{0, 1000, 1001, 5000, 5001, 5002} << QList<int>{2, 4};
    }
    void gapMarks() {
        QFETCH(QList<long long>, seconds);
        QFETCH(QList<int>, marked);
        Fixture f;
        for (int k = 0; k < seconds.size(); ++k)
            f.store.rows[k + 1] = recordAt(k + 1, seconds[k]);
        scribble(f.st);
        f.st.Win_Len = 321;
        f.st.Win_End = int32_t(seconds.size());
        f.review.LoadWindow();
        const int beforeFirst = 321 - int(seconds.size()); // the newest record is in slot 321
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(f.st.Gap_Mark[s]), marked.contains(s - beforeFirst) ? s : 0);
    }

    void failuresLeaveTheWindowCleared_data() {
        QTest::addColumn<int>("failure"); // 0 no store, 1 store not open, 2 queries fail
        QTest::newRow("no store") << 0;
        QTest::newRow("store not open") << 1;
        QTest::newRow("queries fail") << 2;
    }
    void failuresLeaveTheWindowCleared() {
        QFETCH(int, failure);
        Fixture f;
        f.store.fillRing(1, 65500, kNewestSecond);
        if (failure == 0) f.review.setStore(nullptr);
        f.store.open = failure != 1;
        f.store.failQueries = failure == 2;
        scribble(f.st);
        f.st.Ring_Pos = 4321;
        f.view.firstDate = f.view.firstTime = QStringLiteral("stale");

        f.review.openLiveWindow();
        QCOMPARE(f.st.Ring_Pos, 4321); // the old value stays
        QCOMPARE(int(Ring_Wrapped), int(kFalse));
        QCOMPARE(f.st.Win_End, 4321);
        verifyWindow(f.st, 0, 0);
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(f.st.Gap_Mark[s]), 0);
        QCOMPARE(f.view.firstDate, QString());
        QCOMPARE(f.view.firstTime, QString());
        // The chart is still drawn: flat curves at value 0, blank labels.
        QCOMPARE(f.view.redraws, 1);
        QCOMPARE(f.view.labels.Label4[0], QString());

        // Paging goes on without a database too.
        f.review.olderPage();
        QCOMPARE(int(f.st.Page_Back), 1);
        verifyWindow(f.st, 0, 0);
        f.review.newerPage();
        QCOMPARE(int(f.st.Page_Back), 0);
        QVERIFY(f.view.liveTimer);
    }

    void ringPosition_data() {
        QTest::addColumn<int>("ringFirst");
        QTest::addColumn<int>("ringLast");
        QTest::addColumn<bool>("pointerReadable");
        QTest::addColumn<int>("ringPos");
        QTest::addColumn<bool>("wrapped");
        QTest::newRow("fresh ring") << 1 << 500 << true << 500 << false;
        QTest::newRow("ring filled to its last slot") << 1 << 65500 << true << 65500 << true;
        QTest::newRow("ring wrapped, newest in slot 7") << 8 << 7 << true << 7 << true;
        QTest::newRow("pointer row missing: old value stays") << 1 << 500 << false << 999 << false;
        QTest::newRow("pointer row missing on a wrapped ring") << 8 << 7 << false << 999 << true;
    }
    void ringPosition() {
        QFETCH(int, ringFirst);
        QFETCH(int, ringLast);
        QFETCH(bool, pointerReadable);
        QFETCH(int, ringPos);
        QFETCH(bool, wrapped);
        Fixture f;
        f.store.fillRing(ringFirst, ringLast, kNewestSecond);
        if (!pointerReadable) f.store.pointer.reset();
        f.st.Ring_Pos = 999;
        f.review.readRingPosition();
        QCOMPARE(f.st.Ring_Pos, ringPos);
        QCOMPARE(Ring_Wrapped, wrapped ? kTrue : kFalse);
        // Once wrapped, the ring stays wrapped: no more lookups.
        const int lookups = f.store.hasSlotCalls;
        f.review.readRingPosition();
        QCOMPARE(f.store.hasSlotCalls, wrapped ? lookups : lookups + 1);
    }

    void openLiveWindowLoadsTheNewestRecords() {
        Fixture f;
        f.store.fillRing(101, 100, kNewestSecond); // full ring, newest in slot 100
        f.st.Zoom_Level = 3;
        f.st.Gap_Mark[250] = 250;
        f.st.Page_Back = 0;
        f.view.newer = true;
        f.review.openLiveWindow();
        QCOMPARE(int(f.st.Zoom_Level), 1);
        QCOMPARE(f.st.Ring_Pos, 100);
        QCOMPARE(int(f.st.Win_Len), 241);
        QCOMPARE(int(f.st.Win_Count), 241);
        QCOMPARE(f.st.Win_End, 100);
        QCOMPARE(f.st.Probe_End, 100);
        QCOMPARE(int(Ring_Wrapped), int(kTrue));
        verifyWindow(f.st, 241, 65360);
        QCOMPARE(int(f.st.Gap_Mark[250]), 0);
        QVERIFY(!f.view.newer);
        QCOMPARE(f.view.redraws, 1);
        // Drawn at level 1: label 0 from slot 181 (id 40), label 6 from slot 241 (id 100,
        // the newest record), labels 7 and 8 10 and 20 seconds later.
        const StoredRecord id40 = f.store.rows[40];
        QCOMPARE(f.view.labels.Label4[0], timeOfDayText(id40.time));
        QCOMPARE(f.view.labels.Label7[0], dateText(id40.date));
        QCOMPARE(f.view.labels.Label4[6], QStringLiteral("12:00:00"));
        QCOMPARE(f.view.labels.Label4[7], QStringLiteral("12:00:10"));
        QCOMPARE(f.view.labels.Label4[8], QStringLiteral("12:00:20"));
        QCOMPARE(f.view.firstTime, timeOfDayText(f.store.rows[40].time));
        QCOMPARE(f.view.calls.last(), QStringLiteral("redraw"));
    }

    void olderPage_data() {
        QTest::addColumn<int>("ringFirst"); // 0: empty database
        QTest::addColumn<int>("ringLast");
        QTest::addColumn<int>("fromPage");
        QTest::addColumn<int>("presses");
        QTest::addColumn<int>("probeEnd");
        QTest::addColumn<int>("winEnd");
        QTest::addColumn<bool>("oldest");
        QTest::addColumn<int>("loaded");
        QTest::addColumn<int>("firstId");
        // A ring that has not wrapped, newest record in slot 500.
        QTest::newRow("500: page 1") << 1 << 500 << 0 << 1 << 440 << 440 << false << 321 << 120;
        QTest::newRow("500: page 2") << 1 << 500 << 0 << 2 << 380 << 380 << false << 321 << 60;
        QTest::newRow("500: page 3 reaches slot 1") << 1 << 500 << 0 << 3 << 320 << 320 << true << 320 << 1;
        QTest::newRow("322: page 1 one short of slot 1")
            << 1 << 382 << 0 << 1 << 322 << 322 << false << 321 << 2;
        QTest::newRow("321: page 1 ends at slot 321") << 1 << 381 << 0 << 1 << 321 << 321 << true << 321 << 1;
        // Ring_Pos equal to P: Win_End stays where it was (the live window's end).
        QTest::newRow("60: Ring_Pos equal to P") << 1 << 60 << 0 << 1 << 60 << 60 << true << 60 << 1;
        QTest::newRow("30: fewer records than a page") << 1 << 30 << 0 << 1 << 30 << 30 << true << 30 << 1;
        QTest::newRow("empty database") << 0 << 0 << 0 << 1 << 0 << 0 << true << 0 << 0;
        // A full ring, newest record in slot 100, oldest in slot 101.
        QTest::newRow("wrapped 100: page 1 across the end of the ring")
            << 101 << 100 << 0 << 1 << 40 << 40 << false << 321 << 65220;
        QTest::newRow("wrapped 100: page 2 behind the end of the ring")
            << 101 << 100 << 0 << 2 << 65480 << 65480 << false << 321 << 65160;
        QTest::newRow("wrapped 100: page 1086")
            << 101 << 100 << 1085 << 1 << 440 << 440 << false << 321 << 120;
        QTest::newRow("wrapped 100: page 1087 holds the oldest 321 records")
            << 101 << 100 << 1086 << 1 << 380 << 421 << true << 321 << 101;
        // Ring_Pos equal to P on a wrapped ring: the page of P = 120 ends at the last slot of
        // the ring, and the next one is a new page again.
        QTest::newRow("wrapped 120: page 2 ends at 65500")
            << 121 << 120 << 0 << 2 << 65500 << 65500 << false << 321 << 65180;
        QTest::newRow("wrapped 120: page 3 is new")
            << 121 << 120 << 0 << 3 << 65440 << 65440 << false << 321 << 65120;
        // Newest in slot 60000: paging goes on past slot 1 to the older records after 60000.
        QTest::newRow("wrapped 60000: page 995 passes slot 1")
            << 60001 << 60000 << 994 << 1 << 300 << 300 << false << 321 << 65480;
        QTest::newRow("wrapped 60000: page 1087 ends at the oldest record")
            << 60001 << 60000 << 1086 << 1 << 60280 << 60321 << true << 321 << 60001;
        // Newest in slot 65500: the oldest is slot 1.
        QTest::newRow("wrapped 65500: page 1086")
            << 1 << 65500 << 1085 << 1 << 340 << 340 << false << 321 << 20;
        QTest::newRow("wrapped 65500: page 1087")
            << 1 << 65500 << 1086 << 1 << 280 << 321 << true << 321 << 1;
    }
    void olderPage() {
        QFETCH(int, ringFirst);
        QFETCH(int, ringLast);
        QFETCH(int, fromPage);
        QFETCH(int, presses);
        QFETCH(int, probeEnd);
        QFETCH(int, winEnd);
        QFETCH(bool, oldest);
        QFETCH(int, loaded);
        QFETCH(int, firstId);
        Fixture f;
        if (ringFirst > 0) f.store.fillRing(ringFirst, ringLast, kNewestSecond);
        f.review.openLiveWindow();
        if (fromPage > 0) {
            // As if the operator had paged back that far already.
            f.st.Page_Back = static_cast<int16_t>(fromPage);
            f.view.setLiveTimerActive(false);
            f.view.setNewerEnabled(true);
        }
        for (int n = 0; n < presses; ++n) {
            QVERIFY(!f.st.At_Oldest); // F7 is offered only before the oldest page
            f.review.olderPage();
        }
        QCOMPARE(int(f.st.Page_Back), fromPage + presses);
        QCOMPARE(f.st.Probe_End, probeEnd);
        QCOMPARE(f.st.Win_End, winEnd);
        QCOMPARE(f.st.At_Oldest, oldest);
        QCOMPARE(f.view.older, !oldest);
        QCOMPARE(int(f.st.Win_Len), 321);
        QCOMPARE(int(f.st.Win_Count), 321);
        QVERIFY(!f.view.liveTimer);
        QVERIFY(f.view.newer);
        verifyWindow(f.st, loaded, firstId);
        QCOMPARE(f.view.calls.last(), QStringLiteral("redraw"));
    }

    void pagingBackAndForthFollowsTheStateTable() {
        Fixture f;
        f.store.fillRing(1, 500, kNewestSecond);
        f.review.openLiveWindow();

        struct Step {
            const char* command;
            int pageBack, winLen, winCount, winEnd;
            bool timer, newer, older;
        };
        const Step steps[] = {
            {"F7", 1, 321, 321, 440, false, true, true},  {"F7", 2, 321, 321, 380, false, true, true},
            {"F7", 3, 321, 321, 320, false, true, false}, {"F6", 2, 321, 321, 380, false, true, true},
            {"F7", 3, 321, 321, 320, false, true, false}, {"F6", 2, 321, 321, 380, false, true, true},
            {"F6", 1, 321, 321, 440, false, true, true},  {"F6", 0, 241, 241, 500, true, false, true},
        };
        for (const Step& step : steps) {
            const QByteArray what =
                QByteArray(step.command) + " to page " + QByteArray::number(step.pageBack);
            if (qstrcmp(step.command, "F7") == 0)
                f.review.olderPage();
            else
                f.review.newerPage();
            QVERIFY2(int(f.st.Page_Back) == step.pageBack, what);
            QVERIFY2(int(f.st.Win_Len) == step.winLen, what);
            QVERIFY2(int(f.st.Win_Count) == step.winCount, what);
            QVERIFY2(f.st.Win_End == step.winEnd, what);
            QVERIFY2(f.view.liveTimer == step.timer, what);
            QVERIFY2(f.view.newer == step.newer, what);
            QVERIFY2(f.view.older == step.older, what);
            QVERIFY2(f.st.At_Oldest == !step.older, what);
            QVERIFY2(idInSlot(f.st, 1) == step.winEnd - step.winLen + 1 || step.winEnd < step.winLen, what);
        }
        // F6 on the live window does nothing.
        const QStringList before = f.view.calls;
        f.review.newerPage();
        QCOMPARE(int(f.st.Page_Back), 0);
        QCOMPARE(f.view.calls, before);
    }

    void returningToLiveReadsTheRingAgain() {
        Fixture f;
        f.store.fillRing(1, 300, kNewestSecond);
        f.review.openLiveWindow();
        f.review.olderPage(); // P = 60, Probe_End 240: oldest at once
        QVERIFY(f.st.At_Oldest);
        QVERIFY(!f.view.older);
        // The recorder goes on while the operator looks at history.
        for (int id = 301; id <= 305; ++id)
            f.store.writeRecord(recordAt(id, kNewestSecond + (id - 300)));
        f.view.calls.clear();
        f.review.newerPage();
        QCOMPARE(f.st.Ring_Pos, 305);
        QCOMPARE(f.st.Win_End, 305);
        QCOMPARE(f.st.Probe_End, 305);
        verifyWindow(f.st, 241, 65);
        QVERIFY(!f.st.At_Oldest);
        QCOMPARE(f.view.calls, (QStringList{"clear", "first", "newer=0", "redraw", "timer=1", "older=1"}));
    }

    void pagingAcrossTheWrapAndBack() {
        // Newest in slot 100 of a full ring: page back over the end of the ring and return.
        Fixture f;
        f.store.fillRing(101, 100, kNewestSecond);
        f.review.openLiveWindow();
        f.review.olderPage();
        f.review.olderPage();
        verifyWindow(f.st, 321, 65160);
        // Gap-free records across the end of the ring: no marks.
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(f.st.Gap_Mark[s]), 0);
        f.review.newerPage();
        verifyWindow(f.st, 321, 65220);
        QCOMPARE(f.st.Win_End, 40);
        f.review.newerPage();
        verifyWindow(f.st, 241, 65360);
        QVERIFY(f.view.liveTimer);
    }
};

QTEST_MAIN(TestHistoryReview)
#include "test_history_review.moc"
