#include "ModbusLink.h"

#include "link/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QDateTime>

#include <modbus/modbus.h>

namespace hx {

namespace {

using SteadyClock = std::chrono::steady_clock;

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
void discardInput(modbus_t* ctx, bool network) {
    const int fd = modbus_get_socket(ctx);
    if (fd < 0) return;
    if (network)
        modbus_flush(ctx);
    else
        ::tcflush(fd, TCIOFLUSH);
}

bool isConnectionError(int err) {
    return err == ECONNRESET || err == EPIPE || err == ENOTCONN || err == ECONNABORTED ||
           err == ECONNREFUSED || err == EBADF || err == EHOSTUNREACH || err == ENETUNREACH ||
           err == ENETDOWN;
}

// True when the gateway closed the connection (or it broke) while the port was idle.
bool connectionClosed(modbus_t* ctx) {
    pollfd pfd{modbus_get_socket(ctx), POLLIN | POLLRDHUP, 0};
    return pfd.fd < 0 ||
           (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)));
}

struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

int lookUp(const GatewayAddress& gateway, int flags, std::vector<Endpoint>& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(gateway.host.c_str(), gateway.service.c_str(), &hints, &list);
    if (rc != 0) return rc;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        Endpoint e;
        std::memcpy(&e.address, a->ai_addr, a->ai_addrlen);
        e.length = a->ai_addrlen;
        out.push_back(e);
    }
    ::freeaddrinfo(list);
    return 0;
}

// The gateway's addresses: a numeric one at once; a host name on a thread of its own, given
// up after `limit`, since a lookup can hang on a name server that does not answer.
int resolveWithin(const GatewayAddress& gateway, std::chrono::milliseconds limit,
                  std::vector<Endpoint>& out) {
    if (lookUp(gateway, AI_NUMERICHOST | AI_NUMERICSERV, out) == 0) return 0;
    struct Lookup {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        int rc = EAI_AGAIN;
        std::vector<Endpoint> endpoints;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, gateway] {
        std::vector<Endpoint> found;
        const int rc = lookUp(gateway, AI_NUMERICSERV, found);
        const std::lock_guard lock(lookup->mutex);
        lookup->rc = rc;
        lookup->endpoints = std::move(found);
        lookup->done = true;
        lookup->finished.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_for(lock, limit, [&] { return lookup->done; })) return EAI_AGAIN;
    out = std::move(lookup->endpoints);
    return lookup->rc;
}

// Connects to the first of the addresses that accepts within `limit` in all (libmodbus's own
// connect waits a whole response timeout per address and reports every failure as refused).
// The socket, or -1 with errno saying why the last address failed.
int connectWithin(const std::vector<Endpoint>& endpoints, std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    int err = EHOSTUNREACH;
    for (const Endpoint& e : endpoints) {
        const int s = ::socket(e.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0) {
            err = errno;
            continue;
        }
        const int one = 1;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&e.address), e.length);
        if (rc != 0 && errno == EINPROGRESS) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
            pollfd pfd{s, POLLOUT, 0};
            if (left > 0 && ::poll(&pfd, 1, int(left)) > 0) {
                int soError = 0;
                socklen_t length = sizeof soError;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &length);
                rc = soError == 0 ? 0 : -1;
                errno = soError;
            } else {
                errno = ETIMEDOUT;
            }
        }
        if (rc == 0) return s;
        err = errno;
        ::close(s);
        if (SteadyClock::now() >= deadline) break;
    }
    errno = err;
    return -1;
}

// A host name lookup may take this long, at the open only (a remote gateway's: longer, as its
// name server may be as far away).
constexpr std::chrono::milliseconds kLookupTimeout{200};
constexpr std::chrono::milliseconds kRemoteLookupTimeout{2000};

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
    std::optional<GatewayAddress> gateway; // a tcp:// port
    std::vector<Endpoint> endpoints;       // the gateway's addresses, resolved at the open
    // A gateway's connection is made afresh before the next request (after a timeout or a
    // broken answer: whatever comes late then goes to the closed one).
    bool reconnect = false;
    // The transaction id of the last request on the gateway's connection; libmodbus counts
    // from 0 on a new context and adds one per request, and so does the traffic log.
    uint16_t transactionId = 0;
    int32_t baud = 9600;
    char parity = 'N';
    int lockFd = -1;     // holds the device's advisory lock while the port is open
    bool remote = false; // a gateway with the time limits of one far away
    // Each instrument on the line is silent or not on its own: one that stops answering is
    // backed off from alone, the others are asked as before.
    struct Silence {
        int consecutiveTimeouts = 0;
        bool backingOff = false;
        SteadyClock::time_point lastProbe{};
    };
    std::map<int32_t, Silence> silence; // by slave address
    int32_t slave = 0;                  // the address of the request on the wire
    Silence& current() { return silence[slave]; }
    // A request timed out and no answer has been confirmed since: its answer may still come.
    bool lateAnswerPossible = false;
    // When the request that timed out was sent, and when the current one was.
    SteadyClock::time_point timedOutSentAt{};
    SteadyClock::time_point sentAt{};
    bool deviceLost = false;
    SteadyClock::time_point lastProbe{}; // of the lost device

    ~Port() { close(); }
    void close() {
        if (ctx) {
            // The terminal's exclusive mode outlives the descriptor on some drivers.
            if (!gateway) ::ioctl(modbus_get_socket(ctx), TIOCNXCL);
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

bool ModbusLink::prepareGateway(Port& port, PortStatus& status) {
    port.gateway = gatewayOf(port.device);
    if (!port.gateway) {
        status.cause = OpenError::BadAddress;
        status.error = "not a gateway address: " + port.device;
        return false;
    }
    if (const int rc =
            resolveWithin(*port.gateway, port.remote ? kRemoteLookupTimeout : kLookupTimeout, port.endpoints);
        rc != 0 || port.endpoints.empty()) {
        status.cause = OpenError::UnknownHost;
        status.error = rc == EAI_AGAIN ? "host name lookup timed out" : ::gai_strerror(rc);
        return false;
    }
    return true;
}

// Connects within kGatewayConnectTimeout (a remote gateway: kRemoteGatewayConnectTimeout) and
// hands the socket to libmodbus's TCP back end.
bool ModbusLink::openGateway(Port& port, PortStatus& status) {
    const int s =
        connectWithin(port.endpoints, port.remote ? kRemoteGatewayConnectTimeout : kGatewayConnectTimeout);
    if (s < 0) {
        const int err = errno;
        status.cause = OpenError::Connection;
        status.errnoValue = err;
        status.error = std::strerror(err);
        return false;
    }
    modbus_t* ctx = modbus_new_tcp_pi(port.gateway->host.c_str(), port.gateway->service.c_str());
    if (!ctx) {
        noteOpenFailure(status, errno);
        ::close(s);
        return false;
    }
    modbus_set_socket(ctx, s);
    port.ctx = ctx;
    port.transactionId = 0;
    const LineTiming timing = port.remote ? remoteGatewayTiming() : gatewayTiming();
    setTimeout(ctx, modbus_set_response_timeout, timing.responseTimeout);
    setTimeout(ctx, modbus_set_byte_timeout, timing.byteTimeout);
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    return true;
}

// Opens the device with the line settings for this link alone; the status tells why not.
bool ModbusLink::openContext(Port& port, PortStatus& status) {
    if (port.gateway) return openGateway(port, status);
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
    discardInput(ctx, false);
    return true;
}

int32_t ModbusLink::OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice) {
    return openDevice(port, devicePathForPort(port), baudChoice, parityChoice);
}

int32_t ModbusLink::openDevice(int32_t port, const std::string& device, int32_t baudChoice,
                               int32_t parityChoice) {
    ports_.erase(port); // opening an open port opens it afresh
    PortStatus& status = lastOpen_[port];
    status = PortStatus{};
    status.device = device;
    auto p = std::make_unique<Port>();
    p->device = status.device;
    p->remote = remoteGateways_;
    // Behind a gateway the line settings are the gateway's: the choices do not apply.
    if (namesGateway(status.device)) {
        if (!prepareGateway(*p, status)) {
            fail(LinkFailure::Refused);
            return kCallFailed;
        }
    } else {
        p->baud = baudOfChoice(baudChoice);
        p->parity = parityOfChoice(parityChoice);
        if (status.device.empty() || p->baud == 0 || p->parity == 0) {
            status.error = status.device.empty() ? "no device for this port number" : "unknown line setting";
            status.cause = status.device.empty() ? OpenError::NoDevice : OpenError::BadSetting;
            fail(LinkFailure::Refused);
            return kCallFailed;
        }
    }
    if (!openContext(*p, status)) {
        if (status.cause == OpenError::Connection)
            fail(LinkFailure::Connection, 0, status.errnoValue);
        else
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

bool ModbusLink::reopen(Port& port, PortStatus& status) {
    port.close();
    return openContext(port, status);
}

void ModbusLink::lose(Port& port, int err) {
    ++stats_.ioErrors;
    if (port.gateway) {
        fail(LinkFailure::Connection, 0, err);
        stats_.connectionError = err;
    } else {
        fail(LinkFailure::Io);
    }
    port.deviceLost = true;
    port.lastProbe = now();
    stats_.backingOff = true;
}

ModbusLink::Port* ModbusLink::admit(int32_t port, int32_t address, bool isWrite) {
    auto it = ports_.find(port);
    if (it == ports_.end() || address < 1 || address > 247) {
        ++stats_.refused;
        fail(LinkFailure::Refused);
        return nullptr;
    }
    Port& p = *it->second;
    p.slave = address;
    Port::Silence& silence = p.current();
    const auto t = now();
    if (silence.backingOff || p.deviceLost) {
        // The poll's reads wait for the next probe; an operator's write never does.
        const bool early = (silence.backingOff && t - silence.lastProbe < kProbeInterval) ||
                           (p.deviceLost && t - p.lastProbe < kProbeInterval);
        if (!isWrite && early) {
            ++stats_.skippedInBackOff;
            stats_.consecutiveTimeouts = silence.consecutiveTimeouts;
            stats_.backingOff = true;
            fail(LinkFailure::BackOff);
            return nullptr;
        }
        if (silence.backingOff) silence.lastProbe = t;
        if (p.deviceLost) p.lastProbe = t;
        // An unplugged adapter leaves a dead descriptor behind, a dropped connection a dead
        // socket: open the device or connect again.
        if (p.deviceLost) {
            PortStatus status;
            if (!reopen(p, status)) {
                lose(p, status.errnoValue);
                return nullptr;
            }
            p.deviceLost = false;
        }
    }
    // A gateway that closed an idle connection (many do after a while) is connected again at
    // once; one that cannot be reached then is probed like a silent instrument.
    if (p.gateway && p.ctx && (p.reconnect || connectionClosed(p.ctx))) {
        PortStatus status;
        if (!reopen(p, status)) {
            lose(p, status.errnoValue);
            return nullptr;
        }
        p.reconnect = false;
    }
    if (!p.ctx) {
        ++stats_.refused;
        fail(LinkFailure::Refused);
        return nullptr;
    }
    discardInput(p.ctx, p.gateway.has_value());
    modbus_set_slave(p.ctx, address);
    if (p.gateway) p.transactionId = p.transactionId < 0xFFFF ? p.transactionId + 1 : 0;
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
    // How late that answer was, were it the timed-out request's: ours comes as late again, give
    // or take a quarter (an instrument late for want of time is not late by the same amount
    // twice), within the same bound.
    const auto delay =
        std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - port.timedOutSentAt);
    return moreBytesFollow(port.ctx, std::min(delay + delay / 4, longest) + timing.byteTimeout);
}

bool ModbusLink::settle(Port& port, int rc, int expected) {
    // The instrument answers requests in order, so after a timed-out request the first
    // well-formed answer may be the late one of that request (an answer carries no register
    // number). The instrument then takes up ours only now and answers it as late again: bytes
    // that arrive within that delay (plus a byte gap) unmask it.
    // Through a gateway the transaction id tells the answers apart (libmodbus checks it).
    if (rc == expected && !port.gateway && port.lateAnswerPossible && port.ctx && lateAnswerFollows(port)) {
        rc = -1;
        errno = EMBBADDATA;
    }
    Port::Silence& silence = port.current();
    const auto timedOut = [&] {
        ++stats_.timeouts;
        fail(LinkFailure::Timeout);
        if (++silence.consecutiveTimeouts >= kTimeoutsBeforeBackOff && !silence.backingOff) {
            silence.backingOff = true;
            silence.lastProbe = now();
        }
    };
    if (rc == expected) {
        ++stats_.good;
        stats_.lastGoodAnswerMs = QDateTime::currentMSecsSinceEpoch();
        silence.consecutiveTimeouts = 0;
        port.lateAnswerPossible = false;
        silence.backingOff = false;
        stats_.connectionError = 0;
        lastFailure_.reset();
    } else {
        const int err = errno;
        if (err == ETIMEDOUT) {
            timedOut();
            port.lateAnswerPossible = true;
            port.timedOutSentAt = port.sentAt;
            port.reconnect = port.gateway.has_value();
        } else if (port.gateway && (err == EMBXGTAR || err == EMBXGPATH)) {
            // The gateway answered for an instrument behind it that did not: a silent instrument,
            // on a connection still in step.
            timedOut();
        } else if (err > MODBUS_ENOBASE && err < EMBBADCRC) {
            // A well-formed exception answer: the instrument is there and listening.
            ++stats_.exceptions;
            fail(LinkFailure::Exception, err - MODBUS_ENOBASE);
            silence.consecutiveTimeouts = 0;
            silence.backingOff = false;
        } else if (port.gateway ? isConnectionError(err) : isDeviceError(err)) {
            lose(port, err);
        } else {
            // Bad CRC, wrong length or transaction id: on a connection the rest of the stream
            // is out of step, so the next request goes out on a fresh one.
            ++stats_.framingErrors;
            fail(LinkFailure::Framing);
            port.reconnect = port.gateway.has_value();
        }
        // Drop the rest of a broken or late answer so it cannot pass for the next one.
        if (port.ctx) discardInput(port.ctx, port.gateway.has_value());
    }
    stats_.consecutiveTimeouts = silence.consecutiveTimeouts;
    stats_.backingOff = silence.backingOff || port.deviceLost;
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
        trace(*p, uint8_t(address), request, answer, good, started);
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
    if (!fitsRegister(value) || reg < 1 || reg > 65536) {
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
        trace(*p, uint8_t(address), request, request, good, started);
    }
    return good ? 0 : kWriteFailed;
}

namespace {

uint16_t wordAt(std::span<const uint8_t> pdu, size_t at) {
    return uint16_t(pdu[at] << 8 | pdu[at + 1]);
}

} // namespace

std::optional<std::vector<uint8_t>> ModbusLink::forward(int32_t port, int32_t address,
                                                        std::span<const uint8_t> pdu) {
    const auto known = [](uint8_t f) { return (f >= 0x01 && f <= 0x06) || f == 0x0F || f == 0x10; };
    if (pdu.size() < 5 || !known(pdu[0])) {
        ++stats_.refused;
        fail(LinkFailure::Refused);
        return std::nullopt;
    }
    const uint8_t function = pdu[0];
    const bool isWrite = function == 0x05 || function == 0x06 || function == 0x0F || function == 0x10;
    Port* p = admit(port, address, isWrite);
    if (!p) return std::nullopt;
    const auto started = trace_ ? SteadyClock::now() : SteadyClock::time_point{};
    const int first = wordAt(pdu, 1);
    const int count = wordAt(pdu, 3);
    // The answer as the instrument sent it, rebuilt from what libmodbus accepted and checked.
    std::vector<uint8_t> answer{function};
    int rc = -1;
    int expected = 1;
    switch (function) {
    case 0x01:
    case 0x02: {
        std::vector<uint8_t> bits(size_t(count), 0);
        expected = count;
        rc = function == 0x01 ? modbus_read_bits(p->ctx, first, count, bits.data())
                              : modbus_read_input_bits(p->ctx, first, count, bits.data());
        answer.push_back(uint8_t((count + 7) / 8));
        answer.resize(answer.size() + size_t((count + 7) / 8), 0);
        for (int i = 0; i < count; ++i)
            answer[2 + size_t(i / 8)] |= uint8_t((bits[size_t(i)] ? 1 : 0) << (i % 8));
        break;
    }
    case 0x03:
    case 0x04: {
        std::vector<uint16_t> words(size_t(count), 0);
        expected = count;
        rc = function == 0x03 ? modbus_read_registers(p->ctx, first, count, words.data())
                              : modbus_read_input_registers(p->ctx, first, count, words.data());
        answer.push_back(uint8_t(2 * count));
        for (const uint16_t w : words) {
            answer.push_back(uint8_t(w >> 8));
            answer.push_back(uint8_t(w));
        }
        break;
    }
    case 0x05:
    case 0x06:
        rc = function == 0x05 ? modbus_write_bit(p->ctx, first, count == 0xFF00)
                              : modbus_write_register(p->ctx, first, uint16_t(count));
        answer.assign(pdu.begin(), pdu.begin() + 5);
        break;
    case 0x0F:
    case 0x10: {
        expected = count;
        if (function == 0x0F) {
            std::vector<uint8_t> bits(size_t(count), 0);
            for (int i = 0; i < count; ++i)
                bits[size_t(i)] = (pdu[6 + size_t(i / 8)] >> (i % 8)) & 1;
            rc = modbus_write_bits(p->ctx, first, count, bits.data());
        } else {
            std::vector<uint16_t> words(size_t(count), 0);
            for (int i = 0; i < count; ++i)
                words[size_t(i)] = wordAt(pdu, 6 + 2 * size_t(i));
            rc = modbus_write_registers(p->ctx, first, count, words.data());
        }
        answer.assign(pdu.begin(), pdu.begin() + 5);
        break;
    }
    default:
        break; // refused above
    }
    const bool good = settle(*p, rc, expected);
    if (!good && lastFailure_ && lastFailure_->kind == LinkFailure::Exception)
        answer = {uint8_t(function | 0x80), uint8_t(lastFailure_->exceptionCode)};
    if (trace_) trace(*p, uint8_t(address), pdu, answer, good, started);
    if (good || (lastFailure_ && lastFailure_->kind == LinkFailure::Exception)) return answer;
    return std::nullopt;
}

void ModbusLink::trace(const Port& port, uint8_t slave, std::span<const uint8_t> requestPdu,
                       std::span<const uint8_t> answerPdu, bool good, SteadyClock::time_point started) {
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - started);
    // A gateway's frames carry the MBAP header (the answer has the request's transaction id)
    // instead of the CRC.
    const auto frame = [&](std::span<const uint8_t> pdu) {
        return port.gateway ? mbapFrame(port.transactionId, slave, pdu) : rtuFrame(slave, pdu);
    };
    const std::vector<uint8_t> request = frame(requestPdu);
    if (good) {
        trace_->transaction(request, TraceLog::Answer::Frame, frame(answerPdu), "ok", took);
        return;
    }
    switch (lastFailure_ ? lastFailure_->kind : LinkFailure::Framing) {
    case LinkFailure::Exception: {
        const uint8_t exception[] = {uint8_t(requestPdu[0] | 0x80), uint8_t(lastFailure_->exceptionCode)};
        trace_->transaction(request, TraceLog::Answer::Frame, frame(exception), "exception", took);
        return;
    }
    case LinkFailure::Timeout:
        trace_->transaction(request, TraceLog::Answer::None, {}, "timeout", took);
        return;
    case LinkFailure::Io:
    case LinkFailure::Connection:
        trace_->transaction(request, TraceLog::Answer::None, {}, "io-error", took);
        return;
    default:
        // Bad CRC, wrong length, a late answer: libmodbus drops the bytes it rejects.
        trace_->transaction(request, TraceLog::Answer::Bad, {}, "bad-answer", took);
        return;
    }
}

} // namespace hx
