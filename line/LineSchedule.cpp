#include "line/LineSchedule.h"

#include <algorithm>
#include <limits>

namespace hx::line {

LineSchedule::LineSchedule(std::vector<int> addresses) {
    for (const int address : addresses)
        slots_.push_back(Slot{address});
}

bool LineSchedule::mayProbe(const Slot& slot, int64_t nowMs) const {
    if (nowMs - slot.lastTurnMs < kProbeIntervalMs) return false;
    const bool someAnswer =
        std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.silent; });
    return lastTurnAnswered_ || !someAnswer;
}

std::optional<int> LineSchedule::next(int64_t nowMs) {
    for (size_t n = 0; n < slots_.size(); ++n) {
        const size_t i = (cursor_ + n) % slots_.size();
        if (slots_[i].silent && !mayProbe(slots_[i], nowMs)) continue;
        cursor_ = (i + 1) % slots_.size();
        return slots_[i].address;
    }
    return std::nullopt;
}

void LineSchedule::noteTurn(int address, bool answered, int64_t nowMs) {
    lastTurnAnswered_ = answered;
    for (Slot& slot : slots_) {
        if (slot.address != address) continue;
        slot.silent = !answered;
        slot.lastTurnMs = nowMs;
    }
}

int64_t LineSchedule::nextProbeDueMs() const {
    int64_t due = std::numeric_limits<int64_t>::max();
    for (const Slot& slot : slots_)
        if (slot.silent) due = std::min(due, slot.lastTurnMs + kProbeIntervalMs);
    return due;
}

} // namespace hx::line
