#pragma once
// Dates and times as the program keeps them: day-number doubles, whole days in the
// integer part (day 0 is 1899-12-30), the time of day as a fraction of 24 hours.
// The clock is a seam: production reads the system clock to the second, tests drive a
// fake one.
#include <QDate>
#include <QDateTime>
#include <QTime>

namespace hx {

struct ClockReading {
    double date = 0; // whole day number
    double time = 0; // fraction of a day, whole seconds
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual ClockReading now() const = 0;
    // How long a timer that waits for `seconds` of this clock sleeps, in real milliseconds,
    // before it looks at the clock again: the whole wait for a clock that follows real time. A
    // clock that a test moves by hand answers with a short look-again instead.
    virtual int realWaitMs(int seconds) const { return seconds * 1000; }
};

// Local wall-clock time, to the second.
class SystemClock final : public Clock {
  public:
    ClockReading now() const override;
};

// The clock the windows use unless a test installs another one (never null).
Clock& appClock();
// Installs a clock for the whole program (tests); nullptr restores the system clock.
void setAppClock(Clock* clock);

double dayNumberOf(const QDate& date);
double dayFractionOf(const QTime& time);
ClockReading readingOf(const QDateTime& dateTime);
// The calendar date of a day number (its whole part); invalid for NaN or far outside.
QDate dateOfDayNumber(double dayNumber);
// Whole seconds since midnight of a day fraction, rounded to the nearest second.
int secondsOfDayFraction(double fraction);

} // namespace hx
