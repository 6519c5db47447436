// The real link through a Modbus TCP gateway: libmodbus's TCP back end against hx5800-sim
// serving TCP on 127.0.0.1. The poll and a write as on a serial line; a gateway that refuses
// or cannot be named; a silent one; answers with another transaction id, late answers. (The
// gateway restarted under the whole program: tests/reliability/test_link_faults.)
#include "core/SharedState.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"
#include "ui/FailureText.h"

#include <QElapsedTimer>
#include <QtTest>

using hx::LinkFailure;
using hx::ModbusLink;
using hx::OpenError;
using hx::test::SimProcess;

namespace {

constexpr int32_t kPort = 7;
constexpr int32_t kSentinel = 0x5A5A5A5A;
constexpr qint64 kCallBoundMs = 300; // the window thread's limit for one call
constexpr qint64 kAtOnceMs = 100;    // nothing waited for

// Starts the simulator as a gateway on a free port and opens port 7 through it. The baud and
// parity choices are nonsense on purpose: behind a gateway they do not apply.
bool startAndOpen(SimProcess& sim, ModbusLink& link) {
    sim.useTcp();
    if (!sim.start()) return qWarning("%s", qPrintable(sim.errorText())), false;
    qputenv("HX5800_COM7", sim.devicePath().toLocal8Bit());
    return link.OpenPort_Modbus(kPort, 9, 9) == 0;
}

int32_t readFirst(ModbusLink& link, int32_t* buffer) {
    std::fill(buffer, buffer + 8, kSentinel);
    return link.Get_3X_D8(kPort, 1, 1, std::span<int32_t>(buffer, 8));
}

} // namespace

Q_DECLARE_METATYPE(hx::OpenError)

class LinkTcpTest : public QObject {
    Q_OBJECT
  private slots:
    void pollAndWriteGoThroughTheGateway() {
        hx::resetSharedState();
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        hx::Com_Param[0] = kPort;
        hx::Com_Param[3] = 1;
        hx::Met1(link).Timer1_Timer();
        QCOMPARE(link.stats().good, uint64_t(4));
        for (int i = 0; i < 16; ++i)
            QCOMPARE(hx::Reg_Buffer[i],
                     sim.query(QStringLiteral("get ir %1").arg(i + 1)).value_or(kSentinel));
        for (int i = 0; i < 32; ++i)
            QCOMPARE(hx::Status_Bit[i],
                     sim.query(QStringLiteral("get di %1").arg(i + 1)).value_or(kSentinel));

        QCOMPARE(link.Set_4X_D1(kPort, 1, 4123, -1234), 0);
        QCOMPARE(sim.query("get hr 4123"), std::optional<int>(-1234));
        int32_t back[8];
        QCOMPARE(link.Get_4X_D8(kPort, 1, 4121, back), 0);
        QCOMPARE(back[2], -1234);
    }

    void aGatewayThatCannotBeOpenedSaysWhyAtOnce_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<OpenError>("cause");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("boundMs");
        const QByteArray port = QByteArray::number(hx::test::unusedTcpPort());
        QTest::newRow("refused") << "tcp://127.0.0.1:" + port << OpenError::Connection << u8"网关拒绝连接"
                                 << kAtOnceMs;
        QTest::newRow("refused on IPv6")
            << "tcp://[::1]:" + port << OpenError::Connection << u8"网关拒绝连接" << kAtOnceMs;
        // Whether a name server answers here or not, the open gives up in time.
        QTest::newRow("unknown host") << QByteArray("tcp://no-such-gateway.invalid:502")
                                      << OpenError::UnknownHost << u8"网关主机名无法解析" << kCallBoundMs;
    }
    void aGatewayThatCannotBeOpenedSaysWhyAtOnce() {
        QFETCH(QByteArray, name);
        QFETCH(OpenError, cause);
        QFETCH(QString, text);
        QFETCH(qint64, boundMs);
        qputenv("HX5800_COM7", name);
        ModbusLink link;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(link.OpenPort_Modbus(kPort, 1, 0), hx::kCallFailed);
        QVERIFY2(clock.elapsed() < boundMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(link.portStatus(kPort).cause, cause);
        QCOMPARE(QString::fromStdString(hx::openErrorText(link.portStatus(kPort))), text);
    }

    void aSilentGatewayCostsEachCallLessThan300ms() {
        SimProcess sim({"--static", "--silent"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        int32_t buffer[8];
        for (int call = 0; call < 6; ++call) {
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(readFirst(link, buffer), hx::kCallFailed);
            QVERIFY2(clock.elapsed() < kCallBoundMs, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(buffer[0], kSentinel);
        }
        // Three timeouts, then the back-off's calls that send nothing.
        QCOMPARE(link.stats().timeouts, uint64_t(ModbusLink::kTimeoutsBeforeBackOff));
        QCOMPARE(link.lastFailure()->kind, LinkFailure::BackOff);
    }

    // Gateways close connections that stay idle for a while; the next call connects again
    // and goes through, with no failure for the operator to see.
    void aConnectionClosedWhileIdleIsMadeAgainAtOnce() {
        SimProcess first({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(first, link));
        first.stop();
        SimProcess second({"--static"});
        second.useTcp(first.tcpPort());
        QVERIFY2(second.start(), qPrintable(second.errorText()));
        int32_t buffer[8];
        QCOMPARE(readFirst(link, buffer), 0);
        QCOMPARE(buffer[0], 2500);
    }

    void anAnswerWithAnotherTransactionIdIsRefused() {
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        QVERIFY(sim.command("corrupt-every 2"));
        int32_t buffer[8];
        QCOMPARE(readFirst(link, buffer), 0);
        QCOMPARE(readFirst(link, buffer), hx::kCallFailed);
        QCOMPARE(link.lastFailure()->kind, LinkFailure::Framing);
        QCOMPARE(buffer[0], kSentinel);
        QCOMPARE(readFirst(link, buffer), 0);
        QCOMPARE(buffer[0], 2500);
    }

    void lateAnswersAreNotTakenForFreshOnes() {
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        QVERIFY(sim.command("set ir 1 1111"));
        // Later than the link waits: the answer (1111) comes while the next request waits.
        QVERIFY(sim.command("delay 260"));
        int32_t buffer[8];
        QCOMPARE(readFirst(link, buffer), hx::kCallFailed);
        QVERIFY(sim.command("set ir 1 2222"));
        QVERIFY(sim.command("delay 0"));
        QCOMPARE(readFirst(link, buffer), 0);
        QCOMPARE(buffer[0], 2222);
    }
};

QTEST_MAIN(LinkTcpTest)
#include "test_link_tcp.moc"
