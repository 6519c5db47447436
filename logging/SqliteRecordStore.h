#pragma once
// The recording database kept in an SQLite file: pv_data holds one row per ring slot
// (w_id is the rowid, so every slot is found through the primary key), sl_void the ring
// pointer in the first two columns of its first row.
#include <functional>
#include <memory>

#include "logging/RecordStore.h"

struct sqlite3;
struct sqlite3_stmt;

namespace hx {

struct SqliteStoreOptions {
    enum class Journal { Wal, Delete };
    enum class Sync { Full, Normal };

    // A record and its pointer must survive a power cut once the commit returned: write-ahead
    // log, synced on every commit. The others exist for measurement only.
    Journal journal = Journal::Wal;
    Sync sync = Sync::Full;
    // The recorder ticks every 100 ms on the window thread; a database held by another
    // writer costs it at most this long, then the tick goes on without the record.
    int busyTimeoutMs = 50;
    // Readers that must never change the file (the export tool): the file is opened
    // read-only and its journal and sync settings are left as they are.
    bool readOnly = false;
};

class SqliteRecordStore final : public RecordStore {
  public:
    // Opens an existing database read-write (falls back to read-only when the file cannot be
    // written); never creates a file. Check isOpen() and lastError(). A store whose file is
    // deleted or replaced while open closes itself at its next pointer read or write.
    explicit SqliteRecordStore(const QString& path, const SqliteStoreOptions& options = {});
    ~SqliteRecordStore() override;
    SqliteRecordStore(const SqliteRecordStore&) = delete;
    SqliteRecordStore& operator=(const SqliteRecordStore&) = delete;

    bool isOpen() const override;
    QString path() const override;
    QString lastError() const override;
    // True when SQLite could open the file for reading only.
    bool isReadOnly() const override;

    std::optional<std::pair<int32_t, int32_t>> readPointer() override;
    WriteOutcome writeRecord(const StoredRecord& record) override;
    std::optional<std::vector<StoredRecord>> selectWindow(int32_t winStart, int32_t winEnd,
                                                          int32_t winLen) override;
    std::optional<bool> hasSlot(int32_t id) override;

    // Hands every record to visit in time order (date, time, then slot), which across the
    // ring's end is not slot order; stops early when visit returns false. False when the
    // query failed (see lastError()).
    bool forEachRecordInTimeOrder(const std::function<bool(const StoredRecord&)>& visit);

  private:
    struct Statements;

    bool open(const SqliteStoreOptions& options);
    void close();
    bool fail(const QString& what);
    bool runStep(sqlite3_stmt* statement, const char* what);
    void rollbackIfOpen();
    bool fileStillThere();

    QString path_;
    QString lastError_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<Statements> statements_;
};

} // namespace hx
