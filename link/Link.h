#pragma once
// The link to the instrument: the seven operations every window uses, with the
// instrument's own numbering (input register 1, holding register 4097, ...).
// Every call is made from the window thread and blocks it for at most one transaction.
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace hx {

// Result of a write the instrument did not confirm; callers send the same write once more.
constexpr int32_t kWriteFailed = -8888;
// Result of a write refused before sending because the value does not fit a register;
// callers must not resend it.
constexpr int32_t kWriteRefused = -7777;
// The addresses an instrument on the line may have.
constexpr int32_t kLowestSlaveAddress = 1;
constexpr int32_t kHighestSlaveAddress = 247;
// The values one holding register takes; -32768..-1 go out as their 16-bit two's complement.
constexpr int32_t kRegisterValueMin = -32768;
constexpr int32_t kRegisterValueMax = 65535;
constexpr bool fitsRegister(int32_t value) {
    return value >= kRegisterValueMin && value <= kRegisterValueMax;
}
// Result of a read or open that failed.
constexpr int32_t kCallFailed = -1;

enum class LinkFailure {
    Timeout,    // no (complete) answer within the time limits
    Framing,    // CRC or framing error, answer from another slave, malformed answer
    Exception,  // the instrument answered with a Modbus exception
    Refused,    // not sent: port not open, bad argument, value out of range
    Io,         // the device failed (adapter unplugged, ...)
    BackOff,    // not sent: the instrument is silent and the link waits before probing again
    Connection, // the gateway refused, could not be reached, or dropped the connection
};

// The baud rate of a line's baud choice (0 4800, 1 9600, 2 19200, as the instrument codes it
// in register 4106); 0 for an unknown choice.
int32_t baudOfChoice(int32_t choice);

// Why one call failed: its kind and, for an exception answer, the instrument's code.
struct CallFailure {
    LinkFailure kind = LinkFailure::Refused;
    int exceptionCode = 0; // 1 illegal function, 2 illegal address, 3 illegal value, ...
    int systemError = 0;   // for a failed gateway connection: the system's error number

    bool operator==(const CallFailure&) const = default;
};

struct LinkStats {
    uint64_t transactions = 0; // requests sent
    uint64_t good = 0;
    uint64_t timeouts = 0;
    uint64_t framingErrors = 0;
    uint64_t exceptions = 0;
    uint64_t refused = 0;
    uint64_t ioErrors = 0; // the device itself failed (adapter unplugged, ...)
    uint64_t skippedInBackOff = 0;
    int consecutiveTimeouts = 0;
    bool backingOff = false;
    // wall-clock time of the last good answer (ms since the epoch), 0 before the first
    int64_t lastGoodAnswerMs = 0;
    // The system's error number of the last failed gateway connection; 0 once connected again.
    int connectionError = 0;
};

// Why an open failed, for the operator's text; the system's own message is in PortStatus::error.
enum class OpenError {
    None,
    NoDevice,     // no such device (unplugged adapter, wrong name), or no device for the port number
    NoPermission, // the account may not open it (not in the group dialout)
    Busy,         // held by another program, or by another link of this one
    BadSetting,   // a baud rate or parity the line does not know
    BadAddress,   // tcp://... that names no gateway (no host, or no port number)
    UnknownHost,  // the gateway's host name does not resolve
    Connection,   // the gateway refused, could not be reached or did not answer (errnoValue says which)
    Other,
};

struct PortStatus {
    bool open = false;
    std::string device; // device path of the last open attempt
    std::string error;  // why the last open failed; empty when it succeeded
    OpenError cause = OpenError::None;
    int errnoValue = 0; // the system's error number behind it, 0 when there was none
};

class Link {
  public:
    virtual ~Link() = default;

    // baud choice 0 = 4800, 1 = 9600, 2 = 19200; parity choice 0 none, 1 odd, 2 even.
    virtual int32_t OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice) = 0;
    virtual int32_t ClosePort_Modbus(int32_t port) = 0;
    // The reads fill their buffer only from a complete, good answer: a read that fails leaves
    // every element as it was, so a window's table keeps its last values. (Held for each read
    // in tests/link/test_link_sim.cpp: callsOnAPortNotOpenFailAtOnce,
    // aSilentInstrumentCostsBoundedTimeAndBacksOff, brokenAnswersNeverReachABuffer.)
    // 8 input registers from `first` into buffer[0..7], sign-extended.
    virtual int32_t Get_3X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) = 0;
    // 16 discrete inputs from `first`, packed 8 per element into buffer[0..1], first input in bit 0.
    virtual int32_t Get_1X_B16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) = 0;
    // 8 / 16 holding registers from `first`, sign-extended.
    virtual int32_t Get_4X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) = 0;
    virtual int32_t Get_4X_D16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) = 0;
    // One holding register. kWriteFailed when the write failed, kWriteRefused for a value
    // outside -32768..65535, 0 when the instrument confirmed it. A write is an operator's
    // decision: it goes on the wire even while the link backs off from a silent instrument.
    virtual int32_t Set_4X_D1(int32_t port, int32_t address, int32_t reg, int32_t value) = 0;

    // Why the last call (of any kind) failed; nullopt when it succeeded.
    virtual std::optional<CallFailure> lastFailure() const = 0;

    virtual LinkStats stats() const = 0;
    virtual PortStatus portStatus(int32_t port) const = 0;
};

} // namespace hx
