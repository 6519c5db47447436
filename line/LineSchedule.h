#pragma once
// Whose poll cycle goes on the wire next. The wire sets the pace, not a timer per instrument:
// the instruments take their turns one after the other, round robin. An instrument that did
// not answer its last turn is probed at most once a second, so it never takes wire time from
// the others; and never right after another turn that went unanswered while some instrument
// answers (two timeouts in a row would hold the wire for both).
#include <cstdint>
#include <optional>
#include <vector>

namespace hx::line {

class LineSchedule {
  public:
    static constexpr int64_t kProbeIntervalMs = 1000;

    explicit LineSchedule(std::vector<int> addresses);

    // The address whose cycle goes out at nowMs (monotonic milliseconds); nullopt when every
    // instrument is silent and was probed within the interval.
    std::optional<int> next(int64_t nowMs);
    // How the turn of `address` ended.
    void noteTurn(int address, bool answered, int64_t nowMs);
    // When next() gives a turn again, when it gave none.
    int64_t nextProbeDueMs() const;

  private:
    struct Slot {
        int address = 0;
        bool silent = false; // its last turn went unanswered
        int64_t lastTurnMs = 0;
    };
    bool mayProbe(const Slot& slot, int64_t nowMs) const;

    std::vector<Slot> slots_;
    size_t cursor_ = 0;
    bool lastTurnAnswered_ = true;
};

} // namespace hx::line
