// Which device a port number opens, and the time limits of one transaction: a silent
// instrument must never hold the window thread for more than a quarter second, whatever
// the line settings, while a slow but answering one must still get through.
#include "link/LineTiming.h"
#include "link/ModbusLink.h"
#include "link/PortMap.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;
using hx::devicePathForPort;
using hx::lineTimingFor;

namespace {

// Sets an environment variable for the length of one test case.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)) {
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// A pseudo-terminal that nobody answers on: the line of a switched-off instrument.
class DeadLine {
  public:
    DeadLine() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            if (const char* name = ::ptsname(master_)) path_ = name;
    }
    ~DeadLine() {
        if (master_ >= 0) ::close(master_);
    }
    DeadLine(const DeadLine&) = delete;
    DeadLine& operator=(const DeadLine&) = delete;
    QByteArray path() const { return path_; }

  private:
    int master_ = -1;
    QByteArray path_;
};

constexpr auto kWindowThreadBound = 250ms;

} // namespace

class PortMapTest : public QObject {
    Q_OBJECT
  private slots:
    void environmentNamesTheDevice_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("mapped");
        QTest::newRow("COM1 to an adapter") << 1 << "/dev/ttyACM3";
        QTest::newRow("COM7 to a pseudo-terminal") << 7 << "/tmp/x/ttySIM";
        QTest::newRow("COM12 to a by-id name") << 12 << "/dev/serial/by-id/usb-485-if00";
        QTest::newRow("COM256") << 256 << "/dev/ttyS9";
        // Port 0 comes from a port box text that is not a number; a mapping still wins.
        QTest::newRow("COM0 when mapped") << 0 << "/dev/ttyUSB0";
    }
    void environmentNamesTheDevice() {
        QFETCH(int, port);
        QFETCH(QString, mapped);
        const QByteArray name = "HX5800_COM" + QByteArray::number(port);
        ScopedEnv env(name.constData(), mapped.toLocal8Bit());
        QCOMPARE(QString::fromStdString(devicePathForPort(port)), mapped);
    }

    void withoutMappingTheSerialPortIsUsed_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("expected"); // empty: no device at all
        // No USB adapter with these numbers on any test machine.
        QTest::newRow("COM200") << 200 << "/dev/ttyS199";
        QTest::newRow("COM64") << 64 << "/dev/ttyS63";
        QTest::newRow("COM0 has no device") << 0 << "";
        QTest::newRow("COM-1 has no device") << -1 << "";
        QTest::newRow("most negative port") << int(INT32_MIN) << "";
    }
    void withoutMappingTheSerialPortIsUsed() {
        QFETCH(int, port);
        QFETCH(QString, expected);
        const QByteArray name = "HX5800_COM" + QByteArray::number(port);
        ScopedEnv env(name.constData(), QByteArray()); // set but empty counts as not mapped
        if (port > 0 && QFile::exists(QStringLiteral("/dev/ttyUSB%1").arg(port - 1)))
            QSKIP("this machine has a USB adapter with that number");
        QCOMPARE(QString::fromStdString(devicePathForPort(port)), expected);
    }

    void firstSerialPortPrefersAUsbAdapter() {
        ScopedEnv env("HX5800_COM1", QByteArray());
        const QString got = QString::fromStdString(devicePathForPort(1));
        QCOMPARE(got, QFile::exists("/dev/ttyUSB0") ? QStringLiteral("/dev/ttyUSB0")
                                                    : QStringLiteral("/dev/ttyS0"));
    }

    void gatewayNamesAreRead_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("read"); // "host port"; empty: not a gateway's name
        QTest::newRow("IPv4 and port") << "tcp://192.168.1.50:502"
                                       << "192.168.1.50 502";
        QTest::newRow("host name, 502 implied") << "tcp://gw-hall3"
                                                << "gw-hall3 502";
        QTest::newRow("IPv6 in brackets") << "tcp://[::1]:1502"
                                          << "::1 1502";
        QTest::newRow("IPv6 without brackets") << "tcp://::1:1502"
                                               << "";
        QTest::newRow("port not a number") << "tcp://gw:modbus"
                                           << "";
        QTest::newRow("port above 65535") << "tcp://gw:65536"
                                          << "";
    }
    void gatewayNamesAreRead() {
        QFETCH(QString, name);
        QFETCH(QString, read);
        const auto gateway = hx::gatewayOf(name.toStdString());
        QCOMPARE(gateway ? QString::fromStdString(gateway->host + " " + gateway->service) : QString(), read);
    }

    void timingFitsTheWindowThread_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("parity");
        QTest::addColumn<int>("characterUs"); // bits per character / baud, rounded up
        for (int baud : {4800, 9600, 19200})
            for (bool parity : {false, true})
                QTest::addRow("%d %s", baud, parity ? "with parity" : "no parity")
                    << baud << parity << int(((parity ? 11 : 10) * 1000000LL + baud - 1) / baud);
    }
    void timingFitsTheWindowThread() {
        QFETCH(int, baud);
        QFETCH(bool, parity);
        QFETCH(int, characterUs);
        const hx::LineTiming t = lineTimingFor(baud, parity);
        QCOMPARE(int(t.character.count()), characterUs);
        // A silent call costs the response timeout: bounded for the window thread, and never
        // shorter than the instrument's turnaround plus the adapter's latency.
        QVERIFY2(t.responseTimeout >= hx::kInstrumentTurnaround + hx::kAdapterLatency &&
                     t.responseTimeout <= 110ms,
                 qPrintable(QString::number(t.responseTimeout.count())));
        // The request must be on the wire, and the instrument's turnaround over, before
        // the answer can begin: a shorter wait would call a slow instrument silent.
        QVERIFY(t.responseTimeout >=
                t.character * hx::kRequestBytes + hx::kInstrumentTurnaround + hx::kAdapterLatency);
        // An answer the adapter hands over in bursts must not be cut between bursts, and
        // the gap must exceed the 3.5 characters that end a frame at this speed.
        QVERIFY(t.byteTimeout >= hx::kAdapterLatency);
        QVERIFY(t.byteTimeout > t.character * 7 / 2);
        // The longest answered exchange: request, turnaround, the longest answer.
        QVERIFY(t.longestExchange >= t.responseTimeout + t.character * hx::kLongestAnswerBytes);
        QVERIFY2(t.longestExchange < kWindowThreadBound,
                 qPrintable(QString::number(t.longestExchange.count())));
    }

    // The same bound measured: the real link on a line nobody answers, at every baud and
    // parity choice the port settings offer.
    void silentCallStaysWithinTheBound_data() {
        QTest::addColumn<int>("baudChoice");
        QTest::addColumn<int>("parityChoice");
        for (int b = 0; b < 3; ++b)
            for (int p = 0; p < 3; ++p)
                QTest::addRow("baud %d parity %d", b, p) << b << p;
    }
    void silentCallStaysWithinTheBound() {
        QFETCH(int, baudChoice);
        QFETCH(int, parityChoice);
        DeadLine line;
        QVERIFY(!line.path().isEmpty());
        ScopedEnv env("HX5800_COM9", line.path());
        hx::ModbusLink link;
        QCOMPARE(link.OpenPort_Modbus(9, baudChoice, parityChoice), 0);
        int32_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), 4711);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(link.Get_4X_D16(9, 1, 4097, buffer), hx::kCallFailed);
        const auto elapsed = std::chrono::nanoseconds(clock.nsecsElapsed());
        QVERIFY2(elapsed < kWindowThreadBound, qPrintable(QString::number(elapsed.count() / 1000000.0)));
        // It did wait for an answer rather than give up at once.
        QVERIFY(elapsed >= 80ms);
        QCOMPARE(link.stats().timeouts, uint64_t(1));
        QVERIFY(std::all_of(std::begin(buffer), std::end(buffer), [](int32_t v) { return v == 4711; }));
    }
};

QTEST_GUILESS_MAIN(PortMapTest)
#include "test_port_map.moc"
