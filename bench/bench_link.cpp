// What one link transaction costs over a pseudo-terminal against hx5800-sim, next to plain
// libmodbus calls on the same line in the same run; one poll cycle; a call to a silent
// instrument; a call while the link backs off; the first answer after a timeout, which
// waits for late answers; one poll cycle against an instrument that answers at a real line's
// speed, next to the wire time of its four transactions; and the window thread's longest
// stall while the poll runs against a silent instrument, with the time polling takes to
// resume once it answers again; and the poll cycle through a Modbus TCP gateway on 127.0.0.1
// (the simulator with --tcp) next to the same over a pseudo-terminal, with a call to a silent
// gateway.
//
//   bench_link [transactions]   (default 1000; the simulator from HX5800_SIM or the build)
#include "core/SharedState.h"
#include "link/LineTiming.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <modbus/modbus.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kPort = 7;

struct Figures {
    std::string what;
    size_t n = 0;
    double median = 0, p95 = 0, mean = 0, max = 0; // milliseconds
};

Figures figuresOf(std::string what, std::vector<double> ms) {
    Figures f{std::move(what), ms.size()};
    if (ms.empty()) return f;
    std::sort(ms.begin(), ms.end());
    f.median = ms[ms.size() / 2];
    f.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    double sum = 0;
    for (double v : ms)
        sum += v;
    f.mean = sum / double(ms.size());
    f.max = ms.back();
    return f;
}

double timedMs(const std::function<void()>& call) {
    const auto t0 = Clock::now();
    call();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void print(const std::vector<Figures>& rows) {
    std::printf("%-44s %6s %10s %10s %10s %10s\n", "operation", "n", "median ms", "p95 ms", "mean ms",
                "max ms");
    for (const Figures& f : rows)
        std::printf("%-44s %6zu %10.3f %10.3f %10.3f %10.3f\n", f.what.c_str(), f.n, f.median, f.p95, f.mean,
                    f.max);
}

// The wire time of one poll cycle: two reads of 8 input registers (request 8 bytes, answer 21)
// and two of 16 discrete inputs (8 and 7), each with the 3.5-character silence after the
// request and after the answer.
double pollWireTimeMs(int baud, bool parity) {
    const double bits = parity ? 11 : 10;
    const double characters = 2 * (8 + 21) + 2 * (8 + 7) + 4 * 2 * 3.5;
    return characters * bits * 1000.0 / baud;
}

struct PacedCycle {
    Figures cycle;
    double bound = 0;
};

// Poll cycles against a simulator pacing its answers at the baud rate (no answer delay).
PacedCycle pacedPollCycle(int baud, int cycles) {
    PacedCycle result;
    result.bound = pollWireTimeMs(baud, false);
    hx::test::SimProcess sim({"--static", "--pace", "--baud", QString::number(baud)});
    if (!sim.start()) return result;
    qputenv("HX5800_COM7", sim.devicePath().toLocal8Bit());
    hx::ModbusLink link;
    if (link.OpenPort_Modbus(kPort, baud == 19200 ? 2 : baud == 4800 ? 0 : 1, 0) != 0) return result;
    hx::Met1 met1(link);
    for (int i = 0; i < 3; ++i)
        met1.Timer1_Timer();
    std::vector<double> ms;
    for (int i = 0; i < cycles; ++i)
        ms.push_back(timedMs([&] { met1.Timer1_Timer(); }));
    result.cycle = figuresOf("paced poll cycle at " + std::to_string(baud), ms);
    return result;
}

struct SilentRun {
    double longestStallMs = 0;
    double resumeMs = -1; // from "silent off" to the first cycle that brought values
};

// The poll on its 500 ms timer, a 10 ms heartbeat on the same thread: the longest gap between
// heartbeats while the instrument is silent for `silentSeconds`, then how long the values take
// to come back once it answers.
SilentRun silentInstrument(QCoreApplication& app, int silentSeconds) {
    SilentRun run;
    hx::test::SimProcess sim({"--static"});
    if (!sim.start()) return run;
    qputenv("HX5800_COM7", sim.devicePath().toLocal8Bit());
    hx::ModbusLink link;
    if (link.OpenPort_Modbus(kPort, 1, 0) != 0) return run;
    hx::Met1 met1(link);
    met1.Timer1->start();
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer heartbeat;
    heartbeat.setInterval(10);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        run.longestStallMs = std::max(run.longestStallMs, double(now - last));
        last = now;
    });
    heartbeat.start();
    sim.command("silent on");
    QTimer::singleShot(silentSeconds * 1000, [&] {
        hx::Reg_Buffer[0] = -32768; // the static instrument never reads this
        sim.command("silent off");
        const qint64 answeringFrom = clock.elapsed();
        auto* watch = new QTimer(&app);
        watch->setInterval(10);
        QObject::connect(watch, &QTimer::timeout, [&, watch, answeringFrom] {
            if (hx::Reg_Buffer[0] != -32768) {
                run.resumeMs = double(clock.elapsed() - answeringFrom);
                watch->deleteLater();
                app.quit();
            } else if (clock.elapsed() - answeringFrom > 10000) {
                watch->deleteLater();
                app.quit();
            }
        });
        watch->start();
    });
    app.exec();
    met1.Timer1->stop();
    return run;
}

} // namespace

// The poll cycle over a pseudo-terminal and through a gateway on 127.0.0.1, in alternating
// rounds so that both see the same load; then single calls to a silent gateway.
std::vector<Figures> tcpAgainstPty(int cycles) {
    hx::test::SimProcess onPty({"--static"});
    hx::test::SimProcess onTcp({"--static"});
    onTcp.useTcp();
    if (!onPty.start() || !onTcp.start()) return {};
    constexpr int32_t kPtyPort = 8, kTcpPort = 9;
    qputenv("HX5800_COM8", onPty.devicePath().toLocal8Bit());
    qputenv("HX5800_COM9", onTcp.devicePath().toLocal8Bit());
    hx::ModbusLink link;
    if (link.OpenPort_Modbus(kPtyPort, 1, 0) != 0 || link.OpenPort_Modbus(kTcpPort, 1, 0) != 0) return {};
    hx::Com_Param[3] = 1;
    hx::Met1 met1(link);
    const auto cycleOn = [&](int32_t port) {
        hx::Com_Param[0] = port;
        return timedMs([&] { met1.Timer1_Timer(); });
    };
    for (int i = 0; i < 20; ++i)
        cycleOn(kPtyPort), cycleOn(kTcpPort);
    std::vector<double> ptyMs, tcpMs, silentMs;
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < cycles / 10; ++i)
            ptyMs.push_back(cycleOn(kPtyPort));
        for (int i = 0; i < cycles / 10; ++i)
            tcpMs.push_back(cycleOn(kTcpPort));
    }
    onTcp.command("silent on");
    int32_t buffer[8];
    for (int i = 0; i < 20; ++i) {
        link.OpenPort_Modbus(kTcpPort, 1, 0); // afresh, so the back-off does not set in
        silentMs.push_back(timedMs([&] { link.Get_3X_D8(kTcpPort, 1, 1, {buffer, 8}); }));
    }
    return {figuresOf("poll cycle over a pseudo-terminal", ptyMs),
            figuresOf("poll cycle through a gateway (TCP, 127.0.0.1)", tcpMs),
            figuresOf("silent gateway, one call", silentMs)};
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("HX5800_SIM")) qputenv("HX5800_SIM", HX5800_SIM_BUILT);
    QCoreApplication app(argc, argv);
    const int transactions = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;

    hx::test::SimProcess sim({"--static"});
    if (!sim.start()) {
        std::fprintf(stderr, "bench_link: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    const QByteArray device = sim.devicePath().toLocal8Bit();
    qputenv("HX5800_COM7", device);

    hx::ModbusLink link;
    if (link.OpenPort_Modbus(kPort, 1, 0) != 0) {
        std::fprintf(stderr, "bench_link: cannot open %s: %s\n", device.constData(),
                     link.portStatus(kPort).error.c_str());
        return 1;
    }
    // Plain libmodbus on the same line with the same time limits, for comparison.
    modbus_t* plain = modbus_new_rtu(device.constData(), 9600, 'N', 8, 1);
    if (!plain || modbus_connect(plain) != 0) {
        std::fprintf(stderr, "bench_link: plain libmodbus cannot open %s\n", device.constData());
        return 1;
    }
    modbus_set_slave(plain, 1);
    const hx::LineTiming timing = hx::lineTimingFor(9600, false);
    modbus_set_response_timeout(plain, 0, uint32_t(timing.responseTimeout.count()));
    modbus_set_byte_timeout(plain, 0, uint32_t(timing.byteTimeout.count()));
    modbus_flush(plain);

    int32_t buffer[16];
    uint16_t words[8];
    int linkFailures = 0, plainFailures = 0;
    for (int i = 0; i < 50; ++i) { // warm up both
        link.Get_3X_D8(kPort, 1, 1, {buffer, 8});
        modbus_read_input_registers(plain, 0, 8, words);
    }
    // Alternating rounds, so that both see the same machine load.
    std::vector<double> linkMs, plainMs;
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < transactions / 10; ++i)
            linkMs.push_back(timedMs([&] { linkFailures += link.Get_3X_D8(kPort, 1, 1, {buffer, 8}) != 0; }));
        for (int i = 0; i < transactions / 10; ++i)
            plainMs.push_back(
                timedMs([&] { plainFailures += modbus_read_input_registers(plain, 0, 8, words) != 8; }));
    }
    modbus_close(plain);
    modbus_free(plain);

    // One poll cycle: four transactions and three yields.
    hx::Com_Param[0] = kPort;
    hx::Com_Param[3] = 1;
    hx::Met1 met1(link);
    std::vector<double> cycleMs;
    for (int i = 0; i < transactions / 4; ++i)
        cycleMs.push_back(timedMs([&] { met1.Timer1_Timer(); }));

    // A silent instrument: the call waits the response timeout. A fresh open each time, so
    // the back-off does not set in; few samples, each costs a tenth of a second.
    sim.command("silent on");
    std::vector<double> silentMs, backedOffMs, lateCheckMs;
    for (int i = 0; i < 20; ++i) {
        link.OpenPort_Modbus(kPort, 1, 0);
        silentMs.push_back(timedMs([&] { link.Get_3X_D8(kPort, 1, 1, {buffer, 8}); }));
    }
    // Backing off: calls that send nothing.
    link.OpenPort_Modbus(kPort, 1, 0);
    for (int i = 0; i < hx::ModbusLink::kTimeoutsBeforeBackOff; ++i)
        link.Get_3X_D8(kPort, 1, 1, {buffer, 8});
    for (int i = 0; i < transactions; ++i) {
        const auto sent = link.stats().transactions;
        const double ms = timedMs([&] { link.Get_3X_D8(kPort, 1, 1, {buffer, 8}); });
        if (link.stats().transactions == sent) backedOffMs.push_back(ms);
    }
    // The first answer after a timeout also waits a response time for late answers.
    for (int i = 0; i < 20; ++i) {
        sim.command("silent on");
        link.OpenPort_Modbus(kPort, 1, 0);
        link.Get_3X_D8(kPort, 1, 1, {buffer, 8});
        sim.command("silent off");
        lateCheckMs.push_back(timedMs([&] { link.Get_3X_D8(kPort, 1, 1, {buffer, 8}); }));
    }
    sim.stop();

    const PacedCycle paced9600 = pacedPollCycle(9600, 50);
    const PacedCycle paced19200 = pacedPollCycle(19200, 50);
    const SilentRun silent = silentInstrument(app, 10);
    const std::vector<Figures> gateway = tcpAgainstPty(transactions / 4);

    const Figures linkF = figuresOf("link Get_3X_D8 (8 input registers)", linkMs);
    const Figures plainF = figuresOf("plain modbus_read_input_registers (8)", plainMs);
    print({linkF, plainF, figuresOf("poll cycle Met1::Timer1_Timer (4 calls)", cycleMs),
           figuresOf("silent instrument, one call", silentMs),
           figuresOf("backing off, one call", backedOffMs),
           figuresOf("first answer after a timeout", lateCheckMs)});
    std::printf("\nlink / plain libmodbus: median %.2fx, p95 %.2fx; failures: link %d, plain %d\n",
                linkF.median / plainF.median, linkF.p95 / plainF.p95, linkFailures, plainFailures);
    std::printf("response timeout at 9600 8N1: %.1f ms\n", timing.responseTimeout.count() / 1000.0);
    for (const PacedCycle* p : {&paced9600, &paced19200})
        std::printf("%s: median %.2f ms, p95 %.2f ms; wire-time bound %.2f ms; ratio %.3fx\n",
                    p->cycle.what.c_str(), p->cycle.median, p->cycle.p95, p->bound,
                    p->cycle.median / p->bound);
    std::printf("silent instrument for 10 s under the 500 ms poll: longest window-thread stall %.0f ms; "
                "polling resumed %.0f ms after the instrument answered again\n",
                silent.longestStallMs, silent.resumeMs);
    if (gateway.size() == 3) {
        std::printf("\n");
        print(gateway);
        std::printf("gateway / pseudo-terminal poll cycle: median %.2fx; gateway response timeout %.1f ms\n",
                    gateway[1].median / gateway[0].median,
                    hx::gatewayTiming().responseTimeout.count() / 1000.0);
    } else {
        std::fprintf(stderr, "bench_link: the gateway comparison could not start\n");
    }
    return 0;
}
