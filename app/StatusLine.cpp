#include "StatusLine.h"

#include "app/MainWindowLayout.h"
#include "core/Clock.h"
#include "logging/mscom.h"
#include "ui/FailureText.h"
#include "ui/OperatorField.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace hx {

QString portStatusText(int32_t port, const PortStatus& status, bool everOpened) {
    const QString name = QStringLiteral("端口%1").arg(port);
    const QString device = QString::fromStdString(status.device);
    if (status.open) return name + QStringLiteral(" 已打开 ") + device;
    if (everOpened && !status.error.empty()) {
        // The operator reads the cause in Chinese; the system's own message stays in status.error.
        // The cause before the device, whose path the line may shorten.
        const QString cause = QString::fromStdString(openErrorText(status));
        return name + QStringLiteral(" 无法打开") +
               (cause.isEmpty() ? QString() : QStringLiteral(": ") + cause) + QStringLiteral("  ") + device;
    }
    return name + QStringLiteral(" 已关闭");
}

QString linkStatusText(const LinkStats& stats, int64_t nowMs) {
    QString text = QStringLiteral("仪表: ");
    if (stats.lastGoodAnswerMs == 0) {
        text += QStringLiteral("尚无应答");
    } else {
        const QDateTime last = QDateTime::fromMSecsSinceEpoch(stats.lastGoodAnswerMs);
        text += QStringLiteral("最后应答 ") + last.toString(QStringLiteral("HH:mm:ss"));
        const int64_t ago = (nowMs - stats.lastGoodAnswerMs) / 1000;
        if (ago >= kSilentAfterMs / 1000) text += QStringLiteral(" (%1 秒前)").arg(ago);
    }
    text += QStringLiteral("  失败: 超时 %1, 校验错 %2, 异常 %3, 拒绝 %4, 设备错 %5")
                .arg(stats.timeouts)
                .arg(stats.framingErrors)
                .arg(stats.exceptions)
                .arg(stats.refused)
                .arg(stats.ioErrors);
    if (stats.connectionError != 0)
        text +=
            QStringLiteral("  网关: ") + QString::fromStdString(connectionErrorText(stats.connectionError));
    if (stats.backingOff) text += QStringLiteral("  无应答, 每秒探测一次");
    return text;
}

namespace {
// The live chart goes on drawing the measurements; the operator must know they are not kept.
const QString kNotStored = QStringLiteral("  (测量值未存储)");
} // namespace

QString recordingStatusText(const RecordingHealth& health) {
    if (health.claim == RecorderClaim::OtherProgram) {
        QString text = QStringLiteral("记录: 另一个程序正在记录到 ") + health.path;
        if (health.otherPid > 0 || !health.otherHost.isEmpty()) {
            QStringList who;
            if (health.otherPid > 0) who << QStringLiteral("进程 %1").arg(health.otherPid);
            if (!health.otherHost.isEmpty()) who << QStringLiteral("主机 ") + health.otherHost;
            text += QStringLiteral(" (") + who.join(QStringLiteral(", ")) + QLatin1Char(')');
        }
        return text + QStringLiteral(", 本程序不记录");
    }
    if (health.claim == RecorderClaim::NoLockFile)
        return QStringLiteral("记录: 不记录, 无法创建锁文件 ") + RecorderLock::lockPathOf(health.path);
    if (!health.available) {
        QString text = QStringLiteral("记录: 数据库不可用");
        if (!health.error.isEmpty()) text += QStringLiteral(": ") + health.error;
        return text + kNotStored + QStringLiteral("  ") + health.path;
    }
    // Only measurements are recorded: without fresh values from the instrument nothing is.
    QString text = health.lastRecordFailed
                       ? QStringLiteral("记录: 写入失败: ") + health.error + QStringLiteral("  ")
                   : health.waitingForValues ? QStringLiteral("记录暂停 (仪表无新数据) ")
                                             : QStringLiteral("记录到 ");
    text += health.path;
    if (health.hasLastRecord) {
        const QDate date = dateOfDayNumber(health.lastDate);
        const int seconds = secondsOfDayFraction(health.lastTime);
        const QTime time = QTime(0, 0).addSecs(seconds);
        text += QStringLiteral("  最后记录 ") + date.toString(QStringLiteral("yyyy/MM/dd")) +
                QLatin1Char(' ') + time.toString(QStringLiteral("HH:mm:ss")) +
                QStringLiteral(" (槽 %1)").arg(health.lastSlot);
    }
    if (health.lastRecordFailed) text += kNotStored;
    return text;
}

QString fitStatusText(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    // A path starts a word (after a blank or an opening parenthesis) and runs to the next
    // blank; a colon, comma or parenthesis that ends the word is the sentence's, not the path's.
    static const QRegularExpression path(QStringLiteral(R"((?<![^\s(])~?/[^\s]*[^\s:,()])"));
    QList<QRegularExpressionMatch> paths;
    for (auto it = path.globalMatch(text); it.hasNext();)
        paths << it.next();
    QString shown = text;
    const int shortest = 3 * metrics.horizontalAdvance(QChar(0x2026));
    // From the last path back, so the places of the earlier ones stay as they were.
    for (auto m = paths.crbegin(); m != paths.crend(); ++m) {
        const int excess = metrics.horizontalAdvance(shown) - width;
        if (excess <= 0) break;
        const int pathWidth = metrics.horizontalAdvance(m->captured());
        const QString shorter =
            metrics.elidedText(m->captured(), Qt::ElideMiddle, std::max(shortest, pathWidth - excess));
        shown.replace(m->capturedStart(), m->capturedLength(), shorter);
    }
    return metrics.elidedText(shown, Qt::ElideRight, width);
}

StatusLineParts statusLineOf(const PortReading& port, const std::optional<RecordingHealth>& recording,
                             const std::pair<QString, bool>& broker) {
    StatusLineParts line;
    const bool refused = !port.addressRefused.isEmpty();
    line.port.text = refused ? port.addressRefused : portStatusText(port.port, port.status, port.everOpened);
    const bool portFailed = refused || (port.everOpened && !port.status.open && !port.status.error.empty());
    line.port.style = portFailed ? kAlertStyle : QString();
    // A failed write is told in its own part and does not make the instrument look silent
    // while it answers.
    line.link.text = linkStatusText(port.stats, port.nowMs);
    if (port.failedWrites > 0)
        line.link.text +=
            QStringLiteral("  写入失败 %1 次 (最近: %2)").arg(port.failedWrites).arg(port.lastWriteFailure);
    line.link.style = port.silent() ? kAlertStyle : QString();
    if (!recording) {
        line.recording.text = QStringLiteral("记录: 尚未启动");
        return line;
    }
    // What is wrong comes first: the broker's trouble before a recording that is fine.
    const auto& [brokerText, brokerFine] = broker;
    QStringList parts{recordingStatusText(*recording)};
    if (!brokerText.isEmpty()) {
        if (!brokerFine && recording->healthy())
            parts.prepend(brokerText);
        else
            parts.append(brokerText);
    }
    line.recording.text = parts.join(QStringLiteral("  "));
    line.recording.style = recording->healthy() && brokerFine ? QString()
                           : recording->recordingElsewhere()  ? kNoticeStyle
                                                              : kAlertStyle;
    return line;
}

std::optional<ProgramState> programStateOf(const PortReading& port) {
    if (port.awaitingFirstAnswer()) return std::nullopt;
    ProgramState state;
    state.portOpen = port.status.open;
    state.port = portStatusText(port.port, port.status, port.everOpened);
    state.instrument = !port.status.open ? QStringLiteral("closed")
                       : port.silent()   ? QStringLiteral("silent")
                                         : QStringLiteral("answering");
    return state;
}

StatusPart chartStatusOf(const QString& events, const QString& historyError, const QString& printout) {
    QStringList parts;
    if (!events.isEmpty()) parts << events;
    if (!historyError.isEmpty()) parts << QStringLiteral("历史: 无法读取: ") + historyError;
    if (!printout.isEmpty()) parts << printout;
    const bool alert = !events.isEmpty() || !historyError.isEmpty();
    return {parts.join(QStringLiteral("  ")), alert ? kAlertStyle : QString()};
}

} // namespace hx

namespace hx {

RecordingHealth recordingHealthOf(const RecorderStatus& status) {
    RecordingHealth health;
    health.path = status.databasePath;
    health.available = status.databaseAvailable;
    health.error = status.lastError;
    health.hasLastRecord = status.lastRecordAt.has_value();
    if (status.lastRecordAt) {
        health.lastDate = status.lastRecordAt->date;
        health.lastTime = status.lastRecordAt->time;
    }
    health.lastSlot = status.lastRecordSlot;
    health.lastRecordFailed = status.lastRecordFailed;
    health.waitingForValues = status.waitingForValues;
    health.claim = status.claim;
    health.otherPid = status.otherRecorderPid;
    health.otherHost = status.otherRecorderHost;
    return health;
}

} // namespace hx
