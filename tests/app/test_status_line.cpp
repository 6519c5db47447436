// The status line assembled from one reading of the port, the recorder and the broker, without
// a window: what each part says, which part turns red, and what the broker is told about the
// instrument (the same silent decision as the status line's).
#include "app/MainWindowLayout.h"
#include "app/StatusLine.h"

#include <QtTest>

using namespace hx;

namespace {

constexpr int64_t kNow = 1'800'000'000'000;

// Port `port` as "打开" left it (everOpened) with that status.
PortReading reading(int32_t port, bool everOpened, PortStatus status = {}) {
    PortReading r;
    r.port = port;
    r.everOpened = everOpened;
    r.status = status;
    return r;
}

// Port 1 opened openedAgo ms before now, its last good answer answeredAgo ms before now (-1: none).
PortReading opened(int64_t openedAgo, int64_t answeredAgo = -1) {
    PortReading r = reading(1, true, {true, "/dev/ttyUSB0", {}});
    r.openedAtMs = kNow - openedAgo;
    r.stats.lastGoodAnswerMs = answeredAgo < 0 ? 0 : kNow - answeredAgo;
    r.nowMs = kNow;
    return r;
}

RecordingHealth recording(bool available, RecorderClaim claim = RecorderClaim::Held) {
    RecordingHealth health;
    health.path = "/data/Rdatabj.db";
    health.available = available;
    health.claim = claim;
    return health;
}

} // namespace

class StatusLineTest : public QObject {
    Q_OBJECT
  private slots:
    void eachPartSaysWhatIsWrong() {
        const QString alert = kAlertStyle;
        const PortReading never = reading(3, false);
        PortReading refused = never;
        refused.addressRefused = "模块地址 \"0\" 无效";
        const PortReading failed = reading(2, true, {false, "/dev/ttyS1", "No such device"});
        PortReading backingOff = opened(500);
        backingOff.stats.backingOff = true;
        PortReading writeFailed = opened(60000, 500);
        writeFailed.failedWrites = 2;
        writeFailed.lastWriteFailure = "寄存器 4123: 超时";
        const std::pair<QString, bool> brokerDown{"MQTT: 连接中断", false};
        const struct {
            const char* name;
            PortReading port;
            std::optional<RecordingHealth> health;
            std::pair<QString, bool> broker;
            QString portText, portStyle, linkPart, linkStyle, instrument, recordingStart, recordingStyle;
        } rows[] = {
            // clang-format off
            // name, port, recording, broker: what the port part starts with and its style, a part of the
            // link part and its style, the instrument told to the broker ("": nothing told yet), what
            // the recording part starts with and its style
            {"never opened", never, {}, {}, "端口3 已关闭", "", "尚无应答", "", "closed", "记录: 尚未启动", ""},
            {"address refused", refused, {}, {}, refused.addressRefused, alert, "", "", "closed", "", ""},
            {"open failed", failed, {}, {}, "端口2 无法打开", alert, "", "", "closed", "", ""},
            {"no answer yet", opened(1000), {}, {}, "端口1 已打开 /dev/ttyUSB0", "", "", "", "", "", ""},
            {"no answer for 3 s", opened(3000), {}, {}, "", "", "", "", "", "", ""},
            {"no answer for longer", opened(3001), {}, {}, "", "", "", alert, "silent", "", ""},
            {"answered, then silent", opened(9000, 3001), {}, {}, "", "", "(3 秒前)", alert, "silent", "", ""},
            {"answering", opened(9000, 1000), {}, {}, "", "", "最后应答", "", "answering", "", ""},
            {"backing off", backingOff, {}, {}, "", "", "每秒探测一次", alert, "silent", "", ""},
            {"a write failed", writeFailed, {}, {}, "", "", "写入失败 2 次 (最近: 寄存器 4123: 超时)", "", "answering", "", ""},
            {"broker down, recording fine", opened(9000, 500), recording(true), brokerDown, "", "", "", "", "answering", "MQTT: 连接中断  记录到", alert},
            {"broker down, database gone", opened(9000, 500), recording(false), brokerDown, "", "", "", "", "answering", "记录: 数据库不可用", alert},
            {"another program records", opened(9000, 500), recording(true, RecorderClaim::OtherProgram), {}, "", "", "", "", "answering", "记录: 另一个程序正在记录到", kNoticeStyle},
            // clang-format on
        };
        for (const auto& row : rows) {
            const StatusLineParts line = statusLineOf(row.port, row.health, row.broker);
            const QString got = QStringLiteral("%1: [%2] [%3] [%4]")
                                    .arg(row.name, line.port.text, line.link.text, line.recording.text);
            QVERIFY2(line.port.text.startsWith(row.portText) && line.port.style == row.portStyle,
                     qPrintable(got));
            QVERIFY2(line.link.text.contains(row.linkPart) && line.link.style == row.linkStyle,
                     qPrintable(got));
            QVERIFY2(line.recording.text.startsWith(row.recordingStart) &&
                         line.recording.style == row.recordingStyle,
                     qPrintable(got));
            const std::optional<ProgramState> state = programStateOf(row.port);
            QVERIFY2(state ? state->instrument == row.instrument &&
                                 state->port ==
                                     portStatusText(row.port.port, row.port.status, row.port.everOpened)
                           : row.instrument.isEmpty(),
                     qPrintable(got));
        }
    }
};

QTEST_GUILESS_MAIN(StatusLineTest)
#include "test_status_line.moc"
