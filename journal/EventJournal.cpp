#include "EventJournal.h"

#include "core/SqlStatement.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <sqlite3.h>
#include <sys/stat.h>

namespace hx {

namespace {

constexpr const char* kSchema = "create table if not exists events ("
                                " id integer primary key,"
                                " at integer not null,"
                                " kind integer not null,"
                                " category integer not null,"
                                " subject text not null default '',"
                                " text text not null default '',"
                                " alarm_row integer not null default 0,"
                                " acked_at integer);"
                                "create index if not exists events_category on events(category, id);"
                                "create index if not exists events_unacked on events(alarm_row)"
                                " where kind = 1 and alarm_row between 1 and 24 and acked_at is null;";

constexpr const char* kColumns = "select id, at, kind, subject, text, alarm_row, acked_at from events";
constexpr const char* kUnacked = "kind = 1 and alarm_row between 1 and 24 and acked_at is null";

QString textColumn(sqlite3_stmt* st, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
    return text ? QString::fromUtf8(text) : QString();
}

std::optional<std::vector<JournalEvent>> queryEvents(sqlite3* db, const QString& sql, int64_t bound,
                                                     int limit);

} // namespace

EventJournal::EventJournal(QString path, Clock& clock, Limits limits)
    : path_(std::move(path)), clock_(clock), limits_(limits) {
    open();
}

EventJournal::~EventJournal() {
    close();
}

QString EventJournal::pathBeside(const QString& databasePath) {
    const QFileInfo database(databasePath);
    const QDir folder = database.absoluteDir();
    const QString own = folder.filePath(database.completeBaseName() + QStringLiteral(".events.db"));
    // The journal of before was named after the folder; beside the default database it stays in
    // use, so nothing an installation stored in it is lost.
    const QString before = folder.filePath(QStringLiteral("Events.db"));
    if (database.fileName() == QLatin1String("Rdatabj.db") && !QFileInfo::exists(own) &&
        QFileInfo::exists(before))
        return before;
    return own;
}

void EventJournal::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool EventJournal::exec(const char* sql) {
    return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void EventJournal::fail(const QString& what) {
    lastError_ = what + (db_ ? QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db_)) : QString());
    close();
    lastFailedOpen_ = eventInstantOf(clock_.now());
}

bool EventJournal::openOnce(bool* notAJournal) {
    *notAJournal = false;
    const int rc = sqlite3_open_v2(path_.toUtf8().constData(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) return fail(QStringLiteral("无法打开")), false;
    sqlite3_busy_timeout(db_, 200);
    // A file of another kind answers the first statement with "not a database"; a database
    // of another program has tables, but not ours.
    SqlStatement tables(
        db_, QStringLiteral("select count(*), sum(name = 'events') from sqlite_master where type = 'table'"));
    const int step = tables ? sqlite3_step(tables.get()) : sqlite3_errcode(db_);
    if (step != SQLITE_ROW) {
        const int code = sqlite3_errcode(db_) & 0xff;
        *notAJournal = code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
        return fail(QStringLiteral("无法读取")), false;
    }
    if (sqlite3_column_int(tables.get(), 0) > 0 && sqlite3_column_int(tables.get(), 1) == 0) {
        *notAJournal = true;
        return fail(QStringLiteral("不是事件记录文件")), false;
    }
    sqlite3_reset(tables.get());
    if (!exec("pragma journal_mode = wal") || !exec("pragma synchronous = full") || !exec(kSchema))
        return fail(QStringLiteral("无法建立")), false;
    SqlStatement extent(db_, QStringLiteral("select count(*), coalesce(max(id), 0) from events"));
    if (!extent || sqlite3_step(extent.get()) != SQLITE_ROW) {
        *notAJournal = true; // an events table of another shape
        return fail(QStringLiteral("不是事件记录文件")), false;
    }
    count_ = sqlite3_column_int64(extent.get(), 0);
    newestId_ = sqlite3_column_int64(extent.get(), 1);
    lastError_.clear();
    lastFailedOpen_.reset();
    return true;
}

bool EventJournal::open() {
    bool notAJournal = false;
    if (openOnce(&notAJournal)) return true;
    if (!notAJournal) return false;
    // Kept for whoever wants to look at it; the journal goes on in a new file.
    const QString aside = path_ + QStringLiteral(".damaged-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(path_, aside)) return false;
    for (const char* suffix : {"-wal", "-shm"})
        if (QFile::exists(path_ + QLatin1String(suffix)))
            QFile::rename(path_ + QLatin1String(suffix), aside + QLatin1String(suffix));
    damagedCopy_ = aside;
    return openOnce(&notAJournal);
}

bool EventJournal::record(std::vector<JournalEvent> events) {
    const EventInstant now = eventInstantOf(clock_.now());
    for (JournalEvent& event : events) {
        event.at = now;
        event.id = 0;
        pending_.push_back(std::move(event));
    }
    const bool written = (db_ || !lastFailedOpen_ || now - *lastFailedOpen_ >= kRetrySeconds) && flush();
    // What waits in memory is bounded; the oldest give way.
    while (pending_.size() > size_t(std::max(1, limits_.pendingLimit))) {
        pending_.pop_front();
        ++lost_;
    }
    return written;
}

bool EventJournal::retry() {
    if (pending_.empty() && db_) return true;
    const EventInstant now = eventInstantOf(clock_.now());
    if (!db_ && lastFailedOpen_ && now - *lastFailedOpen_ < kRetrySeconds) return false;
    return flush();
}

bool EventJournal::flush() {
    if (!db_ && !open()) return false;
    if (pending_.empty()) return true;
    if (!exec("begin immediate")) return fail(QStringLiteral("无法写入")), false;
    SqlStatement insert(
        db_, QStringLiteral("insert into events (at, kind, category, subject, text, alarm_row, acked_at)"
                            " values (?, ?, ?, ?, ?, ?, ?)"));
    std::vector<int64_t> ids;
    bool ok = bool(insert);
    for (size_t i = 0; ok && i < pending_.size(); ++i) {
        const JournalEvent& e = pending_[i];
        const QByteArray subject = e.subject.toUtf8();
        const QByteArray text = e.text.toUtf8();
        sqlite3_bind_int64(insert.get(), 1, e.at);
        sqlite3_bind_int(insert.get(), 2, static_cast<int>(e.kind));
        sqlite3_bind_int(insert.get(), 3, static_cast<int>(categoryOf(e.kind)));
        sqlite3_bind_text(insert.get(), 4, subject.constData(), int(subject.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.get(), 5, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert.get(), 6, e.alarmRow);
        if (e.acknowledgedAt)
            sqlite3_bind_int64(insert.get(), 7, *e.acknowledgedAt);
        else
            sqlite3_bind_null(insert.get(), 7);
        ok = sqlite3_step(insert.get()) == SQLITE_DONE;
        sqlite3_reset(insert.get());
        ids.push_back(sqlite3_last_insert_rowid(db_));
    }
    // Past the bound the oldest go in one batch, so the file keeps its size without a delete
    // for every event.
    const int64_t count = count_ + int64_t(pending_.size());
    int64_t dropped = 0;
    if (ok && count > limits_.bound) {
        const int64_t keep = std::max<int64_t>(1, limits_.bound - limits_.dropBatch);
        SqlStatement drop(
            db_, QStringLiteral("delete from events where id < (select id from events order by id desc"
                                " limit 1 offset ?)"));
        sqlite3_bind_int64(drop.get(), 1, keep - 1);
        ok = drop && sqlite3_step(drop.get()) == SQLITE_DONE;
        dropped = sqlite3_changes(db_);
    }
    if (!ok || !exec("commit")) {
        exec("rollback");
        return fail(QStringLiteral("无法写入")), false;
    }
    count_ = count - dropped;
    if (!ids.empty()) newestId_ = ids.back();
    pending_.clear();
    if (onStored && !ids.empty()) onStored(newestId_);
    return true;
}

QString EventJournal::categoryClause(const EventFilter& filter) {
    if (filter.all()) return QStringLiteral("1");
    QStringList in;
    if (filter.alarms) in << QString::number(int(EventCategory::Alarm));
    if (filter.lineAndRecording) in << QString::number(int(EventCategory::LineAndRecording));
    if (filter.writes) in << QString::number(int(EventCategory::Write));
    return QStringLiteral("category in (") + in.join(QLatin1Char(',')) + QLatin1Char(')');
}

std::vector<JournalEvent> EventJournal::query(const QString& sql, int64_t bound, int limit) {
    return db_ ? queryEvents(db_, sql, bound, limit).value_or(std::vector<JournalEvent>{})
               : std::vector<JournalEvent>{};
}

namespace {

// The events a query of kColumns with ?1 and ?2 selects; nullopt when it could not run.
std::optional<std::vector<JournalEvent>> queryEvents(sqlite3* db, const QString& sql, int64_t bound,
                                                     int limit) {
    std::vector<JournalEvent> events;
    SqlStatement st(db, sql);
    if (!st) return std::nullopt;
    sqlite3_bind_int64(st.get(), 1, bound);
    sqlite3_bind_int(st.get(), 2, limit);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(st.get())) == SQLITE_ROW) {
        const int kind = sqlite3_column_int(st.get(), 2);
        if (!isKnownKind(kind)) continue;
        JournalEvent e;
        e.id = sqlite3_column_int64(st.get(), 0);
        e.at = sqlite3_column_int64(st.get(), 1);
        e.kind = static_cast<EventKind>(kind);
        e.subject = textColumn(st.get(), 3);
        e.text = textColumn(st.get(), 4);
        e.alarmRow = sqlite3_column_int(st.get(), 5);
        if (sqlite3_column_type(st.get(), 6) != SQLITE_NULL)
            e.acknowledgedAt = sqlite3_column_int64(st.get(), 6);
        events.push_back(std::move(e));
    }
    if (step != SQLITE_DONE) return std::nullopt;
    return events;
}

} // namespace

JournalReader::~JournalReader() {
    close();
}

bool JournalReader::open() {
    struct stat file {};
    if (::stat(QFile::encodeName(path_).constData(), &file) != 0) return close(), false;
    if (db_ && uint64_t(file.st_ino) == openedFile_) return true;
    close();
    if (sqlite3_open_v2(path_.toUtf8().constData(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return close(), false;
    sqlite3_busy_timeout(db_, 200);
    openedFile_ = uint64_t(file.st_ino);
    ++generation_;
    return true;
}

void JournalReader::close() {
    // _v2: a statement still open (a failed step inside a query) does not keep the connection.
    sqlite3_close_v2(db_);
    db_ = nullptr;
    openedFile_ = 0;
}

std::optional<std::vector<JournalEvent>> JournalReader::after(int64_t afterId, int limit) {
    if (!open()) return std::nullopt;
    auto events = queryEvents(
        db_, QLatin1String(kColumns) + QStringLiteral(" where id > ?1 order by id limit ?2"), afterId, limit);
    if (!events) close();
    return events;
}

std::optional<int64_t> JournalReader::resumeAfter(const EventCursor& cursor) {
    if (!open()) return std::nullopt;
    const auto newest = newestId();
    if (!newest) return std::nullopt;
    std::optional<EventInstant> at;
    {
        SqlStatement st(db_, QStringLiteral("select at from events where id = ?1"));
        if (!st) return std::nullopt;
        sqlite3_bind_int64(st.get(), 1, cursor.id);
        if (sqlite3_step(st.get()) == SQLITE_ROW) at = sqlite3_column_int64(st.get(), 0);
    }
    // The same journal: its event is there as the cursor names it, or was dropped as one of the
    // oldest (the journal reaches past it); a cursor without a time is trusted by its id.
    if ((at && (*at == cursor.at || cursor.at == 0)) || (!at && *newest >= cursor.id)) return cursor.id;
    // A journal begun anew since: its events from the cursor's time on.
    SqlStatement st(db_, QStringLiteral("select coalesce(min(id) - 1, ?2) from events where at >= ?1"));
    if (!st) return std::nullopt;
    sqlite3_bind_int64(st.get(), 1, cursor.at);
    sqlite3_bind_int64(st.get(), 2, *newest);
    if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(st.get(), 0);
}

std::optional<int64_t> JournalReader::newestId() {
    if (!open()) return std::nullopt;
    std::optional<int64_t> newest;
    {
        SqlStatement st(db_, QStringLiteral("select coalesce(max(id), 0) from events"));
        if (st && sqlite3_step(st.get()) == SQLITE_ROW) newest = sqlite3_column_int64(st.get(), 0);
    }
    if (!newest) close();
    return newest;
}

std::vector<JournalEvent> EventJournal::page(const EventFilter& filter, std::optional<int64_t> beforeId,
                                             int limit) {
    if (filter.none()) return {};
    return query(QLatin1String(kColumns) + QStringLiteral(" where id < ?1 and ") + categoryClause(filter) +
                     QStringLiteral(" order by id desc limit ?2"),
                 beforeId.value_or(INT64_MAX), limit);
}

std::vector<JournalEvent> EventJournal::newerThan(const EventFilter& filter, int64_t afterId, int limit) {
    if (filter.none()) return {};
    return query(QLatin1String(kColumns) + QStringLiteral(" where id > ?1 and ") + categoryClause(filter) +
                     QStringLiteral(" order by id desc limit ?2"),
                 afterId, limit);
}

std::optional<int> EventJournal::acknowledgeWhere(const std::vector<int64_t>* ids) {
    const EventInstant now = eventInstantOf(clock_.now());
    // The file first: when it cannot be written nothing is acknowledged, not even the alarms
    // waiting in memory, and the window says the acknowledgement was not stored.
    if (!db_ && !open()) return std::nullopt;
    if (!exec("begin immediate")) return fail(QStringLiteral("无法写入")), std::nullopt;
    int acknowledged = 0;
    {
        SqlStatement update(db_, QStringLiteral("update events set acked_at = ?1 where ") +
                                     QLatin1String(kUnacked) +
                                     (ids ? QStringLiteral(" and id = ?2") : QString()));
        bool ok = bool(update);
        for (size_t i = 0; ok && i < (ids ? ids->size() : 1); ++i) {
            sqlite3_bind_int64(update.get(), 1, now);
            if (ids) sqlite3_bind_int64(update.get(), 2, (*ids)[i]);
            ok = sqlite3_step(update.get()) == SQLITE_DONE;
            acknowledged += sqlite3_changes(db_);
            sqlite3_reset(update.get());
        }
        if (!ok || !exec("commit")) {
            exec("rollback");
            acknowledged = -1;
        }
    }
    if (acknowledged < 0) return fail(QStringLiteral("无法写入")), std::nullopt;
    lastAcknowledgement_ = now;
    // Waiting alarms are acknowledged where they wait and go to the file so.
    if (!ids)
        for (JournalEvent& e : pending_)
            if (e.needsAcknowledgement() && !e.acknowledgedAt) e.acknowledgedAt = now, ++acknowledged;
    return acknowledged;
}

std::optional<int> EventJournal::acknowledge(const std::vector<int64_t>& ids) {
    return acknowledgeWhere(&ids);
}

std::optional<int> EventJournal::acknowledgeAll() {
    return acknowledgeWhere(nullptr);
}

UnacknowledgedAlarms EventJournal::unacknowledged() {
    UnacknowledgedAlarms alarms;
    for (const JournalEvent& e : pending_) {
        if (e.needsAcknowledgement() && !e.acknowledgedAt) {
            ++alarms.count;
            alarms.rows[size_t(e.alarmRow)] = true;
        }
    }
    // A file that cannot be written may still be read: its alarms stay counted.
    sqlite3* reader = db_;
    if (!reader &&
        sqlite3_open_v2(path_.toUtf8().constData(), &reader, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(reader);
        return alarms;
    }
    const auto done = qScopeGuard([&] {
        if (reader != db_) sqlite3_close_v2(reader);
    });
    SqlStatement st(reader, QStringLiteral("select alarm_row, count(*) from events where ") +
                                QLatin1String(kUnacked) + QStringLiteral(" group by alarm_row"));
    while (st && sqlite3_step(st.get()) == SQLITE_ROW) {
        const int row = sqlite3_column_int(st.get(), 0);
        alarms.count += sqlite3_column_int(st.get(), 1);
        if (row >= 1 && row <= 24) alarms.rows[size_t(row)] = true;
    }
    return alarms;
}

} // namespace hx
