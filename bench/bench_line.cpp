// The line service measured: hx5800-line against hx5800-sim --slaves 1-N --pace (each answer
// as late as on a real line at that baud rate) on a pseudo-terminal. For each scenario, once
// every instrument has its first record and a settling time has passed, over SECONDS of wall
// time: the records each instrument stored (one a second is the aim: the rate, the mean
// interval and the share missing, as the median over the instruments and the worst one), the
// wire used (the paced wire time of every transaction in the service's traffic log over the
// time watched; "busy": the time the transactions took over it, which tells the schedule's own
// gaps from a far end that answers late) and the service's CPU share of one core and peak
// resident memory.
//
//   bench_line [SECONDS [SCENARIO...]]   (default 120 s and every scenario; the simulator
//   from HX5800_SIM, the service from HX5800_LINE, else both from the build)
// Scenarios: 8@9600, 9@9600, 10@9600 (one more than the wire carries), 16@19200 (publishing to
// a local Mosquitto, no traffic log), 17@19200, 18@19200, silent (8@9600 with address 3 silent: the
// other seven's rate next to 8@9600's), 4@4800, 5@4800.
#include "publish/MqttTestSupport.h"
#include "support/ChildSignal.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

struct Scenario {
    const char* name;
    int instruments; // addresses 1..instruments
    int baud;
    int silentAddress = 0; // made silent before the watch
    bool publish = false;  // to a local broker; the traffic log is off then
};

constexpr Scenario kScenarios[] = {
    {"8@9600", 8, 9600},     {"9@9600", 9, 9600},
    {"10@9600", 10, 9600},   {"16@19200", 16, 19200, 0, true},
    {"17@19200", 17, 19200}, {"18@19200", 18, 19200},
    {"silent", 8, 9600, 3},  {"4@4800", 4, 4800},
    {"5@4800", 5, 4800},
};

struct WireShare {
    double paced = -1; // the paced wire time of the transactions over the time watched
    double busy = -1;  // the time the transactions took over the time watched
};

struct Result {
    double medianRate = 0, lowestRate = 0; // records per second per instrument
    double medianMissing = 0, worstMissing = 0;
    WireShare wire; // not measured with publishing on
    double cpuPercent = 0, peakMiB = 0;
    std::vector<double> rates; // by address - 1
};

int recordsIn(const QString& path) {
    sqlite3* db = nullptr;
    int count = -1;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "select count(*) from pv_data", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return count;
}

// Seconds of CPU the process used so far (user and system), from /proc.
double cpuSecondsOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command name in parentheses; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double peakResidentMiBOf(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// A transaction's time on a real line: the request, the 3.5 characters of silence that end
// it and the answer, each character a start bit, 8 data bits and a stop bit (no parity).
double wireSeconds(int requestBytes, int answerBytes, int baud) {
    return (requestBytes + 3.5 + answerBytes) * 10.0 / baud;
}

// From the traffic log, the transactions that ended between from and to.
WireShare wireShare(const QString& tracePath, const QDateTime& from, const QDateTime& to, int baud) {
    QFile trace(tracePath);
    if (!trace.open(QIODevice::ReadOnly)) return {};
    double paced = 0, took = 0;
    while (!trace.atEnd()) {
        const QList<QByteArray> fields = trace.readLine().split('\t');
        if (fields.size() < 5) continue;
        const QDateTime at = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
        if (at < from || at > to || !fields[2].startsWith("ans ") || fields[2] == "ans -") continue;
        const auto bytes = [](const QByteArray& field) { return int(field.mid(4).trimmed().count(' ')) + 1; };
        paced += wireSeconds(bytes(fields[1]), bytes(fields[2]), baud);
        took += fields[4].split(' ').first().toDouble() / 1000.0;
    }
    const double watched = from.msecsTo(to) / 1000.0;
    return {paced / watched, took / watched};
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::optional<Result> run(const Scenario& scenario, int seconds, const QString& lineProgram) {
    const QString addresses = QStringLiteral("1-%1").arg(scenario.instruments);
    hx::test::SimProcess sim({"--slaves", addresses, "--pace", "--baud", QString::number(scenario.baud)});
    if (!sim.start()) {
        std::fprintf(stderr, "bench_line: %s\n", qPrintable(sim.errorText()));
        return std::nullopt;
    }
    std::optional<hx::test::BrokerProcess> broker;
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString tracePath = dir.filePath(QStringLiteral("trace.log"));
    if (scenario.publish) {
        broker.emplace();
        broker->quiet();
        if (!broker->start()) {
            std::fprintf(stderr, "bench_line: no broker (mosquitto)\n");
            return std::nullopt;
        }
        environment.insert(QStringLiteral("HX5800_MQTT"), broker->url());
    } else {
        environment.insert(QStringLiteral("HX5800_TRACE"), tracePath);
    }
    QProcess line;
    line.setProcessEnvironment(environment);
    line.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    line.start(lineProgram, {"--port", sim.devicePath(), "--baud", QString::number(scenario.baud),
                             "--addresses", addresses, "--data", dir.filePath(QStringLiteral("data"))});
    if (!line.waitForStarted()) return std::nullopt;
    const auto database = [&](int a) { return dir.filePath(QStringLiteral("data/%1/Rdatabj.db").arg(a)); };
    const bool recording = QTest::qWaitFor(
        [&] {
            for (int a = 1; a <= scenario.instruments; ++a)
                if (recordsIn(database(a)) < 1) return false;
            return true;
        },
        30000);
    if (!recording) {
        std::fprintf(stderr, "bench_line: %s: not every instrument recorded within 30 s\n", scenario.name);
        return std::nullopt;
    }
    if (scenario.silentAddress) sim.command(QStringLiteral("silent %1 on").arg(scenario.silentAddress));
    QTest::qWait(5000); // the silent one found lost and probed only once a second; caches warm

    std::vector<int> before;
    for (int a = 1; a <= scenario.instruments; ++a)
        before.push_back(recordsIn(database(a)));
    const double cpu0 = cpuSecondsOf(line.processId());
    const QDateTime from = QDateTime::currentDateTime();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    const double watched = wall.elapsed() / 1000.0;
    const QDateTime to = QDateTime::currentDateTime();
    Result result;
    result.cpuPercent = 100.0 * (cpuSecondsOf(line.processId()) - cpu0) / watched;
    result.peakMiB = peakResidentMiBOf(line.processId());
    std::vector<double> missing;
    for (int a = 1; a <= scenario.instruments; ++a) {
        const double rate = (recordsIn(database(a)) - before[size_t(a - 1)]) / watched;
        result.rates.push_back(rate);
        if (a == scenario.silentAddress) continue;
        missing.push_back(std::max(0.0, 1.0 - rate));
    }
    std::vector<double> rates = result.rates;
    if (scenario.silentAddress) rates.erase(rates.begin() + (scenario.silentAddress - 1));
    result.medianRate = median(rates);
    result.lowestRate = *std::min_element(rates.begin(), rates.end());
    result.medianMissing = median(missing);
    result.worstMissing = *std::max_element(missing.begin(), missing.end());
    if (!scenario.publish) result.wire = wireShare(tracePath, from, to, scenario.baud);

    hx::test::signalChild(line, SIGTERM);
    line.waitForFinished(10000);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("HX5800_SIM")) qputenv("HX5800_SIM", HX5800_SIM_BUILT);
    const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
    QStringList wanted;
    for (int i = 2; i < argc; ++i)
        wanted << QString::fromLocal8Bit(argv[i]);

    std::printf("hx5800-line against hx5800-sim --pace, %d s watched per scenario, %s\n", seconds,
                qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)));
    std::printf("%-9s %5s %8s %9s %11s %10s %9s %7s %7s %7s\n", "scenario", "baud", "rec/s", "lowest",
                "interval s", "missing %", "worst %", "wire", "busy", "CPU %");
    std::optional<Result> allAnswering;
    for (const Scenario& scenario : kScenarios) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(scenario.name))) continue;
        const auto result =
            run(scenario, seconds, qEnvironmentVariable("HX5800_LINE", QStringLiteral(HX5800_LINE_BUILT)));
        if (!result) {
            std::printf("%-9s failed\n", scenario.name);
            continue;
        }
        const auto share = [](double value) {
            return value < 0 ? QString("-") : QString::number(value, 'f', 3);
        };
        std::printf("%-9s %5d %8.3f %9.3f %11.3f %10.2f %9.2f %7s %7s %7.2f  peak RSS %.1f MiB\n",
                    scenario.name, scenario.baud, result->medianRate, result->lowestRate,
                    1.0 / result->medianRate, 100 * result->medianMissing, 100 * result->worstMissing,
                    qPrintable(share(result->wire.paced)), qPrintable(share(result->wire.busy)),
                    result->cpuPercent, result->peakMiB);
        if (QLatin1String(scenario.name) == QLatin1String("8@9600")) allAnswering = result;
        if (scenario.silentAddress && allAnswering) {
            std::vector<double> ratios;
            for (size_t i = 0; i < result->rates.size(); ++i)
                if (int(i) + 1 != scenario.silentAddress)
                    ratios.push_back(result->rates[i] / allAnswering->rates[i]);
            std::printf(
                "  with address %d silent, the others' rate over 8@9600's: median %.4f, lowest %.4f\n",
                scenario.silentAddress, median(ratios), *std::min_element(ratios.begin(), ratios.end()));
        }
        std::fflush(stdout);
    }
    return 0;
}
