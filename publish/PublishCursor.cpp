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

bool writePublishCursor(const QString& path, const PublishCursor& cursor, QString* error) {
    QSaveFile file(path);
    const QByteArray line = (QString::number(cursor.slot) + QLatin1Char(' ') +
                             isoTextOfInstant(cursor.instant) + QLatin1Char('\n'))
                                .toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(line) != line.size() || !file.commit()) {
        *error = QStringLiteral("无法写入 %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace hx
