#include "trend/TrendText.h"

#include "core/Clock.h"

namespace hx {

QString timeOfDayText(double dayFraction) {
    constexpr int kSecondsPerDay = 86400;
    const int seconds =
        ((secondsOfDayFraction(dayFraction) % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
    return QString::asprintf("%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

QString dateText(double dayNumber) {
    const QDate date = dateOfDayNumber(dayNumber);
    if (!date.isValid()) return {};
    return QString::asprintf("%04d/%02d/%02d", date.year(), date.month(), date.day());
}

QString slotTimeText(const TrendState& state, int slot) {
    if (isEmptyInstant(state.Trend_Date[slot], state.Trend_Time[slot])) return {};
    return timeOfDayText(state.Trend_Time[slot]);
}

QString slotDateText(const TrendState& state, int slot) {
    if (isEmptyInstant(state.Trend_Date[slot], state.Trend_Time[slot])) return {};
    return dateText(state.Trend_Date[slot]);
}

QString clockDateText(double dayNumber) {
    const QDate date = dateOfDayNumber(dayNumber);
    if (!date.isValid()) return {};
    return QString::asprintf("%02d-%02d-%04d", date.month(), date.day(), date.year());
}

QString clockTimeText(double dayFraction) {
    return timeOfDayText(dayFraction);
}

} // namespace hx
