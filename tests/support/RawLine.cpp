#include "support/RawLine.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace hx::test {

RawLine::~RawLine() {
    close();
}

bool RawLine::open(const QString& path) {
    close();
    fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return false;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(fd_, TCSANOW, &tio);
    tcflush(fd_, TCIOFLUSH);
    return true;
}

void RawLine::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool RawLine::send(const QByteArray& bytes) {
    if (fd_ < 0) return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

QByteArray RawLine::receive(int ms, int quietMs) {
    QByteArray got;
    if (fd_ < 0) return got;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        const int wait = got.isEmpty() ? static_cast<int>(ms - clock.elapsed()) : quietMs;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, std::max(wait, 0)) <= 0) {
            if (!got.isEmpty()) break; // quiet after an answer: the frame is complete
            continue;
        }
        char buf[512];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, n);
    }
    return got;
}

} // namespace hx::test
