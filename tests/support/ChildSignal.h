#pragma once
// Signals a test's child process, and nothing else. QProcess::processId() is 0 once the child
// has ended, and kill(0, sig) signals the caller's whole process group: the test, CTest, the
// shell that started it and in CI the runner. Every test that signals a child goes through here.
#include <QProcess>

#include <signal.h>

namespace hx::test {

// False (and nothing signalled) when the child no longer runs.
inline bool signalChild(const QProcess& child, int signal) {
    const qint64 pid = child.processId();
    if (pid <= 0 || child.state() == QProcess::NotRunning) return false;
    return ::kill(pid_t(pid), signal) == 0;
}

} // namespace hx::test
