#pragma once
// The link's policy for an operator's write to the instrument: a write the instrument did not
// confirm goes out once more, and every write is counted, failures with their reason, for the
// main window's status line. The windows' fields and commands write through here. Failures are
// kept as their causes; the screen words them (ui/FailureText).
#include "link/Link.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace hx {

// Why a window did not send an operator's value at all.
enum class WriteRefusal {
    None,       // it was sent: the link's cause says why it failed
    NotANumber, // the text is not a number, or not one the field takes
    OutOfRange, // the number does not fit a register (value says which)
};

// Why one of an operator's writes failed: its register, and the link's cause or the window's
// refusal.
struct WriteFailure {
    int32_t reg = 0;
    CallFailure cause;
    WriteRefusal refusal = WriteRefusal::None;
    int32_t value = 0; // the value refused as out of range

    bool operator==(const WriteFailure&) const = default;
};

// One write an operator made to the instrument, or one command of several writes, and its
// outcome, as the event journal keeps it.
struct OperatorWrite {
    int32_t reg = 0; // 0 for a command
    int32_t value = 0;
    QString command; // the command's name ("8输入改5伏"), empty for a single write
    int writes = 1;
    int failedWrites = 0;
    std::optional<WriteFailure> failure; // the (last) write that failed; empty when the instrument
                                         // confirmed it (every write of a command)
};

// The operator's writes, counted for the main window's status line and told, each with its
// outcome, to whoever watches them (the event journal).
struct WriteLog {
    uint64_t written = 0;
    uint64_t failed = 0; // failed after the resend, or refused
    std::optional<WriteFailure> lastFailure;
    std::function<void(const OperatorWrite&)> observer;
    OperatorWrite* command = nullptr; // the command under way, which gathers its writes
};

// The writes of one operator command (a button that writes several registers) are told as
// one, with the count of those that failed, when the command ends.
class WriteCommand {
  public:
    WriteCommand(WriteLog* log, const QString& name);
    ~WriteCommand();
    WriteCommand(const WriteCommand&) = delete;
    WriteCommand& operator=(const WriteCommand&) = delete;

  private:
    WriteLog* log_;
    OperatorWrite write_;
};

// The outcome of an operator's write: confirmed by the instrument, or failed and why.
struct OperatorWriteResult {
    std::optional<CallFailure> failure; // empty when the instrument confirmed the write

    bool ok() const { return !failure; }
};

// Sends an operator's value to a holding register and, when the link reports -8888, once
// more. Counts into log when given.
OperatorWriteResult writeOperatorValue(Link& link, int32_t port, int32_t address, int32_t reg, int32_t value,
                                       WriteLog* log = nullptr);

// Counts a write that failed, or was refused before sending, with its cause into log (nothing
// when log is null).
void noteWriteFailure(WriteLog* log, const WriteFailure& failure);

} // namespace hx
