// The recorder window end to end: mscom with a real database file in a temporary folder and a
// clock the test moves, ticked by hand (and once by its own timer).
#include <stdexcept>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include "LoggingTestSupport.h"
#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "logging/RecordingSchedule.h"
#include "logging/Ring.h"
#include "logging/SqliteRecordStore.h"
#include "logging/mscom.h"

using namespace hx;
using namespace hx::testing;

namespace {

struct Written {
    StoredRecord record;
    WriteOutcome outcome;
};

// A recorder on the database at path, its timer stopped so the test drives the ticks.
struct Recorder {
    Recorder(const QString& path, FakeClock& clock, mscom::StoreFactory factory = openRecordStore)
        : window(path, clock, std::move(factory)) {
        window.Timer1.stop();
        QObject::connect(&window, &mscom::recordWritten, [this](const StoredRecord& r, WriteOutcome o) {
            written.push_back({r, o});
        });
    }
    // One recording tick after a poll cycle that refreshed all ten values.
    void tick() {
        freshValues().noteMeasured(0, FreshValues::kValues, FreshValues::steadyNowMs());
        window.Timer1_Timer();
    }
    mscom window;
    std::vector<Written> written;
};

// Ticks ten times per clock second for the given seconds; counts New_Record raises the way
// the live trend consumes them (acting on it clears it).
int runSeconds(Recorder& recorder, FakeClock& clock, int seconds, bool measured = true) {
    int raised = 0;
    for (int s = 0; s < seconds; ++s) {
        for (int t = 0; t < 10; ++t) {
            if (measured)
                recorder.tick();
            else
                recorder.window.Timer1_Timer();
            if (New_Record == kTrue) {
                ++raised;
                New_Record = kFalse;
            }
        }
        clock.advance(1);
    }
    return raised;
}

void setValues(float base) {
    for (int i = 0; i < 10; ++i)
        Pv_Value[i] = base + i;
}

QDateTime at(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

// Throws from every call, as a store written with throwing code might.
class ThrowingStore final : public RecordStore {
  public:
    bool isOpen() const override { return true; }
    QString path() const override { return "throwing"; }
    QString lastError() const override { return {}; }
    std::optional<std::pair<int32_t, int32_t>> readPointer() override {
        throw std::runtime_error("read threw");
    }
    WriteOutcome writeRecord(const StoredRecord&) override { throw std::runtime_error("write threw"); }
    std::optional<std::vector<StoredRecord>> selectWindow(int32_t, int32_t, int32_t) override {
        return std::nullopt;
    }
    std::optional<bool> hasSlot(int32_t) override { return std::nullopt; }
};

} // namespace

Q_DECLARE_METATYPE(hx::WriteOutcome)
Q_DECLARE_METATYPE(hx::RecorderClaim)

class TestRecorder : public QObject {
    Q_OBJECT

  private slots:
    void init() { resetSharedState(); }

    void recordsByItsOwnTimerWithoutBeingShown();
    void ringSlots_data();
    void ringSlots();
    void existingSlotIsOverwrittenInPlace();
    void fullRingWraps();
    void schedule_data();
    void schedule();
    void tickRhythm_data();
    void tickRhythm();
    void withoutDatabaseTheLiveTrendStillAdvances_data();
    void withoutDatabaseTheLiveTrendStillAdvances();
    void databaseAppearingLaterIsPickedUp_data();
    void databaseAppearingLaterIsPickedUp();
    void databaseReplacedWhileRecording_data();
    void databaseReplacedWhileRecording();
    void emptyPointerTableRecordsFromOneInMemory();
    void pointerIsReadBeforeEveryRecord_data();
    void pointerIsReadBeforeEveryRecord();
    void readOnlyDatabaseStoresNothing();
    void busyDatabaseSkipsTheTickQuickly();
    void throwingStoreNeverEscapesTheTick();
    void onlyMeasuredValuesAreRecorded();
    void secondRecorderOnOneDatabaseWaitsForTheFirstToEnd();
    void theLockFileDecidesWhetherToRecord_data();
    void theLockFileDecidesWhetherToRecord();
};

void TestRecorder::recordsByItsOwnTimerWithoutBeingShown() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    FakeClock clock;
    mscom window(path, clock);
    // A poll that answers on every tick.
    QObject::connect(&window.Timer1, &QTimer::timeout,
                     [] { freshValues().noteMeasured(0, FreshValues::kValues, FreshValues::steadyNowMs()); });
    QVERIFY(window.Timer1.isActive());
    QCOMPARE(window.Timer1.interval(), 100);
    QVERIFY(window.status().databaseAvailable);
    Db db(path);
    QTRY_COMPARE_WITH_TIMEOUT(db.rowCount(), 1, 2000);
    // Same clock second: the timer keeps ticking but stores nothing more.
    QTest::qWait(350);
    QCOMPARE(db.rowCount(), 1);
    clock.advance(1);
    QTRY_COMPARE_WITH_TIMEOUT(db.rowCount(), 2, 2000);
}

void TestRecorder::ringSlots_data() {
    QTest::addColumn<int>("pointer");
    QTest::addColumn<QList<int>>("expectedSlots");

    QTest::newRow("fresh database starts at slot 1") << 0 << QList<int>{1, 2, 3};
    QTest::newRow("in the middle") << 41 << QList<int>{42, 43};
    QTest::newRow("65499: last slot, then slot 1") << 65499 << QList<int>{65500, 1, 2};
    QTest::newRow("65500 starts the ring again") << 65500 << QList<int>{1, 2};
    QTest::newRow("70000 is outside the ring") << 70000 << QList<int>{1, 2};
    QTest::newRow("-5 is outside the ring too") << -5 << QList<int>{1, 2};
    QTest::newRow("-1") << -1 << QList<int>{1, 2};
    QTest::newRow("most negative 32-bit") << int(-2147483647 - 1) << QList<int>{1, 2};
}

void TestRecorder::ringSlots() {
    QFETCH(int, pointer);
    QFETCH(QList<int>, expectedSlots);

    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    QVERIFY(db.setPointer(pointer));
    FakeClock clock;
    Recorder recorder(path, clock);

    for (int i = 0; i < expectedSlots.size(); ++i) {
        setValues(10.0f * (i + 1));
        runSeconds(recorder, clock, 1);
        QCOMPARE(recorder.written.size(), size_t(i + 1));
        QCOMPARE(recorder.written.back().outcome, WriteOutcome::Committed);
        QCOMPARE(recorder.written.back().record.id, expectedSlots[i]);
        QCOMPARE(db.pointer(), expectedSlots[i]);
        QCOMPARE(db.integer("select p1 from sl_void"), expectedSlots[i]);
        // The working copy is the slot just written until the pointer is read before the next
        // record (65500 then reads as 0).
        QCOMPARE(recorder.window.slotCounter(), expectedSlots[i]);
        // A database without rows grows by one row per record.
        QCOMPARE(db.rowCount(), i + 1);
        QCOMPARE(db.real(QString("select ch1 from pv_data where w_id=%1").arg(expectedSlots[i])),
                 10.0 * (i + 1));
        QCOMPARE(db.real(QString("select da2 from pv_data where w_id=%1").arg(expectedSlots[i])),
                 10.0 * (i + 1) + 9);
    }
}

void TestRecorder::existingSlotIsOverwrittenInPlace() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    QVERIFY(db.fillRing(10, 4, at("2024-03-14T09:00:00")));
    FakeClock clock(at("2024-03-14T10:00:00"));
    Recorder recorder(path, clock);
    setValues(-7.5f);
    runSeconds(recorder, clock, 1);

    QCOMPARE(db.rowCount(), 10);
    QCOMPARE(db.pointer(), 5);
    const auto rows = db.rows("select * from pv_data where w_id=5");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][1].toDouble(), dayNumberOf(QDate(2024, 3, 14)));
    QCOMPARE(rows[0][2].toDouble(), 36000 / 86400.0);
    for (int c = 0; c < 10; ++c)
        QCOMPARE(rows[0][3 + c].toFloat(), -7.5f + c);
    // The neighbours keep their old records.
    QCOMPARE(db.real("select ch1 from pv_data where w_id=6"), 6.0);
}

void TestRecorder::fullRingWraps() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    QVERIFY(db.fillRing(kRingSize, 65499, at("2024-03-14T09:00:00")));
    FakeClock clock(at("2024-03-14T10:00:00"));
    Recorder recorder(path, clock);
    setValues(1000);

    runSeconds(recorder, clock, 3);
    QCOMPARE(db.rowCount(), kRingSize);
    QCOMPARE(db.pointer(), 2);
    QCOMPARE(db.real("select ch1 from pv_data where w_id=65500"), 1000.0);
    QCOMPARE(db.real("select ch1 from pv_data where w_id=1"), 1000.0);
    QCOMPARE(db.real("select ch1 from pv_data where w_id=3"), 3.0); // oldest, not yet overwritten

    // The live window across the wrap ends with the three new records in time order.
    SqliteRecordStore store(path);
    const auto window = store.selectWindow(kRingSize - (241 - 2), 2, 241);
    QVERIFY(window);
    QCOMPARE(window->size(), size_t(241));
    QCOMPARE(window->at(238).id, 65500);
    QCOMPARE(window->at(239).id, 1);
    QCOMPARE(window->at(240).id, 2);
    QCOMPARE(window->at(0).id, 65262);
}

void TestRecorder::schedule_data() {
    QTest::addColumn<QDateTime>("reference"); // invalid: the values at start-up (0, 0)
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<double>("elapsed");

    QTest::newRow("23:59:59 to 00:00:00 next day")
        << at("2024-03-14T23:59:59") << at("2024-03-15T00:00:00") << 1.0;
    QTest::newRow("same second") << at("2024-03-14T10:00:05") << at("2024-03-14T10:00:05") << 0.0;
    QTest::newRow("clock set back 5 s") << at("2024-03-14T10:00:05") << at("2024-03-14T10:00:00") << 5.0;
    QTest::newRow("clock set forward a day")
        << at("2024-03-14T10:00:05") << at("2024-03-15T10:00:05") << 86400.0;
    QTest::newRow("end of a year") << at("2023-12-31T23:59:58") << at("2024-01-01T00:00:01") << 3.0;
    QTest::newRow("first tick after start-up")
        << QDateTime() << at("2024-03-14T10:00:00")
        << std::round((dayNumberOf(QDate(2024, 3, 14)) + 10 / 24.0) * 86400);
}

void TestRecorder::schedule() {
    QFETCH(QDateTime, reference);
    QFETCH(QDateTime, now);
    QFETCH(double, elapsed);

    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    FakeClock clock(now);
    Recorder recorder(path, clock);
    if (reference.isValid()) {
        const ClockReading r = readingOf(reference);
        Last_Date = r.date;
        Last_Time = r.time;
    }
    const double lastDate = Last_Date;
    const double lastTime = Last_Time;

    QCOMPARE(recorder.window.okitime(), elapsed);
    recorder.tick();
    const bool due = elapsed >= 1;
    QCOMPARE(recorder.written.size(), size_t(due ? 1 : 0));
    QCOMPARE(Db(path).rowCount(), due ? 1 : 0);
    if (due) { // the reference moves to the record's instant, also backwards
        QCOMPARE(Last_Date, clock.now().date);
        QCOMPARE(Last_Time, clock.now().time);
        QCOMPARE(recorder.window.okitime(), 0.0);
    } else {
        QCOMPARE(Last_Date, lastDate);
        QCOMPARE(Last_Time, lastTime);
    }
    // The pure rule gives the same answer.
    QCOMPARE(elapsedWholeSeconds(readingOf(now), lastDate, lastTime), elapsed);
}

void TestRecorder::tickRhythm_data() {
    QTest::addColumn<int>("tickMs");
    QTest::addColumn<int>("durationMs");
    QTest::addColumn<int>("records");

    QTest::newRow("100 ms ticks: one record per second") << 100 << 10000 << 10;
    QTest::newRow("slow 300 ms ticks: still one per second") << 300 << 10000 << 10;
    QTest::newRow("700 ms ticks: one per second") << 700 << 10000 << 10;
    QTest::newRow("1 s ticks") << 1000 << 10000 << 10;
    // Missed seconds are not filled in: one record per tick, the rhythm follows the ticks.
    QTest::newRow("2.5 s pauses: one per tick") << 2500 << 10000 << 4;
}

void TestRecorder::tickRhythm() {
    QFETCH(int, tickMs);
    QFETCH(int, durationMs);
    QFETCH(int, records);

    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    FakeClock clock(at("2024-03-14T10:00:00"));
    const qint64 start = clock.seconds();
    Recorder recorder(path, clock);
    for (int ms = 0; ms < durationMs; ms += tickMs) {
        clock.advance(start + ms / 1000 - clock.seconds());
        recorder.tick();
    }
    QCOMPARE(int(recorder.written.size()), records);
    QCOMPARE(Db(path).rowCount(), records);
    for (size_t i = 1; i < recorder.written.size(); ++i) {
        const StoredRecord& a = recorder.written[i - 1].record;
        const StoredRecord& b = recorder.written[i].record;
        QVERIFY2(elapsedWholeSeconds({b.date, b.time}, a.date, a.time) >= 1, "two records in one second");
        QCOMPARE(b.id, a.id + 1);
    }
}

void TestRecorder::withoutDatabaseTheLiveTrendStillAdvances_data() {
    QTest::addColumn<bool>("mainOpen");
    QTest::newRow("main window open") << true;
    QTest::newRow("main window closed") << false;
}

void TestRecorder::withoutDatabaseTheLiveTrendStillAdvances() {
    QFETCH(bool, mainOpen);
    QTemporaryDir dir;
    const QString path = dir.filePath("Trendlog/Rdatabj.db");
    FakeClock clock;
    Recorder recorder(path, clock);
    Main_Open = mainOpen ? kTrue : kFalse;

    const int raised = runSeconds(recorder, clock, 4);
    QCOMPARE(raised, mainOpen ? 4 : 0);
    QCOMPARE(recorder.written.size(), size_t(4));
    for (const Written& w : recorder.written)
        QCOMPARE(w.outcome, WriteOutcome::Failed);
    // The slots still advance in memory, as with an unreadable pointer.
    QCOMPARE(recorder.written.back().record.id, 4);
    QVERIFY(!QFile::exists(path));
    QVERIFY(!QDir(dir.filePath("Trendlog")).exists());
    const RecorderStatus& status = recorder.window.status();
    QCOMPARE(status.databasePath, path);
    QVERIFY(!status.databaseAvailable);
    QVERIFY2(status.lastError.contains("no database file"), qPrintable(status.lastError));
    QCOMPARE(status.recordsFailed, quint64(4));
    QCOMPARE(status.recordsCommitted, quint64(0));
    QVERIFY(!status.lastRecordAt);
}

void TestRecorder::databaseAppearingLaterIsPickedUp_data() {
    QTest::addColumn<QString>("trouble");
    QTest::newRow("file missing at start") << "missing";
    QTest::newRow("file locked by another program at start") << "locked";
    QTest::newRow("file not a database at start") << "garbage";
}

void TestRecorder::databaseAppearingLaterIsPickedUp() {
    QFETCH(QString, trouble);
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    std::unique_ptr<Db> holder;
    if (trouble == "locked") {
        freshDatabase(dir);
        holder = std::make_unique<Db>(path);
        QVERIFY(
            holder->exec("pragma locking_mode=exclusive; begin exclusive; update sl_void set p2=1; commit"));
    } else if (trouble == "garbage") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    }

    int opens = 0;
    FakeClock clock;
    Recorder recorder(path, clock, [&opens](const QString& p) {
        ++opens;
        return openRecordStore(p);
    });
    QVERIFY(!recorder.window.status().databaseAvailable);
    QVERIFY(!recorder.window.status().lastError.isEmpty());

    runSeconds(recorder, clock, 12);
    // Looked for again every 5 clock seconds, not on every tick.
    QVERIFY2(opens >= 3 && opens <= 4, qPrintable(QString("opened %1 times in 12 s").arg(opens)));
    QCOMPARE(recorder.window.status().recordsCommitted, quint64(0));

    // The database becomes usable; the recorder finds it within 5 s and records from then on.
    if (trouble == "locked") {
        holder.reset();
    } else {
        QString error;
        QVERIFY2(createRecordDatabase(path, true, &error), qPrintable(error));
    }
    const qint64 appeared = clock.seconds();
    qint64 firstRecord = -1;
    for (int s = 0; s < 8 && firstRecord < 0; ++s) {
        runSeconds(recorder, clock, 1);
        if (recorder.window.status().recordsCommitted > 0) firstRecord = clock.seconds() - 1;
    }
    QVERIFY2(firstRecord >= 0, "the recorder never picked the database up");
    QVERIFY2(firstRecord - appeared <= 5,
             qPrintable(QString("picked up after %1 s").arg(firstRecord - appeared)));
    QVERIFY(recorder.window.status().databaseAvailable);
    QVERIFY(recorder.window.status().lastError.isEmpty());
    runSeconds(recorder, clock, 2);
    QCOMPARE(Db(path).rowCount(), qint64(recorder.window.status().recordsCommitted));
    QCOMPARE(Db(path).pointer(), recorder.window.status().lastRecordSlot);
}

void TestRecorder::databaseReplacedWhileRecording_data() {
    QTest::addColumn<bool>("recreatedAtOnce");
    QTest::newRow("recreated at once (initdb --force)") << true;
    QTest::newRow("deleted, recreated 3 s later") << false;
}

void TestRecorder::databaseReplacedWhileRecording() {
    QFETCH(bool, recreatedAtOnce);
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    FakeClock clock;
    Recorder recorder(path, clock);
    runSeconds(recorder, clock, 3);
    QCOMPARE(Db(path).rowCount(), 3);

    QString error;
    if (recreatedAtOnce) {
        QVERIFY2(createRecordDatabase(path, true, &error), qPrintable(error));
    } else {
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(path + suffix);
        runSeconds(recorder, clock, 3);
        QVERIFY(!recorder.window.status().databaseAvailable);
        QVERIFY2(recorder.window.status().lastError.contains("removed or replaced") ||
                     recorder.window.status().lastError.contains("no database file"),
                 qPrintable(recorder.window.status().lastError));
        QVERIFY(!QFile::exists(path));
        QVERIFY2(createRecordDatabase(path, false, &error), qPrintable(error));
    }
    runSeconds(recorder, clock, mscom::kReopenSeconds + 2);
    // The records after the new file appeared are in it, from slot 1 on.
    Db db(path);
    QVERIFY2(db.rowCount() >= 2, qPrintable(QString::number(db.rowCount())));
    QCOMPARE(db.integer("select min(w_id) from pv_data"), 1);
    QCOMPARE(db.pointer(), db.rowCount());
    QVERIFY(recorder.window.status().databaseAvailable);
}

void TestRecorder::emptyPointerTableRecordsFromOneInMemory() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    QVERIFY(db.exec("delete from sl_void"));
    FakeClock clock;
    Recorder recorder(path, clock);
    Main_Open = kTrue;

    QCOMPARE(runSeconds(recorder, clock, 3), 3);
    QCOMPARE(db.rows("select w_id from pv_data order by w_id"), (QList<QStringList>{{"1"}, {"2"}, {"3"}}));
    for (const Written& w : recorder.written)
        QCOMPARE(w.outcome, WriteOutcome::CommittedWithoutPointer);
    QCOMPARE(db.integer("select count(*) from sl_void"), 0);
    QCOMPARE(recorder.window.status().recordsWithoutPointer, quint64(3));
    QCOMPARE(recorder.window.status().lastRecordSlot, 3);
}

void TestRecorder::pointerIsReadBeforeEveryRecord_data() {
    QTest::addColumn<QString>("change"); // made to sl_void between two records
    QTest::addColumn<int>("nextSlot");
    QTest::addColumn<WriteOutcome>("outcome");

    QTest::newRow("moved by another program")
        << "update sl_void set p0=500" << 501 << WriteOutcome::Committed;
    QTest::newRow("moved past the ring") << "update sl_void set p0=65500" << 1 << WriteOutcome::Committed;
    QTest::newRow("null: the counter goes on")
        << "update sl_void set p0=NULL" << 22 << WriteOutcome::Committed;
    QTest::newRow("text: the counter goes on")
        << "update sl_void set p0='x'" << 22 << WriteOutcome::Committed;
    QTest::newRow("made negative: the ring starts again")
        << "update sl_void set p0=-5" << 1 << WriteOutcome::Committed;
    QTest::newRow("70000 written as text: the ring starts again")
        << "update sl_void set p0='70000'" << 1 << WriteOutcome::Committed;
    QTest::newRow("beyond 32 bits: the counter goes on")
        << "update sl_void set p0=1e300" << 22 << WriteOutcome::Committed;
    QTest::newRow("infinity: the counter goes on")
        << "update sl_void set p0=9e999" << 22 << WriteOutcome::Committed;
    QTest::newRow("row deleted: the counter goes on")
        << "delete from sl_void" << 22 << WriteOutcome::CommittedWithoutPointer;
}

void TestRecorder::pointerIsReadBeforeEveryRecord() {
    QFETCH(QString, change);
    QFETCH(int, nextSlot);
    QFETCH(WriteOutcome, outcome);

    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    QVERIFY(db.setPointer(20));
    FakeClock clock;
    Recorder recorder(path, clock);
    runSeconds(recorder, clock, 1);
    QCOMPARE(db.pointer(), 21);

    QVERIFY(db.exec(change));
    runSeconds(recorder, clock, 1);
    QCOMPARE(recorder.written.size(), size_t(2));
    QCOMPARE(recorder.written.back().record.id, nextSlot);
    QCOMPARE(recorder.written.back().outcome, outcome);
    if (outcome == WriteOutcome::Committed) QCOMPARE(db.pointer(), nextSlot); // a readable pointer again
}

void TestRecorder::readOnlyDatabaseStoresNothing() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    QVERIFY(Db(path).setPointer(7));
    auto readOnly = std::make_optional<ReadOnlyFile>(path);
    if (!readOnly->active()) QSKIP("cannot make the file read-only here");
    FakeClock clock;
    Recorder recorder(path, clock);
    Main_Open = kTrue;

    QCOMPARE(runSeconds(recorder, clock, 3), 3);
    QCOMPARE(recorder.written.size(), size_t(3));
    for (const Written& w : recorder.written) {
        QCOMPARE(w.outcome, WriteOutcome::Failed);
        QCOMPARE(w.record.id, 8); // the pointer is still read on every tick
    }
    const RecorderStatus& status = recorder.window.status();
    QCOMPARE(status.recordsFailed, quint64(3));
    QVERIFY(!status.databaseAvailable);
    QVERIFY2(status.lastError.contains("read-only"), qPrintable(status.lastError));
    QCOMPARE(Db(path).rowCount(), 0);
    QCOMPARE(Db(path).pointer(), 7);

    // Writable again: recording resumes within the reopening interval, at the next slot.
    readOnly.reset();
    runSeconds(recorder, clock, mscom::kReopenSeconds + 1);
    QVERIFY(status.databaseAvailable);
    QVERIFY(status.recordsCommitted >= 1);
    Db db(path);
    QCOMPARE(db.integer("select min(w_id) from pv_data"), 8);
    QCOMPARE(db.pointer(), status.lastRecordSlot);
}

void TestRecorder::busyDatabaseSkipsTheTickQuickly() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    FakeClock clock;
    Recorder recorder(path, clock);
    Main_Open = kTrue;
    runSeconds(recorder, clock, 2);
    QCOMPARE(Db(path).pointer(), 2);

    Db other(path);
    QVERIFY(other.exec("begin immediate; update sl_void set p2=5"));
    QElapsedTimer elapsed;
    elapsed.start();
    recorder.tick();
    const qint64 spent = elapsed.elapsed();
    QVERIFY2(spent < 500, qPrintable(QString("a tick on a busy database took %1 ms").arg(spent)));
    QCOMPARE(recorder.written.back().outcome, WriteOutcome::Failed);
    QCOMPARE(recorder.written.back().record.id, 3);
    QCOMPARE(New_Record, kTrue);
    QCOMPARE(recorder.window.status().recordsFailed, quint64(1));
    // The same second is not tried again.
    recorder.tick();
    QCOMPARE(recorder.written.size(), size_t(3));

    QVERIFY(other.exec("commit"));
    clock.advance(1);
    recorder.tick();
    // The pointer still names slot 2, so the next record takes slot 3.
    QCOMPARE(recorder.written.back().outcome, WriteOutcome::Committed);
    QCOMPARE(recorder.written.back().record.id, 3);
    QCOMPARE(Db(path).rowCount(), 3);
}

void TestRecorder::throwingStoreNeverEscapesTheTick() {
    FakeClock clock;
    Recorder recorder("unused", clock, [](const QString&) { return std::make_unique<ThrowingStore>(); });
    Main_Open = kTrue;
    recorder.tick();
    QCOMPARE(New_Record, kTrue);
    QCOMPARE(Last_Date, clock.now().date);
    QVERIFY(recorder.window.status().lastError.contains("threw"));
    QCOMPARE(recorder.window.status().recordsCommitted, quint64(0));
}

// Every row is a measurement: with the port closed, or only part of the values answered,
// seconds pass without a record; when all ten come back the record follows at once, and a
// value no answer refreshed again is never stored twice.
void TestRecorder::onlyMeasuredValuesAreRecorded() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    FakeClock clock;
    Recorder recorder(path, clock);
    Main_Open = kTrue;
    setValues(100);
    QCOMPARE(runSeconds(recorder, clock, 3, false), 0); // New_Record never raised
    QCOMPARE(recorder.written.size(), size_t(0));
    QCOMPARE(Db(path).rowCount(), 0);
    QVERIFY(recorder.window.status().waitingForValues);

    const int64_t now = FreshValues::steadyNowMs();
    freshValues().noteMeasured(0, 8, now); // CH1..CH8 answered, DA1 and DA2 did not
    recorder.window.Timer1_Timer();
    QCOMPARE(recorder.written.size(), size_t(0));

    freshValues().noteMeasured(8, 8, now);
    recorder.window.Timer1_Timer();
    QCOMPARE(recorder.written.size(), size_t(1));
    QCOMPARE(recorder.written[0].record.values[9], 109.0f);
    QCOMPARE(recorder.written[0].record.time, clock.now().time);
    QVERIFY(!recorder.window.status().waitingForValues);

    runSeconds(recorder, clock, 3, false);
    QCOMPARE(Db(path).rowCount(), 1);
}

void TestRecorder::secondRecorderOnOneDatabaseWaitsForTheFirstToEnd() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    FakeClock clock;
    auto first = std::make_unique<Recorder>(path, clock);
    Recorder second(path, clock);
    runSeconds(*first, clock, 3);
    runSeconds(second, clock, 3);
    const RecorderStatus& status = second.window.status();
    QCOMPARE(status.claim, RecorderClaim::OtherProgram);
    QCOMPARE(status.otherRecorderPid, QCoreApplication::applicationPid());
    QCOMPARE(Db(path).rowCount(), 3);

    // The first ends: the second takes the lock at its next try and records on from slot 4.
    first.reset();
    runSeconds(second, clock, mscom::kReopenSeconds);
    QCOMPARE(status.claim, RecorderClaim::Held);
    QCOMPARE(Db(path).integer("select min(w_id) from pv_data where w_id > 3"), 4);
}

void TestRecorder::theLockFileDecidesWhetherToRecord_data() {
    QTest::addColumn<QString>("lockFile");
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<RecorderClaim>("claim");
    // A file naming a live program of the same name (this one: an earlier program had its
    // process id, as in a restarted container or a second line's copy): nobody holds the lock.
    QTest::newRow("left naming a live process") << "this process" << 0 << RecorderClaim::Held;
    QTest::newRow("left empty by a kill while taking it") << "empty" << 60 << RecorderClaim::Held;
    QTest::newRow("empty and fresh, nobody holds it") << "empty" << 0 << RecorderClaim::Held;
    QTest::newRow("cannot be made: nothing recorded") << "no folder" << 0 << RecorderClaim::NoLockFile;
}

void TestRecorder::theLockFileDecidesWhetherToRecord() {
    QFETCH(QString, lockFile);
    QFETCH(int, ageSeconds);
    QFETCH(RecorderClaim, claim);
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    QByteArray contents;
    if (lockFile == "this process") {
        QLockFile earlier(dir.filePath("earlier.lock"));
        QVERIFY(earlier.tryLock());
        QFile file(dir.filePath("earlier.lock"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        contents = file.readAll();
    }
    QFile lock(RecorderLock::lockPathOf(path));
    QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(contents) == contents.size());
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                             QFileDevice::FileModificationTime));
    lock.close();

    // The recorder looks for its lock file beside the path it is given.
    const QString lockedPath = lockFile == "no folder" ? dir.filePath("no-folder/Rdatabj.db") : path;
    FakeClock clock;
    Recorder recorder(lockedPath, clock, [path](const QString&) { return openRecordStore(path); });
    runSeconds(recorder, clock, 1);
    QCOMPARE(recorder.window.status().claim, claim);
    QCOMPARE(Db(path).rowCount(), claim == RecorderClaim::Held ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestRecorder)
#include "test_mscom.moc"
