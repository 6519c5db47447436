#include "sim/LineServer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <sys/ioctl.h>
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

} // namespace

LineServer::LineServer(SimOptions options)
    : options_(std::move(options)), instrument_(options_.slave, options_.baudCode(), options_.parityCode()),
      responder_(instrument_, options_.faults, options_.slave),
      console_(instrument_, options_.faults, responder_) {
    instrument_.setStatic(options_.frozen);
    instrument_.setDemo(options_.demo);
    instrument_.setOpenCircuit(options_.openCircuit);
    instrument_.setShortCircuit(options_.shortCircuit);
}

LineServer::~LineServer() {
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
    return options_.ptyPath.empty() ? openDevice(error) : openPty(error);
}

bool LineServer::newContext(std::string& error) {
    if (ctx_) modbus_free(ctx_);
    const std::string& name = options_.devicePath.empty() ? clientEndName_ : options_.devicePath;
    ctx_ = modbus_new_rtu(name.c_str(), options_.baud, options_.parity, 8, 1);
    if (!ctx_) {
        error = errnoText("modbus_new_rtu");
        return false;
    }
    modbus_set_slave(ctx_, options_.slave);
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
    std::printf("ready %s\n",
                options_.ptyPath.empty() ? options_.devicePath.c_str() : options_.ptyPath.c_str());
    std::fflush(stdout);
    while (!quit_ && !g_stopRequested) {
        pollfd fds[2] = {{lineFd_, POLLIN, 0}, {stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0}};
        const int rc = ::poll(fds, 2, kIdleTickMs);
        instrument_.update(seconds()); // the instrument scans whether or not it is asked
        if (rc < 0) {
            if (errno == EINTR) continue;
            std::perror("hx5800-sim: poll");
            return 1;
        }
        if (fds[1].revents) readCommands();
        if (fds[0].revents & POLLIN)
            serveRequest();
        else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            std::fprintf(stderr, "hx5800-sim: the line is gone\n");
            return 1;
        }
    }
    return 0;
}

void LineServer::serveRequest() {
    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    const int length = modbus_receive(ctx_, request);
    if (length < 0) {
        log(std::string("bad request: ") + modbus_strerror(errno));
        modbus_flush(ctx_);
        return;
    }
    if (length == 0) {
        // A request for another slave. libmodbus then takes the next frame for that slave's
        // answer and skips it; on this line there is no such answer, so start afresh.
        log("request for another slave ignored");
        std::string error;
        newContext(error);
        return;
    }
    const auto received = std::chrono::steady_clock::now();
    const std::span<const uint8_t> frame(request, static_cast<size_t>(length));
    if (options_.faults.silent) {
        log("silent, dropped " + hexOf(frame));
        return;
    }
    log("rx " + hexOf(frame));
    instrument_.update(seconds());
    const auto answer = responder_.respond(frame);
    if (!answer) {
        log("no answer");
        return;
    }
    if (options_.faults.delayMs > 0) waitTakingCommands(options_.faults.delayMs);
    if (options_.pace)
        waitUntil(received + std::chrono::microseconds(pacedAnswerMicroseconds(
                                 frame.size(), answer->size(), options_.baud, options_.parity)));
    if (options_.faults.silent || quit_) {
        log("silenced while delaying, answer dropped");
        return;
    }
    send(*answer);
    if (options_.faults.silentAfter > 0 && --options_.faults.silentAfter == 0) {
        options_.faults.silent = true;
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
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::write(lineFd_, frame.data() + done, frame.size() - done);
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
