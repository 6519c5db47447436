#include "core/FreshValues.h"

#include <chrono>

namespace hx {

void FreshValues::noteMeasured(int first, int count, int64_t atMs) {
    for (int i = first; i < first + count; ++i) {
        if (i < 0 || i >= kValues) continue;
        measuredAtMs_[i] = atMs;
        everMeasured_[i] = true;
        readOnce_[i] = true;
        sinceTaken_.set(i);
    }
}

void FreshValues::forget() {
    measuredAtMs_ = {};
    everMeasured_ = {};
    sinceTaken_.reset();
}

bool FreshValues::stale(int index, int64_t nowMs) const {
    if (index < 0 || index >= kValues || !everMeasured_[index]) return true;
    return nowMs - measuredAtMs_[index] > kStaleAfterMs;
}

int64_t FreshValues::steadyNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

FreshValues& freshValues() {
    static FreshValues values;
    return values;
}

} // namespace hx
