#include "PublishCursor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hx {

QString cursorPathFor(const QString& databasePath) {
    return databasePath + QStringLiteral(".mqtt-cursor");
}

std::optional<PublishCursor> readPublishCursor(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QStringList parts = QString::fromUtf8(file.readLine(200)).trimmed().split(QLatin1Char(' '));
    if (parts.size() != 2) return std::nullopt;
    bool ok = false;
    const int slot = parts[0].toInt(&ok);
    if (!ok || !isRingPointer(slot)) return std::nullopt;
    const auto instant = instantOfIsoText(parts[1]);
    if (!instant) return std::nullopt;
    return PublishCursor{slot, *instant};
}

namespace {

// One line, overwritten in place and flushed to the disk. Blanks pad it to a fixed width, so
// the file keeps its size, its inode and its block: the write costs a fifth of a new file
// renamed over the old one (which the cursors were written as before). The line lies within
// the file's first sector, which a disk writes whole, so a crash or a power cut leaves the old
// line or the new one.
bool writeLine(const QString& path, const QString& text, int width, QString* error) {
    const QByteArray line = text.toUtf8().leftJustified(width - 1, ' ') + '\n';
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    const bool existed = ::stat(name.constData(), &before) == 0;
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && ::pwrite(fd, line.constData(), size_t(line.size()), 0) == line.size() &&
              (!existed || before.st_size <= line.size() || ::ftruncate(fd, line.size()) == 0) &&
              ::fdatasync(fd) == 0;
    const int failure = errno;
    if (fd >= 0) ::close(fd);
    if (ok && !existed) {
        // A new file: its name, too, must survive a power cut.
        const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    if (!ok)
        *error = QStringLiteral("无法写入 %1: %2")
                     .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(failure)));
    return ok;
}

} // namespace

bool writePublishCursor(const QString& path, const PublishCursor& cursor, QString* error) {
    return writeLine(path, QString::number(cursor.slot) + QLatin1Char(' ') + isoTextOfInstant(cursor.instant),
                     48, error);
}

QString eventCursorPathFor(const QString& journalPath) {
    return journalPath + QStringLiteral(".mqtt-cursor");
}

std::optional<int64_t> readEventCursor(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    bool ok = false;
    const qint64 id = QString::fromUtf8(file.readLine(100)).trimmed().toLongLong(&ok);
    if (!ok || id < 0) return std::nullopt;
    return id;
}

bool writeEventCursor(const QString& path, int64_t id, QString* error) {
    return writeLine(path, QString::number(id), 24, error);
}

} // namespace hx
