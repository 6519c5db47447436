#pragma once
// The one-second recording rule: a record is due when at least one whole second lies between
// the clock and the last record, in either direction (a clock set back is due at once).
#include "core/Clock.h"

namespace hx {

// Whole seconds between the instant lastDate + lastTime and now, never negative:
// ((date - lastDate) + (time - lastTime)) x 24 x 60 x 60, rounded half to even.
double elapsedWholeSeconds(const ClockReading& now, double lastDate, double lastTime);

// A record is due from one whole second on.
inline bool recordDue(double elapsedSeconds) {
    return elapsedSeconds >= 1;
}

} // namespace hx
