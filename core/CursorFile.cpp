#include "core/CursorFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hx {

namespace {

// Longer lines are no cursor of ours.
constexpr int kLongestLine = 256;

QString checksumOf(const QByteArray& text) {
    return QStringLiteral("%1").arg(qChecksum(text), 4, 16, QLatin1Char('0'));
}

QString systemReason(int error) {
    return error == ELOOP ? QStringLiteral("a link, not used") : QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

CursorLine readCursorLine(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {};
        return {CursorLine::State::Damaged, {}, systemReason(errno)};
    }
    char buffer[kLongestLine + 1];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got < 0) return {CursorLine::State::Damaged, {}, systemReason(errno)};
    QByteArray bytes(buffer, int(got));
    if (bytes.size() > kLongestLine || !bytes.endsWith('\n'))
        return {CursorLine::State::Damaged, {}, QStringLiteral("incomplete line")};
    bytes = bytes.trimmed();
    const qsizetype mark = bytes.lastIndexOf(" #");
    if (mark < 0) return {CursorLine::State::Good, QString::fromUtf8(bytes), {}}; // an older file
    const QByteArray text = bytes.left(mark);
    if (bytes.mid(mark + 2) != checksumOf(text).toLatin1())
        return {CursorLine::State::Damaged, {}, QStringLiteral("checksum mismatch")};
    return {CursorLine::State::Good, QString::fromUtf8(text), {}};
}

bool writeCursorLine(const QString& path, const QString& text, QString* error) {
    const QByteArray body = text.toUtf8();
    const QByteArray line = body + " #" + checksumOf(body).toLatin1() + '\n';
    const QByteArray name = QFile::encodeName(path);
    const QByteArray temporary = name + ".new";
    // A leftover (or planted) temporary file goes first: O_EXCL then makes a file of our own.
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    struct stat target {};
    const bool isLink = ::lstat(name.constData(), &target) == 0 && S_ISLNK(target.st_mode);
    bool ok = fd >= 0 && !isLink && ::write(fd, line.constData(), size_t(line.size())) == line.size() &&
              ::fdatasync(fd) == 0;
    int failure = isLink ? ELOOP : errno;
    if (fd >= 0) ::close(fd);
    if (ok && ::rename(temporary.constData(), name.constData()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        *error =
            QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), systemReason(failure));
        return false;
    }
    // The new name must survive a power cut too.
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace hx
