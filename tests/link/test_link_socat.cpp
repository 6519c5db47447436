// A transparent gateway (RTU frames carried raw over TCP, which libmodbus cannot speak) through
// the bridge the README gives: socat makes a pseudo-terminal of the TCP connection and the
// port is mapped to it. The gateway is socat too, serving hx5800-sim's pseudo-terminal on a
// TCP port, so the frames go RTU over TCP end to end.
#include "core/SharedState.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <array>

class LinkSocatTest : public QObject {
    Q_OBJECT
  private slots:
    void rtuOverTcpThroughASocatBridge() {
        QVERIFY2(!QStandardPaths::findExecutable("socat").isEmpty(),
                 "socat is needed (apt-get install socat)");
        hx::resetSharedState();
        hx::test::SimProcess sim({"--static"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        const QString tcpPort = QString::number(hx::test::unusedTcpPort());
        QTemporaryDir dir;
        const QString bridged = dir.filePath("ttyGW");
        QProcess gateway, bridge; // stopped (killed) when they go out of scope
        gateway.start("socat", {"-d", "-d", "TCP-LISTEN:" + tcpPort + ",bind=127.0.0.1,reuseaddr",
                                "OPEN:" + sim.devicePath() + ",raw,echo=0"});
        QVERIFY(
            QTest::qWaitFor([&] { return gateway.readAllStandardError().contains("listening on"); }, 5000));
        bridge.start("socat", {"pty,raw,echo=0,link=" + bridged, "tcp:127.0.0.1:" + tcpPort});
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(bridged); }, 5000));

        qputenv("HX5800_COM7", bridged.toLocal8Bit());
        hx::Com_Param[0] = 7;
        hx::Com_Param[3] = 1;
        // Two socat hops on a busy machine now and then take longer than the link waits (about
        // 92 ms at 9600 baud): a cycle that met a timeout is run again on a fresh link, up to
        // five times, once a late answer has had time to come and go.
        for (int tries = 1;; ++tries) {
            hx::ModbusLink link;
            QCOMPARE(link.OpenPort_Modbus(7, 1, 0), 0);
            hx::Met1(link).Timer1_Timer();
            std::array<int32_t, 16> instrument;
            for (int i = 0; i < 16; ++i)
                instrument[size_t(i)] = sim.query(QStringLiteral("get ir %1").arg(i + 1)).value_or(-1);
            const int32_t wrote = link.Set_4X_D1(7, 1, 4123, 1000);
            if (link.stats().timeouts > 0 && tries < 5) {
                qInfo("try %d met a timeout: tried again", tries);
                QTest::qWait(300);
                continue;
            }
            QCOMPARE(link.stats().good, uint64_t(5));
            for (int i = 0; i < 16; ++i)
                QCOMPARE(hx::Reg_Buffer[i], instrument[size_t(i)]);
            QCOMPARE(wrote, 0);
            QCOMPARE(sim.query("get hr 4123"), std::optional<int>(1000));
            break;
        }
    }
};

QTEST_MAIN(LinkSocatTest)
#include "test_link_socat.moc"
