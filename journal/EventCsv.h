#pragma once
// The event journal as CSV (hx5800-export --events): one row per event in the order they
// happened, id, date-time (ISO 8601, local), kind, subject, text, acknowledged-at. The
// journal is opened read-only, so an export never holds up the program writing it.
#include "journal/JournalEvent.h"

#include <QString>

#include <functional>
#include <optional>
#include <string_view>

namespace hx {

constexpr std::string_view kEventCsvHeader = "id,date-time,kind,subject,text,acknowledged-at\n";

struct EventRange {
    std::optional<EventInstant> from; // at or after
    std::optional<EventInstant> to;   // before
    std::optional<EventCursor> after; // after the last one exported
};

struct EventExportSummary {
    int64_t rows = 0;
    std::optional<EventCursor> last;
};

// "2026-12-08T14:03:22"
QString isoTextOfEventInstant(EventInstant instant);

using EventCsvSink = std::function<bool(EventInstant at, std::string_view line)>;
bool exportEvents(const QString& journalPath, const EventRange& range, const EventCsvSink& sink,
                  EventExportSummary* summary, QString* error);

// The cursor file: "2026-12-08T14:03:22 1234" (with its checksum, see core/CursorFile.h). A
// missing file is no cursor, without error; anything else in it is an error (a record
// export's cursor file among them, or a damaged file).
std::optional<EventCursor> readEventCursor(const QString& path, QString* error);
bool writeEventCursor(const QString& path, const EventCursor& cursor, QString* error);

} // namespace hx
