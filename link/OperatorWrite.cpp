#include "link/OperatorWrite.h"

namespace hx {

void noteWriteFailure(WriteLog* log, const WriteFailure& failure) {
    if (!log) return;
    ++log->failed;
    log->lastFailure = failure;
}

namespace {

// Tells the write to the log's observer, or gathers it into the command under way.
void tell(WriteLog* log, int32_t reg, int32_t value, const std::optional<WriteFailure>& failure) {
    if (!log) return;
    if (log->command) {
        ++log->command->writes;
        if (failure) {
            ++log->command->failedWrites;
            log->command->failure = failure;
        }
        return;
    }
    if (log->observer) log->observer(OperatorWrite{reg, value, {}, 1, failure ? 1 : 0, failure});
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
        tell(log, reg, value, std::nullopt);
        return {};
    }
    const CallFailure failure = link.lastFailure().value_or(CallFailure{LinkFailure::Refused});
    noteWriteFailure(log, WriteFailure{reg, failure});
    tell(log, reg, value, WriteFailure{reg, failure});
    return {failure};
}

} // namespace hx
