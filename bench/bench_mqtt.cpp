// bench_mqtt: the publisher and a broker on this machine. Run by hand; not a test.
//  1. backlog: 3 600 records (an hour) the broker missed, delivered after it comes back:
//     the time until the last one reached a subscriber and the rate;
//  2. fan-in: N simulated stations in this process (each its own client and topic, one
//     record a second, QoS 1, as the publisher sends them) into one local Mosquitto and one
//     subscriber; for growing N the share of records that arrive within 1 s, the broker's
//     CPU, until fewer than 99 % do.
//   bench_mqtt [SECONDS_PER_STEP]   (default 15; about 2 minutes in all)
#include "publish/MqttTestSupport.h"

#include "core/Clock.h"
#include "logging/DatabaseSetup.h"
#include "logging/SqliteRecordStore.h"
#include "publish/PublishCursor.h"
#include "publish/Publisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

using namespace hx;
using namespace hx::test;

namespace {

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Clock ticks the process spent on the CPU (user and system).
double cpuSeconds(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = file.readAll().split(')').last().split(' ');
    // After the name: state is field 1, utime 12, stime 13.
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) / sysconf(_SC_CLK_TCK);
}

void backlog() {
    constexpr int kRecords = 3600;
    QTemporaryDir dir;
    const QString database = dir.filePath("Rdatabj.db");
    QString error;
    createRecordDatabase(database, false, &error);
    {
        SqliteStoreOptions fast;
        fast.sync = SqliteStoreOptions::Sync::Normal;
        SqliteRecordStore store(database, fast);
        for (int slot = 1; slot <= kRecords; ++slot)
            store.writeRecord(StoredRecord{slot,
                                           dayNumberOf(QDate(2026, 12, 8)),
                                           dayFractionOf(QTime(8, 0).addSecs(slot)),
                                           {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}});
    }
    // The cursor on nothing: the whole hour is the backlog.
    BrokerProcess broker;
    broker.start();
    Subscriber subscriber(broker.port(), "hx5800/bench/#");
    subscriber.waitConnected(5000);
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.topicPrefix = "hx5800/bench";
    settings.databasePath = database;
    {
        QFile cursor(cursorPathFor(database));
        cursor.open(QIODevice::WriteOnly);
        cursor.write("0 1899-12-30T00:00:00\n");
    }
    QElapsedTimer clock;
    clock.start();
    Publisher publisher(settings);
    while (subscriber.records().size() < size_t(kRecords) && clock.elapsed() < 120000)
        QThread::msleep(20);
    const double seconds = clock.elapsed() / 1000.0;
    const auto got = withoutRepeats(subscriber.records());
    std::printf("backlog: %zu of %d records delivered in %.2f s (%.0f records/s), in order: %s\n", got.size(),
                kRecords, seconds, got.size() / seconds,
                std::is_sorted(got.begin(), got.end()) ? "yes" : "no");
}

struct Station {
    mosquitto* mosq = nullptr;
    QByteArray topic;
};

struct Latencies {
    std::mutex mutex;
    std::vector<int64_t> us;
};

void onStationMessage(mosquitto*, void* obj, const mosquitto_message* message) {
    const int64_t sent = QByteArray(static_cast<const char*>(message->payload), message->payloadlen)
                             .split(',')
                             .value(0)
                             .mid(8)
                             .toLongLong();
    auto* latencies = static_cast<Latencies*>(obj);
    std::lock_guard lock(latencies->mutex);
    latencies->us.push_back(nowUs() - sent);
}

std::atomic<int> connectedStations{0};

void onStationConnect(mosquitto*, void*, int rc) {
    if (rc == 0) ++connectedStations;
}

// All stations on one thread of this process, around poll(): libmosquitto's own loop uses
// select(), which cannot watch a socket numbered above 1023.
class StationLoop {
  public:
    explicit StationLoop(std::vector<Station>& stations) : stations_(stations), fds_(stations.size()) {}
    // Reads and writes whatever is ready, waiting at most timeoutMs.
    void turn(int timeoutMs) {
        for (size_t i = 0; i < stations_.size(); ++i) {
            fds_[i].fd = mosquitto_socket(stations_[i].mosq);
            fds_[i].events = POLLIN | (mosquitto_want_write(stations_[i].mosq) ? POLLOUT : 0);
            fds_[i].revents = 0;
        }
        ::poll(fds_.data(), fds_.size(), timeoutMs);
        for (size_t i = 0; i < stations_.size(); ++i) {
            if (fds_[i].revents & POLLIN) mosquitto_loop_read(stations_[i].mosq, 1);
            if (fds_[i].revents & POLLOUT) mosquitto_loop_write(stations_[i].mosq, 1);
        }
        if (nowUs() - lastMisc_ > 100000) {
            for (Station& s : stations_)
                mosquitto_loop_misc(s.mosq);
            lastMisc_ = nowUs();
        }
    }

  private:
    std::vector<Station>& stations_;
    std::vector<pollfd> fds_;
    int64_t lastMisc_ = 0;
};

// One step of the fan-in: true when 99 % arrived within 1 s.
bool fanIn(int stations, int seconds, int port, qint64 brokerPid) {
    Latencies latencies;
    mosquitto* sub = mosquitto_new(nullptr, true, &latencies);
    mosquitto_message_callback_set(sub, onStationMessage);
    mosquitto_connect(sub, "127.0.0.1", port, 30);
    mosquitto_subscribe(sub, nullptr, "hx5800/+/1/record", 1);
    mosquitto_loop_start(sub);
    connectedStations = 0;
    std::vector<Station> all(stations);
    for (int i = 0; i < stations; ++i) {
        all[i].mosq = mosquitto_new(nullptr, true, nullptr);
        mosquitto_connect_callback_set(all[i].mosq, onStationConnect);
        all[i].topic = QStringLiteral("hx5800/station%1/1/record").arg(i).toUtf8();
        mosquitto_connect(all[i].mosq, "127.0.0.1", port, 30);
    }
    StationLoop loop(all);
    for (const int64_t until = nowUs() + 30000000; connectedStations < stations && nowUs() < until;)
        loop.turn(10);
    if (connectedStations < stations)
        std::printf("fan-in %5d stations: only %d connected\n", stations, connectedStations.load());
    const double cpuBefore = cpuSeconds(brokerPid);
    const int64_t start = nowUs();
    int64_t sent = 0;
    // Each station sends once a second, the stations spread evenly over the second.
    for (int second = 0; second < seconds; ++second)
        for (int i = 0; i < stations; ++i) {
            const int64_t due = start + second * 1000000LL + int64_t(i) * 1000000LL / stations;
            while (nowUs() < due)
                loop.turn(int(std::clamp<int64_t>((due - nowUs()) / 1000, 0, 10)));
            const QByteArray payload =
                "{\"sent\":" + QByteArray::number(nowUs()) +
                ",\"slot\":1,\"time\":\"2026-12-08T08:00:00+08:00\",\"ch1\":2500,\"ch2\":"
                "-1500,\"ch3\":1234,\"ch4\":3750,\"ch5\":-320,\"ch6\":455,\"ch7\":612,\"ch8\":"
                "7001,\"da1\":3889,\"da2\":7500}";
            if (mosquitto_publish(all[i].mosq, nullptr, all[i].topic.constData(), payload.size(),
                                  payload.constData(), 1, false) == MOSQ_ERR_SUCCESS)
                ++sent;
        }
    for (const int64_t until = nowUs() + 2000000; nowUs() < until;)
        loop.turn(10);
    const double elapsed = (nowUs() - start) / 1e6;
    const double cpu = (cpuSeconds(brokerPid) - cpuBefore) / elapsed * 100;
    for (Station& s : all) {
        mosquitto_disconnect(s.mosq);
        mosquitto_destroy(s.mosq);
    }
    mosquitto_disconnect(sub);
    mosquitto_loop_stop(sub, false);
    mosquitto_destroy(sub);
    std::vector<int64_t> us;
    {
        std::lock_guard lock(latencies.mutex);
        us = latencies.us;
    }
    std::sort(us.begin(), us.end());
    const auto within = std::count_if(us.begin(), us.end(), [](int64_t v) { return v <= 1000000; });
    const double share = sent ? 100.0 * within / sent : 0;
    const auto pct = [&](double p) { return us.empty() ? 0.0 : us[size_t(p * (us.size() - 1))] / 1000.0; };
    std::printf(
        "fan-in %5d stations: %lld sent, %zu arrived, %.2f %% within 1 s, latency median %.1f ms, p99 "
        "%.1f ms; broker CPU %.0f %% of one core\n",
        stations, qlonglong(sent), us.size(), share, pct(0.5), pct(0.99), cpu);
    std::fflush(stdout);
    return share >= 99.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 15;
    mosquitto_lib_init();
    backlog();
    BrokerProcess broker;
    if (!broker.start()) return std::puts("bench_mqtt: mosquitto did not start"), 1;
    int largest = 0;
    for (int stations : {100, 500, 1000, 2000, 4000, 6000}) {
        if (!fanIn(stations, seconds, broker.port(), broker.processId())) break;
        largest = stations;
    }
    std::printf("fan-in: largest N with 99 %% within 1 s: %d\n", largest);
    return 0;
}
