#pragma once
// The settings tool's side of the line: reading every register of a settings file from the
// instrument, and carrying out a restore plan register by register, each write confirmed by
// reading the register back.
#include "link/Link.h"
#include "settings/SettingsFile.h"

#include <functional>

namespace hx::config {

// How the tool reaches the instrument; the choices are coded as registers 4106 and 4107 hold
// them and as the link opens a port.
struct LineSettings {
    int32_t port = 1;
    int32_t address = 1;
    int32_t baudChoice = 1;   // 0 4800, 1 9600, 2 19200
    int32_t parityChoice = 0; // 0 none, 1 odd, 2 even
};
QString parityName(int32_t choice); // "none", "odd", "even"; empty for an unknown choice
// The line as it is once reg holds value: registers 4105..4107 carry the line's own choices.
LineSettings afterWriting(LineSettings line, int32_t reg, int32_t value);
// Why a call failed, in a few words, for the tool's output.
QString causeText(const CallFailure& failure);
// "address 1, 9600 baud, parity none"
QString lineText(const LineSettings& line);

// Every register of a settings file, read in the factory sheet's blocks; a block that fails
// is asked once more. nullopt, with the block and the reason, when a block cannot be read.
std::optional<RegisterValues> readSettings(Link& link, const LineSettings& line, QString* error);

enum class WriteOutcome {
    Confirmed, // written and read back
    Differs,   // written, but the instrument reads back another value
    Refused,   // the instrument answered the write with an exception
    NoAnswer,  // no (good) answer to the write or to the read back, after one resend
};

struct WriteResult {
    Difference write;
    WriteOutcome outcome;
    bool answered = false; // the instrument confirmed the write itself
    int32_t readBack = 0;
    std::optional<CallFailure> failure;
};

struct RestoreRun {
    std::vector<WriteResult> results;
    bool stopped = false; // an instrument that stopped answering ended the run early
    LineSettings line;    // where the instrument answers after the run
};

// Writes the registers in order, each with one resend on kWriteFailed, and reads each back.
// report() hears of each register as soon as it is done, so a run cut short still leaves its
// account. The run stops at the first register without an answer; a refused or differently
// stored value is reported and the run goes on. After writing a line setting the instrument
// may listen on its new settings at once: when the read back fails on the old line, it is
// tried on the new one, and the run continues there.
RestoreRun runRestore(Link& link, const LineSettings& line, const std::vector<Difference>& writes,
                      const std::function<void(const WriteResult&)>& report);

} // namespace hx::config
