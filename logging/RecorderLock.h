#pragma once
// One recorder per database: the recorder holds a lock file beside the database
// (Rdatabj.db.recorder-lock) for as long as it records there. A second copy of the program on
// the same database finds the lock held and records nothing; history review, the export and
// hx5800-initdb read without it. A lock left behind by a program that died (crash, kill,
// power loss) is taken over: the file names its holder's process, host and boot.
#include <QLockFile>
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
    bool takeOverLeftover();
    // A lock file still without its holder after this long was left by a killed program.
    static constexpr int kUnfinishedSeconds = 2;

    QString path_;
    QLockFile file_;
    RecorderClaim claim_ = RecorderClaim::None;
    qint64 otherPid_ = 0;
    QString otherHost_;
    QString error_;
};

} // namespace hx
