#include "Clock.h"

#include <cmath>

namespace hx {

namespace {
const QDate kDayZero(1899, 12, 30);
Clock* installedClock = nullptr;
} // namespace

ClockReading SystemClock::now() const {
    return readingOf(QDateTime::currentDateTime());
}

Clock& appClock() {
    static SystemClock systemClock;
    return installedClock ? *installedClock : systemClock;
}

void setAppClock(Clock* clock) {
    installedClock = clock;
}

double dayNumberOf(const QDate& date) {
    return double(kDayZero.daysTo(date));
}

double dayFractionOf(const QTime& time) {
    const int seconds = time.hour() * 3600 + time.minute() * 60 + time.second();
    return seconds / 86400.0;
}

ClockReading readingOf(const QDateTime& dateTime) {
    return ClockReading{dayNumberOf(dateTime.date()), dayFractionOf(dateTime.time())};
}

QDate dateOfDayNumber(double dayNumber) {
    if (!std::isfinite(dayNumber) || std::fabs(dayNumber) > 3.0e6) return {};
    return kDayZero.addDays(static_cast<qint64>(std::floor(dayNumber)));
}

int secondsOfDayFraction(double fraction) {
    if (!std::isfinite(fraction)) return 0;
    return static_cast<int>(std::lround(fraction * 86400.0));
}

} // namespace hx
