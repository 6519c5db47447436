#include "sim/LineServer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace hx::sim {

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void onStopSignal(int) {
    g_stopRequested = 1;
}

void installSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: poll() returns so the loop can end
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Answers nobody read pile up in the pseudo-terminal while no client has it open; past this
// many unread bytes they are thrown away, as a real line loses frames nobody listens to.
constexpr int kStaleAnswerBytes = 2048;
constexpr int kIdleTickMs = 100;

// The answer as a gateway sends it for the instrument's frame `rtu` (slave, PDU, CRC): the
// request's transaction id, protocol 0, the length, the unit and the PDU. An instrument's frame
// with a bad CRC (the corrupt-every fault) goes out with a wrong transaction id instead.
std::vector<uint8_t> gatewayFrame(const uint8_t* request, const std::vector<uint8_t>& rtu) {
    const std::span<const uint8_t> body(rtu.data(), rtu.size() - 2);
    const uint16_t crc = modbusCrc(body);
    const bool corrupt = rtu[rtu.size() - 2] != uint8_t(crc & 0xFF) || rtu.back() != uint8_t(crc >> 8);
    const auto id = static_cast<uint16_t>(((request[0] << 8) | request[1]) + (corrupt ? 1 : 0));
    const size_t length = body.size();
    std::vector<uint8_t> out{uint8_t(id >> 8), uint8_t(id), 0, 0, uint8_t(length >> 8), uint8_t(length)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// The length of an RTU request as libmodbus reads it: slave, function, the function's fixed
// fields, the data its byte count announces, CRC.
size_t rtuRequestLength(const uint8_t* frame) {
    const int function = frame[1];
    const bool multiple = function == 0x0F || function == 0x10;
    const int fixed = function <= 0x06 ? 4 : multiple ? 5 : function == 0x16 ? 6 : function == 0x17 ? 9 : 0;
    const int data = multiple ? frame[6] : function == 0x17 ? frame[10] : 0;
    return size_t(2 + fixed + data + 2);
}

bool goodCrc(std::span<const uint8_t> frame) {
    const uint16_t crc = modbusCrc(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == uint8_t(crc & 0xFF) && frame.back() == uint8_t(crc >> 8);
}

} // namespace

LineServer::LineServer(SimOptions options)
    : options_(std::move(options)), bus_(options_), console_(bus_.consoleTargets()) {}

LineServer::~LineServer() {
    for (int fd : clients_)
        ::close(fd);
    if (listenFd_ >= 0) ::close(listenFd_);
    if (ctx_) {
        if (!options_.devicePath.empty()) modbus_close(ctx_);
        modbus_free(ctx_);
    }
    if (!options_.ptyPath.empty()) {
        if (lineFd_ >= 0) ::close(lineFd_);
        if (clientEndFd_ >= 0) ::close(clientEndFd_);
        // remove the link only while it still points at our terminal
        char target[256] = {};
        const ssize_t n = ::readlink(options_.ptyPath.c_str(), target, sizeof target - 1);
        if (linkMade_ && n > 0 && clientEndName_ == std::string(target, static_cast<size_t>(n)))
            ::unlink(options_.ptyPath.c_str());
    }
}

bool LineServer::open(std::string& error) {
    installSignalHandlers();
    if (options_.tcp()) return openTcp(error);
    servedName_ = options_.ptyPath.empty() ? options_.devicePath : options_.ptyPath;
    return options_.ptyPath.empty() ? openDevice(error) : openPty(error);
}

bool LineServer::openTcp(std::string& error) {
    const std::string service = std::to_string(options_.tcpPort);
    ctx_ = modbus_new_tcp_pi(options_.bindAddress.c_str(), service.c_str());
    if (!ctx_) {
        error = errnoText("modbus_new_tcp_pi");
        return false;
    }
    listenFd_ = modbus_tcp_pi_listen(ctx_, 8);
    if (listenFd_ < 0) {
        error = errnoText("listening on " + options_.bindAddress + " port " + service);
        return false;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    const bool v6 = address.ss_family == AF_INET6;
    const uint16_t port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                   : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    servedName_ = "tcp://" + (v6 ? "[" + options_.bindAddress + "]" : options_.bindAddress) + ":" +
                  std::to_string(port);
    return true;
}

void LineServer::acceptClient() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    clients_.push_back(fd);
    log("connection accepted");
}

void LineServer::closeClient(int fd) {
    ::close(fd);
    std::erase(clients_, fd);
    if (client_ == fd) client_ = -1;
    log("connection closed");
}

bool LineServer::newContext(std::string& error) {
    if (ctx_) modbus_free(ctx_);
    const std::string& name = options_.devicePath.empty() ? clientEndName_ : options_.devicePath;
    ctx_ = modbus_new_rtu(name.c_str(), options_.baud, options_.parity, 8, 1);
    if (!ctx_) {
        error = errnoText("modbus_new_rtu");
        return false;
    }
    // libmodbus takes in only this address and broadcasts; receiveFrame() checks the others.
    modbus_set_slave(ctx_, bus_.slaves().front()->address);
    if (lineFd_ >= 0) modbus_set_socket(ctx_, lineFd_);
    return true;
}

bool LineServer::openPty(std::string& error) {
    lineFd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (lineFd_ < 0 || grantpt(lineFd_) != 0 || unlockpt(lineFd_) != 0) {
        error = errnoText("pseudo-terminal");
        return false;
    }
    const char* name = ptsname(lineFd_);
    if (!name) {
        error = errnoText("ptsname");
        return false;
    }
    clientEndName_ = name;
    clientEndFd_ = ::open(name, O_RDWR | O_NOCTTY);
    if (clientEndFd_ < 0) {
        error = errnoText("opening " + clientEndName_);
        return false;
    }
    // Raw: no echo, no line editing, no CR/LF translation of the binary frames.
    termios tio{};
    tcgetattr(clientEndFd_, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(clientEndFd_, TCSANOW, &tio);

    struct stat st {};
    if (::lstat(options_.ptyPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = options_.ptyPath + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(options_.ptyPath.c_str()); // a stale link of an earlier run
    }
    if (::symlink(name, options_.ptyPath.c_str()) != 0) {
        error = errnoText("symlink " + options_.ptyPath);
        return false;
    }
    linkMade_ = true;
    return newContext(error);
}

bool LineServer::openDevice(std::string& error) {
    if (!newContext(error)) return false;
    if (modbus_connect(ctx_) != 0) {
        error = errnoText("opening " + options_.devicePath);
        return false;
    }
    lineFd_ = modbus_get_socket(ctx_);
    return true;
}

double LineServer::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void LineServer::log(const std::string& text) const {
    if (options_.verbose) std::fprintf(stderr, "hx5800-sim: %s\n", text.c_str());
}

int LineServer::run() {
    std::printf("ready %s\n", servedName_.c_str());
    std::fflush(stdout);
    while (!quit_ && !g_stopRequested) {
        std::vector<pollfd> fds{{options_.tcp() ? listenFd_ : lineFd_, POLLIN, 0},
                                {stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0}};
        for (int fd : clients_)
            fds.push_back({fd, POLLIN, 0});
        const int rc = ::poll(fds.data(), fds.size(), kIdleTickMs);
        bus_.update(seconds());
        if (rc < 0) {
            if (errno == EINTR) continue;
            std::perror("hx5800-sim: poll");
            return 1;
        }
        if (fds[1].revents) readCommands();
        if (options_.tcp()) {
            if (fds[0].revents & POLLIN) acceptClient();
            for (size_t i = 2; i < fds.size() && !quit_; ++i) {
                if (!fds[i].revents) continue;
                client_ = fds[i].fd;
                modbus_set_socket(ctx_, client_);
                serveRequest();
            }
        } else if (fds[0].revents & POLLIN)
            serveRequest();
        else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            std::fprintf(stderr, "hx5800-sim: the line is gone\n");
            return 1;
        }
    }
    return 0;
}

std::optional<std::vector<uint8_t>> LineServer::receiveFrame(uint8_t* request, int& length) {
    length = modbus_receive(ctx_, request);
    if (length < 0) {
        log(std::string("bad request: ") + modbus_strerror(errno));
        // A connection that ended or sent a broken frame is closed, as a gateway does.
        if (options_.tcp())
            closeClient(client_);
        else
            modbus_flush(ctx_);
        return std::nullopt;
    }
    if (options_.tcp()) // the instrument behind the gateway gets the unit, the PDU and a CRC
        return withCrc({request + 6, request + length});
    if (length == 0) {
        // A request for another address, read whole but not checked. libmodbus then takes the
        // next frame for that slave's answer and skips it; on this line there is no such
        // answer, so start afresh.
        std::string error;
        newContext(error);
        const size_t whole = rtuRequestLength(request);
        if (whole > MODBUS_RTU_MAX_ADU_LENGTH || !goodCrc({request, whole})) {
            log("request for another slave with a bad CRC ignored");
            return std::nullopt;
        }
        length = static_cast<int>(whole);
    }
    return std::vector<uint8_t>(request, request + length);
}

void LineServer::serveRequest() {
    uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
    int length = 0;
    const auto carried = receiveFrame(request, length);
    if (!carried) return;
    const auto received = std::chrono::steady_clock::now();
    const std::span<const uint8_t> adu(request, static_cast<size_t>(length));
    const std::span<const uint8_t> frame(*carried);
    if (frame[0] == 0) {
        log("broadcast " + hexOf(adu));
        bus_.broadcast(frame, seconds());
        return;
    }
    Slave* slave = bus_.find(frame[0]);
    if (!slave) { // nobody on the line has that address: no answer, as on RS-485
        log("request for another slave ignored: " + hexOf(adu));
        return;
    }
    FaultSettings& faults = slave->faults;
    if (faults.silent) {
        log("silent, dropped " + hexOf(adu));
        return;
    }
    log("rx " + hexOf(adu));
    slave->instrument.update(seconds());
    const auto answer = slave->responder.respond(frame);
    if (!answer) {
        log("no answer");
        return;
    }
    if (faults.delayMs > 0) waitTakingCommands(faults.delayMs);
    if (options_.pace)
        waitUntil(received + std::chrono::microseconds(pacedAnswerMicroseconds(
                                 frame.size(), answer->size(), options_.baud, options_.parity)));
    if (faults.silent || quit_) {
        log("silenced while delaying, answer dropped");
        return;
    }
    send(options_.tcp() ? gatewayFrame(request, *answer) : *answer);
    if (faults.silentAfter > 0 && --faults.silentAfter == 0) {
        faults.silent = true;
        log("silent from now on");
    }
}

void LineServer::send(const std::vector<uint8_t>& frame) {
    if (clientEndFd_ >= 0) {
        int unread = 0;
        if (::ioctl(clientEndFd_, FIONREAD, &unread) == 0 && unread > kStaleAnswerBytes) {
            tcflush(clientEndFd_, TCIFLUSH);
            log("unread answers thrown away");
        }
    }
    log("tx " + hexOf(frame));
    const int fd = options_.tcp() ? client_ : lineFd_;
    size_t done = 0;
    while (fd >= 0 && done < frame.size()) {
        const ssize_t n = ::write(fd, frame.data() + done, frame.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            log(errnoText("write"));
            return;
        }
        done += static_cast<size_t>(n);
    }
}

void LineServer::waitTakingCommands(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!quit_ && !g_stopRequested) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return;
        pollfd fd{stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) > 0 && fd.revents) readCommands();
    }
}

void LineServer::waitUntil(std::chrono::steady_clock::time_point deadline) {
    // Sub-millisecond precision: a character lasts 0.57 ms at 19200 baud.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    const timespec at{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

void LineServer::readCommands() {
    char buf[1024];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && errno == EINTR) return;
        stdinOpen_ = false; // closed or /dev/null: keep serving without commands
        return;
    }
    stdinBuffer_.append(buf, static_cast<size_t>(n));
    for (size_t eol; (eol = stdinBuffer_.find('\n')) != std::string::npos;) {
        std::string line = stdinBuffer_.substr(0, eol);
        stdinBuffer_.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const CommandReply reply = console_.execute(line, seconds());
        log("command \"" + line + "\": " + reply.line);
        std::printf("%s\n", reply.line.c_str());
        std::fflush(stdout);
        if (reply.quit) quit_ = true;
    }
}

} // namespace hx::sim
