#include "PublishCursor.h"

#include "core/CursorFile.h"

namespace hx {

QString cursorPathFor(const QString& databasePath) {
    return databasePath + QStringLiteral(".mqtt-cursor");
}

QString eventCursorPathFor(const QString& journalPath) {
    return journalPath + QStringLiteral(".mqtt-cursor");
}

SavedCursor<PublishCursor> readPublishCursor(const QString& path) {
    const CursorLine line = readCursorLine(path);
    if (line.state == CursorLine::State::Missing) return {};
    if (line.state == CursorLine::State::Damaged) return {std::nullopt, true, line.reason};
    const QStringList parts = line.text.split(QLatin1Char(' '));
    bool ok = parts.size() == 2;
    const int slot = ok ? parts[0].toInt(&ok) : 0;
    const auto instant = ok ? instantOfIsoText(parts[1]) : std::nullopt;
    if (!ok || !isRingPointer(slot) || !instant) return {std::nullopt, true, QStringLiteral("not a cursor")};
    return {PublishCursor{slot, *instant}, false, {}};
}

bool writePublishCursor(const QString& path, const PublishCursor& cursor, QString* error) {
    return writeCursorLine(
        path, QString::number(cursor.slot) + QLatin1Char(' ') + isoTextOfInstant(cursor.instant), error);
}

SavedCursor<EventCursor> readPublishedEventCursor(const QString& path) {
    QString error;
    const auto cursor = readEventCursor(path, &error);
    return {cursor, !error.isEmpty(), error};
}

} // namespace hx
