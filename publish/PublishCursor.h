#pragma once
// The newest record the broker acknowledged, by ring slot and time, kept in a small file beside
// the recording database (Rdatabj.db.mqtt-cursor). It lives outside the database: the
// recording holds measurements only. Overwritten in place, one short line in the file's first
// sector: a crash leaves the old cursor or the new one, never half of one.
#include <QString>

#include <optional>

#include "logging/CsvExport.h"

namespace hx {

struct PublishCursor {
    int32_t slot = 0;          // 0: nothing published yet
    RecordInstant instant = 0; // the record's local wall-clock time
    bool operator==(const PublishCursor&) const = default;
};

QString cursorPathFor(const QString& databasePath);

// nullopt when the file is missing or does not hold a cursor ("1234 2026-12-08T14:03:22").
std::optional<PublishCursor> readPublishCursor(const QString& path);
bool writePublishCursor(const QString& path, const PublishCursor& cursor, QString* error);

// The newest journal event the broker acknowledged, by its id, in a file beside the journal
// (Events.db.mqtt-cursor), written the same way.
QString eventCursorPathFor(const QString& journalPath);
std::optional<int64_t> readEventCursor(const QString& path);
bool writeEventCursor(const QString& path, int64_t id, QString* error);

} // namespace hx
