#include "link/OperatorWrite.h"

namespace hx {

void noteWriteFailure(WriteLog* log, int32_t reg, const QString& reason) {
    if (!log) return;
    ++log->failed;
    log->lastFailure = QStringLiteral("寄存器 %1: %2").arg(reg).arg(reason);
}

namespace {

// Tells the write to the log's observer, or gathers it into the command under way.
void tell(WriteLog* log, int32_t reg, int32_t value, const QString& failure) {
    if (!log) return;
    if (log->command) {
        ++log->command->writes;
        if (!failure.isEmpty()) {
            ++log->command->failedWrites;
            log->command->failure = QStringLiteral("寄存器 %1: %2").arg(reg).arg(failure);
        }
        return;
    }
    if (log->observer) log->observer(OperatorWrite{reg, value, {}, 1, failure.isEmpty() ? 0 : 1, failure});
}

} // namespace

WriteCommand::WriteCommand(WriteLog* log, const QString& name) : log_(log) {
    write_.command = name;
    write_.writes = 0;
    if (log_) log_->command = &write_;
}

WriteCommand::~WriteCommand() {
    if (!log_) return;
    log_->command = nullptr;
    if (log_->observer) log_->observer(write_);
}

OperatorWriteResult writeOperatorValue(Link& link, int32_t port, int32_t address, int32_t reg, int32_t value,
                                       WriteLog* log) {
    int32_t rc = link.Set_4X_D1(port, address, reg, value);
    if (rc == kWriteFailed) rc = link.Set_4X_D1(port, address, reg, value);
    if (rc == 0) {
        if (log) ++log->written;
        tell(log, reg, value, {});
        return {};
    }
    const CallFailure failure = link.lastFailure().value_or(CallFailure{LinkFailure::Refused});
    const QString reason = QString::fromStdString(failureText(failure));
    noteWriteFailure(log, reg, reason);
    tell(log, reg, value, reason);
    return {failure};
}

} // namespace hx
