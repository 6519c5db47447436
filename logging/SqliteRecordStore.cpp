#include "logging/SqliteRecordStore.h"

#include <cmath>
#include <limits>

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include "core/SqlStatement.h"
#include "core/TextNumber.h"
#include "logging/Ring.h"

namespace hx {

namespace {

constexpr int kValueColumns = 10;
constexpr int kFirstValueColumn = 3;
constexpr int kPvDataColumns = kFirstValueColumn + kValueColumns;

// Resets a statement when a step sequence ends, so a read never keeps its snapshot open.
class ResetOnExit {
  public:
    explicit ResetOnExit(sqlite3_stmt* statement) : statement_(statement) {}
    ~ResetOnExit() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

  private:
    sqlite3_stmt* statement_;
};

QString quoted(const QString& name) {
    return QLatin1Char('"') + QString(name).replace('"', "\"\"") + '"';
}

// A stored pointer as the slot counter takes it: whole numbers in 32 bits; a real value is
// rounded half to even; anything else (NULL, text, out of range) is not a pointer.
std::optional<int32_t> pointerValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 v = sqlite3_column_int64(statement, column);
        if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
            return std::nullopt;
        return static_cast<int32_t>(v);
    }
    case SQLITE_FLOAT:
        return toInt32(sqlite3_column_double(statement, column));
    default:
        return std::nullopt;
    }
}

// A stored number as a record holds it. What another program may leave in a column (NULL,
// text, a blob, an infinity) is no number: NaN, never a plausible 0.
double numberOfColumn(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return static_cast<double>(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT: {
        const double v = sqlite3_column_double(statement, column);
        return std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
    }
    default:
        return std::numeric_limits<double>::quiet_NaN();
    }
}

// A value column in single precision; a number beyond its range is no reading either.
float valueOfColumn(sqlite3_stmt* statement, int column) {
    const double v = numberOfColumn(statement, column);
    if (!(std::fabs(v) <= std::numeric_limits<float>::max())) return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(v);
}

StoredRecord recordOfRow(sqlite3_stmt* statement) {
    StoredRecord record;
    record.id = static_cast<int32_t>(sqlite3_column_int64(statement, 0));
    record.date = numberOfColumn(statement, 1);
    record.time = numberOfColumn(statement, 2);
    for (int i = 0; i < kValueColumns; ++i)
        record.values[i] = valueOfColumn(statement, kFirstValueColumn + i);
    return record;
}

} // namespace

struct SqliteRecordStore::Statements {
    SqlStatement readPointer;
    SqlStatement writePointer;
    SqlStatement overwriteRecord;
    SqlStatement addRecord;
    SqlStatement hasSlot;
    SqlStatement begin;
    SqlStatement commit;
};

SqliteRecordStore::SqliteRecordStore(const QString& path, const SqliteStoreOptions& options) : path_(path) {
    if (!open(options)) close();
}

SqliteRecordStore::~SqliteRecordStore() {
    close();
}

bool SqliteRecordStore::isOpen() const {
    return db_ != nullptr;
}
QString SqliteRecordStore::path() const {
    return path_;
}
QString SqliteRecordStore::lastError() const {
    return lastError_;
}
bool SqliteRecordStore::isReadOnly() const {
    return db_ && sqlite3_db_readonly(db_, "main") == 1;
}

bool SqliteRecordStore::fail(const QString& what) {
    lastError_ = db_ ? QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(db_))) : what;
    return false;
}

void SqliteRecordStore::close() {
    statements_.reset();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteRecordStore::open(const SqliteStoreOptions& options) {
    if (path_.isEmpty()) return fail(QStringLiteral("no database path"));
    const QFileInfo file(path_);
    // Opening without SQLITE_OPEN_CREATE already refuses a missing file; saying so plainly
    // helps the status line more than "unable to open database file".
    if (!file.exists())
        return fail(QStringLiteral("no database file at %1").arg(QDir::toNativeSeparators(path_)));
    if (file.isDir())
        return fail(QStringLiteral("%1 is a folder, not a database").arg(QDir::toNativeSeparators(path_)));

    const int rc = sqlite3_open_v2(path_.toUtf8().constData(), &db_,
                                   options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) return fail(QStringLiteral("cannot open %1").arg(QDir::toNativeSeparators(path_)));
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, options.busyTimeoutMs);

    // Both tables must be there with the columns the queries name; the database is made by
    // hx5800-initdb, never here.
    auto columnsOf = [this](const char* table, QStringList* names) {
        const QByteArray sql = QByteArray("pragma table_info(") + table + ")";
        const SqlStatement statement(db_, sql.constData());
        if (!statement) return fail(QStringLiteral("cannot read the layout of %1").arg(QLatin1String(table)));
        sqlite3_stmt* raw = statement.get();
        int step;
        while ((step = sqlite3_step(raw)) == SQLITE_ROW)
            names->append(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 1))));
        if (step != SQLITE_DONE)
            return fail(QStringLiteral("cannot read the layout of %1").arg(QLatin1String(table)));
        if (names->isEmpty()) {
            lastError_ = QStringLiteral("%1 has no table %2")
                             .arg(QDir::toNativeSeparators(path_), QLatin1String(table));
            return false;
        }
        return true;
    };
    QStringList pvColumns;
    QStringList pointerColumns;
    if (!columnsOf("pv_data", &pvColumns) || !columnsOf("sl_void", &pointerColumns)) return false;
    if (pvColumns.size() < kPvDataColumns || pvColumns[0].compare("w_id", Qt::CaseInsensitive) != 0 ||
        pvColumns[1].compare("w_date", Qt::CaseInsensitive) != 0 ||
        pvColumns[2].compare("w_time", Qt::CaseInsensitive) != 0) {
        lastError_ = QStringLiteral("pv_data needs w_id, w_date, w_time and ten value columns");
        return false;
    }
    if (pointerColumns.size() < 2) {
        lastError_ = QStringLiteral("sl_void needs two pointer columns");
        return false;
    }

    // The journal mode belongs to the file; change it only when it differs, since that takes
    // a write lock. A file that cannot be changed (read-only, busy) keeps its mode.
    if (!options.readOnly) {
        const char* wanted = options.journal == SqliteStoreOptions::Journal::Wal ? "wal" : "delete";
        if (SqlStatement statement(db_, "pragma journal_mode"); statement) {
            QByteArray current;
            if (sqlite3_step(statement.get()) == SQLITE_ROW)
                current = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
            statement.finalize();
            if (current.toLower() != wanted) {
                const QByteArray sql = QByteArray("pragma journal_mode=") + wanted;
                sqlite3_exec(db_, sql.constData(), nullptr, nullptr, nullptr);
            }
        }
        const char* sync = options.sync == SqliteStoreOptions::Sync::Full ? "pragma synchronous=FULL"
                                                                          : "pragma synchronous=NORMAL";
        if (sqlite3_exec(db_, sync, nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail(QStringLiteral("cannot set the sync mode"));
    }

    QStringList valueNames;
    for (int i = 0; i < kValueColumns; ++i)
        valueNames << quoted(pvColumns[kFirstValueColumn + i]);
    const QString p0 = quoted(pointerColumns[0]);
    const QString p1 = quoted(pointerColumns[1]);

    QStringList setValues;
    QStringList placeholders;
    for (int i = 0; i < kValueColumns; ++i) {
        setValues << QStringLiteral("%1=?%2").arg(valueNames[i]).arg(kFirstValueColumn + i + 1);
        placeholders << QStringLiteral("?%1").arg(kFirstValueColumn + i + 1);
    }

    statements_ = std::make_unique<Statements>();
    auto prepare = [this](const QString& sql, SqlStatement* into) {
        *into = SqlStatement(db_, sql, SQLITE_PREPARE_PERSISTENT);
        if (!*into) return fail(QStringLiteral("cannot prepare \"%1\"").arg(sql));
        return true;
    };
    // The pointer lives in the first row of sl_void; the update names the same row.
    return prepare(QStringLiteral("select * from sl_void order by rowid limit 1"),
                   &statements_->readPointer) &&
           prepare(QStringLiteral("update sl_void set %1=?1, %2=?1 "
                                  "where rowid=(select rowid from sl_void order by rowid limit 1)")
                       .arg(p0, p1),
                   &statements_->writePointer) &&
           prepare(QStringLiteral("update pv_data set w_date=?2, w_time=?3, %1 where w_id=?1")
                       .arg(setValues.join(", ")),
                   &statements_->overwriteRecord) &&
           prepare(QStringLiteral("insert into pv_data(w_id, w_date, w_time, %1) values(?1, ?2, ?3, %2)")
                       .arg(valueNames.join(", "), placeholders.join(", ")),
                   &statements_->addRecord) &&
           prepare(QStringLiteral("select 1 from pv_data where w_id=?1 limit 1"), &statements_->hasSlot) &&
           prepare(QStringLiteral("begin immediate"), &statements_->begin) &&
           prepare(QStringLiteral("commit"), &statements_->commit);
}

bool SqliteRecordStore::runStep(sqlite3_stmt* statement, const char* what) {
    ResetOnExit reset(statement);
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
    return fail(QString::fromLatin1(what));
}

void SqliteRecordStore::rollbackIfOpen() {
    if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
}

bool SqliteRecordStore::fileStillThere() {
    int moved = 0;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || !moved) return true;
    // Deleted or replaced under us (hx5800-initdb --force, a restore): what we wrote from now
    // on would go into a file nobody can open. Close, so the owner opens the new file.
    close();
    lastError_ =
        QStringLiteral("the database file %1 was removed or replaced").arg(QDir::toNativeSeparators(path_));
    return false;
}

std::optional<std::pair<int32_t, int32_t>> SqliteRecordStore::readPointer() {
    if (!db_ || !fileStillThere()) return std::nullopt;
    sqlite3_stmt* statement = statements_->readPointer.get();
    ResetOnExit reset(statement);
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE) {
        lastError_ = QStringLiteral("sl_void has no pointer row");
        return std::nullopt;
    }
    if (rc != SQLITE_ROW) {
        fail(QStringLiteral("reading the ring pointer"));
        return std::nullopt;
    }
    const auto newest = pointerValue(statement, 0);
    if (!newest) {
        lastError_ = QStringLiteral("the ring pointer is not a slot number");
        return std::nullopt;
    }
    return std::make_pair(*newest, pointerValue(statement, 1).value_or(0));
}

WriteOutcome SqliteRecordStore::writeRecord(const StoredRecord& record) {
    if (!db_ || !fileStillThere()) return WriteOutcome::Failed;
    Statements& s = *statements_;
    if (!runStep(s.begin.get(), "starting the record transaction"))
        return rollbackIfOpen(), WriteOutcome::Failed;

    auto bindRecord = [&record](sqlite3_stmt* statement) {
        sqlite3_bind_int64(statement, 1, record.id);
        sqlite3_bind_double(statement, 2, record.date);
        sqlite3_bind_double(statement, 3, record.time);
        for (int i = 0; i < kValueColumns; ++i)
            sqlite3_bind_double(statement, kFirstValueColumn + i + 1, double(record.values[i]));
    };
    bindRecord(s.overwriteRecord.get());
    if (!runStep(s.overwriteRecord.get(), "overwriting the record"))
        return rollbackIfOpen(), WriteOutcome::Failed;
    if (sqlite3_changes(db_) == 0) {
        bindRecord(s.addRecord.get());
        if (!runStep(s.addRecord.get(), "adding the record")) return rollbackIfOpen(), WriteOutcome::Failed;
    }

    sqlite3_bind_int64(s.writePointer.get(), 1, record.id);
    if (!runStep(s.writePointer.get(), "moving the ring pointer"))
        return rollbackIfOpen(), WriteOutcome::Failed;
    const bool pointerMoved = sqlite3_changes(db_) > 0;

    if (!runStep(s.commit.get(), "committing the record")) return rollbackIfOpen(), WriteOutcome::Failed;
    if (!pointerMoved) {
        lastError_ = QStringLiteral("sl_void has no pointer row");
        return WriteOutcome::CommittedWithoutPointer;
    }
    lastError_.clear();
    return WriteOutcome::Committed;
}

std::optional<std::vector<StoredRecord>> SqliteRecordStore::selectWindow(int32_t winStart, int32_t winEnd,
                                                                         int32_t winLen) {
    if (!db_) return std::nullopt;
    const QByteArray sql = windowQuerySql(winStart, winEnd, winLen).toUtf8();
    const SqlStatement statement(db_, sql.constData());
    if (!statement) {
        fail(QStringLiteral("preparing the window query"));
        return std::nullopt;
    }
    sqlite3_stmt* raw = statement.get();
    std::vector<StoredRecord> records;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
        records.push_back(recordOfRow(raw));
    if (rc != SQLITE_DONE) {
        fail(QStringLiteral("reading the window"));
        return std::nullopt;
    }
    return records;
}

bool SqliteRecordStore::forEachRecordInTimeOrder(const std::function<bool(const StoredRecord&)>& visit) {
    if (!db_) return false;
    const SqlStatement statement(db_, "select * from pv_data order by w_date, w_time, w_id");
    if (!statement) return fail(QStringLiteral("preparing the record query"));
    sqlite3_stmt* raw = statement.get();
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
        if (!visit(recordOfRow(raw))) return true;
    if (rc != SQLITE_DONE) return fail(QStringLiteral("reading the records"));
    return true;
}

std::optional<bool> SqliteRecordStore::hasSlot(int32_t id) {
    if (!db_) return std::nullopt;
    sqlite3_stmt* statement = statements_->hasSlot.get();
    ResetOnExit reset(statement);
    sqlite3_bind_int64(statement, 1, id);
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(QStringLiteral("looking up slot %1").arg(id));
    return std::nullopt;
}

std::unique_ptr<RecordStore> openRecordStore(const QString& path) {
    return std::make_unique<SqliteRecordStore>(path);
}

QString defaultDatabasePath() {
    const QString fromEnvironment = qEnvironmentVariable("HX5800_DB");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/Trendlog/Rdatabj.db");
}

} // namespace hx
