#pragma once
// The block reads of a window's refresh (configuration, alarm setpoints, factory sheet):
// holding registers read block by block into the window's table, which outlives the window.
// A read that fails leaves its block of the table as it was (link/Link.h), so the window
// shows the last values the instrument sent. A refresh that yields to the window's events
// between its reads does so under one guard: a tick that falls due meanwhile passes, and a
// window unloaded meanwhile stops the refresh at once.
#include "link/Link.h"

#include <QPointer>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace hx {

// into.size() holding registers (8 or 16) from register `first`.
struct RegisterBlock {
    int32_t first = 0;
    std::span<int32_t> into;
};

// Keeps a refresh that yields from running into itself or into its window's unload; a member
// of the window.
class RefreshGuard {
  public:
    explicit RefreshGuard(QWidget& window) : window_(&window) {}

    // Whether a refresh may start now: not while the last one yields, nor once the window
    // unloads. A refresh that started and was not stopped calls finish() at its end.
    bool start();
    void finish() { running_ = false; }
    // The window unloads: a refresh yielding now stops, and none starts again.
    void unload() { unloaded_ = true; }
    bool unloaded() const { return unloaded_; }
    QPointer<QWidget> window() const { return window_; }

  private:
    QPointer<QWidget> window_;
    bool running_ = false;
    bool unloaded_ = false;
};

enum class RefreshEnd {
    AllRead,    // every read got through
    SomeFailed, // a failed read left its block as it was
    Stopped,    // the window went or unloaded during a yield
};

// Reads the blocks in turn from the instrument Com_Param names (its port and slave address
// taken at every read), each with the call of its size, and calls afterRead(i, rc) after
// read i. With a guard, the window's events are processed between two reads; when the window
// went or unloaded meanwhile, the refresh stops at once (Stopped) and nothing of the window
// may be touched again.
RefreshEnd readBlocks(Link& link, std::span<const RegisterBlock> blocks,
                      const std::function<void(size_t, int32_t)>& afterRead = {},
                      RefreshGuard* yieldGuard = nullptr);

} // namespace hx
