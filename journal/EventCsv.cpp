#include "EventCsv.h"

#include "core/CursorFile.h"

#include <QFile>
#include <QRegularExpression>

#include <sqlite3.h>

#include <string>

namespace hx {

namespace {

// A field with a comma, quote or line break goes in quotes, its quotes doubled.
void appendField(std::string& line, const QString& field) {
    const std::string text = field.toStdString();
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        line += text;
        return;
    }
    line += '"';
    for (char c : text) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

bool refuse(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

} // namespace

QString isoTextOfEventInstant(EventInstant instant) {
    QString text = eventTimeText(instant);
    text[10] = QLatin1Char('T');
    return text;
}

bool exportEvents(const QString& journalPath, const EventRange& range, const EventCsvSink& sink,
                  EventExportSummary* summary, QString* error) {
    if (!QFile::exists(journalPath))
        return refuse(error, QStringLiteral("%1: no such event journal").arg(journalPath));
    sqlite3* db = nullptr;
    const auto closeDb = qScopeGuard([&db] { sqlite3_close_v2(db); });
    if (sqlite3_open_v2(journalPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return refuse(error,
                      QStringLiteral("%1: %2").arg(journalPath, QString::fromUtf8(sqlite3_errmsg(db))));
    sqlite3_stmt* st = nullptr;
    const auto finalize = qScopeGuard([&st] { sqlite3_finalize(st); });
    const char* sql = "select id, at, kind, subject, text, acked_at from events"
                      " where (?1 is null or at >= ?1) and (?2 is null or at < ?2)"
                      " and (?3 is null or at > ?3 or (at = ?3 and id > ?4)) order by id";
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
        return refuse(error, QStringLiteral("%1: not an event journal (%2)")
                                 .arg(journalPath, QString::fromUtf8(sqlite3_errmsg(db))));
    if (range.from) sqlite3_bind_int64(st, 1, *range.from);
    if (range.to) sqlite3_bind_int64(st, 2, *range.to);
    if (range.after) {
        sqlite3_bind_int64(st, 3, range.after->at);
        sqlite3_bind_int64(st, 4, range.after->id);
    }
    EventExportSummary done;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const int64_t id = sqlite3_column_int64(st, 0);
        const EventInstant at = sqlite3_column_int64(st, 1);
        const int kind = sqlite3_column_int(st, 2);
        std::string line =
            std::to_string(id) + ',' + isoTextOfEventInstant(at).toStdString() + ',' +
            (isKnownKind(kind) ? kindKey(static_cast<EventKind>(kind)) : std::to_string(kind)) + ',';
        appendField(line, QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 3))));
        line += ',';
        appendField(line, QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 4))));
        line += ',';
        if (sqlite3_column_type(st, 5) != SQLITE_NULL)
            line += isoTextOfEventInstant(sqlite3_column_int64(st, 5)).toStdString();
        line += '\n';
        if (!sink(at, line)) return refuse(error, QStringLiteral("output refused"));
        ++done.rows;
        done.last = EventCursor{at, id};
    }
    if (rc != SQLITE_DONE)
        return refuse(error,
                      QStringLiteral("%1: %2").arg(journalPath, QString::fromUtf8(sqlite3_errmsg(db))));
    if (summary) *summary = done;
    return true;
}

std::optional<EventCursor> readEventCursor(const QString& path, QString* error) {
    error->clear();
    const CursorLine line = readCursorLine(path);
    if (line.state == CursorLine::State::Missing) return std::nullopt;
    static const QRegularExpression form(
        QStringLiteral("^(?:(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2}) )?(\\d+)$"));
    const QRegularExpressionMatch m = form.match(line.text);
    const bool timed = m.hasMatch() && m.capturedLength(1) > 0;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (line.state == CursorLine::State::Damaged || !m.hasMatch() ||
        (timed && (!date.isValid() || !time.isValid()))) {
        refuse(error,
               QStringLiteral("%1 does not hold the time and id of an event%2")
                   .arg(path, line.reason.isEmpty() ? QString() : QStringLiteral(" (") + line.reason + ')'));
        return std::nullopt;
    }
    // A bare id is the publisher's cursor of before: its time is not known.
    return EventCursor{timed ? eventInstantOf(ClockReading{dayNumberOf(date), dayFractionOf(time)}) : 0,
                       m.captured(7).toLongLong()};
}

bool writeEventCursor(const QString& path, const EventCursor& cursor, QString* error) {
    return writeCursorLine(
        path, isoTextOfEventInstant(cursor.at) + QLatin1Char(' ') + QString::number(cursor.id), error);
}

} // namespace hx
