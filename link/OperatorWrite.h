#pragma once
// The link's policy for an operator's write to the instrument: a write the instrument did not
// confirm goes out once more, and every write is counted, failures with their reason, for the
// main window's status line. The windows' fields and commands write through here.
#include "link/Link.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace hx {

// The operator's writes, counted for the main window's status line.
struct WriteLog {
    uint64_t written = 0;
    uint64_t failed = 0; // failed after the resend, or refused
    QString lastFailure; // "寄存器 4106: 仪表无应答 (超时)"
};

// Sends an operator's value to a holding register and, when the link reports -8888, once
// more. nullopt when the instrument confirmed it, else why it failed. Counts into log when
// given.
std::optional<CallFailure> writeOperatorValue(Link& link, int32_t port, int32_t address, int32_t reg,
                                              int32_t value, WriteLog* log = nullptr);

// Counts a write to reg that failed, or was refused before sending, with its reason into log
// (nothing when log is null).
void noteWriteFailure(WriteLog* log, int32_t reg, const QString& reason);

} // namespace hx
