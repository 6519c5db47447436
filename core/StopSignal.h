#pragma once
// SIGTERM and SIGINT as a call on the event loop's thread: the program ends as its own exit
// command ends it (a service stopped by systemd saves what it must before it goes). The signal
// handler only writes a byte into a pipe; everything else runs from the loop. One at a time
// in a process; the signals' default actions come back with its end.
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace hx {

class StopSignal {
  public:
    explicit StopSignal(std::function<void()> onStop);
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

  private:
    std::function<void()> onStop_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace hx
