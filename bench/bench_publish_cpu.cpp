// bench_publish_cpu: the whole program's steady CPU with publishing on against off, in runs
// that alternate (off, on, then on, off, ...) so that a machine growing busier or quieter
// during the bench weighs on both alike. Each run is bench_program --main-only against its own
// simulator; "on" publishes to a Mosquitto this bench starts on 127.0.0.1. Prints every run,
// the medians, their ratio and the publisher's own threads.
//   bench_publish_cpu [PAIRS [SECONDS [SIMULATOR OPTIONS...]]]   (default 4 pairs of 40 s, --demo)
#include "publish/MqttTestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

struct Run {
    double total = 0;     // the process, % of one core
    double publisher = 0; // the publisher's thread and libmosquitto's
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::optional<Run> runProgram(bool publishing, const QString& brokerUrl, int seconds,
                              const QStringList& simOptions) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("HX5800_MQTT"));
    if (publishing) env.insert(QStringLiteral("HX5800_MQTT"), brokerUrl);
    env.insert(QStringLiteral("HX5800_MQTT_TOPIC"), QStringLiteral("bench/hx5800"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(BENCH_PROGRAM),
                  QStringList{QStringLiteral("--main-only"), QString::number(seconds)} + simOptions);
    if (!program.waitForFinished((seconds + 60) * 1000)) return std::nullopt;
    Run run;
    bool found = false;
    const QRegularExpression share(QStringLiteral("\\s([0-9.]+)\\s+[0-9.]+$"));
    for (const QString& line :
         QString::fromLocal8Bit(program.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("main window live"))) {
            const auto m = share.match(line);
            if (m.hasMatch()) run.total = m.captured(1).toDouble(), found = true;
        } else if (line.contains(QLatin1String("thread mqtt-publisher")) ||
                   line.contains(QLatin1String("thread mqtt-network"))) {
            run.publisher += line.section(QLatin1Char(' '), -1).toDouble();
        }
    }
    return found ? std::optional(run) : std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pairs = argc > 1 ? std::max(1, atoi(argv[1])) : 4;
    const int seconds = argc > 2 ? std::max(5, atoi(argv[2])) : 40;
    QStringList simOptions;
    for (int i = 3; i < argc; ++i)
        simOptions << QString::fromLocal8Bit(argv[i]);
    if (argc <= 3) simOptions << QStringLiteral("--demo");

    hx::test::BrokerProcess broker;
    broker.quiet();
    if (!broker.start()) return std::puts("bench_publish_cpu: mosquitto did not start"), 1;
    std::printf("%d pairs of %d s, simulator %s\n\n%-8s %-4s %12s %14s\n", pairs, seconds,
                qPrintable(simOptions.join(QLatin1Char(' '))), "run", "mqtt", "CPU % core", "publisher %");
    std::vector<double> off, on, publisher;
    int number = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        for (int k = 0; k < 2; ++k) {
            const bool publishing = (pair % 2 == 0) == (k == 1); // off, on; on, off; ...
            const auto run = runProgram(publishing, broker.url(), seconds, simOptions);
            if (!run) return std::printf("bench_publish_cpu: run %d gave no figure\n", number + 1), 1;
            std::printf("%-8d %-4s %12.2f %14.2f\n", ++number, publishing ? "on" : "off", run->total,
                        run->publisher);
            std::fflush(stdout);
            (publishing ? on : off).push_back(run->total);
            if (publishing) publisher.push_back(run->publisher);
        }
    }
    const double offMedian = median(off), onMedian = median(on);
    std::printf(
        "\nmedian off %.2f %%, on %.2f %% of one core: on/off %.3f x; the publisher's threads %.2f %%\n",
        offMedian, onMedian, onMedian / offMedian, median(publisher));
    return 0;
}
