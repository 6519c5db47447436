#include "EventFeed.h"

#include "app/StatusLine.h"
#include "app/StatusTable.h"
#include "core/SharedState.h"
#include "instrument/AlarmRows.h"
#include "instrument/ParameterMap.h"
#include "link/Link.h"
#include "logging/mscom.h"
#include "ui/FailureText.h"
#include "ui/OperatorField.h"

#include <QDir>

namespace hx {

JournalEvent writeEvent(const OperatorWrite& write) {
    JournalEvent e;
    e.kind = write.failedWrites == 0 ? EventKind::WriteConfirmed : EventKind::WriteFailed;
    if (!write.command.isEmpty()) {
        e.subject = QStringLiteral("出厂记录");
        e.text = QStringLiteral("出厂记录 %1: %2 次写入").arg(write.command).arg(write.writes);
        if (write.failedWrites)
            e.text += QStringLiteral(", 失败 %1 次 (最近: %2)")
                          .arg(write.failedWrites)
                          .arg(writeFailureText(*write.failure));
        else
            e.text += QStringLiteral(", 全部确认");
        return e;
    }
    e.subject = QString::number(write.reg);
    QString window;
    QString name;
    if (write.reg >= kFirstAlarmRegister && write.reg < kFirstAlarmRegister + kAlarmRowCount) {
        window = QStringLiteral("报警设定");
        name = QString::fromUtf8(kAlarmRows[size_t(write.reg - kFirstAlarmRegister)].caption);
    } else if (const config::Parameter* p = config::parameterOfRegister(write.reg)) {
        window = QStringLiteral("配置");
        name = p->label.empty() ? QStringLiteral("参数%1").arg(p->k)
                                : QString::fromUtf8(p->label.data(), qsizetype(p->label.size())).simplified();
    }
    e.text = QStringLiteral("%1 寄存器 %2 %3 = %4")
                 .arg(window)
                 .arg(write.reg)
                 .arg(name)
                 .arg(write.value)
                 .simplified() +
             QStringLiteral(": ");
    e.text +=
        write.failure ? QStringLiteral("失败 ") + writeReasonText(*write.failure) : QStringLiteral("已确认");
    return e;
}

EventFeed::EventFeed(EventJournal& journal, Link* link, const PortSession& session, QObject* parent)
    : QObject(parent), journal_(journal), link_(link), session_(session) {
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, &EventFeed::tick);
    timer.start();
}

void EventFeed::noteStatusRead() {
    StatusStates now{};
    std::copy(Status_Bit, Status_Bit + 26, now.begin());
    std::vector<JournalEvent> events = statusEvents(states_, now);
    states_ = now;
    if (events.empty()) return;
    journal_.record(std::move(events));
    emit alarmsChanged();
}

void EventFeed::notePortAction(bool opening) {
    if (!link_) return;
    const int32_t port = session_.port();
    const PortStatus status = link_->portStatus(port);
    JournalEvent e;
    e.subject = QStringLiteral("端口%1").arg(port);
    e.text = portStatusText(port, status, true);
    e.kind = !opening      ? EventKind::PortClosed
             : status.open ? EventKind::PortOpened
                           : EventKind::PortOpenFailed;
    lost_ = false;
    journal_.record(std::move(e));
}

void EventFeed::noteRecorder(const RecorderStatus& status) {
    noteRecorderClaim(status);
    // Told as another program recording there, not as a database fault.
    if (status.claim == RecorderClaim::OtherProgram) return;
    const bool available = status.databaseAvailable;
    // At start only a database that is not there is news.
    const bool first = !databaseAvailable_;
    if (databaseAvailable_ == available || (first && available)) {
        databaseAvailable_ = available;
        return;
    }
    databaseAvailable_ = available;
    JournalEvent e;
    e.kind = available ? EventKind::DatabaseBack : EventKind::DatabaseUnavailable;
    e.subject = QStringLiteral("记录");
    e.text = available
                 ? QStringLiteral("记录数据库恢复 ") + QDir::toNativeSeparators(status.databasePath)
                 : QStringLiteral("记录数据库不可用 ") + QDir::toNativeSeparators(status.databasePath) +
                       (status.lastError.isEmpty() ? QString() : QStringLiteral(": ") + status.lastError);
    journal_.record(std::move(e));
}

// Another program recording into the database, and this one taking the recording up when
// that program has ended.
void EventFeed::noteRecorderClaim(const RecorderStatus& status) {
    const bool other = status.claim == RecorderClaim::OtherProgram;
    if (other == otherRecorder_ || (!other && status.claim != RecorderClaim::Held)) return;
    otherRecorder_ = other;
    JournalEvent e;
    e.kind = other ? EventKind::OtherRecorder : EventKind::RecordingTakenUp;
    e.subject = QStringLiteral("记录");
    const QString path = QDir::toNativeSeparators(status.databasePath);
    e.text = other ? QStringLiteral("另一个程序正在记录到 %1 (进程 %2), 本程序不记录")
                         .arg(path)
                         .arg(status.otherRecorderPid)
                   : QStringLiteral("本程序开始记录到 ") + path;
    journal_.record(std::move(e));
}

void EventFeed::noteWrite(const OperatorWrite& write) {
    journal_.record(writeEvent(write));
}

void EventFeed::tick() {
    journal_.retry();
    if (!link_ || !session_.isOpen()) return;
    const bool silent = session_.read(link_, nullptr, session_.port()).silent();
    if (silent == lost_) return;
    lost_ = silent;
    JournalEvent e;
    e.kind = silent ? EventKind::InstrumentLost : EventKind::InstrumentBack;
    e.subject = QStringLiteral("端口%1").arg(session_.port());
    if (silent) {
        const auto failure = link_->lastFailure();
        e.text =
            QStringLiteral("仪表 %1 秒无有效应答").arg(kSilentAfterMs / 1000) +
            (failure ? QStringLiteral(" (") + QString::fromStdString(failureText(*failure)) + QLatin1Char(')')
                     : QString());
    } else {
        e.text = QStringLiteral("仪表恢复应答");
    }
    journal_.record(std::move(e));
}

QString EventFeed::statusText() {
    QStringList parts;
    const int unacknowledged = journal_.unacknowledged().count;
    if (unacknowledged > 0) parts << QStringLiteral("未确认报警 %1 (F8 事件记录)").arg(unacknowledged);
    const QString file = QDir::toNativeSeparators(journal_.path());
    if (!journal_.damagedCopy().isEmpty())
        parts << QStringLiteral("事件记录文件损坏, 已另存为 %1 并新建")
                     .arg(QDir::toNativeSeparators(journal_.damagedCopy()));
    if (!journal_.available())
        parts << QStringLiteral("事件记录: 无法写入 %1: %2 (%3 条等待写入)")
                     .arg(file, journal_.lastError())
                     .arg(journal_.waiting());
    if (journal_.lost() > 0) parts << QStringLiteral("事件记录: %1 条未能保存").arg(journal_.lost());
    return parts.join(QStringLiteral("  "));
}

} // namespace hx
