#pragma once
// One opening of the port, from "打开" to the next: the address the operator chose, when the
// port was opened, and the link's and the writes' counters at that moment (the status line and
// the journal count from there). The main window writes it; its status line, the event feed
// and the program state the publisher sends read it, so all three tell the same story.
#include "link/Link.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace hx {

struct WriteLog;

// The instrument is considered silent when no good answer came for this long.
constexpr int64_t kSilentAfterMs = 3000;
// Silent: the port is open and no good answer came for kSilentAfterMs, counted from the open
// (openedAtMs) at the earliest, or the link backs off. The one decision of the whole program.
bool linkLooksSilent(const LinkStats& stats, int64_t nowMs, bool portOpen, int64_t openedAtMs = 0);
// The counters of now less those of base (the last open); the last good answer only when it
// came after base's.
LinkStats statsSince(const LinkStats& now, const LinkStats& base);

// The port and the instrument at one moment, counted from the last open.
struct PortReading {
    int32_t port = 0;
    PortStatus status;
    bool everOpened = false;
    QString addressRefused; // why the last "打开" opened nothing (an address no instrument has)
    LinkStats stats;        // since the last open
    uint64_t failedWrites = 0;
    QString lastWriteFailure;
    int64_t openedAtMs = 0; // wall-clock time of the last open
    int64_t nowMs = 0;

    bool silent() const { return linkLooksSilent(stats, nowMs, status.open, openedAtMs); }
    // Opened, not answered yet, and too early to call silent: neither answering nor silent.
    bool awaitingFirstAnswer() const { return status.open && stats.lastGoodAnswerMs == 0 && !silent(); }
};

class PortSession {
  public:
    // The address as the operator chose it; one the line cannot carry opens nothing (every call
    // would be refused unsent) and the reason stays until the next "打开".
    std::optional<int32_t> acceptAddress(const QString& text);
    // "打开": the values polled before are forgotten (they are not measurements of the
    // instrument now chosen), the port opened, the counters counted from now. Returns what the
    // link returned (kCallFailed without one).
    int32_t open(Link* link, const WriteLog* writes, int32_t port, int32_t baud, int32_t parity);
    // "关闭": nothing is measured any more. True when it closed a port the last "打开" opened.
    bool close(Link* link, int32_t port);

    int32_t port() const { return port_; } // as last opened; 0 before
    bool everOpened() const { return everOpened_; }
    bool isOpen() const { return open_; } // the last "打开" opened the port, no "关闭" since
    // The link and the writes as they stand now on port.
    PortReading read(const Link* link, const WriteLog* writes, int32_t port) const;

  private:
    QString refused_;
    int32_t port_ = 0;
    bool everOpened_ = false;
    bool open_ = false;
    LinkStats statsAtOpen_;
    uint64_t failedWritesAtOpen_ = 0;
    int64_t openedAtMs_ = 0;
};

} // namespace hx
