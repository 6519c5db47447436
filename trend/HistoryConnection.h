#pragma once
// The main window's own connection to the recording database, through which history review
// reads. Like the recorder's, it comes back by itself: a database missing at start, or one
// that closed because its file was replaced, is opened again when history next needs it, at
// most once every few seconds. It also knows whether history could be read, for the status
// line.
#include <functional>
#include <memory>

#include <QString>

#include "core/Clock.h"

namespace hx {

class RecordStore;

class HistoryConnection {
  public:
    using StoreFactory = std::function<std::unique_ptr<RecordStore>(const QString& path)>;

    // Opens the database at once. The clock must outlive the connection.
    HistoryConnection(QString path, StoreFactory factory, Clock& clock);
    ~HistoryConnection();
    HistoryConnection(const HistoryConnection&) = delete;
    HistoryConnection& operator=(const HistoryConnection&) = delete;

    // The open store; a closed one is opened again first when the last attempt lies at least
    // kReopenSeconds back. Null while the database cannot be opened (or after shutDown).
    RecordStore* acquire();
    // The store as it is, open or not, without trying to open it.
    RecordStore* store() const { return store_.get(); }

    // Whether the last read of history through the store succeeded.
    void noteRead(bool succeeded);
    // History can be read: the store is open and its last read succeeded.
    bool readable() const;
    // Why history cannot be read; empty while it can.
    QString lastError() const;
    QString path() const { return path_; }

    // Closes the connection for good (the window's exit); nothing is opened again.
    void shutDown();

  private:
    void open(const ClockReading& now);

    QString path_;
    StoreFactory factory_;
    Clock& clock_;
    std::unique_ptr<RecordStore> store_;
    ClockReading lastAttempt_{};
    bool readFailed_ = false;
    bool shutDown_ = false;
    QString error_;
};

} // namespace hx
