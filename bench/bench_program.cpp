// The whole program at steady state: started as an operator starts it (splash, hand-over),
// port 1 opened on hx5800-sim, the main window live and recording into a fresh database.
// After a settling time, the process's CPU time over SECONDS of wall time as a share of one
// core, and its peak resident memory; then the same with the configuration window open on
// top.
//
//   bench_program [--main-only] [SECONDS [SIMULATOR OPTIONS...]]   (default 120; the
//   simulator from HX5800_SIM or the build; --demo keeps alarms, and so the event journal,
//   busy; with HX5800_MQTT set the program publishes too; --main-only leaves out the
//   configuration window)
// With the main window alone, each thread's share is given too (from the scheduler's own
// nanosecond count), so the publisher's threads can be told from the rest.
#include "app/Application.h"
#include "app/ssqx.h"
#include "logging/DatabaseSetup.h"
#include "support/SimProcess.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Peak resident set size in MiB (VmHWM).
double peakResidentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Nanoseconds each thread of this process ran, by thread name (threads of one name summed).
std::map<QByteArray, double> threadRunTimes() {
    std::map<QByteArray, double> times;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        QFile schedstat(QStringLiteral("/proc/self/task/%1/schedstat").arg(task));
        if (!comm.open(QIODevice::ReadOnly) || !schedstat.open(QIODevice::ReadOnly)) continue;
        times[comm.readAll().trimmed()] += schedstat.readAll().split(' ').first().toDouble();
    }
    return times;
}

// Runs the event loop for `seconds` and returns the CPU share of one core, in percent; with
// perThread, each thread's share too.
double cpuShareOver(int seconds, std::map<QByteArray, double>* perThread = nullptr) {
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    const auto threads0 = threadRunTimes();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double wallSeconds = wall.elapsed() / 1000.0;
    if (perThread) {
        for (const auto& [name, ns] : threadRunTimes()) {
            const auto before = threads0.find(name);
            (*perThread)[name] =
                100.0 * (ns - (before == threads0.end() ? 0 : before->second)) / 1e9 / wallSeconds;
        }
    }
    return 100.0 * (cpuSeconds() - cpu0) / wallSeconds;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("HX5800_SIM")) qputenv("HX5800_SIM", HX5800_SIM_BUILT);
    QApplication qtApp(argc, argv);
    int first = 1;
    const bool mainOnlyRun = argc > 1 && std::strcmp(argv[1], "--main-only") == 0;
    if (mainOnlyRun) ++first;
    const int seconds = argc > first ? std::max(5, std::atoi(argv[first])) : 120;

    QStringList simOptions; // after SECONDS: options for the simulator, e.g. --demo
    for (int i = first + 1; i < argc; ++i)
        simOptions << QString::fromLocal8Bit(argv[i]);
    hx::test::SimProcess sim(simOptions);
    if (!sim.start()) {
        std::fprintf(stderr, "bench_program: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("Rdatabj.db"));
    QString error;
    if (!hx::createRecordDatabase(db, false, &error)) {
        std::fprintf(stderr, "bench_program: %s\n", qPrintable(error));
        return 1;
    }
    qputenv("HX5800_COM1", sim.devicePath().toLocal8Bit());
    qputenv("HX5800_DB", db.toLocal8Bit());

    hx::Application app;
    app.start();
    QEventLoop settle;
    QTimer::singleShot(2500, &settle, &QEventLoop::quit); // splash and hand-over
    settle.exec();
    if (!app.mainWindow()) {
        std::fprintf(stderr, "bench_program: no main window\n");
        return 1;
    }
    app.mainWindow()->Command9->click();                   // "打开"
    QTimer::singleShot(10000, &settle, &QEventLoop::quit); // the first records, the caches
    settle.exec();

    std::map<QByteArray, double> threads;
    const double mainOnly = cpuShareOver(seconds, &threads);
    const double peakMain = peakResidentMiB();
    std::printf("%-54s %10s %12s\n", qPrintable(QStringLiteral("steady state over %1 s").arg(seconds)),
                "CPU % core", "peak RSS MiB");
    std::printf("%-54s %10.2f %12.1f\n", "main window live, port open, recording", mainOnly, peakMain);
    for (const auto& [name, share] : threads)
        if (share >= 0.005) std::printf("  thread %-45s %10.2f\n", name.constData(), share);
    std::fflush(nullptr);
    if (mainOnlyRun) std::_Exit(0);
    app.mainWindow()->Command21->click(); // "CONFIG"
    const bool configShown = app.mainWindow()->configWindow() != nullptr;
    const double withConfig = cpuShareOver(seconds);
    const double peakConfig = peakResidentMiB();

    std::printf("%-54s %10.2f %12.1f\n",
                configShown ? "configuration window open on top" : "configuration window (none to open)",
                withConfig, peakConfig);
    std::printf("\nadded by the configuration window: %+.2f %% of one core\n", withConfig - mainOnly);
    std::fflush(nullptr);
    std::_Exit(0); // like the exit command
}
