#pragma once
// hx5800-sim as a child process for end-to-end tests: its own temporary folder and
// pseudo-terminal (so tests run in parallel), its run-time commands, pause and resume.
// The simulator binary comes from the environment variable HX5800_SIM, which the test
// registration sets.
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace hx::test {

// A TCP port on 127.0.0.1 that nobody listens on now (bound, read and given back).
quint16 unusedTcpPort();

class SimProcess {
  public:
    explicit SimProcess(QStringList extraArgs = {}); // e.g. {"--static", "--refuse-first-write"}
    ~SimProcess();                                   // stops the process, removes its temporary folder
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Serves Modbus TCP on 127.0.0.1 instead of a pseudo-terminal, on `port` (0: a free one,
    // chosen by the simulator; tcpPort() names it after start()). Call before start().
    void useTcp(quint16 port = 0) { tcpPort_ = port, tcp_ = true; }
    quint16 tcpPort() const { return tcpPort_; }

    // Runs $HX5800_SIM --pty <tmp>/ttySIM <extra args> and waits for its "ready" line.
    // False (with the reason in errorText()) when it does not come up in time.
    bool start(int timeoutMs = 5000);
    // The pseudo-terminal link the program under test opens, or tcp://127.0.0.1:PORT.
    QString devicePath() const;

    // One run-time command; true when the simulator answered "ok". Synchronous: when it
    // returns, the simulator has carried the command out.
    bool command(const QString& line, int timeoutMs = 2000);
    // A command that answers a number, e.g. "get hr 4123"; nullopt on "error ..." or no answer.
    std::optional<int> query(const QString& line, int timeoutMs = 2000);

    void pause();  // SIGSTOP: the process keeps the line open but answers nothing
    void resume(); // SIGCONT
    void stop();   // SIGTERM, then SIGKILL after 2 s

    bool isRunning() const;
    qint64 processId() const;
    // Why start() failed (the simulator's own messages go to the test's standard error).
    QString errorText() const;

  private:
    std::optional<QString> replyLine(const QString& line, int timeoutMs);
    std::optional<QString> nextLine(int timeoutMs);

    QStringList extraArgs_;
    std::unique_ptr<QTemporaryDir> dir_;
    QProcess process_;
    QString devicePath_;
    QString error_;
    bool tcp_ = false;
    quint16 tcpPort_ = 0;
};

} // namespace hx::test
