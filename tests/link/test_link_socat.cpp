// A transparent gateway (RTU frames carried raw over TCP, which libmodbus cannot speak) through
// the bridge the README gives: socat makes a pseudo-terminal of the TCP connection and the
// port is mapped to it. Here the gateway is socat too, serving hx5800-sim's pseudo-terminal on
// a TCP port, so the frames go RTU over TCP end to end.
#include "core/SharedState.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int32_t kPort = 7;

quint16 unusedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

// One socat, stopped with the test.
class Socat {
  public:
    explicit Socat(const QStringList& addresses) {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(QStringLiteral("socat"),
                       QStringList{QStringLiteral("-d"), QStringLiteral("-d")} + addresses);
    }
    ~Socat() {
        process_.terminate();
        if (!process_.waitForFinished(2000)) process_.kill(), process_.waitForFinished(2000);
    }
    Socat(const Socat&) = delete;
    Socat& operator=(const Socat&) = delete;
    // Waits until socat's log says `what` (e.g. "listening on").
    bool says(const QString& what) {
        return QTest::qWaitFor(
            [&] {
                process_.waitForReadyRead(50);
                log_ += QString::fromLocal8Bit(process_.readAllStandardError());
                return log_.contains(what);
            },
            5000);
    }
    QString log() const { return log_; }

  private:
    QProcess process_;
    QString log_;
};

} // namespace

class LinkSocatTest : public QObject {
    Q_OBJECT
  private slots:
    void rtuOverTcpThroughASocatBridge() {
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty(),
                     "socat is needed (apt-get install socat)");
        hx::resetSharedState();
        hx::test::SimProcess sim({"--static"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        const QString tcpPort = QString::number(unusedPort());
        // The gateway: the instrument's line served raw on a TCP port.
        Socat gateway({QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(tcpPort),
                       QStringLiteral("OPEN:%1,raw,echo=0").arg(sim.devicePath())});
        QVERIFY2(gateway.says(QStringLiteral("listening on")), qPrintable(gateway.log()));
        // The bridge on the program's side, as the README gives it.
        QTemporaryDir dir;
        const QString bridged = dir.filePath(QStringLiteral("ttyGW"));
        Socat bridge({QStringLiteral("pty,raw,echo=0,link=%1").arg(bridged),
                      QStringLiteral("tcp:127.0.0.1:%1").arg(tcpPort)});
        QVERIFY2(QTest::qWaitFor([&] { return QFileInfo::exists(bridged); }, 5000), qPrintable(bridge.log()));
        QVERIFY2(gateway.says(QStringLiteral("accepting connection")), qPrintable(gateway.log()));

        qputenv("HX5800_COM7", bridged.toLocal8Bit());
        hx::ModbusLink link;
        QCOMPARE(link.OpenPort_Modbus(kPort, 1, 0), 0);
        hx::Com_Param[0] = kPort;
        hx::Com_Param[3] = 1;
        hx::Met1 met1(link);
        met1.Timer1_Timer();
        QCOMPARE(link.stats().good, uint64_t(4));
        for (int i = 0; i < 16; ++i)
            QCOMPARE(hx::Reg_Buffer[i], sim.query(QStringLiteral("get ir %1").arg(i + 1)).value_or(-1));
        QCOMPARE(link.Set_4X_D1(kPort, 1, 4123, 1000), 0);
        QCOMPARE(sim.query("get hr 4123"), std::optional<int>(1000));
    }
};

QTEST_MAIN(LinkSocatTest)
#include "test_link_socat.moc"
