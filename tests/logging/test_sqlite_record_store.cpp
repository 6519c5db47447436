// The SQLite record store against real database files: opening, the ring write with its
// pointer, the pointer read, the trend window query and its plan, a busy database.
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "LoggingTestSupport.h"
#include "logging/Ring.h"
#include "logging/SqliteRecordStore.h"

using namespace hx;
using namespace hx::testing;

namespace {

StoredRecord recordAt(int32_t id, double date, int seconds, float base) {
    StoredRecord r;
    r.id = id;
    r.date = date;
    r.time = seconds / 86400.0;
    for (int c = 0; c < 10; ++c)
        r.values[c] = base + c * 0.25f;
    return r;
}

} // namespace

class TestSqliteRecordStore : public QObject {
    Q_OBJECT

  private slots:
    void opening_data();
    void opening();
    void defaultPathFollowsTheEnvironment();
    void recordsAreAddedThenOverwrittenInPlace();
    void recordWithoutPointerRowStillCommits();
    void pointerValues_data();
    void pointerValues();
    void busyWriterFailsFastAndChangesNothing();
    void readOnlyFileFailsTheWriteAndChangesNothing();
    void window_data();
    void window();
    void windowQueryUsesTheRowid_data();
    void windowQueryUsesTheRowid();
    void hasSlot();
};

void TestSqliteRecordStore::opening_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("reason");

    QTest::newRow("made by initdb") << "fresh" << true << "";
    QTest::newRow("missing file is not created") << "missing" << false << "no database file";
    QTest::newRow("text file") << "text" << false << "not a database";
    QTest::newRow("empty file has no tables") << "empty" << false << "no table pv_data";
    QTest::newRow("no pv_data") << "drop pv_data" << false << "no table pv_data";
    QTest::newRow("no sl_void") << "drop sl_void" << false << "no table sl_void";
    QTest::newRow("pv_data short of value columns") << "short pv_data" << false << "ten value columns";
    QTest::newRow("a folder") << "folder" << false << "folder";
}

void TestSqliteRecordStore::opening() {
    QFETCH(QString, setup);
    QFETCH(bool, opens);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QString path = dir.filePath("Rdatabj.db");
    if (setup == "text") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("this is a text file, not a recording database\n");
    } else if (setup == "empty") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (setup == "folder") {
        QVERIFY(QDir(dir.path()).mkdir("Rdatabj.db"));
    } else if (setup != "missing") {
        path = freshDatabase(dir);
        Db db(path);
        if (setup == "drop pv_data") QVERIFY(db.exec("drop table pv_data"));
        if (setup == "drop sl_void") QVERIFY(db.exec("drop table sl_void"));
        if (setup == "short pv_data")
            QVERIFY(db.exec("drop table pv_data; create table pv_data(w_id INTEGER PRIMARY KEY, w_date REAL, "
                            "w_time REAL, ch1 REAL)"));
    }

    auto store = openRecordStore(path);
    QVERIFY(store);
    QCOMPARE(store->isOpen(), opens);
    QCOMPARE(store->path(), path);
    if (opens) {
        QVERIFY(store->lastError().isEmpty());
        QCOMPARE(store->readPointer(), std::make_optional(std::make_pair(0, 0)));
    } else {
        QVERIFY2(store->lastError().contains(reason, Qt::CaseInsensitive), qPrintable(store->lastError()));
        // A store that is not open answers every request with a failure, never a crash.
        QCOMPARE(store->readPointer(), std::nullopt);
        QCOMPARE(store->writeRecord(recordAt(1, 45000, 10, 1)), WriteOutcome::Failed);
        QCOMPARE(store->selectWindow(0, 10, 10), std::nullopt);
        QCOMPARE(store->hasSlot(1), std::nullopt);
    }
    if (setup == "missing") QVERIFY2(!QFile::exists(path), "opening must never create the database file");
}

void TestSqliteRecordStore::defaultPathFollowsTheEnvironment() {
    const QByteArray saved = qgetenv("HX5800_DB");
    qputenv("HX5800_DB", "/somewhere/else/rec.db");
    QCOMPARE(defaultDatabasePath(), QString("/somewhere/else/rec.db"));
    qunsetenv("HX5800_DB");
    QCOMPARE(defaultDatabasePath(), QDir::homePath() + "/Trendlog/Rdatabj.db");
    if (!saved.isNull()) qputenv("HX5800_DB", saved);
}

void TestSqliteRecordStore::recordsAreAddedThenOverwrittenInPlace() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    SqliteRecordStore store(path);
    QVERIFY2(store.isOpen(), qPrintable(store.lastError()));
    Db db(path);

    QCOMPARE(store.writeRecord(recordAt(1, 45000, 100, 10)), WriteOutcome::Committed);
    QCOMPARE(store.writeRecord(recordAt(2, 45000, 101, 20)), WriteOutcome::Committed);
    QCOMPARE(db.rowCount(), 2);
    QCOMPARE(store.readPointer(), std::make_optional(std::make_pair(2, 2)));

    QCOMPARE(store.writeRecord(recordAt(1, 45001, 7, -3.5f)), WriteOutcome::Committed);
    QCOMPARE(db.rowCount(), 2);
    QCOMPARE(store.readPointer(), std::make_optional(std::make_pair(1, 1)));
    const auto rows = store.selectWindow(0, 2, 2);
    QVERIFY(rows);
    QCOMPARE(rows->size(), size_t(2));
    // Ordered by date and time: slot 2 (day 45000) before the overwritten slot 1 (day 45001).
    QCOMPARE(rows->at(0).id, 2);
    QCOMPARE(rows->at(1).id, 1);
    QCOMPARE(rows->at(1).date, 45001.0);
    QCOMPARE(rows->at(1).time, 7 / 86400.0);
    for (int c = 0; c < 10; ++c)
        QCOMPARE(rows->at(1).values[c], -3.5f + c * 0.25f);
    // The record and the pointer reached the file through the write-ahead log.
    QCOMPARE(db.rows("pragma journal_mode").value(0).value(0), QString("wal"));
    QCOMPARE(db.rows("pragma integrity_check").value(0).value(0), QString("ok"));
}

void TestSqliteRecordStore::recordWithoutPointerRowStillCommits() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    QVERIFY(db.exec("delete from sl_void"));
    SqliteRecordStore store(path);
    QVERIFY(store.isOpen());

    QCOMPARE(store.readPointer(), std::nullopt);
    QVERIFY(store.lastError().contains("no pointer row"));
    QCOMPARE(store.writeRecord(recordAt(1, 45000, 5, 1)), WriteOutcome::CommittedWithoutPointer);
    QCOMPARE(db.rowCount(), 1);
    QCOMPARE(db.integer("select count(*) from sl_void"), 0);
}

void TestSqliteRecordStore::pointerValues_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<std::optional<int32_t>>("pointer");

    QTest::newRow("fresh") << "0" << std::make_optional<int32_t>(0);
    QTest::newRow("last slot kept") << "65499" << std::make_optional<int32_t>(65499);
    QTest::newRow("outside the ring is still read") << "70000" << std::make_optional<int32_t>(70000);
    QTest::newRow("real, half to even down") << "12.5" << std::make_optional<int32_t>(12);
    QTest::newRow("real, half to even up") << "13.5" << std::make_optional<int32_t>(14);
    QTest::newRow("null") << "NULL" << std::optional<int32_t>();
    QTest::newRow("text") << "'abc'" << std::optional<int32_t>();
    QTest::newRow("beyond 32 bits") << "1000000000000" << std::optional<int32_t>();
    QTest::newRow("no row") << "" << std::optional<int32_t>();
}

void TestSqliteRecordStore::pointerValues() {
    QFETCH(QString, stored);
    QFETCH(std::optional<int32_t>, pointer);

    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    if (stored.isEmpty())
        QVERIFY(db.exec("delete from sl_void"));
    else
        QVERIFY(db.exec(QString("update sl_void set p0=%1").arg(stored)));
    SqliteRecordStore store(path);
    const auto read = store.readPointer();
    QCOMPARE(read.has_value(), pointer.has_value());
    if (pointer)
        QCOMPARE(read->first, *pointer);
    else
        QVERIFY(!store.lastError().isEmpty());
}

void TestSqliteRecordStore::busyWriterFailsFastAndChangesNothing() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    SqliteRecordStore store(path);
    QCOMPARE(store.writeRecord(recordAt(1, 45000, 1, 1)), WriteOutcome::Committed);

    Db other(path);
    QVERIFY(other.exec("begin immediate; update pv_data set ch1=99 where w_id=1"));

    // Readers are not held up by the other writer.
    QCOMPARE(store.readPointer(), std::make_optional(std::make_pair(1, 1)));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(store.writeRecord(recordAt(2, 45000, 2, 2)), WriteOutcome::Failed);
    const qint64 spent = clock.elapsed();
    QVERIFY2(spent < 500, qPrintable(QString("a busy write took %1 ms").arg(spent)));
    QVERIFY2(store.lastError().contains("locked", Qt::CaseInsensitive) ||
                 store.lastError().contains("busy", Qt::CaseInsensitive),
             qPrintable(store.lastError()));

    QVERIFY(other.exec("rollback"));
    QCOMPARE(other.rowCount(), 1);
    QCOMPARE(other.pointer(), 1);
    // The store is usable again as soon as the other writer lets go.
    QCOMPARE(store.writeRecord(recordAt(2, 45000, 2, 2)), WriteOutcome::Committed);
    QCOMPARE(other.pointer(), 2);
}

void TestSqliteRecordStore::readOnlyFileFailsTheWriteAndChangesNothing() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    {
        SqliteRecordStore store(path);
        QCOMPARE(store.writeRecord(recordAt(1, 45000, 1, 1)), WriteOutcome::Committed);
    }
    // Switch the file to a rollback journal first, so a read-only open needs no -shm file.
    QVERIFY(Db(path).exec("pragma journal_mode=delete"));
    ReadOnlyFile readOnly(path);
    if (!readOnly.active())
        QSKIP("cannot make the file read-only here (root on a file system without immutable files)");
    SqliteStoreOptions options;
    options.journal = SqliteStoreOptions::Journal::Delete;
    SqliteRecordStore store(path, options);
    QVERIFY2(store.isOpen(), qPrintable(store.lastError()));
    QVERIFY(store.isReadOnly());
    QCOMPARE(store.readPointer(), std::make_optional(std::make_pair(1, 1)));
    QCOMPARE(store.writeRecord(recordAt(2, 45000, 2, 2)), WriteOutcome::Failed);
    QVERIFY2(store.lastError().contains("readonly", Qt::CaseInsensitive), qPrintable(store.lastError()));
    QCOMPARE(store.hasSlot(2), false);
}

void TestSqliteRecordStore::window_data() {
    QTest::addColumn<int>("rowsInRing");
    QTest::addColumn<int>("newest");
    QTest::addColumn<int>("winEnd");
    QTest::addColumn<int>("winLen");
    QTest::addColumn<QList<int>>("ids"); // expected, oldest first

    auto range = [](int from, int to) {
        QList<int> ids;
        for (int i = from; i <= to; ++i)
            ids << i;
        return ids;
    };
    QTest::newRow("live window in the middle of the ring")
        << 65500 << 1000 << 1000 << 241 << range(760, 1000);
    QTest::newRow("live window across the wrap")
        << 65500 << 100 << 100 << 241 << (range(65360, 65500) + range(1, 100));
    QTest::newRow("window ending exactly at its length") << 65500 << 241 << 241 << 241 << range(1, 241);
    QTest::newRow("history page at the end of the ring")
        << 65500 << 65500 << 65500 << 321 << range(65180, 65500);
    QTest::newRow("fewer records than the window") << 50 << 50 << 50 << 241 << range(1, 50);
    QTest::newRow("fewer records, window not wrapping") << 300 << 300 << 260 << 241 << range(20, 260);
    QTest::newRow("empty ring") << 0 << 0 << 0 << 241 << QList<int>();
}

void TestSqliteRecordStore::window() {
    QFETCH(int, rowsInRing);
    QFETCH(int, newest);
    QFETCH(int, winEnd);
    QFETCH(int, winLen);
    QFETCH(QList<int>, ids);

    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    Db db(path);
    QVERIFY(db.fillRing(rowsInRing, newest, QDateTime(QDate(2024, 3, 14), QTime(12, 0, 0))));
    SqliteRecordStore store(path);

    const auto records = store.selectWindow(windowStart(winEnd, winLen), winEnd, winLen);
    QVERIFY2(records, qPrintable(store.lastError()));
    QList<int> got;
    for (const StoredRecord& r : *records)
        got << r.id;
    QCOMPARE(got, ids);
    for (size_t i = 0; i < records->size(); ++i) {
        const StoredRecord& r = records->at(i);
        QCOMPARE(r.values[0], float(r.id));
        QCOMPARE(r.values[9], float(r.id + 0.9));
        if (i > 0) // time order, also across the wrap and midnight
            QVERIFY(r.date + r.time > records->at(i - 1).date + records->at(i - 1).time);
    }
}

void TestSqliteRecordStore::windowQueryUsesTheRowid_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("searchesTheRowid");

    QTest::newRow("window in the ring") << windowQuerySql(windowStart(1000, 241), 1000, 241) << true;
    QTest::newRow("window across the wrap") << windowQuerySql(windowStart(100, 241), 100, 241) << true;
    QTest::newRow("history page across the wrap") << windowQuerySql(windowStart(5, 321), 5, 321) << true;
    // The check itself must see a scan when there is one.
    QTest::newRow("not between scans")
        << QString("select * from pv_data where w_id not between 101 and 65359 "
                   "order by w_date,w_time")
        << false;
}

void TestSqliteRecordStore::windowQueryUsesTheRowid() {
    QFETCH(QString, sql);
    QFETCH(bool, searchesTheRowid);

    QTemporaryDir dir;
    Db db(freshDatabase(dir));
    QVERIFY(db.fillRing(2000, 1000, QDateTime(QDate(2024, 3, 14), QTime(12, 0, 0))));
    QVERIFY(db.exec("analyze"));
    QStringList plan;
    for (const QStringList& row : db.rows("explain query plan " + sql))
        plan << row.last();
    QVERIFY(!plan.isEmpty());
    const QString text = plan.join(" | ");
    QCOMPARE(text.contains("SCAN pv_data"), !searchesTheRowid);
    QCOMPARE(text.contains("SEARCH pv_data USING INTEGER PRIMARY KEY"), searchesTheRowid);
}

void TestSqliteRecordStore::hasSlot() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    SqliteRecordStore store(path);
    QCOMPARE(store.hasSlot(kRingSize), false);
    QCOMPARE(store.writeRecord(recordAt(kRingSize, 45000, 1, 1)), WriteOutcome::Committed);
    QCOMPARE(store.hasSlot(kRingSize), true);
    QCOMPARE(store.hasSlot(1), false);
}

QTEST_GUILESS_MAIN(TestSqliteRecordStore)
#include "test_sqlite_record_store.moc"
