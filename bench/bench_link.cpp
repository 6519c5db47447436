// What one link transaction costs over a pseudo-terminal against hx5800-sim, next to plain
// libmodbus calls on the same line in the same run; one poll cycle; a call to a silent
// instrument; a call while the link backs off; and the first answer after a timeout, which
// waits for late answers.
//
//   bench_link [transactions]   (default 1000; the simulator from HX5800_SIM or the build)
#include "core/SharedState.h"
#include "link/LineTiming.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QCoreApplication>

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

} // namespace

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

    const Figures linkF = figuresOf("link Get_3X_D8 (8 input registers)", linkMs);
    const Figures plainF = figuresOf("plain modbus_read_input_registers (8)", plainMs);
    print({linkF, plainF, figuresOf("poll cycle Met1::Timer1_Timer (4 calls)", cycleMs),
           figuresOf("silent instrument, one call", silentMs),
           figuresOf("backing off, one call", backedOffMs),
           figuresOf("first answer after a timeout", lateCheckMs)});
    std::printf("\nlink / plain libmodbus: median %.2fx, p95 %.2fx; failures: link %d, plain %d\n",
                linkF.median / plainF.median, linkF.p95 / plainF.p95, linkFailures, plainFailures);
    std::printf("response timeout at 9600 8N1: %.1f ms\n", timing.responseTimeout.count() / 1000.0);
    return 0;
}
