#pragma once
// The event journal's file: beside the recording database and named after it (Rdatabj.db's
// journal is Rdatabj.events.db), a SQLite file of its own (the recording keeps exactly its two
// tables). Each batch of events is one transaction in
// write-ahead-log mode with synchronous FULL, so an event whose record() returned survives a
// crash or power loss. The file holds the newest events up to a bound; older ones are dropped
// in batches. While the file cannot be written (folder missing, read-only, disk full) events
// wait in memory, up to a limit, and go to the file when it can be written again. A file that
// is not a journal is moved aside (kept for whoever wants to look at it) and a new one begun.
#include "journal/JournalEvent.h"

#include <QString>

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3;

namespace hx {

// Which categories a page holds; all by default.
struct EventFilter {
    bool alarms = true;
    bool lineAndRecording = true;
    bool writes = true;
    bool all() const { return alarms && lineAndRecording && writes; }
    bool none() const { return !alarms && !lineAndRecording && !writes; }
};

// The raised alarms the operator has not acknowledged (stored or still waiting in memory).
struct UnacknowledgedAlarms {
    int count = 0;
    std::array<bool, 25> rows{}; // by status table row 1..24
};

struct JournalLimits {
    int bound = 100000;       // events kept in the file
    int dropBatch = 1000;     // dropped at once when the bound is passed
    int pendingLimit = 10000; // events kept in memory while the file cannot be written
};

class EventJournal {
  public:
    using Limits = JournalLimits;
    // A file that could not be opened or written is tried again at most this often.
    static constexpr int kRetrySeconds = 5;

    explicit EventJournal(QString path, Clock& clock = appClock(), Limits limits = {});
    ~EventJournal();
    EventJournal(const EventJournal&) = delete;
    EventJournal& operator=(const EventJournal&) = delete;

    // The journal beside the recording database at databasePath.
    static QString pathBeside(const QString& databasePath);

    // Stamps the events with the clock's time and stores them as one transaction; when the
    // file cannot be written they wait in memory. True when they (and any waiting before them)
    // are in the file.
    bool record(std::vector<JournalEvent> events);
    // Told when events reached the file, with the newest id stored (the publisher reads them
    // from the file then).
    std::function<void(int64_t newestId)> onStored;
    bool record(JournalEvent event) { return record(std::vector<JournalEvent>{std::move(event)}); }
    // Writes the waiting events once the retry interval has passed; true when none waits.
    bool retry();

    // Newest first: up to limit events older than beforeId (all when nullopt).
    std::vector<JournalEvent> page(const EventFilter& filter, std::optional<int64_t> beforeId, int limit);
    // Newest first: the events newer than afterId, up to limit.
    std::vector<JournalEvent> newerThan(const EventFilter& filter, int64_t afterId, int limit);
    int64_t storedCount() const { return count_; }
    int64_t newestId() const { return newestId_; }

    // Acknowledges the raised alarms among ids (the others are left alone), or all of them;
    // the time is the clock's. The number acknowledged, nullopt when the file cannot be written.
    std::optional<int> acknowledge(const std::vector<int64_t>& ids);
    std::optional<int> acknowledgeAll();
    UnacknowledgedAlarms unacknowledged();
    // The time the last acknowledgement stored.
    EventInstant lastAcknowledgement() const { return lastAcknowledgement_; }

    QString path() const { return path_; }
    bool available() const { return db_ != nullptr; }
    size_t waiting() const { return pending_.size(); }
    uint64_t lost() const { return lost_; } // waiting events dropped past the memory limit
    QString lastError() const { return lastError_; }
    // Where a file that was not a journal went; empty when none was found.
    QString damagedCopy() const { return damagedCopy_; }

  private:
    bool open();
    bool openOnce(bool* notAJournal);
    void close();
    bool flush();
    bool exec(const char* sql);
    void fail(const QString& what);
    std::optional<int> acknowledgeWhere(const std::vector<int64_t>* ids);
    std::vector<JournalEvent> query(const QString& sql, int64_t bound, int limit);
    static QString categoryClause(const EventFilter& filter);

    QString path_;
    Clock& clock_;
    Limits limits_;
    sqlite3* db_ = nullptr;
    std::deque<JournalEvent> pending_;
    uint64_t lost_ = 0;
    int64_t count_ = 0;
    int64_t newestId_ = 0;
    std::optional<EventInstant> lastFailedOpen_;
    QString lastError_;
    QString damagedCopy_;
    EventInstant lastAcknowledgement_ = 0;
};

// The journal as another thread or program reads it: read-only, never creating, changing or
// moving the file (that is the EventJournal's business). The file stays open between calls;
// one that was replaced (a journal begun anew) is opened afresh.
class JournalReader {
  public:
    explicit JournalReader(QString path) : path_(std::move(path)) {}
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // Oldest first: up to limit events with an id above afterId; nullopt when the file cannot
    // be read (not there yet, or not a journal).
    std::optional<std::vector<JournalEvent>> after(int64_t afterId, int limit);
    // The newest id stored (0 for an empty journal); nullopt when the file cannot be read.
    std::optional<int64_t> newestId();
    // The id after which the events newer than cursor follow: its id while the journal is the
    // one the cursor was taken in, else (a journal begun anew since) before the first event at
    // or after the cursor's time. nullopt when the file cannot be read.
    std::optional<int64_t> resumeAfter(const EventCursor& cursor);
    // Counts the files opened: a change means the journal was replaced (ids count anew).
    uint64_t generation() const { return generation_; }
    QString path() const { return path_; }

  private:
    bool open();
    void close();
    QString path_;
    sqlite3* db_ = nullptr;
    uint64_t openedFile_ = 0; // the inode of the file db_ reads
    uint64_t generation_ = 0;
};

} // namespace hx
