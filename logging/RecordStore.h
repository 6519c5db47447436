#pragma once
// The recording database: the ring of 65500 sample slots (table pv_data) and the ring
// pointer (table sl_void). One class serves the recorder, the history review and the
// export tool; each user opens its own connection.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

namespace hx {

constexpr int32_t kRingSize = 65500;

// A ring pointer as a reader can use it: the slot of the newest record, or 0 before the
// first record.
constexpr bool isRingPointer(int32_t pointer) {
    return pointer >= 0 && pointer <= kRingSize;
}

// A record as read back. A column that holds no number (another program's edit: NULL,
// text, an infinity, a value beyond single precision) reads as NaN.
struct StoredRecord {
    int32_t id = 0;                 // ring slot 1..65500
    double date = 0;                // whole day number
    double time = 0;                // fraction of a day
    std::array<float, 10> values{}; // CH1..CH8, DA1, DA2
};

enum class WriteOutcome {
    Committed,               // record and pointer committed together
    CommittedWithoutPointer, // record committed; sl_void has no row to hold the pointer
    Failed,                  // nothing changed (busy, read-only, I/O error, ...)
};

class RecordStore {
  public:
    virtual ~RecordStore() = default;

    virtual bool isOpen() const = 0;
    virtual QString path() const = 0;
    virtual QString lastError() const = 0;
    // Open for reading only (the file cannot be written): every write fails.
    virtual bool isReadOnly() const { return false; }

    // Positions 0 and 1 of the first row of sl_void; nullopt when there is no row or the
    // read failed.
    virtual std::optional<std::pair<int32_t, int32_t>> readPointer() = 0;

    // Writes the record into slot record.id (overwriting the row of that slot when there is
    // one) and sets both pointer columns to record.id, in one transaction.
    virtual WriteOutcome writeRecord(const StoredRecord& record) = 0;

    // The records of the trend window ending at slot winEnd: ids winStart+1..winEnd when
    // winEnd >= winLen, else ids 1..winEnd together with winStart+1..65500 (the window
    // wraps); in date, then time order. nullopt when the query failed.
    virtual std::optional<std::vector<StoredRecord>> selectWindow(int32_t winStart, int32_t winEnd,
                                                                  int32_t winLen) = 0;

    // Whether a row for the slot exists (the last slot present means the ring has wrapped).
    virtual std::optional<bool> hasSlot(int32_t id) = 0;
};

// Opens the recording database at path through SQLite (never creates it). The result is
// never null: a store that could not be opened answers isOpen() false and tells why in
// lastError().
std::unique_ptr<RecordStore> openRecordStore(const QString& path);

// Where the recording database lives: $HX5800_DB when set, else ~/Trendlog/Rdatabj.db.
QString defaultDatabasePath();

} // namespace hx
