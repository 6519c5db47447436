#include "logging/RecorderLock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
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
    if (file_.tryLock(0) || takeOverLeftover()) {
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

// Qt recognises a dead holder by the process the file names. Two leftovers it cannot judge
// are taken over here, guarded by the file's own lock, which a live holder keeps: a file naming
// this very process (an earlier program had the same id, as in a restarted container), and a
// file cut short before its holder was written into it (killed while taking the lock), once it
// is older than that writing takes.
bool RecorderLock::takeOverLeftover() {
    if (file_.error() != QLockFile::LockFailedError) return false;
    qint64 pid = 0;
    QString host, application;
    bool leftover = false;
    if (file_.getLockInfo(&pid, &host, &application)) {
        leftover = pid == QCoreApplication::applicationPid() &&
                   (host.isEmpty() || host == QSysInfo::machineHostName());
    } else {
        const QDateTime written = QFileInfo(path_).lastModified();
        leftover = written.isValid() && written.secsTo(QDateTime::currentDateTime()) >= kUnfinishedSeconds;
    }
    return leftover && file_.removeStaleLockFile() && file_.tryLock(0);
}

} // namespace hx
