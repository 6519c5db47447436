#pragma once
// Where publishing got to, in cursor files beside the recording (core/CursorFile.h): the
// newest record the broker acknowledged, by ring slot and time (Rdatabj.db.mqtt-cursor), and
// the newest journal event, by time and id (beside the journal, in the format the event
// export's --since-last file has). They live outside the database: the recording holds
// measurements only.
#include "journal/EventCsv.h"
#include "logging/CsvExport.h"

#include <QString>

#include <optional>

namespace hx {

struct PublishCursor {
    int32_t slot = 0;          // 0: nothing published yet
    RecordInstant instant = 0; // the record's local wall-clock time
    bool operator==(const PublishCursor&) const = default;
};

QString cursorPathFor(const QString& databasePath);
QString eventCursorPathFor(const QString& journalPath);

// What a cursor file held: nothing (no file: publishing starts now), a cursor, or something
// that is not one (damaged: publishing goes on from the oldest record or event left, so
// nothing is lost).
template <typename Cursor> struct SavedCursor {
    std::optional<Cursor> cursor;
    bool damaged = false;
    QString reason; // why it is damaged
};

// "1234 2026-12-08T14:03:22"
SavedCursor<PublishCursor> readPublishCursor(const QString& path);
bool writePublishCursor(const QString& path, const PublishCursor& cursor, QString* error);
SavedCursor<EventCursor> readPublishedEventCursor(const QString& path);

} // namespace hx
