#include "logging/RecordingSchedule.h"

#include <cmath>

#include "core/Rounding.h"

namespace hx {

double elapsedWholeSeconds(const ClockReading& now, double lastDate, double lastTime) {
    // The order of the operations is part of the rule: the day fraction is multiplied by 24,
    // then 60, then 60, so a second boundary rounds the same way every time.
    double elapsed = (now.date - lastDate) + (now.time - lastTime);
    elapsed = elapsed * 24;
    elapsed = elapsed * 60;
    elapsed = elapsed * 60;
    return std::fabs(roundHalfEven(elapsed));
}

} // namespace hx
