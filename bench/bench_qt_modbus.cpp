// Our link next to Qt's own Modbus RTU client on the same line, in the same run: the time of
// one read of 8 input registers from hx5800-sim on a pseudo-terminal, the cost of one
// request to a silent instrument with each client's time limits, and how long after a silent
// instrument answers again the next good read comes.
//
//   bench_qt_modbus [reads]   (default 300; the simulator from HX5800_SIM or the build)
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialClient>
#include <QSerialPort>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int32_t kPort = 7;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One read of input registers 1..8 through Qt's client; true when it brought 8 values.
bool qtRead(QModbusRtuSerialClient& client) {
    QModbusReply* reply = client.sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, 8), 1);
    if (!reply) return false;
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QModbusReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const bool ok = reply->error() == QModbusDevice::NoError && reply->result().valueCount() == 8;
    reply->deleteLater();
    return ok;
}

template <typename F> double timedMs(F&& call) {
    const auto t0 = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("HX5800_SIM")) qputenv("HX5800_SIM", HX5800_SIM_BUILT);
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;

    hx::test::SimProcess sim({"--static"});
    if (!sim.start()) {
        std::fprintf(stderr, "bench_qt_modbus: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    const QString device = sim.devicePath();
    qputenv("HX5800_COM7", device.toLocal8Bit());

    hx::ModbusLink link;
    if (link.OpenPort_Modbus(kPort, 1, 0) != 0) {
        std::fprintf(stderr, "bench_qt_modbus: the link cannot open %s\n", qPrintable(device));
        return 1;
    }
    QModbusRtuSerialClient client; // its defaults: 1000 ms timeout, 3 retries
    client.setConnectionParameter(QModbusDevice::SerialPortNameParameter, device);
    client.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud9600);
    client.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    client.setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
    client.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
    if (!client.connectDevice()) {
        std::fprintf(stderr, "bench_qt_modbus: Qt's client cannot open %s: %s\n", qPrintable(device),
                     qPrintable(client.errorString()));
        return 1;
    }
    QElapsedTimer waitOpen;
    waitOpen.start();
    while (client.state() != QModbusDevice::ConnectedState && waitOpen.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    int32_t buffer[8];
    int ourFailures = 0, qtFailures = 0;
    for (int i = 0; i < 10; ++i) { // warm up both
        link.Get_3X_D8(kPort, 1, 1, buffer);
        qtRead(client);
    }
    // Alternating rounds, so that both see the same machine load.
    std::vector<double> ourMs, qtMs;
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < reads / 10; ++i)
            ourMs.push_back(timedMs([&] { ourFailures += link.Get_3X_D8(kPort, 1, 1, buffer) != 0; }));
        for (int i = 0; i < reads / 10; ++i)
            qtMs.push_back(timedMs([&] { qtFailures += !qtRead(client); }));
    }

    // A silent instrument: one request each (ours freshly opened, so no back-off yet).
    sim.command("silent on");
    link.OpenPort_Modbus(kPort, 1, 0);
    const double ourSilent = timedMs([&] { link.Get_3X_D8(kPort, 1, 1, buffer); });
    const double qtSilent = timedMs([&] { qtRead(client); });

    // The instrument answers again while each client is waiting on it: reads go on back to
    // back; the time from "silent off" (300 ms into a silent read) to the first good read.
    auto resumeAfterSilence = [&](auto&& read) {
        sim.command("silent on");
        QElapsedTimer clock;
        qint64 answeringFrom = -1;
        QTimer::singleShot(300, [&] {
            sim.command("silent off");
            answeringFrom = clock.elapsed();
        });
        clock.start();
        while (clock.elapsed() < 20000) {
            const bool ok = read();
            QCoreApplication::processEvents();
            if (ok && answeringFrom >= 0) return double(clock.elapsed() - answeringFrom);
        }
        return -1.0;
    };
    const double ourResume = resumeAfterSilence([&] { return link.Get_3X_D8(kPort, 1, 1, buffer) == 0; });
    const double qtResume = resumeAfterSilence([&] { return qtRead(client); });
    client.disconnectDevice();
    sim.stop();

    const double ours = median(ourMs), theirs = median(qtMs);
    std::printf("%-52s %10s %10s\n", "one read of 8 input registers (median ms)", "ours", "Qt");
    std::printf("%-52s %10.3f %10.3f\n", "  pseudo-terminal, hx5800-sim, 9600 8N1", ours, theirs);
    std::printf("%-52s %10.1f %10.1f\n", "one request to a silent instrument (ms)", ourSilent, qtSilent);
    std::printf("%-52s %10.1f %10.1f\n", "first good read after it answers again (ms)", ourResume, qtResume);
    std::printf("\nours / Qt: %.3fx (failures: ours %d, Qt %d)\n", ours / theirs, ourFailures, qtFailures);
    return 0;
}
