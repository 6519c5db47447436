#include "logging/RecorderLock.h"

#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace hx {

RecorderLock::RecorderLock(const QString& databasePath) : path_(lockPathOf(databasePath)) {}

RecorderLock::~RecorderLock() {
    if (fd_ >= 0) ::close(fd_); // the kernel lets go of the lock with the file
}

QString RecorderLock::lockPathOf(const QString& databasePath) {
    return databasePath + QStringLiteral(".recorder-lock");
}

bool RecorderLock::tryTake() {
    if (fd_ >= 0) return true;
    otherPid_ = 0;
    otherHost_.clear();
    error_.clear();
    const QByteArray name = QFile::encodeName(path_);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        claim_ = RecorderClaim::NoLockFile;
        error_ = QStringLiteral("cannot create the lock file %1%2")
                     .arg(path_, errno == EACCES || errno == EROFS || errno == EPERM
                                     ? QStringLiteral(" (no permission)")
                                     : QString());
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // A live holder: the file names it.
        char buffer[256] = {};
        const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
        ::close(fd);
        const QStringList lines = QString::fromUtf8(buffer, got > 0 ? int(got) : 0).split(QLatin1Char('\n'));
        otherPid_ = lines.value(0).toLongLong();
        const QString host = lines.value(2);
        if (!host.isEmpty() && host != QSysInfo::machineHostName()) otherHost_ = host;
        claim_ = RecorderClaim::OtherProgram;
        error_ = QStringLiteral("another program (process %1) records into this database").arg(otherPid_);
        return false;
    }
    // Ours: say who holds it, for the program that finds it held.
    const QByteArray holder = QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                              QCoreApplication::applicationName().toUtf8() + '\n' +
                              QSysInfo::machineHostName().toUtf8() + '\n';
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, holder.constData(), size_t(holder.size()), 0) != holder.size()) {
        // The lock holds all the same; only the name of its holder is missing.
    }
    fd_ = fd;
    claim_ = RecorderClaim::Held;
    return true;
}

} // namespace hx
