#include "support/SimProcess.h"

#include "support/ChildSignal.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <arpa/inet.h>
#include <csignal>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hx::test {

quint16 unusedTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

SimProcess::SimProcess(QStringList extraArgs) : extraArgs_(std::move(extraArgs)) {
    // Standard error goes straight to the test's log: nothing to read, nothing to block on.
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that crashes or is killed must not leave simulators behind (they keep serving
    // when their standard input ends): the child gets SIGTERM when the test process dies.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

SimProcess::~SimProcess() {
    stop();
}

bool SimProcess::start(int timeoutMs) {
    const QString program = qEnvironmentVariable("HX5800_SIM");
    if (program.isEmpty() || !QFileInfo(program).isExecutable()) {
        error_ = QStringLiteral("HX5800_SIM does not name the simulator (\"%1\")").arg(program);
        return false;
    }
    dir_ = std::make_unique<QTemporaryDir>();
    if (!dir_->isValid()) {
        error_ = QStringLiteral("no temporary folder: %1").arg(dir_->errorString());
        return false;
    }
    devicePath_ = dir_->filePath(QStringLiteral("ttySIM"));
    const QStringList line = tcp_ ? QStringList{QStringLiteral("--tcp"), QString::number(tcpPort_)}
                                  : QStringList{QStringLiteral("--pty"), devicePath_};
    process_.start(program, line + extraArgs_);
    if (!process_.waitForStarted(timeoutMs)) {
        error_ = QStringLiteral("simulator did not start: %1").arg(process_.errorString());
        return false;
    }
    const auto ready = nextLine(timeoutMs);
    if (tcp_ && ready && ready->startsWith(QStringLiteral("ready tcp://127.0.0.1:"))) {
        devicePath_ = ready->mid(6);
        tcpPort_ = quint16(devicePath_.section(QLatin1Char(':'), -1).toUInt());
        if (tcpPort_ != 0) return true;
    }
    if (!ready || *ready != QStringLiteral("ready ") + devicePath_) {
        error_ = QStringLiteral("simulator not ready (first line \"%1\")").arg(ready.value_or(QString()));
        stop();
        return false;
    }
    return true;
}

QString SimProcess::devicePath() const {
    return devicePath_;
}

std::optional<QString> SimProcess::nextLine(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!process_.canReadLine()) {
        if (process_.state() != QProcess::Running || deadline.hasExpired()) return std::nullopt;
        process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

std::optional<QString> SimProcess::replyLine(const QString& line, int timeoutMs) {
    if (process_.state() != QProcess::Running) return std::nullopt;
    process_.readAllStandardOutput(); // nothing unasked-for may be taken as the reply
    process_.write((line + QLatin1Char('\n')).toUtf8());
    if (!process_.waitForBytesWritten(timeoutMs)) return std::nullopt;
    return nextLine(timeoutMs);
}

bool SimProcess::command(const QString& line, int timeoutMs) {
    return replyLine(line, timeoutMs) == QStringLiteral("ok");
}

std::optional<int> SimProcess::query(const QString& line, int timeoutMs) {
    const auto reply = replyLine(line, timeoutMs);
    if (!reply) return std::nullopt;
    bool ok = false;
    const int value = reply->toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

void SimProcess::pause() {
    signalChild(process_, SIGSTOP);
}

void SimProcess::resume() {
    signalChild(process_, SIGCONT);
}

void SimProcess::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    resume(); // a stopped process would not act on SIGTERM
    process_.terminate();
    if (!process_.waitForFinished(2000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

bool SimProcess::isRunning() const {
    return process_.state() == QProcess::Running;
}

qint64 SimProcess::processId() const {
    return process_.processId();
}

QString SimProcess::errorText() const {
    return error_;
}

} // namespace hx::test
