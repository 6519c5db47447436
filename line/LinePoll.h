#pragma once
// The line's one owner at work: the link on a thread of its own (its calls block for as long
// as the line's timeouts say, never the event loop), the instruments' poll cycles one after the
// other as LineSchedule gives the turns, each cycle's answers handed to the event loop's
// thread, and between two cycles the requests clients sent through the service.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "line/LineSchedule.h"

namespace hx {
class Link;
}

namespace hx::line {

// What one poll cycle of one instrument brought: the window's cycle (input registers 1..8 and
// 9..16, discrete inputs 1..16 and 17..32). A block whose read failed is marked so; its
// elements are not this cycle's.
struct CycleAnswers {
    int address = 0;
    std::array<int32_t, 16> values{};
    std::array<bool, 2> valueBlocks{};
    std::array<int32_t, 4> discrete{}; // 8 inputs per element, first input in bit 0
    std::array<bool, 2> discreteBlocks{};
    bool answered = false; // at least one good answer
    int64_t atMs = 0;      // monotonic milliseconds at the end of the cycle
};

// One cycle of `address` on `port`. It stops at the first request that got no answer at all
// (a silent instrument costs one timeout, not four).
CycleAnswers pollCycle(Link& link, int32_t port, int address);

class LinePoll {
  public:
    // deliver is called on the poll's thread after every cycle; it must hand over and return.
    LinePoll(Link& link, int32_t port, std::vector<int> addresses,
             std::function<void(const CycleAnswers&)> deliver);
    // Stops the thread (after the cycle on the wire, if any).
    ~LinePoll();
    LinePoll(const LinePoll&) = delete;
    LinePoll& operator=(const LinePoll&) = delete;

    void start();
    void stop();

    // A client's request: `job` runs on the poll's thread between two cycles, with the link to
    // itself, and hands its outcome over. Every waiting write goes before the next cycle (an
    // operator's write does not wait for the schedule); reads take at most kReadsBetweenCycles
    // turns between two cycles, so clients never starve the recording. Jobs still waiting at
    // stop() are dropped.
    void submit(std::function<void()> job, bool write);
    static constexpr int kReadsBetweenCycles = 4;

  private:
    void run();
    void runClientJobs();

    Link& link_;
    int32_t port_;
    LineSchedule schedule_;
    std::function<void(const CycleAnswers&)> deliver_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> writes_;
    std::deque<std::function<void()>> reads_;
    std::thread thread_;
};

} // namespace hx::line
