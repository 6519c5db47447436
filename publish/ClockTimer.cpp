#include "ClockTimer.h"

#include "logging/RecordingSchedule.h"

namespace hx {

ClockTimer::ClockTimer(Clock& clock, int seconds, QObject* parent)
    : clock_(clock), seconds_(seconds), timer_(new QTimer(parent)) {
    timer_->setSingleShot(true);
    // A coarse timer may fire a little early, and the clock would then show a second short.
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] { look(); });
}

void ClockTimer::start() {
    started_ = clock_.now();
    active_ = true;
    timer_->start(clock_.realWaitMs(seconds_));
}

void ClockTimer::start(int seconds) {
    seconds_ = seconds;
    start();
}

void ClockTimer::stop() {
    active_ = false;
    timer_->stop();
}

void ClockTimer::look() {
    if (!active_) return;
    const double elapsed = elapsedWholeSeconds(clock_.now(), started_.date, started_.time);
    if (elapsed < seconds_) {
        timer_->start(clock_.realWaitMs(seconds_ - int(elapsed)));
        return;
    }
    active_ = false;
    if (due_) due_();
}

} // namespace hx
