#include "Messages.h"

#include "core/Clock.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdlib>

namespace hx {

namespace {

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QString isoTextWithOffset(const QDateTime& localTime) {
    const int offset = localTime.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return localTime.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

QString isoTextOfRecord(const StoredRecord& record) {
    const QDate date = dateOfDayNumber(record.date);
    const QTime time = QTime(0, 0).addSecs(secondsOfDayFraction(record.time));
    return isoTextWithOffset(QDateTime(date, time));
}

QByteArray recordMessage(const StoredRecord& record) {
    QJsonObject object{{QStringLiteral("slot"), record.id},
                       {QStringLiteral("time"), isoTextOfRecord(record)}};
    static const char* const names[] = {"ch1", "ch2", "ch3", "ch4", "ch5", "ch6", "ch7", "ch8", "da1", "da2"};
    for (size_t i = 0; i < record.values.size(); ++i) {
        const float v = record.values[i];
        object.insert(QLatin1String(names[i]), std::isfinite(v) ? QJsonValue(double(v)) : QJsonValue());
    }
    return compact(object);
}

QString alarmStateName(int index) {
    if (index >= 0 && index < 24) {
        static const char* const kinds[] = {"open-circuit", "short-circuit", "setpoint-alarm"};
        return QStringLiteral("ch%1-%2").arg(index % 8 + 1).arg(QLatin1String(kinds[index / 8]));
    }
    if (index == 24 || index == 25) return QStringLiteral("do%1").arg(index - 23);
    return {};
}

QByteArray alarmMessage(int index, bool on, const QDateTime& at) {
    return compact({{QStringLiteral("state"), alarmStateName(index)},
                    {QStringLiteral("on"), on},
                    {QStringLiteral("time"), isoTextWithOffset(at)}});
}

QByteArray onlineMessage(const ProgramState& state, const QDateTime& at) {
    QJsonObject object{
        {QStringLiteral("state"), QStringLiteral("online")},
        {QStringLiteral("time"), isoTextWithOffset(at)},
        {QStringLiteral("port"),
         QJsonObject{{QStringLiteral("open"), state.portOpen}, {QStringLiteral("text"), state.port}}},
        {QStringLiteral("instrument"), state.instrument},
    };
    return compact(object);
}

QByteArray offlineMessage() {
    return compact({{QStringLiteral("state"), QStringLiteral("offline")}});
}

QByteArray eventMessage(int64_t id, const QDateTime& at, const QString& kind, const QString& text) {
    return compact({{QStringLiteral("id"), qint64(id)},
                    {QStringLiteral("time"), isoTextWithOffset(at.toLocalTime())},
                    {QStringLiteral("kind"), kind},
                    {QStringLiteral("text"), text}});
}

} // namespace hx
