#pragma once
// The recording database as CSV for a spreadsheet: one row per record in time order (across
// the ring's end), the record's date and time in ISO 8601, then CH1..CH8, DA1, DA2 as stored.
// The database is opened read-only, so an export never blocks or changes the recording.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

#include "logging/RecordStore.h"

namespace hx {

// An instant of the recording: whole seconds since day 0 (1899-12-30 00:00:00), in the
// local wall-clock time the recorder stores.
using RecordInstant = int64_t;

RecordInstant instantOfRecord(double date, double time);
// "2024-03-14T10:00:00"
QString isoTextOfInstant(RecordInstant instant);
// A date and time in ISO 8601 ("2024-03-14T10:00:00", "2024-03-14T10:00", "2024-03-14 10:00:00"
// or a date alone for its midnight); nullopt when the text is not one.
std::optional<RecordInstant> instantOfIsoText(const QString& text);

struct ExportRange {
    std::optional<RecordInstant> from;  // records at or after this instant
    std::optional<RecordInstant> to;    // records before this instant
    std::optional<RecordInstant> after; // records after the last one an earlier run exported

    bool contains(RecordInstant instant) const {
        return (!from || instant >= *from) && (!to || instant < *to) && (!after || instant > *after);
    }
    // A range that can hold no record at all is a mistake of the caller, not an empty export.
    bool isEmpty() const { return from && to && *from >= *to; }
};

constexpr std::string_view kCsvHeader = "date-time,CH1,CH2,CH3,CH4,CH5,CH6,CH7,CH8,DA1,DA2\n";

struct ExportSummary {
    int64_t rows = 0;
    std::optional<RecordInstant> last;         // of the rows written
    std::optional<RecordInstant> oldestInRing; // of all records, exported or not
    bool ringFull = false;                     // every slot holds a record: the oldest get overwritten
};

// Where the lines go: instant of the record and its CSV line (with the line end); false
// stops the export.
using CsvSink = std::function<bool(RecordInstant instant, std::string_view line)>;

// Streams the records of the database at path within range to sink, in time order.
// False with *error when the database is missing, not a recording database, unreadable, or
// the sink refused a line.
bool exportRecords(const QString& databasePath, const ExportRange& range, const CsvSink& sink,
                   ExportSummary* summary, QString* error);

// The lines' destination: standard output, or files named by a pattern in which "{date}"
// stands for the record's day (YYYY-MM-DD), so each day's records go to a file of their
// own. Files are appended to and get the header when they are new or empty; their folder is
// created. Standard output gets the header once, also when no record follows.
class CsvOutput {
  public:
    // header: the first line of every new file (the events' export has its own).
    explicit CsvOutput(const QString& pattern, std::string_view header = kCsvHeader);
    ~CsvOutput();
    CsvOutput(const CsvOutput&) = delete;
    CsvOutput& operator=(const CsvOutput&) = delete;

    bool write(RecordInstant instant, std::string_view line);
    // Flushes and closes; false when anything could not be written.
    bool finish();
    QString error() const { return error_; }

  private:
    bool openFor(const QString& path);
    bool put(std::string_view text);
    bool closeFile();

    QString pattern_;
    std::string header_;
    std::FILE* file_ = nullptr;
    QString filePath_;
    bool headerDone_ = false;
    QString error_;
};

// The --since-last file: the instant of the last exported record, one ISO 8601 line (a cursor
// file, see core/CursorFile.h).
// A missing file means nothing was exported yet (nullopt, no error); a file that holds
// something else is an error.
std::optional<RecordInstant> readLastExported(const QString& path, QString* error);
// Replaces the file in one rename, so an interrupted run leaves the old instant.
bool writeLastExported(const QString& path, RecordInstant instant, QString* error);

} // namespace hx
