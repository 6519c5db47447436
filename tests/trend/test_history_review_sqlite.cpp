// History review against a real recording database: an SQLite file in a temporary folder,
// created as hx5800-initdb creates it and filled through the store's own writeRecord on a
// connection of its own, as the recorder does.
#include <cmath>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include "TrendTestSupport.h"
#include "core/SharedState.h"
#include "logging/DatabaseSetup.h"
#include "logging/SqliteRecordStore.h"
#include "trend/HistoryConnection.h"
#include "trend/HistoryReview.h"

using namespace hx;
using namespace hx::test;

namespace {

constexpr long long kNewestSecond = 10 * 86400LL + 12 * 3600;

int idInSlot(const TrendState& st, int slot) {
    return int(st.Trend_Value[0][slot]);
}
int nextId(int id) {
    return id == kRingSize ? 1 : id + 1;
}

// The record of slot id in a ring whose newest record is in slot newest, one per second.
StoredRecord ringRecord(int32_t id, int32_t newest, long long newestSecond = kNewestSecond) {
    const int32_t age = ((newest - id) % kRingSize + kRingSize) % kRingSize;
    return recordAt(id, newestSecond - age);
}

// The recorder's side: its own connection, writing records and the pointer.
class Recorder {
  public:
    explicit Recorder(const QString& path) {
        SqliteStoreOptions options;
        options.sync = SqliteStoreOptions::Sync::Normal; // the tests need no power-cut safety
        store_ = std::make_unique<SqliteRecordStore>(path, options);
    }
    bool isOpen() const { return store_->isOpen(); }
    // Slots first..last (wrapping past 65500) of a ring whose newest record is `newest`;
    // the pointer ends on `newest`, written last.
    bool write(int32_t first, int32_t last, int32_t newest) {
        for (int32_t id = first;; id = nextId(id)) {
            if (id != newest && store_->writeRecord(ringRecord(id, newest)) == WriteOutcome::Failed)
                return false;
            if (id == last) break;
        }
        return store_->writeRecord(ringRecord(newest, newest)) == WriteOutcome::Committed;
    }
    bool writeAt(int32_t id, long long second) {
        return store_->writeRecord(recordAt(id, second)) == WriteOutcome::Committed;
    }

  private:
    std::unique_ptr<SqliteRecordStore> store_;
};

void verifyWindow(const TrendState& st, int count, int firstId) {
    // The newest record stands in slot Win_Len, however few the records.
    const int first = st.Win_Len - count + 1;
    int id = firstId;
    for (int s = first; s <= st.Win_Len; ++s, id = nextId(id)) {
        QCOMPARE(idInSlot(st, s), id);
        QCOMPARE(st.Trend_Value[9][s], float(id + 9));
    }
    for (int s = 1; s <= 321; ++s) {
        if (s >= first && s <= st.Win_Len) continue;
        QCOMPARE(st.Trend_Value[0][s], 0.0f);
        QCOMPARE(st.Trend_Date[s], 0.0);
        QCOMPARE(st.Trend_Time[s], 0.0);
    }
}

bool execSql(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// A clock that moves only when the test says so.
class StepClock final : public Clock {
  public:
    ClockReading now() const override { return {kDay, seconds_ / 86400.0}; }
    void advance(int seconds) { seconds_ += seconds; }

  private:
    int seconds_ = 10 * 3600;
};

} // namespace

class TestHistoryReviewSqlite : public QObject {
    Q_OBJECT
  private:
    QTemporaryDir dir_;
    QString path_;

    void freshDatabase() {
        path_ = dir_.filePath(QStringLiteral("Rdatabj.db"));
        QString error;
        QVERIFY2(createRecordDatabase(path_, true, &error), qPrintable(error));
    }

  private slots:
    void init() {
        QVERIFY(dir_.isValid());
        resetSharedState();
        Y_Span = 1500;
        freshDatabase();
    }

    void loadWindow_data() {
        QTest::addColumn<int>("first"); // slots written, first..last, newest record in `newest`
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("newest");
        QTest::addColumn<int>("winLen");
        QTest::addColumn<int>("winEnd");
        QTest::addColumn<int>("loaded");
        QTest::addColumn<int>("firstId");
        QTest::addColumn<bool>("wrapped");
        QTest::newRow("live, Win_End 1000: ids 760..1000")
            << 1 << 2000 << 2000 << 241 << 1000 << 241 << 760 << false;
        QTest::newRow("live, Win_End 100 on a wrapped ring: 65360..65500, then 1..100")
            << 65000 << 400 << 400 << 241 << 100 << 241 << 65360 << true;
        QTest::newRow("fewer records than the window") << 1 << 100 << 100 << 241 << 100 << 100 << 1 << false;
        QTest::newRow("history page at the start of the ring")
            << 1 << 500 << 500 << 321 << 320 << 320 << 1 << false;
        QTest::newRow("history page ending at 65500")
            << 65000 << 65500 << 65500 << 321 << 65500 << 321 << 65180 << true;
    }
    void loadWindow() {
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, newest);
        QFETCH(int, winLen);
        QFETCH(int, winEnd);
        QFETCH(int, loaded);
        QFETCH(int, firstId);
        QFETCH(bool, wrapped);
        Recorder recorder(path_);
        QVERIFY(recorder.isOpen());
        QVERIFY(recorder.write(first, last, newest));

        auto store = openRecordStore(path_);
        QVERIFY2(store->isOpen(), qPrintable(store->lastError()));
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview review(st, store.get(), view);
        review.readRingPosition();
        QCOMPARE(st.Ring_Pos, newest);
        QCOMPARE(Ring_Wrapped, wrapped ? kTrue : kFalse);
        st.Win_Len = static_cast<int16_t>(winLen);
        st.Win_End = winEnd;
        review.LoadWindow();
        verifyWindow(st, loaded, firstId);
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(st.Gap_Mark[s]), 0);
    }

    void gapMarks() {
        // 23:58:00 .. 00:02:59 one a second, a hole of six minutes, then 00:09:00 onward.
        Recorder recorder(path_);
        int32_t id = 0;
        for (long long t = 86280; t < 86400 + 180; ++t)
            QVERIFY(recorder.writeAt(++id, t));
        const int32_t afterHole = id + 1;
        for (long long t = 86400 + 540; id < 400; ++t)
            QVERIFY(recorder.writeAt(++id, t));

        auto store = openRecordStore(path_);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview review(st, store.get(), view);
        review.readRingPosition();
        st.Win_Len = 321;
        st.Win_End = st.Ring_Pos; // ids 80..400
        review.LoadWindow();
        const int markedSlot = afterHole - 79;
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(st.Gap_Mark[s]), s == markedSlot ? s : 0);
        QCOMPARE(idInSlot(st, markedSlot), afterHole);
    }

    void unusableDatabaseLeavesTheWindowCleared_data() {
        QTest::addColumn<int>("damage"); // 0 no file, 1 not a database, 2 pv_data missing
        QTest::newRow("no database file") << 0;
        QTest::newRow("not a database") << 1;
        QTest::newRow("pv_data missing") << 2;
    }
    void unusableDatabaseLeavesTheWindowCleared() {
        QFETCH(int, damage);
        {
            Recorder recorder(path_);
            QVERIFY(recorder.write(1, 1000, 1000));
        }
        if (damage == 0) {
            QVERIFY(QFile::remove(path_));
        } else if (damage == 1) {
            QFile::remove(path_ + "-wal");
            QFile::remove(path_ + "-shm");
            QFile file(path_);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(4096, 'x'));
        } else {
            QVERIFY(execSql(path_, "drop table pv_data"));
        }
        auto store = openRecordStore(path_);
        TrendState st;
        st.Trend_Value[0][200] = 5;
        st.Trend_Date[200] = kDay;
        st.Gap_Mark[200] = 200;
        RecordingTrendView view(st);
        HistoryReview review(st, store.get(), view);
        review.openLiveWindow();
        verifyWindow(st, 0, 0);
        QCOMPARE(int(st.Gap_Mark[200]), 0);
        QCOMPARE(view.redraws, 1);
        QCOMPARE(view.firstTime, QString());
        review.olderPage();
        verifyWindow(st, 0, 0);
        QCOMPARE(int(st.Page_Back), 1);
    }

    // Another program edited the database: the live window (ids 760..1000) shows every
    // record it can place in time, a value that is no number as NaN (drawn as a hole in its
    // curve, never as a plausible 0), and leaves out records without a date and time.
    void hostileContent_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QList<int>>("leftOut");  // ids missing from the window
        QTest::addColumn<int>("noNumberChannel"); // channel of id 900 that reads NaN, -1 none
        QTest::addColumn<float>("channel4Of900");
        const QList<int> none;
        QTest::newRow("NULL value") << "update pv_data set ch1=NULL where w_id=900" << none << 0 << 904.0f;
        QTest::newRow("text in a number column")
            << "update pv_data set ch2='abc' where w_id=900" << none << 1 << 904.0f;
        QTest::newRow("infinity") << "update pv_data set ch3=9e999 where w_id=900" << none << 2 << 904.0f;
        QTest::newRow("1e300, beyond single precision")
            << "update pv_data set da2=1e300 where w_id=900" << none << 9 << 904.0f;
        QTest::newRow("blob") << "update pv_data set ch8=x'0102' where w_id=900" << none << 7 << 904.0f;
        QTest::newRow("a number written as text is a number")
            << "update pv_data set ch5='12.5' where w_id=900" << none << -1 << 12.5f;
        QTest::newRow("an integer is a number")
            << "update pv_data set ch5=-7 where w_id=900" << none << -1 << -7.0f;
        QTest::newRow("NULL date") << "update pv_data set w_date=NULL where w_id=900" << QList<int>{900} << -1
                                   << 904.0f;
        QTest::newRow("text time") << "update pv_data set w_time='noon' where w_id=900" << QList<int>{900}
                                   << -1 << 904.0f;
        QTest::newRow("time beyond one day")
            << "update pv_data set w_time=5 where w_id=900" << QList<int>{900} << -1 << 904.0f;
        QTest::newRow("date no calendar knows")
            << "update pv_data set w_date=1e300 where w_id=900" << QList<int>{900} << -1 << 904.0f;
        QTest::newRow("rows deleted")
            << "delete from pv_data where w_id between 800 and 809"
            << QList<int>{800, 801, 802, 803, 804, 805, 806, 807, 808, 809} << -1 << 904.0f;
    }
    void hostileContent() {
        QFETCH(QString, edit);
        QFETCH(QList<int>, leftOut);
        QFETCH(int, noNumberChannel);
        QFETCH(float, channel4Of900);
        {
            Recorder recorder(path_);
            QVERIFY(recorder.write(1, 1000, 1000));
        }
        QVERIFY(execSql(path_, edit.toUtf8().constData()));

        auto store = openRecordStore(path_);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview review(st, store.get(), view);
        review.openLiveWindow();
        QCOMPARE(st.Ring_Pos, 1000);

        // The records left out leave the oldest slots cleared; the newest stays in slot 241.
        int slot = int(leftOut.size());
        for (int id = 760; id <= 1000; ++id) {
            if (leftOut.contains(id)) continue;
            ++slot;
            for (int c = 0; c < kDrawnChannels; ++c) {
                const float v = st.Trend_Value[c][slot];
                if (id == 900 && c == noNumberChannel)
                    QVERIFY2(std::isnan(v), qPrintable(QString::number(v)));
                else if (id == 900 && c == 4)
                    QCOMPARE(v, channel4Of900);
                else
                    QCOMPARE(v, float(id + c));
            }
            QCOMPARE(st.Trend_Date[slot] + st.Trend_Time[slot],
                     ringRecord(id, 1000).date + ringRecord(id, 1000).time);
        }
        QCOMPARE(slot, 241);
        for (int s = 1; s <= 321; ++s) // fewer records: the oldest slots stay cleared
            if (s <= int(leftOut.size()) || s > 241)
                QVERIFY(st.Trend_Value[0][s] == 0 && st.Trend_Date[s] == 0 && st.Trend_Time[s] == 0);
        // Ten seconds, or one, between neighbours: no gap is marked.
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(st.Gap_Mark[s]), 0);

        // The chart drew every line at a finite place, and the hole where the value is none.
        QCOMPARE(view.redraws, 1);
        for (const RecordedLine& l : view.canvas.visibleLines())
            QVERIFY(std::isfinite(l.x1) && std::isfinite(l.y1) && std::isfinite(l.x2) && std::isfinite(l.y2));
    }

    // A pointer outside the ring names no record: history keeps the window it had instead of
    // showing records the pointer does not name.
    void pointerOutsideTheRingKeepsTheWindow_data() {
        QTest::addColumn<QString>("edit");
        QTest::newRow("negative") << "update sl_void set p0=-5";
        QTest::newRow("past the ring") << "update sl_void set p0=70000";
        QTest::newRow("NULL") << "update sl_void set p0=NULL";
        QTest::newRow("text") << "update sl_void set p0='abc'";
        QTest::newRow("huge") << "update sl_void set p0=1e300";
        QTest::newRow("no row") << "delete from sl_void";
    }
    void pointerOutsideTheRingKeepsTheWindow() {
        QFETCH(QString, edit);
        {
            Recorder recorder(path_);
            QVERIFY(recorder.write(1, 1000, 1000));
        }
        auto store = openRecordStore(path_);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview review(st, store.get(), view);
        review.openLiveWindow();
        verifyWindow(st, 241, 760);

        QVERIFY(execSql(path_, edit.toUtf8().constData()));
        review.reloadLiveWindow();
        QCOMPARE(st.Ring_Pos, 1000);
        verifyWindow(st, 241, 760);
        review.olderPage();
        QCOMPARE(st.Win_End, 940);
        verifyWindow(st, 321, 620);
    }

    void pagingAcrossTheWrapToTheOldestRecord() {
        // A wrapped ring, newest record in slot 100, oldest in slot 101. Only the slots the
        // pages below show are written; slot 65500 tells that the ring has wrapped.
        Recorder recorder(path_);
        QVERIFY(recorder.write(65100, 600, 100));
        auto store = openRecordStore(path_);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview review(st, store.get(), view);
        review.openLiveWindow();
        QCOMPARE(int(Ring_Wrapped), int(kTrue));
        verifyWindow(st, 241, 65360);

        review.olderPage();
        verifyWindow(st, 321, 65220);
        review.olderPage();
        verifyWindow(st, 321, 65160);
        QVERIFY(view.older);

        st.Page_Back = 1085; // far back through the ring
        review.olderPage();
        QCOMPARE(st.Win_End, 440);
        verifyWindow(st, 321, 120);
        QVERIFY(view.older);
        review.olderPage(); // page 1087 reaches the oldest record: no further
        QCOMPARE(st.Win_End, 421);
        verifyWindow(st, 321, 101);
        QVERIFY(st.At_Oldest);
        QVERIFY(!view.older);
        for (int s = 0; s <= 321; ++s)
            QCOMPARE(int(st.Gap_Mark[s]), 0);

        review.newerPage();
        verifyWindow(st, 321, 120);
        QVERIFY(view.older);
        QVERIFY(!st.At_Oldest);
    }

    void pagingBackAndReturningToLive() {
        Recorder recorder(path_);
        QVERIFY(recorder.write(1, 500, 500));
        auto store = openRecordStore(path_);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview review(st, store.get(), view);
        review.openLiveWindow();
        const int probes[] = {440, 380, 320};
        for (int probe : probes) {
            review.olderPage();
            QCOMPARE(st.Probe_End, probe);
            verifyWindow(st, std::min(probe, 321), probe - std::min(probe, 321) + 1);
        }
        QVERIFY(st.At_Oldest);
        QVERIFY(!view.older);
        QVERIFY(!view.liveTimer);

        // The recorder goes on meanwhile; returning to live shows its newest records.
        for (int32_t id = 501; id <= 530; ++id)
            QVERIFY(recorder.writeAt(id, kNewestSecond + (id - 500)));
        review.newerPage();
        review.newerPage();
        review.newerPage();
        QCOMPARE(int(st.Page_Back), 0);
        QCOMPARE(st.Ring_Pos, 530);
        verifyWindow(st, 241, 290);
        QVERIFY(view.liveTimer);
        QVERIFY(view.older);
        QVERIFY(!view.newer);
        QVERIFY(!st.At_Oldest);
    }

    // The window's connection comes back as the recorder's does: a database created after
    // start-up, or replaced while running, is opened again when history next reads, at most
    // every 5 s; meanwhile history tells that it cannot be read.
    void theConnectionComesBackWhenTheDatabaseAppearsOrIsReplaced() {
        QVERIFY(QFile::remove(path_));
        StepClock clock;
        HistoryConnection connection(path_, openRecordStore, clock);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview review(st, nullptr, view);
        review.setConnection(&connection);
        review.openLiveWindow();
        verifyWindow(st, 0, 0);
        QVERIFY(!connection.readable());
        QVERIFY(!connection.lastError().isEmpty());

        freshDatabase();
        {
            Recorder recorder(path_);
            QVERIFY(recorder.write(1, 1000, 1000));
        }
        clock.advance(4); // too soon for another attempt
        review.reloadLiveWindow();
        verifyWindow(st, 0, 0);
        QVERIFY(!connection.readable());
        clock.advance(1); // the next live reload (a full growth band) finds it
        review.reloadLiveWindow();
        QCOMPARE(st.Ring_Pos, 1000);
        verifyWindow(st, 241, 760);
        review.olderPage();
        verifyWindow(st, 321, 620); // page 1 ends 60 records behind the newest
        QVERIFY(connection.readable());
        QVERIFY(connection.lastError().isEmpty());

        // Replaced under the open connection (hx5800-initdb --force, a restore): the next
        // read notices, and the new file is opened as soon as 5 s lie behind the last attempt.
        QVERIFY(QFile::remove(path_));
        QFile::remove(path_ + "-wal");
        QFile::remove(path_ + "-shm");
        freshDatabase();
        {
            Recorder recorder(path_);
            QVERIFY(recorder.write(1, 400, 400));
        }
        clock.advance(5);
        review.newerPage();
        QCOMPARE(st.Ring_Pos, 400);
        verifyWindow(st, 241, 160);
        QVERIFY(connection.readable());
    }
};

QTEST_MAIN(TestHistoryReviewSqlite)
#include "test_history_review_sqlite.moc"
