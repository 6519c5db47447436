#pragma once
// The whole program in the test's own process, as an operator starts it: the simulator on
// port 1 behind a stable link (so the device can vanish and come back under the same name),
// a recording database in a temporary folder, the splash's hand-over and "打开". A heartbeat
// on the window thread measures the longest stall; the harness's own blocking calls (commands
// to the simulator) do not count as the program's stalls.
#include "app/Application.h"
#include "app/ssqx.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>

#include <array>
#include <memory>

namespace hx::test {

// The simulator's frozen values of CH1..CH8, DA1, DA2 (input registers 1..10).
constexpr std::array<float, 10> kStaticValues{2500, -1500, 1234, 3750, -320, 455, 612, 7001, 3889, 7500};

class Heartbeat : public QObject {
  public:
    Heartbeat();
    void suspend() { suspended_ = true; }
    void resume();
    void reset();
    qint64 longestStallMs() const { return longest_; }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    bool suspended_ = false;
};

class ProgramHarness {
  public:
    // withDatabase false: the program starts without its database (none at the path).
    // databaseFolder: where the database lives (default: the harness's temporary folder).
    explicit ProgramHarness(QStringList simArgs = {"--static"}, bool withDatabase = true,
                            QString databaseFolder = {});
    ~ProgramHarness();

    // Port 1 reaches the simulator as a Modbus TCP gateway on 127.0.0.1 (a new simulator comes
    // back on the same TCP port). Call before start().
    void useTcp() { tcp_ = true; }

    // Simulator, database, program, "打开", and the first polled values. False with the
    // reason in why().
    bool start();
    QString why() const { return why_; }

    Application& app() { return *app_; }
    ssqx& window() { return *app_->mainWindow(); }
    SimProcess& sim() { return *sim_; }
    Heartbeat& heartbeat() { return heartbeat_; }
    QString databasePath() const {
        return (databaseFolder_.isEmpty() ? dir_.path() : databaseFolder_) + QStringLiteral("/Rdatabj.db");
    }
    QString folder() const { return dir_.path(); }

    // A run-time command to the simulator, outside the heartbeat.
    bool command(const QString& line);
    // The device disappears (the simulator ends) / a new simulator appears under the same name.
    void removeDevice();
    bool replaceDevice();

    // True while Pv_Value 0..9 and the value labels hold the simulator's values, the marker
    // of a resumption, or nothing yet: anything else came from a broken or late answer.
    bool valuesAreSane() const;
    // The values and labels when they first were not.
    QString firstInsane() const { return firstInsane_; }
    // Wipes the values to the marker; returns when a poll brought the instrument's values
    // back (ms) or -1 after timeoutMs.
    qint64 msUntilFreshValues(int timeoutMs);
    // Every recorded value is the instrument's value or the marker.
    bool recordsAreSane(QString* first) const;

  private:
    bool relink();
    std::unique_ptr<SimProcess> newSim() const;

    QStringList simArgs_;
    bool withDatabase_;
    QString databaseFolder_;
    QTemporaryDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<Application> app_;
    Heartbeat heartbeat_;
    QString why_;
    bool insane_ = false;
    QString firstInsane_;
    QTimer watch_;
    bool tcp_ = false;
};

} // namespace hx::test
