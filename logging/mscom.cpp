#include "logging/mscom.h"

#include <exception>

#include "logging/RecordingSchedule.h"
#include "logging/Ring.h"

namespace hx {

namespace {

// Runs one step of a handler; a step that throws is passed over and the handler goes on.
template <typename Step> void skipOnFailure(Step&& step, QString* error) {
    try {
        step();
    } catch (const std::exception& e) {
        *error = QString::fromUtf8(e.what());
    } catch (...) {
        *error = QStringLiteral("unexpected failure in the recording tick");
    }
}

} // namespace

mscom::mscom(const QString& databasePath, Clock& clock, StoreFactory storeFactory, RecordSource& source,
             QObject* parent)
    : QObject(parent), databasePath_(databasePath), clock_(clock), openStore_(std::move(storeFactory)),
      source_(source), lock_(databasePath) {
    setObjectName(QStringLiteral("mscom"));
    status_.databasePath = databasePath_;
    skipOnFailure([this] { openStore(clock_.now()); }, &status_.lastError);

    Timer1.setInterval(kTickMs);
    connect(&Timer1, &QTimer::timeout, this, &mscom::Timer1_Timer);
    Timer1.start();
}

mscom::~mscom() = default;

void mscom::openStore(const ClockReading& now) {
    lastOpenAttempt_ = now;
    store_.reset();
    // The lock before the database is opened for writing: a second program never opens it so.
    // Without the lock a usable database is not recorded into; it is looked at again at the
    // next try, when the other program may have ended.
    const bool held = lock_.tryTake();
    const bool other = !held && lock_.claim() == RecorderClaim::OtherProgram;
    if (openStore_ && !other) store_ = openStore_(databasePath_);
    const bool usable = storeAvailable();
    const bool refused = other || (!held && usable);
    const RecorderClaim claim = held || refused ? lock_.claim() : RecorderClaim::None;
    const qint64 otherPid = claim == RecorderClaim::OtherProgram ? lock_.otherPid() : 0;
    const bool claimChanged = claim != status_.claim || otherPid != status_.otherRecorderPid;
    status_.claim = claim;
    status_.otherRecorderPid = otherPid;
    status_.otherRecorderHost = claim == RecorderClaim::OtherProgram ? lock_.otherHost() : QString();

    const bool available = held && usable;
    if (available)
        status_.lastError.clear();
    else if (refused)
        status_.lastError = lock_.error();
    else if (!store_)
        status_.lastError = QStringLiteral("no record store");
    else if (store_->isOpen())
        status_.lastError = QStringLiteral("the database %1 is read-only").arg(databasePath_);
    else
        status_.lastError = store_->lastError();
    if (!held) store_.reset(); // opened only to tell why it cannot be recorded into
    if (available != status_.databaseAvailable || claimChanged) {
        status_.databaseAvailable = available;
        emit statusChanged();
    }
}

// Available for recording: open and writable. A read-only database is still read for the
// pointer, and looked at again every few seconds in case it becomes writable.
bool mscom::storeAvailable() const {
    return storeOpen() && !store_->isReadOnly();
}
bool mscom::storeOpen() const {
    return store_ && store_->isOpen();
}

void mscom::noteError(const QString& error) {
    if (!error.isEmpty()) status_.lastError = error;
}

double mscom::okitime() const {
    const ClockReading last = source_.lastRecord();
    return elapsedWholeSeconds(clock_.now(), last.date, last.time);
}

void mscom::Timer1_Timer() {
    QString error;
    skipOnFailure([this] { tick(); }, &error);
    noteError(error);
}

void mscom::tick() {
    QString error;
    // A database missing at start (or locked, unreadable, read-only) is looked for again every
    // few seconds, so recording starts as soon as it is usable.
    if (!storeAvailable()) {
        skipOnFailure(
            [this] {
                const ClockReading now = clock_.now();
                if (elapsedWholeSeconds(now, lastOpenAttempt_.date, lastOpenAttempt_.time) >= kReopenSeconds)
                    openStore(now);
            },
            &error);
    }

    if (!recordDue(okitime())) return;
    // Every row in the ring is a measurement: with the port closed, a wrong address or a
    // silent instrument nothing is stored (and the ring's history is not overwritten). The
    // reference stays, so the record follows at the first tick after the values come back.
    const bool measured = source_.allFresh();
    if (measured == status_.waitingForValues) {
        status_.waitingForValues = !measured;
        emit statusChanged();
    }
    if (!measured) return;
    // The pointer is read before every record, so one moved in the file by hand or by a tool
    // is followed; when the read fails the counter keeps its value.
    skipOnFailure(
        [this] {
            if (!storeOpen()) return;
            if (const auto pointer = store_->readPointer())
                slotCounter_ = pointer->first;
            else
                noteError(store_->lastError());
        },
        &error);
    slotCounter_ = ringCounterOf(slotCounter_);
    slotCounter_ += 1;
    // The reference moves when the record is decided, before the write, so a failed write is
    // not tried again within the same second.
    source_.setLastRecord(clock_.now());

    skipOnFailure([this] { storeRecord(); }, &error);
    noteError(error);

    // The live trend advances once a second whether or not the record reached the database.
    source_.recordDecided();
}

void mscom::storeRecord() {
    StoredRecord record;
    record.id = slotCounter_;
    const ClockReading decided = source_.lastRecord();
    record.date = decided.date;
    record.time = decided.time;
    record.values = source_.take();

    WriteOutcome outcome = WriteOutcome::Failed;
    if (storeAvailable()) outcome = store_->writeRecord(record);

    status_.lastRecordFailed = outcome == WriteOutcome::Failed;
    if (outcome == WriteOutcome::Failed) {
        ++status_.recordsFailed;
        if (storeAvailable())
            status_.lastError = store_->lastError();
        else if (status_.lastError.isEmpty())
            status_.lastError = QStringLiteral("no database");
    } else {
        ++status_.recordsCommitted;
        if (outcome == WriteOutcome::CommittedWithoutPointer) ++status_.recordsWithoutPointer;
        status_.lastRecordAt = ClockReading{record.date, record.time};
        status_.lastRecordSlot = record.id;
        status_.lastError = store_->lastError();
    }
    emit recordWritten(record, outcome);
    emit statusChanged();
}

} // namespace hx
