#pragma once
// The quiet status line at the foot of the main window: the port, the instrument's
// answers and the recording, each in a few words, so an operator can tell at a glance
// that the instrument is not answering or nothing is being recorded.
#include "app/PortSession.h"
#include "logging/RecorderLock.h"
#include "publish/Messages.h"

#include <QString>

#include <optional>
#include <utility>

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
QString recordingStatusText(const RecordingHealth& health);

// A part of the status line as shown, with its style (empty, notice or alert).
struct StatusPart {
    QString text;
    QString style;
};
struct StatusLineParts {
    StatusPart port, link, recording;
};
// The status line of that moment: the port, the instrument's answers and the operator's writes
// since the last open, the recording (none before the recorder started) and the broker's state
// (empty while publishing is off).
StatusLineParts statusLineOf(const PortReading& port, const std::optional<RecordingHealth>& recording,
                             const std::pair<QString, bool>& broker);
// The port and the instrument as the status line tells them, for the broker: "closed",
// "silent" or "answering"; nothing right after an open, when the instrument is neither
// answering nor silent yet (the broker keeps what it was told before).
std::optional<ProgramState> programStateOf(const PortReading& port);
// The chart's part: the journal's part, why history cannot be read (empty while it can), where
// the last printout went or why it failed.
StatusPart chartStatusOf(const QString& events, const QString& historyError, const QString& printout);

// The text as it fits `width` pixels in that font: the paths in it (a word from "/" or "~/")
// shortened in their middle, the last first, as far as needed; only if that is not enough,
// the end cut off. A text that fits is returned as it is.
QString fitStatusText(const QString& text, const QFontMetrics& metrics, int width);

struct RecorderStatus;
RecordingHealth recordingHealthOf(const RecorderStatus& status);

} // namespace hx
