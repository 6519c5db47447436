#pragma once
// A wait of whole seconds measured on the program's clock: the publisher's retries, back-off,
// cursor writes and late reads follow it, so a test moves a clock by hand instead of sleeping.
// A real timer wakes the thread to look at the clock: with the system clock once, at the end of
// the wait; with a clock moved by hand, often enough to see it move (Clock::realWaitMs). A clock
// set back or forward ends the wait at the next look (the distance counts, not its direction).
#include <QTimer>

#include <functional>
#include <utility>

#include "core/Clock.h"

namespace hx {

class ClockTimer {
  public:
    // parent owns the real timer (it moves with it to another thread).
    ClockTimer(Clock& clock, int seconds, QObject* parent);
    ClockTimer(const ClockTimer&) = delete;
    ClockTimer& operator=(const ClockTimer&) = delete;

    // What runs when the wait is over, on the parent's thread.
    void onDue(std::function<void()> due) { due_ = std::move(due); }
    void start();            // from now, again when running
    void start(int seconds); // likewise, with a new length
    void stop();
    bool isActive() const { return active_; }

  private:
    void look();

    Clock& clock_;
    int seconds_;
    std::function<void()> due_;
    QTimer* timer_;
    ClockReading started_{};
    bool active_ = false;
};

} // namespace hx
