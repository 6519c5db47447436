#include "trend/HistoryConnection.h"

#include "logging/RecordStore.h"
#include "logging/RecordingSchedule.h"
#include "logging/mscom.h"

namespace hx {

HistoryConnection::HistoryConnection(QString path, StoreFactory factory, Clock& clock)
    : path_(std::move(path)), factory_(std::move(factory)), clock_(clock) {
    open(clock_.now());
}

HistoryConnection::~HistoryConnection() = default;

void HistoryConnection::open(const ClockReading& now) {
    lastAttempt_ = now;
    readFailed_ = false;
    store_.reset();
    if (factory_) store_ = factory_(path_);
    if (!store_)
        error_ = QStringLiteral("no record store");
    else if (!store_->isOpen())
        error_ = store_->lastError();
    else
        error_.clear();
}

RecordStore* HistoryConnection::acquire() {
    if (shutDown_) return nullptr;
    if (store_ && store_->isOpen()) return store_.get();
    // The store closed itself (its file was replaced) or never opened: keep its reason until
    // the next attempt, which the recorder's pace limits.
    if (store_) error_ = store_->lastError();
    const ClockReading now = clock_.now();
    if (elapsedWholeSeconds(now, lastAttempt_.date, lastAttempt_.time) < mscom::kReopenSeconds)
        return nullptr;
    open(now);
    return store_ && store_->isOpen() ? store_.get() : nullptr;
}

void HistoryConnection::noteRead(bool succeeded) {
    readFailed_ = !succeeded;
    if (!succeeded && store_) error_ = store_->lastError();
}

bool HistoryConnection::readable() const {
    return store_ && store_->isOpen() && !readFailed_;
}

QString HistoryConnection::lastError() const {
    if (readable()) return {};
    if (shutDown_) return QStringLiteral("closed");
    if (store_ && !store_->isOpen() && !store_->lastError().isEmpty()) return store_->lastError();
    return error_;
}

void HistoryConnection::shutDown() {
    shutDown_ = true;
    store_.reset();
}

} // namespace hx
