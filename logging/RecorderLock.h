#pragma once
// One recorder per database: the recorder holds a lock file beside the database
// (Rdatabj.db.recorder-lock) for as long as it records there. A second copy of the program on
// the same database finds the lock held and records nothing; history review, the export and
// hx5800-initdb read without it.
//
// The lock is the kernel's (flock) on the open file, not the file's existence: it goes with
// its holder whatever ends it (crash, kill, power loss), and a holder that died is never
// mistaken for a live one because its process id now belongs to another program. The file
// names its last holder's process and host, for the status line; it is never removed (a
// removed lock file could be held twice).
#include <QString>

namespace hx {

// Whether this program may record into its database.
enum class RecorderClaim {
    None,         // not tried yet (the database was never usable)
    Held,         // this program holds the lock and records
    OtherProgram, // another program holds the lock and records there
    NoLockFile,   // the lock file could not be made (read-only folder, ...): not recording
};

class RecorderLock {
  public:
    explicit RecorderLock(const QString& databasePath);
    ~RecorderLock();
    RecorderLock(const RecorderLock&) = delete;
    RecorderLock& operator=(const RecorderLock&) = delete;

    static QString lockPathOf(const QString& databasePath);

    // Tries once without waiting; true while this program holds the lock. Once held, it is
    // kept until the lock is destroyed, also while the database itself is unusable, so the
    // program that recorded goes on recording when the database comes back.
    bool tryTake();

    RecorderClaim claim() const { return claim_; }
    QString path() const { return path_; }
    // The program holding the lock when claim() is OtherProgram: its process id (0 when the
    // file could not be read) and its host when that is not this one.
    qint64 otherPid() const { return otherPid_; }
    QString otherHost() const { return otherHost_; }
    // Why the lock could not be taken, in a few words.
    QString error() const { return error_; }

  private:
    QString path_;
    int fd_ = -1; // open and locked while held
    RecorderClaim claim_ = RecorderClaim::None;
    qint64 otherPid_ = 0;
    QString otherHost_;
    QString error_;
};

} // namespace hx
