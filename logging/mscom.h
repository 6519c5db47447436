#pragma once
// mscom: the host (never shown) of the recorder's database connection and its 100 ms
// recording timer. On the first tick of every new clock second at which the poll has
// refreshed all ten values since the previous record, it stores the values (Pv_Value 0..9 for
// the window, an instrument's own for the line service: the RecordSource) in the next ring
// slot and moves the ring pointer, both in one transaction, then announces the record and
// raises New_Record for the live trend while the main window is open.
#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QTimer>

#include "core/Clock.h"
#include "logging/RecordSource.h"
#include "logging/RecordStore.h"
#include "logging/RecorderLock.h"

namespace hx {

// What the main window's status line shows about recording.
struct RecorderStatus {
    QString databasePath;
    bool databaseAvailable = false;
    QString lastError;                        // why the database is unavailable, or the last failure
    std::optional<ClockReading> lastRecordAt; // clock reading of the last committed record
    int32_t lastRecordSlot = 0;               // its ring slot
    quint64 recordsCommitted = 0;             // with or without the pointer
    quint64 recordsWithoutPointer = 0;        // committed while sl_void had no pointer row
    quint64 recordsFailed = 0;                // due but not stored (no database, busy, write error)
    bool lastRecordFailed = false;            // the newest record due was not stored
    bool waitingForValues = false;            // a record is due, but no fresh values came
    // The database's lock file: one program records into one database.
    RecorderClaim claim{};       // whether this program may record there (None until tried)
    qint64 otherRecorderPid = 0; // the program recording there instead (claim OtherProgram)
    QString otherRecorderHost;   // its host, when not this one
};

class mscom : public QObject {
    Q_OBJECT

  public:
    using StoreFactory = std::function<std::unique_ptr<RecordStore>(const QString& path)>;

    static constexpr int kTickMs = 100;
    // A database that could not be opened is tried again at most this often (clock seconds).
    static constexpr int kReopenSeconds = 5;

    // Opens the database at databasePath through storeFactory (the window's load) and starts
    // Timer1. The clock and the source must outlive the recorder.
    explicit mscom(const QString& databasePath = defaultDatabasePath(), Clock& clock = appClock(),
                   StoreFactory storeFactory = openRecordStore, RecordSource& source = sharedRecordSource(),
                   QObject* parent = nullptr);
    ~mscom() override;

    // Whole seconds since the last record (the source's: Last_Date, Last_Time), never negative.
    double okitime() const;

    // The recording tick, run by Timer1 every 100 ms.
    void Timer1_Timer();

    const RecorderStatus& status() const { return status_; }
    // The working copy of the ring pointer: the pointer read before the last record decided
    // (65500 and above read as 0), plus one.
    int32_t slotCounter() const { return slotCounter_; }

    QTimer Timer1;

  signals:
    // After every record decided, with the outcome of its write (Failed when there was no
    // database). Emitted right after the write returned.
    void recordWritten(const hx::StoredRecord& record, hx::WriteOutcome outcome);
    void statusChanged();

  private:
    void tick();
    void openStore(const ClockReading& now);
    bool storeAvailable() const;
    bool storeOpen() const;
    void storeRecord();
    void noteError(const QString& error);

    QString databasePath_;
    Clock& clock_;
    StoreFactory openStore_;
    RecordSource& source_;
    RecorderLock lock_; // before store_, so it is released only after the connection is closed
    std::unique_ptr<RecordStore> store_;
    ClockReading lastOpenAttempt_{};
    int32_t slotCounter_ = 0;
    RecorderStatus status_;
};

} // namespace hx
