#include "link/OperatorWrite.h"

namespace hx {

void noteWriteFailure(WriteLog* log, int32_t reg, const QString& reason) {
    if (!log) return;
    ++log->failed;
    log->lastFailure = QStringLiteral("寄存器 %1: %2").arg(reg).arg(reason);
}

std::optional<CallFailure> writeOperatorValue(Link& link, int32_t port, int32_t address, int32_t reg,
                                              int32_t value, WriteLog* log) {
    int32_t rc = link.Set_4X_D1(port, address, reg, value);
    if (rc == kWriteFailed) rc = link.Set_4X_D1(port, address, reg, value);
    if (rc == 0) {
        if (log) ++log->written;
        return std::nullopt;
    }
    const CallFailure failure = link.lastFailure().value_or(CallFailure{LinkFailure::Refused});
    noteWriteFailure(log, reg, QString::fromStdString(failureText(failure)));
    return failure;
}

} // namespace hx
