#include "logging/RecorderLock.h"

#include <QCoreApplication>
#include <QSysInfo>

namespace hx {

RecorderLock::RecorderLock(const QString& databasePath) : path_(lockPathOf(databasePath)), file_(path_) {
    // A recorder holds its lock for days and Qt never refreshes the file, so an age limit
    // would hand a live recorder's lock to a second copy. A dead holder is recognised by its
    // process id and boot instead.
    file_.setStaleLockTime(0);
}

QString RecorderLock::lockPathOf(const QString& databasePath) {
    return databasePath + QStringLiteral(".recorder-lock");
}

bool RecorderLock::tryTake() {
    if (file_.isLocked()) return true;
    otherPid_ = 0;
    otherHost_.clear();
    error_.clear();
    if (file_.tryLock(0) || takeOverFromEarlierSelf()) {
        claim_ = RecorderClaim::Held;
        return true;
    }
    if (file_.error() == QLockFile::LockFailedError) {
        claim_ = RecorderClaim::OtherProgram;
        QString host, application;
        file_.getLockInfo(&otherPid_, &host, &application);
        if (host != QSysInfo::machineHostName()) otherHost_ = host;
        error_ = QStringLiteral("another program (process %1) records into this database").arg(otherPid_);
    } else {
        claim_ = RecorderClaim::NoLockFile;
        error_ =
            QStringLiteral("cannot create the lock file %1%2")
                .arg(path_, file_.error() == QLockFile::PermissionError ? QStringLiteral(" (no permission)")
                                                                        : QString());
    }
    return false;
}

// A lock file naming this very process was left by an earlier program that had the same
// process id (a restarted container gets the same one), unless another recorder in this
// process holds it: removing it needs the file's own lock, which a live holder keeps.
bool RecorderLock::takeOverFromEarlierSelf() {
    if (file_.error() != QLockFile::LockFailedError) return false;
    qint64 pid = 0;
    QString host, application;
    if (!file_.getLockInfo(&pid, &host, &application) || pid != QCoreApplication::applicationPid())
        return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName()) return false;
    return file_.removeStaleLockFile() && file_.tryLock(0);
}

} // namespace hx
