#pragma once
// The quiet status line at the foot of the main window: the port, the instrument's
// answers and the recording, each in a few words, so an operator can tell at a glance
// that the instrument is not answering or nothing is being recorded.
#include "link/Link.h"
#include "logging/RecorderLock.h"

#include <QString>

class QFontMetrics;

namespace hx {

struct RecordingHealth {
    QString path;
    bool available = false;
    QString error; // why the database is unavailable
    bool hasLastRecord = false;
    double lastDate = 0; // day number of the last committed record
    double lastTime = 0; // its time of day
    int32_t lastSlot = 0;
    bool lastRecordFailed = false; // the newest record due did not reach the database (error says why)
    bool waitingForValues = false; // nothing recorded: no fresh values from the instrument
    RecorderClaim claim{};         // whether this program may record there (None until tried)
    qint64 otherPid = 0;           // the program recording there instead
    QString otherHost;             // its host, when not this one
    // Fine when the database is there and the newest record reached it.
    bool healthy() const { return available && !lastRecordFailed; }
    // Not recording because another program records into the database: not a fault of this
    // program, but the operator must see that this copy stores nothing.
    bool recordingElsewhere() const { return claim == RecorderClaim::OtherProgram; }
};

// "端口1 已关闭" / "端口1 已打开 /dev/ttyUSB0" / "端口1 无法打开: 设备不存在  /dev/ttyS0"
QString portStatusText(int32_t port, const PortStatus& status, bool everOpened);
// Time of the last good answer, failed transactions by kind, back-off.
QString linkStatusText(const LinkStats& stats, int64_t nowMs);
// The instrument is considered silent when no good answer came for this long.
constexpr int64_t kSilentAfterMs = 3000;
// Silent: the port is open and no good answer came for kSilentAfterMs, counted from the open
// (openedAtMs) at the earliest, or the link backs off.
bool linkLooksSilent(const LinkStats& stats, int64_t nowMs, bool portOpen, int64_t openedAtMs = 0);
QString recordingStatusText(const RecordingHealth& health);
// The operator's writes that did not reach the instrument (failed of them since the last
// open); empty while there are none.
struct WriteLog;
QString writeStatusText(const WriteLog& writes, uint64_t failed);
// The counters of now less those of base (the last open); the last good answer only when it
// came after base's.
LinkStats statsSince(const LinkStats& now, const LinkStats& base);

// The text as it fits `width` pixels in that font: the paths in it (a word from "/" or "~/")
// shortened in their middle, the last first, as far as needed; only if that is not enough,
// the end cut off. A text that fits is returned as it is.
QString fitStatusText(const QString& text, const QFontMetrics& metrics, int width);

struct RecorderStatus;
RecordingHealth recordingHealthOf(const RecorderStatus& status);

} // namespace hx
