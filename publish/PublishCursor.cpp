#include "PublishCursor.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

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

// One line, replaced in one rename.
bool writeLine(const QString& path, const QString& text, QString* error) {
    QSaveFile file(path);
    const QByteArray line = (text + QLatin1Char('\n')).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(line) != line.size() || !file.commit()) {
        *error = QStringLiteral("无法写入 %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace

bool writePublishCursor(const QString& path, const PublishCursor& cursor, QString* error) {
    return writeLine(path, QString::number(cursor.slot) + QLatin1Char(' ') + isoTextOfInstant(cursor.instant),
                     error);
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
    return writeLine(path, QString::number(id), error);
}

} // namespace hx
