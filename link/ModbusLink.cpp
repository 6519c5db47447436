#include "ModbusLink.h"

#include "link/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QDateTime>

#include <modbus/modbus.h>

namespace hx {

namespace {

using SteadyClock = std::chrono::steady_clock;

int32_t baudOfChoice(int32_t choice) {
    switch (choice) {
    case 0:
        return 4800;
    case 1:
        return 9600;
    case 2:
        return 19200;
    default:
        return 0;
    }
}

char parityOfChoice(int32_t choice) {
    switch (choice) {
    case 0:
        return 'N';
    case 1:
        return 'O';
    case 2:
        return 'E';
    default:
        return 0;
    }
}

void setTimeout(modbus_t* ctx, int (*setter)(modbus_t*, uint32_t, uint32_t), std::chrono::microseconds t) {
    const auto us = t.count();
    setter(ctx, uint32_t(us / 1000000), uint32_t(us % 1000000));
}

bool isDeviceError(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE;
}

// Discards whatever waits in the line: an answer that arrived after its request timed out
// would otherwise be taken for the answer to the next request.
void discardInput(modbus_t* ctx) {
    const int fd = modbus_get_socket(ctx);
    if (fd >= 0) ::tcflush(fd, TCIOFLUSH);
}

// True when more bytes arrive within `wait`.
bool moreBytesFollow(modbus_t* ctx, std::chrono::microseconds wait) {
    pollfd pfd{modbus_get_socket(ctx), POLLIN, 0};
    const int ms = int((wait.count() + 999) / 1000);
    return pfd.fd >= 0 && ::poll(&pfd, 1, ms) > 0 && (pfd.revents & POLLIN);
}

} // namespace

struct ModbusLink::Port {
    modbus_t* ctx = nullptr;
    std::string device;
    int32_t baud = 9600;
    char parity = 'N';
    int lockFd = -1; // holds the device's advisory lock while the port is open
    int consecutiveTimeouts = 0;
    // A request timed out and no answer has been confirmed since: its answer may still come.
    bool lateAnswerPossible = false;
    // When the request that timed out was sent, and when the current one was.
    SteadyClock::time_point timedOutSentAt{};
    SteadyClock::time_point sentAt{};
    bool backingOff = false;
    bool deviceLost = false;
    SteadyClock::time_point lastProbe{};

    ~Port() { close(); }
    void close() {
        if (ctx) {
            // The terminal's exclusive mode outlives the descriptor on some drivers.
            ::ioctl(modbus_get_socket(ctx), TIOCNXCL);
            modbus_close(ctx);
            modbus_free(ctx);
            ctx = nullptr;
        }
        if (lockFd >= 0) {
            ::close(lockFd);
            lockFd = -1;
        }
    }
};

ModbusLink::ModbusLink(SteadyNow now) : now_(std::move(now)), trace_(TraceLog::fromEnvironment()) {}
ModbusLink::~ModbusLink() = default;

namespace {

OpenError openErrorOf(int err) {
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenError::NoDevice;
    case EACCES:
    case EPERM:
        return OpenError::NoPermission;
    case EBUSY:
    case EWOULDBLOCK:
        return OpenError::Busy;
    default:
        return OpenError::Other;
    }
}

void noteOpenFailure(PortStatus& status, int err) {
    status.cause = openErrorOf(err);
    status.errnoValue = err;
    status.error = std::strerror(err);
    if (status.cause == OpenError::Busy) status.error = "in use by another program or link: " + status.error;
}

// Claims the device before its line settings are touched: the advisory lock refuses every
// second open that asks for it, root's and this program's own second link included. Held by
// a descriptor of its own, since libmodbus opens the device only after this check.
int lockDevice(const std::string& device, PortStatus& status) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        noteOpenFailure(status, errno);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        noteOpenFailure(status, errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// Opens the device with the line settings for this link alone; the status tells why not.
bool ModbusLink::openContext(Port& port, PortStatus& status) {
    port.lockFd = lockDevice(port.device, status);
    if (port.lockFd < 0) return false;
    modbus_t* ctx = modbus_new_rtu(port.device.c_str(), port.baud, port.parity, 8, 1);
    if (!ctx) {
        noteOpenFailure(status, errno);
        port.close();
        return false;
    }
    if (modbus_connect(ctx) != 0) {
        noteOpenFailure(status, errno);
        modbus_free(ctx);
        port.close();
        return false;
    }
    port.ctx = ctx;
    // Other programs that do not ask for the lock are refused by the terminal itself (EBUSY),
    // unless they run as root.
    ::ioctl(modbus_get_socket(ctx), TIOCEXCL);
    // RS-485 direction control is the adapter's business on most USB converters; the
    // request fails with ENOTTY on pseudo-terminals and plain UARTs, which is fine.
    modbus_rtu_set_serial_mode(ctx, MODBUS_RTU_RS485);
    const LineTiming timing = lineTimingFor(port.baud, port.parity != 'N');
    setTimeout(ctx, modbus_set_response_timeout, timing.responseTimeout);
    setTimeout(ctx, modbus_set_byte_timeout, timing.byteTimeout);
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    // libmodbus does not flush on connect; a stale answer waiting in the line was seen to
    // be read as fresh, plausible values.
    modbus_flush(ctx);
    discardInput(ctx);
    return true;
}

int32_t ModbusLink::OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice) {
    ports_.erase(port); // opening an open port opens it afresh
    PortStatus& status = lastOpen_[port];
    status = PortStatus{};
    status.device = devicePathForPort(port);
    const int32_t baud = baudOfChoice(baudChoice);
    const char parity = parityOfChoice(parityChoice);
    if (status.device.empty() || baud == 0 || parity == 0) {
        status.error = status.device.empty() ? "no device for this port number" : "unknown line setting";
        status.cause = status.device.empty() ? OpenError::NoDevice : OpenError::BadSetting;
        fail(LinkFailure::Refused);
        return kCallFailed;
    }
    auto p = std::make_unique<Port>();
    p->device = status.device;
    p->baud = baud;
    p->parity = parity;
    if (!openContext(*p, status)) {
        fail(LinkFailure::Io);
        return kCallFailed;
    }
    status.open = true;
    ports_[port] = std::move(p);
    lastFailure_.reset();
    return 0;
}

int32_t ModbusLink::ClosePort_Modbus(int32_t port) {
    const bool wasOpen = ports_.erase(port) > 0;
    if (auto it = lastOpen_.find(port); it != lastOpen_.end()) it->second.open = false;
    if (!wasOpen) {
        fail(LinkFailure::Refused);
        return kCallFailed;
    }
    lastFailure_.reset();
    return 0;
}

PortStatus ModbusLink::portStatus(int32_t port) const {
    auto it = lastOpen_.find(port);
    return it == lastOpen_.end() ? PortStatus{} : it->second;
}

SteadyClock::time_point ModbusLink::now() const {
    return now_ ? now_() : SteadyClock::now();
}

bool ModbusLink::reopen(Port& port) {
    port.close();
    PortStatus status;
    return openContext(port, status);
}

ModbusLink::Port* ModbusLink::admit(int32_t port, int32_t address, bool isWrite) {
    auto it = ports_.find(port);
    if (it == ports_.end() || address < 1 || address > 247) {
        ++stats_.refused;
        fail(LinkFailure::Refused);
        return nullptr;
    }
    Port& p = *it->second;
    const auto t = now();
    if (p.backingOff || p.deviceLost) {
        // The poll's reads wait for the next probe; an operator's write never does.
        if (!isWrite && t - p.lastProbe < kProbeInterval) {
            ++stats_.skippedInBackOff;
            fail(LinkFailure::BackOff);
            return nullptr;
        }
        p.lastProbe = t;
        // An unplugged adapter leaves a dead descriptor behind: open the device again.
        if (p.deviceLost) {
            if (!reopen(p)) {
                ++stats_.ioErrors;
                fail(LinkFailure::Io);
                return nullptr;
            }
            p.deviceLost = false;
        }
    }
    if (!p.ctx) {
        ++stats_.refused;
        fail(LinkFailure::Refused);
        return nullptr;
    }
    discardInput(p.ctx);
    modbus_set_slave(p.ctx, address);
    p.sentAt = SteadyClock::now();
    ++stats_.transactions;
    return &p;
}

bool ModbusLink::lateAnswerFollows(const Port& port) {
    const LineTiming timing = lineTimingFor(port.baud, port.parity != 'N');
    // The wait stays below two response times, so that a call never holds the window thread
    // for long. An answer that late to a request sent longer ago than that would have been
    // flushed before ours went out, or would come after any wait we can afford: no wait then.
    const auto longest = 2 * timing.responseTimeout;
    if (port.sentAt - port.timedOutSentAt >= longest) return false;
    // How late that answer was, were it the timed-out request's: ours comes as late again.
    const auto delay =
        std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - port.timedOutSentAt);
    return moreBytesFollow(port.ctx, std::min(delay, longest) + timing.byteTimeout);
}

bool ModbusLink::settle(Port& port, int rc, int expected) {
    // The instrument answers requests in order, so after a timed-out request the first
    // well-formed answer may be the late one of that request (an answer carries no register
    // number). The instrument then takes up ours only now and answers it as late again: bytes
    // that arrive within that delay (plus a byte gap) unmask it.
    if (rc == expected && port.lateAnswerPossible && port.ctx && lateAnswerFollows(port)) {
        rc = -1;
        errno = EMBBADDATA;
    }
    if (rc == expected) {
        ++stats_.good;
        stats_.lastGoodAnswerMs = QDateTime::currentMSecsSinceEpoch();
        port.consecutiveTimeouts = 0;
        port.lateAnswerPossible = false;
        port.backingOff = false;
        lastFailure_.reset();
    } else {
        const int err = errno;
        if (err == ETIMEDOUT) {
            ++stats_.timeouts;
            fail(LinkFailure::Timeout);
            port.lateAnswerPossible = true;
            port.timedOutSentAt = port.sentAt;
            if (++port.consecutiveTimeouts >= kTimeoutsBeforeBackOff && !port.backingOff) {
                port.backingOff = true;
                port.lastProbe = now();
            }
        } else if (err > MODBUS_ENOBASE && err < EMBBADCRC) {
            // A well-formed exception answer: the instrument is there and listening.
            ++stats_.exceptions;
            fail(LinkFailure::Exception, err - MODBUS_ENOBASE);
            port.consecutiveTimeouts = 0;
            port.backingOff = false;
        } else if (err >= EMBBADCRC) {
            ++stats_.framingErrors;
            fail(LinkFailure::Framing);
        } else if (isDeviceError(err)) {
            ++stats_.ioErrors;
            fail(LinkFailure::Io);
            port.deviceLost = true;
            port.lastProbe = now();
        } else {
            ++stats_.framingErrors;
            fail(LinkFailure::Framing);
        }
        // Drop the rest of a broken or late answer so it cannot pass for the next one.
        if (port.ctx) discardInput(port.ctx);
    }
    stats_.consecutiveTimeouts = port.consecutiveTimeouts;
    stats_.backingOff = port.backingOff || port.deviceLost;
    return rc == expected;
}

int32_t ModbusLink::readRegisters(Kind kind, int32_t port, int32_t address, int32_t first, int count,
                                  std::span<int32_t> buffer) {
    const int elements = kind == Kind::DiscreteInputs ? count / 8 : count;
    if (first < 1 || int64_t(first) - 1 + count > 65536 || buffer.size() < size_t(elements)) {
        ++stats_.refused;
        fail(LinkFailure::Refused);
        return kCallFailed;
    }
    Port* p = admit(port, address, false);
    if (!p) return kCallFailed;
    const int protocolAddress = first - 1;
    const auto started = trace_ ? SteadyClock::now() : SteadyClock::time_point{};
    const uint8_t function = kind == Kind::DiscreteInputs ? 0x02 : kind == Kind::InputRegisters ? 0x04 : 0x03;
    int rc = -1;
    uint8_t bits[16] = {};
    uint16_t words[16] = {};
    if (kind == Kind::DiscreteInputs)
        rc = modbus_read_input_bits(p->ctx, protocolAddress, count, bits);
    else if (kind == Kind::InputRegisters)
        rc = modbus_read_input_registers(p->ctx, protocolAddress, count, words);
    else
        rc = modbus_read_registers(p->ctx, protocolAddress, count, words);
    const bool good = settle(*p, rc, count);
    if (trace_) {
        const uint8_t request[] = {function, uint8_t(protocolAddress >> 8), uint8_t(protocolAddress),
                                   uint8_t(count >> 8), uint8_t(count)};
        // A good answer's bytes follow from its values: function, byte count, data.
        std::vector<uint8_t> answer{function};
        if (kind == Kind::DiscreteInputs) {
            answer.push_back(uint8_t(elements));
            for (int e = 0; e < elements; ++e) {
                uint8_t packed = 0;
                for (int b = 0; b < 8; ++b)
                    packed |= uint8_t((bits[e * 8 + b] ? 1 : 0) << b);
                answer.push_back(packed);
            }
        } else {
            answer.push_back(uint8_t(2 * count));
            for (int i = 0; i < count; ++i) {
                answer.push_back(uint8_t(words[i] >> 8));
                answer.push_back(uint8_t(words[i]));
            }
        }
        trace(uint8_t(address), request, answer, good, started);
    }
    if (!good) return kCallFailed;
    if (kind == Kind::DiscreteInputs) {
        for (int e = 0; e < elements; ++e) {
            int32_t packed = 0;
            for (int b = 0; b < 8; ++b)
                packed |= (bits[e * 8 + b] ? 1 : 0) << b;
            buffer[e] = packed;
        }
        return 0;
    }
    for (int i = 0; i < count; ++i)
        buffer[i] = static_cast<int16_t>(words[i]);
    return 0;
}

int32_t ModbusLink::Get_3X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) {
    return readRegisters(Kind::InputRegisters, port, address, first, 8, buffer);
}

int32_t ModbusLink::Get_1X_B16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) {
    return readRegisters(Kind::DiscreteInputs, port, address, first, 16, buffer);
}

int32_t ModbusLink::Get_4X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) {
    return readRegisters(Kind::HoldingRegisters, port, address, first, 8, buffer);
}

int32_t ModbusLink::Get_4X_D16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) {
    return readRegisters(Kind::HoldingRegisters, port, address, first, 16, buffer);
}

int32_t ModbusLink::Set_4X_D1(int32_t port, int32_t address, int32_t reg, int32_t value) {
    // A value that does not fit a register would be written truncated: a wrong setting.
    if (value < -32768 || value > 65535 || reg < 1 || reg > 65536) {
        ++stats_.refused;
        fail(LinkFailure::Refused);
        return kWriteRefused;
    }
    Port* p = admit(port, address, true);
    if (!p) return kWriteFailed;
    const auto started = trace_ ? SteadyClock::now() : SteadyClock::time_point{};
    const int rc = modbus_write_register(p->ctx, reg - 1, static_cast<uint16_t>(value & 0xFFFF));
    const bool good = settle(*p, rc, 1);
    if (trace_) {
        const uint8_t request[] = {0x06, uint8_t((reg - 1) >> 8), uint8_t(reg - 1), uint8_t(value >> 8),
                                   uint8_t(value)};
        // The answer to a write echoes the request; libmodbus checks the echoed address.
        trace(uint8_t(address), request, request, good, started);
    }
    return good ? 0 : kWriteFailed;
}

void ModbusLink::trace(uint8_t slave, std::span<const uint8_t> requestPdu, std::span<const uint8_t> answerPdu,
                       bool good, SteadyClock::time_point started) {
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - started);
    const std::vector<uint8_t> request = rtuFrame(slave, requestPdu);
    if (good) {
        trace_->transaction(request, TraceLog::Answer::Frame, rtuFrame(slave, answerPdu), "ok", took);
        return;
    }
    switch (lastFailure_ ? lastFailure_->kind : LinkFailure::Framing) {
    case LinkFailure::Exception: {
        const uint8_t exception[] = {uint8_t(requestPdu[0] | 0x80), uint8_t(lastFailure_->exceptionCode)};
        trace_->transaction(request, TraceLog::Answer::Frame, rtuFrame(slave, exception), "exception", took);
        return;
    }
    case LinkFailure::Timeout:
        trace_->transaction(request, TraceLog::Answer::None, {}, "timeout", took);
        return;
    case LinkFailure::Io:
        trace_->transaction(request, TraceLog::Answer::None, {}, "io-error", took);
        return;
    default:
        // Bad CRC, wrong length, a late answer: libmodbus drops the bytes it rejects.
        trace_->transaction(request, TraceLog::Answer::Bad, {}, "bad-answer", took);
        return;
    }
}

} // namespace hx
