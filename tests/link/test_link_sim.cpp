// The real link end to end: libmodbus over a pseudo-terminal, hx5800-sim on the other end.
// What the poll leaves in the shared state, writes and their refusals, a silent instrument
// and the back-off, broken answers, late answers, and a port that is not open.
#include "core/SharedState.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"
#include "ui/FailureText.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using hx::ModbusLink;
using hx::test::SimProcess;

namespace {

constexpr int32_t kPort = 7;
constexpr int32_t kSentinel = 0x5A5A5A5A; // no register or packed byte can hold it
// The longest a call may hold the window thread. The link's own limit is about 92 ms at
// 9600 baud; the bound leaves room for a busy machine and still catches a wait of
// libmodbus's default 500 ms.
constexpr qint64 kWindowThreadBoundMs = 400;
// "At once": a call that sends nothing.
constexpr qint64 kAtOnceMs = 50;

// Starts the simulator and opens port 7 on its line at 9600, no parity.
bool startAndOpen(SimProcess& sim, ModbusLink& link) {
    if (!sim.start()) {
        qWarning("%s", qPrintable(sim.errorText()));
        return false;
    }
    qputenv("HX5800_COM7", sim.devicePath().toLocal8Bit());
    return link.OpenPort_Modbus(kPort, 1, 0) == 0;
}

// The instrument's own view of `count` values from `first`, asked on its console.
std::vector<int32_t> simValues(SimProcess& sim, const char* table, int first, int count) {
    std::vector<int32_t> values;
    for (int n = first; n < first + count; ++n)
        values.push_back(sim.query(QStringLiteral("get %1 %2").arg(table).arg(n)).value_or(kSentinel));
    return values;
}

// Discrete inputs packed 8 per element, first input in bit 0, as the link delivers them.
std::vector<int32_t> simPackedInputs(SimProcess& sim, int first, int count) {
    const auto bits = simValues(sim, "di", first, count);
    std::vector<int32_t> packed(count / 8, 0);
    for (int i = 0; i < count; ++i)
        packed[i / 8] |= (bits[i] ? 1 : 0) << (i % 8);
    return packed;
}

template <typename F> qint64 elapsedMs(F&& call) {
    QElapsedTimer clock;
    clock.start();
    call();
    return clock.elapsed();
}

// The writers' rule: a write that reports -8888 is sent exactly once more.
int32_t writeWithOneResend(hx::Link& link, int32_t address, int32_t reg, int32_t value) {
    int32_t rc = link.Set_4X_D1(kPort, address, reg, value);
    if (rc == hx::kWriteFailed) rc = link.Set_4X_D1(kPort, address, reg, value);
    return rc;
}

bool allAre(const int32_t* b, int n, int32_t v) {
    return std::all_of(b, b + n, [v](int32_t x) { return x == v; });
}

QString listOf(const int32_t* b, int n) {
    QStringList items;
    for (int i = 0; i < n; ++i)
        items << QString::number(b[i]);
    return items.join(' ');
}

} // namespace

Q_DECLARE_METATYPE(hx::OpenError)

class LinkSimTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { hx::resetSharedState(); }

    // ---- the poll through the real link ------------------------------------------------

    void pollCopiesTheInstrumentsValues() {
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        hx::Com_Param[0] = kPort;
        hx::Com_Param[3] = 1;
        hx::Met1 met1(link);
        met1.Timer1_Timer();
        QCOMPARE(link.stats().good, uint64_t(4));

        const auto inputs = simValues(sim, "ir", 1, 16);
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(hx::Reg_Buffer[i], inputs[i]);
            QCOMPARE(hx::Pv_Value[i], float(inputs[i]));
        }
        // The frozen channel values include negatives: CH2 -1500, CH5 -320.
        QCOMPARE(hx::Pv_Value[1], -1500.0f);
        QCOMPARE(hx::Pv_Value[4], -320.0f);
        const auto bits = simValues(sim, "di", 1, 32);
        for (int i = 0; i < 32; ++i)
            QVERIFY2(hx::Status_Bit[i] == bits[i], qPrintable(QStringLiteral("Status_Bit(%1)").arg(i)));
        // CH2 and CH4 in setpoint alarm, DO1 closed.
        QCOMPARE(hx::Status_Bit[17], 1);
        QCOMPARE(hx::Status_Bit[19], 1);
        QCOMPARE(hx::Status_Bit[24], 1);
        QCOMPARE(hx::Pv_Value[16], 0.0f);
        QCOMPARE(hx::Status_Bit[32], 0);
    }

    void discreteInputsLandInTheirOwnBits_data() {
        QTest::addColumn<QList<int>>("inputsOn"); // discrete inputs 1..16 switched on
        QTest::addColumn<QList<int>>("bitsOn");   // Status_Bit elements 0..15 that must be 1
        QTest::newRow("open circuit CH1") << QList<int>{1} << QList<int>{0};
        QTest::newRow("open circuit CH3") << QList<int>{3} << QList<int>{2};
        QTest::newRow("open circuit CH8") << QList<int>{8} << QList<int>{7};
        QTest::newRow("short circuit CH1") << QList<int>{9} << QList<int>{8};
        QTest::newRow("short circuit CH8") << QList<int>{16} << QList<int>{15};
        QTest::newRow("byte 5") << QList<int>{1, 3} << QList<int>{0, 2};
        QTest::newRow("byte 254") << QList<int>{2, 3, 4, 5, 6, 7, 8} << QList<int>{1, 2, 3, 4, 5, 6, 7};
        QTest::newRow("both bytes") << QList<int>{1, 16} << QList<int>{0, 15};
        // All eight on is byte 255, which the poll ignores: the earlier bits stay.
        QTest::newRow("byte 255 keeps the earlier bits")
            << QList<int>{1, 2, 3, 4, 5, 6, 7, 8} << QList<int>{};
    }
    void discreteInputsLandInTheirOwnBits() {
        QFETCH(QList<int>, inputsOn);
        QFETCH(QList<int>, bitsOn);
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        hx::Com_Param[0] = kPort;
        hx::Com_Param[3] = 1;
        hx::Met1 met1(link);
        met1.Timer1_Timer(); // all sixteen off
        for (int i = 0; i < 16; ++i)
            QCOMPARE(hx::Status_Bit[i], 0);
        for (int n : inputsOn)
            QVERIFY(sim.command(QStringLiteral("set di %1 1").arg(n)));
        met1.Timer1_Timer();
        for (int i = 0; i < 16; ++i)
            QVERIFY2(hx::Status_Bit[i] == (bitsOn.contains(i) ? 1 : 0),
                     qPrintable(QStringLiteral("Status_Bit(%1) = %2").arg(i).arg(hx::Status_Bit[i])));
        QCOMPARE(link.stats().good, uint64_t(8));
    }

    void comParamSelectsPortAndSlave_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("slave");
        QTest::addColumn<bool>("answered");
        QTest::newRow("port 7, slave 5") << 7 << 5 << true;
        QTest::newRow("another slave stays silent") << 7 << 1 << false;
        QTest::newRow("a port that is not open") << 6 << 5 << false;
        QTest::newRow("slave 0 is not an instrument") << 7 << 0 << false;
    }
    void comParamSelectsPortAndSlave() {
        QFETCH(int, port);
        QFETCH(int, slave);
        QFETCH(bool, answered);
        SimProcess sim({"--static", "--slave", "5"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        hx::Com_Param[0] = port;
        hx::Com_Param[3] = slave;
        std::fill(std::begin(hx::Reg_Buffer), std::begin(hx::Reg_Buffer) + 16, kSentinel);
        hx::Met1 met1(link);
        met1.Timer1_Timer();
        if (answered) {
            const auto inputs = simValues(sim, "ir", 1, 16);
            QCOMPARE(std::vector<int32_t>(hx::Reg_Buffer, hx::Reg_Buffer + 16), inputs);
            QCOMPARE(link.stats().good, uint64_t(4));
        } else {
            QVERIFY(allAre(hx::Reg_Buffer, 16, kSentinel));
            QCOMPARE(link.stats().good, uint64_t(0));
        }
    }

    // ---- writes -------------------------------------------------------------------------

    void writesLandAndReadBack_data() {
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("readBack");   // the signed register value
        QTest::addColumn<int>("blockFirst"); // first register of the 16-register block holding it
        QTest::newRow("CH1 setpoint -1999") << 257 << -1999 << -1999 << 257;
        QTest::newRow("CH8 hysteresis 32767") << 272 << 32767 << 32767 << 257;
        QTest::newRow("most negative") << 259 << -32768 << -32768 << 257;
        QTest::newRow("65535 is the word of -1") << 260 << 65535 << -1 << 257;
        QTest::newRow("40000 in unsigned form") << 261 << 40000 << 40000 - 65536 << 257;
        QTest::newRow("zero") << 262 << 0 << 0 << 257;
        QTest::newRow("last configuration register") << 4192 << 3 << 3 << 4177;
    }
    void writesLandAndReadBack() {
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(int, readBack);
        QFETCH(int, blockFirst);
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        QCOMPARE(link.Set_4X_D1(kPort, 1, reg, value), 0);
        QCOMPARE(sim.query(QStringLiteral("get hr %1").arg(reg)), std::optional<int>(readBack));
        const int eightFirst = reg + 7 <= blockFirst + 15 ? reg : reg - 7;
        int32_t eight[8];
        QCOMPARE(link.Get_4X_D8(kPort, 1, eightFirst, eight), 0);
        QCOMPARE(eight[reg - eightFirst], readBack);
        int32_t sixteen[16];
        QCOMPARE(link.Get_4X_D16(kPort, 1, blockFirst, sixteen), 0);
        QCOMPARE(sixteen[reg - blockFirst], readBack);
        QCOMPARE(std::vector<int32_t>(sixteen, sixteen + 16), simValues(sim, "hr", blockFirst, 16));
        QCOMPARE(link.stats().transactions, uint64_t(3));
        QCOMPARE(link.stats().good, uint64_t(3));
    }

    void valueOutsideARegisterIsNeverSent_data() {
        QTest::addColumn<int>("value");
        QTest::newRow("-32769") << -32769;
        QTest::newRow("65536") << 65536;
        QTest::newRow("most negative int") << int(INT32_MIN);
        QTest::newRow("largest int") << int(INT32_MAX);
    }
    void valueOutsideARegisterIsNeverSent() {
        QFETCH(int, value);
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        const auto before = sim.query("get hr 257");
        // Refused, not failed: the writers' resend rule must not fire.
        QCOMPARE(writeWithOneResend(link, 1, 257, value), hx::kWriteRefused);
        QCOMPARE(link.stats().transactions, uint64_t(0));
        QCOMPARE(link.stats().refused, uint64_t(1));
        QCOMPARE(sim.query("get hr 257"), before);
    }

    void calibrationRegistersRefuseWrites_data() {
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("blockFirst"); // an 8-register read that holds it
        QTest::newRow("first, 24577") << 24577 << 24577;
        QTest::newRow("last, 24632") << 24632 << 24625;
    }
    void calibrationRegistersRefuseWrites() {
        QFETCH(int, reg);
        QFETCH(int, blockFirst);
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        QVERIFY(sim.command(QStringLiteral("set hr %1 1234").arg(reg))); // as the factory left it
        QCOMPARE(link.Set_4X_D1(kPort, 1, reg, 999), hx::kWriteFailed);
        QCOMPARE(link.stats().exceptions, uint64_t(1));
        QCOMPARE(link.lastFailure(), std::optional(hx::CallFailure{hx::LinkFailure::Exception, 2}));
        QCOMPARE(sim.query(QStringLiteral("get hr %1").arg(reg)), std::optional<int>(1234));
        int32_t eight[8];
        QCOMPARE(link.Get_4X_D8(kPort, 1, blockFirst, eight), 0);
        QCOMPARE(eight[reg - blockFirst], 1234);
    }

    void aRefusedFirstWriteLandsOnTheResend() {
        SimProcess sim({"--static", "--refuse-first-write"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        QCOMPARE(writeWithOneResend(link, 1, 257, -1999), 0);
        QCOMPARE(sim.query("get hr 257"), std::optional<int>(-1999));
        const hx::LinkStats s = link.stats();
        QCOMPARE(s.transactions, uint64_t(2));
        QCOMPARE(s.exceptions, uint64_t(1));
        QCOMPARE(s.good, uint64_t(1));
    }

    // A simulator pacing its answers at a real line's speed: an 8-register read at 4800 baud
    // takes at least (8 + 3.5 + 21) characters of 10 bits.
    void aPacedInstrumentAnswersNoSoonerThanARealLine() {
        SimProcess sim({"--static", "--pace", "--baud", "4800"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        qputenv("HX5800_COM7", sim.devicePath().toLocal8Bit());
        ModbusLink link;
        QCOMPARE(link.OpenPort_Modbus(kPort, 0, 0), 0);
        int32_t buffer[8];
        for (int i = 0; i < 3; ++i) {
            int32_t rc = -1;
            const qint64 ms = elapsedMs([&] { rc = link.Get_3X_D8(kPort, 1, 1, buffer); });
            QCOMPARE(rc, 0);
            QVERIFY2(ms >= 67, qPrintable(QString::number(ms)));
        }
    }

    // ---- a silent instrument --------------------------------------------------------------

    void aSilentInstrumentCostsBoundedTimeAndBacksOff() {
        SimProcess sim({"--static"});
        // The back-off runs on a clock the test moves by hand.
        auto fakeNow = std::chrono::steady_clock::now();
        ModbusLink link([&] { return fakeNow; });
        QVERIFY(startAndOpen(sim, link));
        int32_t buffer[16];
        QCOMPARE(link.Get_3X_D8(kPort, 1, 1, buffer), 0);
        QCOMPARE(link.lastFailure(), std::nullopt);
        QVERIFY(sim.command("silent on"));

        // Each kind of call waits for the answer once, within the bound, and leaves its buffer.
        std::fill(std::begin(buffer), std::end(buffer), kSentinel);
        const std::array<std::function<int32_t()>, 3> calls = {
            [&] { return link.Get_3X_D8(kPort, 1, 1, buffer); },
            [&] { return link.Get_1X_B16(kPort, 1, 1, buffer); },
            [&] { return link.Get_4X_D16(kPort, 1, 257, buffer); },
        };
        for (const auto& call : calls) {
            int32_t rc = 0;
            const qint64 ms = elapsedMs([&] { rc = call(); });
            QCOMPARE(rc, hx::kCallFailed);
            QVERIFY2(ms < kWindowThreadBoundMs && ms >= 50, qPrintable(QString::number(ms)));
            QVERIFY(allAre(buffer, 16, kSentinel));
            QCOMPARE(link.lastFailure(), std::optional(hx::CallFailure{hx::LinkFailure::Timeout}));
        }
        QCOMPARE(link.stats().timeouts, uint64_t(3));
        QVERIFY(link.stats().backingOff);

        // Backing off: reads return at once; one goes out as a probe per second of the clock.
        uint64_t skipped = 0;
        std::vector<int> probesAtStep; // steps of 100 ms
        for (int step = 0; step < 25; ++step) {
            const uint64_t sentBefore = link.stats().transactions;
            int32_t rc = 0;
            const qint64 ms = elapsedMs([&] { rc = link.Get_3X_D8(kPort, 1, 1, buffer); });
            QCOMPARE(rc, hx::kCallFailed);
            QVERIFY(allAre(buffer, 16, kSentinel));
            if (link.stats().transactions > sentBefore) {
                probesAtStep.push_back(step);
                QVERIFY2(ms < kWindowThreadBoundMs, qPrintable(QString::number(ms)));
            } else {
                ++skipped;
                QVERIFY2(ms < kAtOnceMs, qPrintable(QString::number(ms)));
                QCOMPARE(link.lastFailure(), std::optional(hx::CallFailure{hx::LinkFailure::BackOff}));
            }
            fakeNow += std::chrono::milliseconds(100);
        }
        QCOMPARE(link.stats().skippedInBackOff, skipped);
        QCOMPARE(probesAtStep, (std::vector<int>{10, 20}));

        // A write is the operator's: it goes on the wire at once, and is resent once.
        const uint64_t sentBefore = link.stats().transactions;
        int32_t rc = 0;
        QVERIFY(elapsedMs([&] { rc = writeWithOneResend(link, 1, 257, 5); }) < 2 * kWindowThreadBoundMs);
        QCOMPARE(rc, hx::kWriteFailed);
        QCOMPARE(link.stats().transactions, sentBefore + 2);
        QCOMPARE(link.lastFailure(), std::optional(hx::CallFailure{hx::LinkFailure::Timeout}));

        // While still backing off, the first write after the instrument answers again gets
        // through and ends the back-off.
        QVERIFY(sim.command("silent off"));
        QCOMPARE(writeWithOneResend(link, 1, 257, 6), 0);
        QCOMPARE(sim.query("get hr 257"), std::optional<int>(6));
        QVERIFY(!link.stats().backingOff);
        QVERIFY(sim.command("silent on"));
        for (const auto& call : calls)
            call();
        QVERIFY(link.stats().backingOff);

        // The instrument answers again: the poll (every 500 ms) gets through within two seconds.
        QVERIFY(sim.command("silent off"));
        hx::Com_Param[0] = kPort;
        hx::Com_Param[3] = 1;
        hx::Met1 met1(link);
        const auto inputs = simValues(sim, "ir", 1, 8);
        int pollMs = 0;
        while (std::vector<int32_t>(hx::Reg_Buffer, hx::Reg_Buffer + 8) != inputs && pollMs <= 2000) {
            met1.Timer1_Timer();
            fakeNow += std::chrono::milliseconds(500);
            pollMs += 500;
        }
        QCOMPARE(std::vector<int32_t>(hx::Reg_Buffer, hx::Reg_Buffer + 8), inputs);
        QVERIFY2(pollMs <= 2000, qPrintable(QString::number(pollMs)));
        QVERIFY(!link.stats().backingOff);
        QCOMPARE(link.stats().consecutiveTimeouts, 0);
    }

    // An exception answer proves the instrument listens: timeout, timeout, exception, timeout
    // is no silence, and the link does not back off.
    void anExceptionBetweenTimeoutsKeepsTheLinkFromBackingOff() {
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        int32_t buffer[8];
        const auto read = [&] { return link.Get_3X_D8(kPort, 1, 1, buffer); };
        QVERIFY(sim.command("silent on"));
        read();
        read();
        QVERIFY(sim.command("silent off") && sim.command("exception-every 1"));
        read();
        QCOMPARE(link.lastFailure()->kind, hx::LinkFailure::Exception);
        QVERIFY(sim.command("exception-every 0") && sim.command("silent on"));
        read();
        QCOMPARE(link.stats().timeouts, uint64_t(3));
        QCOMPARE(link.stats().consecutiveTimeouts, 1);
        QVERIFY(!link.stats().backingOff);
    }

    // ---- broken answers -------------------------------------------------------------------

    void brokenAnswersNeverReachABuffer_data() {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<int>("every");
        QTest::addColumn<QString>("counter");
        QTest::newRow("bad CRC") << QStringList{"--corrupt-every", "2"} << 2 << "framingErrors";
        QTest::newRow("dropped answers") << QStringList{"--drop-every", "3"} << 3 << "timeouts";
        QTest::newRow("busy exceptions") << QStringList{"--exception-every", "2"} << 2 << "exceptions";
    }
    void brokenAnswersNeverReachABuffer() {
        QFETCH(QStringList, fault);
        QFETCH(int, every);
        QFETCH(QString, counter);
        SimProcess sim(QStringList{"--static"} + fault);
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        // Three blocks of different shape, each with its own expected values.
        struct Block {
            const char* name;
            std::function<int32_t(int32_t*)> read;
            std::vector<int32_t> expected;
        };
        const std::vector<Block> blocks = {
            {"ir 1..8",
             [&](int32_t* b) {
                 return link.Get_3X_D8(kPort, 1, 1, {b, 8});
             },
             simValues(sim, "ir", 1, 8)},
            {"hr 4097..4112",
             [&](int32_t* b) {
                 return link.Get_4X_D16(kPort, 1, 4097, {b, 16});
             },
             simValues(sim, "hr", 4097, 16)},
            {"di 17..32",
             [&](int32_t* b) {
                 return link.Get_1X_B16(kPort, 1, 17, {b, 2});
             },
             simPackedInputs(sim, 17, 16)},
        };
        constexpr int kReads = 30;
        int good = 0;
        for (int i = 0; i < kReads; ++i) {
            const Block& block = blocks[i % blocks.size()];
            const int n = int(block.expected.size());
            int32_t buffer[16];
            std::fill(std::begin(buffer), std::end(buffer), kSentinel);
            const int32_t rc = block.read(buffer);
            const bool isExpected = std::equal(block.expected.begin(), block.expected.end(), buffer);
            QVERIFY2(rc == 0 ? isExpected : allAre(buffer, 16, kSentinel),
                     qPrintable(QStringLiteral("read %1 of %2 returned %3: %4")
                                    .arg(i)
                                    .arg(block.name)
                                    .arg(rc)
                                    .arg(listOf(buffer, n))));
            QVERIFY(allAre(buffer + n, 16 - n, kSentinel));
            good += rc == 0;
        }
        // Every Nth answer is broken, counted as its own kind and nothing else.
        const hx::LinkStats s = link.stats();
        const uint64_t broken = kReads / every;
        QCOMPARE(s.transactions, uint64_t(kReads));
        QCOMPARE(s.good, uint64_t(kReads) - broken);
        QCOMPARE(uint64_t(good), s.good);
        QCOMPARE(s.framingErrors, counter == "framingErrors" ? broken : 0);
        QCOMPARE(s.timeouts, counter == "timeouts" ? broken : 0);
        QCOMPARE(s.exceptions, counter == "exceptions" ? broken : 0);
        QCOMPARE(s.ioErrors, uint64_t(0));
        QVERIFY(!s.backingOff);
    }

    // ---- late answers -----------------------------------------------------------------------

    // Requests sent while the instrument hangs are answered when it comes back. Those late
    // answers have the same shape as the answer to the next read of another block of input
    // registers; they must never be taken for it.
    void lateAnswersAreNotTakenForFreshOnes_data() {
        QTest::addColumn<int>("unanswered"); // requests sent while the instrument hangs
        QTest::addColumn<int>("waitMs");     // from its coming back to the next read
        for (int unanswered : {1, 2})
            for (int wait : {0, 2, 30})
                QTest::addRow("%d unanswered, next read after %d ms", unanswered, wait) << unanswered << wait;
    }
    void lateAnswersAreNotTakenForFreshOnes() {
        QFETCH(int, unanswered);
        QFETCH(int, waitMs);
        // The link knows a late answer by its timing within two response times of the request
        // that timed out; a busy machine that holds this thread past that (less a margin) before
        // the next read spoils the row's premise: it is tried again, up to five times.
        const qint64 windowMs = 2 * hx::lineTimingFor(9600, false).responseTimeout.count() / 1000 - 20;
        for (int tries = 1;; ++tries) {
            SimProcess sim({"--static"});
            ModbusLink link;
            QVERIFY(startAndOpen(sim, link));
            const auto first = simValues(sim, "ir", 1, 8);
            const auto second = simValues(sim, "ir", 9, 8);
            QVERIFY(first != second);
            int32_t buffer[8];
            sim.pause();
            QElapsedTimer sinceLastSent;
            for (int i = 0; i < unanswered; ++i) {
                std::fill(std::begin(buffer), std::end(buffer), kSentinel);
                sinceLastSent.start();
                QCOMPARE(link.Get_3X_D8(kPort, 1, 1, buffer), hx::kCallFailed);
                QVERIFY(allAre(buffer, 8, kSentinel));
            }
            sim.resume();
            if (waitMs > 0) QThread::msleep(waitMs);
            if (sinceLastSent.elapsed() >= windowMs && tries < 5) {
                qInfo("try %d: the next read %lld ms after the last unanswered one, tried again", tries,
                      sinceLastSent.elapsed());
                continue;
            }
            int good = 0;
            for (int i = 0; i < 6; ++i) {
                std::fill(std::begin(buffer), std::end(buffer), kSentinel);
                const int32_t rc = link.Get_3X_D8(kPort, 1, 9, buffer);
                const std::vector<int32_t> got(buffer, buffer + 8);
                QVERIFY2(got != first,
                         qPrintable(QStringLiteral("read %1 got the late answer of registers 1..8").arg(i)));
                QVERIFY2(
                    rc == 0 ? got == second : allAre(buffer, 8, kSentinel),
                    qPrintable(
                        QStringLiteral("read %1 returned %2: %3").arg(i).arg(rc).arg(listOf(buffer, 8))));
                good += rc == 0;
            }
            QVERIFY(good >= 4);
            break;
        }
    }

    // An instrument that answers every request later than the time limit: each late answer
    // arrives while the next request (for other registers) waits, and must never pass for it.
    void answersLaterThanTheLimitNeverPassForTheNextOnes() {
        SimProcess sim({"--static", "--delay", "150"});
        // A second passes between calls, so that each goes out even while the link backs off.
        auto fakeNow = std::chrono::steady_clock::now();
        ModbusLink link([&] { return fakeNow; });
        QVERIFY(startAndOpen(sim, link));
        QVERIFY(sim.command("delay 0"));
        const std::array<std::vector<int32_t>, 2> values{simValues(sim, "ir", 1, 8),
                                                         simValues(sim, "ir", 9, 8)};
        QVERIFY(sim.command("delay 150"));
        int32_t buffer[8];
        for (int i = 0; i < 12; ++i) {
            std::fill(std::begin(buffer), std::end(buffer), kSentinel);
            fakeNow += std::chrono::seconds(1);
            const uint64_t sent = link.stats().transactions;
            const int32_t rc = link.Get_3X_D8(kPort, 1, 1 + 8 * (i % 2), buffer);
            QCOMPARE(link.stats().transactions, sent + 1);
            QVERIFY2(
                rc == 0 ? std::vector<int32_t>(buffer, buffer + 8) == values[i % 2]
                        : allAre(buffer, 8, kSentinel),
                qPrintable(QStringLiteral("read %1 returned %2: %3").arg(i).arg(rc).arg(listOf(buffer, 8))));
        }
    }

    // ---- the port ---------------------------------------------------------------------------

    void callsOnAPortNotOpenFailAtOnce_data() {
        QTest::addColumn<int>("call");
        QTest::addColumn<int>("expected");
        QTest::newRow("Get_3X_D8") << 0 << int(hx::kCallFailed);
        QTest::newRow("Get_1X_B16") << 1 << int(hx::kCallFailed);
        QTest::newRow("Get_4X_D8") << 2 << int(hx::kCallFailed);
        QTest::newRow("Get_4X_D16") << 3 << int(hx::kCallFailed);
        QTest::newRow("Set_4X_D1") << 4 << int(hx::kWriteFailed);
        QTest::newRow("ClosePort_Modbus") << 5 << int(hx::kCallFailed);
    }
    void callsOnAPortNotOpenFailAtOnce() {
        QFETCH(int, call);
        QFETCH(int, expected);
        ModbusLink link;
        int32_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), kSentinel);
        int32_t rc = 0;
        const qint64 ms = elapsedMs([&] {
            switch (call) {
            case 0:
                rc = link.Get_3X_D8(kPort, 1, 1, buffer);
                break;
            case 1:
                rc = link.Get_1X_B16(kPort, 1, 1, buffer);
                break;
            case 2:
                rc = link.Get_4X_D8(kPort, 1, 257, buffer);
                break;
            case 3:
                rc = link.Get_4X_D16(kPort, 1, 257, buffer);
                break;
            case 4:
                rc = link.Set_4X_D1(kPort, 1, 257, 5);
                break;
            case 5:
                rc = link.ClosePort_Modbus(kPort);
                break;
            }
        });
        QCOMPARE(rc, expected);
        QVERIFY(ms < kAtOnceMs);
        QVERIFY(allAre(buffer, 16, kSentinel));
        QCOMPARE(link.stats().transactions, uint64_t(0));
        QVERIFY(!link.portStatus(kPort).open);
    }

    void closingAndReopeningThePortWorks() {
        SimProcess sim({"--static"});
        ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        const auto inputs = simValues(sim, "ir", 1, 8);
        int32_t buffer[8];
        for (int round = 0; round < 3; ++round) {
            std::fill(std::begin(buffer), std::end(buffer), kSentinel);
            QCOMPARE(link.Get_3X_D8(kPort, 1, 1, buffer), 0);
            QCOMPARE(std::vector<int32_t>(buffer, buffer + 8), inputs);
            QCOMPARE(link.ClosePort_Modbus(kPort), 0);
            QVERIFY(!link.portStatus(kPort).open);
            std::fill(std::begin(buffer), std::end(buffer), kSentinel);
            QVERIFY(elapsedMs([&] { QCOMPARE(link.Get_3X_D8(kPort, 1, 1, buffer), hx::kCallFailed); }) <
                    kAtOnceMs);
            QVERIFY(allAre(buffer, 8, kSentinel));
            QCOMPARE(link.OpenPort_Modbus(kPort, 1, 0), 0);
            QVERIFY(link.portStatus(kPort).open);
        }
        // Opening an open port opens it afresh.
        QCOMPARE(link.OpenPort_Modbus(kPort, 1, 0), 0);
        QCOMPARE(link.Get_3X_D8(kPort, 1, 1, buffer), 0);
        QCOMPARE(link.stats().timeouts, uint64_t(0));
    }

    // The line goes away under an open port (the instrument's process ends, as an adapter
    // that is unplugged): calls fail without blocking, the link tries to open the device
    // again at most once a second, and picks the line up when it is back.
    void aVanishedLineIsTakenUpAgainWhenItReturns() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString stable = dir.filePath("ttyHX"); // the name the port is mapped to
        auto first = std::make_unique<SimProcess>(QStringList{"--static"});
        QVERIFY2(first->start(), qPrintable(first->errorText()));
        QVERIFY(QFile::link(first->devicePath(), stable));
        qputenv("HX5800_COM7", stable.toLocal8Bit());
        ModbusLink link;
        QCOMPARE(link.OpenPort_Modbus(kPort, 1, 0), 0);
        int32_t buffer[8];
        QCOMPARE(link.Get_3X_D8(kPort, 1, 1, buffer), 0);

        first->stop();
        std::fill(std::begin(buffer), std::end(buffer), kSentinel);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1500) {
            QVERIFY(elapsedMs([&] { QCOMPARE(link.Get_3X_D8(kPort, 1, 1, buffer), hx::kCallFailed); }) <
                    kWindowThreadBoundMs);
            QThread::msleep(20);
        }
        QVERIFY(allAre(buffer, 8, kSentinel));
        QVERIFY(link.stats().ioErrors >= 1);
        QVERIFY(link.stats().backingOff);
        QVERIFY(link.stats().skippedInBackOff > 20);
        // Opening the device again is tried once a second, not on every call.
        QVERIFY2(link.stats().ioErrors <= 3, qPrintable(QString::number(link.stats().ioErrors)));

        SimProcess second({"--static"});
        QVERIFY2(second.start(), qPrintable(second.errorText()));
        QVERIFY(QFile::remove(stable));
        QVERIFY(QFile::link(second.devicePath(), stable));
        const auto inputs = simValues(second, "ir", 1, 8);
        clock.restart();
        while (link.Get_3X_D8(kPort, 1, 1, buffer) != 0 && clock.elapsed() < 2500)
            QThread::msleep(20);
        QCOMPARE(std::vector<int32_t>(buffer, buffer + 8), inputs);
        QVERIFY(!link.stats().backingOff);
        // Opened again, the device is held again.
        ModbusLink other;
        QCOMPARE(other.OpenPort_Modbus(kPort, 1, 0), hx::kCallFailed);
        QCOMPARE(other.portStatus(kPort).cause, hx::OpenError::Busy);
    }

    // A held port is refused to a second link, as to a second program, until it is closed.
    void aHeldPortIsRefusedUntilItsHolderClosesIt() {
        SimProcess sim({"--static"});
        ModbusLink holder, second;
        QVERIFY(startAndOpen(sim, holder));
        QCOMPARE(second.OpenPort_Modbus(kPort, 2, 2), hx::kCallFailed);
        QCOMPARE(second.portStatus(kPort).cause, hx::OpenError::Busy);
        QVERIFY(QString::fromStdString(second.portStatus(kPort).error).contains("in use"));
        int32_t buffer[8];
        QCOMPARE(holder.Get_3X_D8(kPort, 1, 1, buffer), 0);
        QCOMPARE(holder.ClosePort_Modbus(kPort), 0);
        QCOMPARE(second.OpenPort_Modbus(kPort, 1, 0), 0);
        QCOMPARE(second.Get_3X_D8(kPort, 1, 1, buffer), 0);
    }

    void anOpenThatCannotSucceedFailsAtOnceWithItsReason_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("mapped");
        QTest::addColumn<int>("baudChoice");
        QTest::addColumn<int>("parityChoice");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<hx::OpenError>("cause");
        QTest::newRow("missing device")
            << 7 << QByteArray("/nonexistent/ttyHX") << 1 << 0 << "No such file" << hx::OpenError::NoDevice;
        QTest::newRow("port 0") << 0 << QByteArray() << 1 << 0 << "no device" << hx::OpenError::NoDevice;
        QTest::newRow("negative port")
            << -3 << QByteArray() << 1 << 0 << "no device" << hx::OpenError::NoDevice;
        QTest::newRow("unknown baud choice")
            << 7 << QByteArray("/dev/null") << 3 << 0 << "unknown line setting" << hx::OpenError::BadSetting;
        QTest::newRow("unknown parity choice")
            << 7 << QByteArray("/dev/null") << 1 << -1 << "unknown line setting" << hx::OpenError::BadSetting;
        QTest::newRow("not a terminal")
            << 7 << QByteArray("/dev/null") << 1 << 0 << "" << hx::OpenError::Other;
    }
    void anOpenThatCannotSucceedFailsAtOnceWithItsReason() {
        QFETCH(int, port);
        QFETCH(QByteArray, mapped);
        QFETCH(int, baudChoice);
        QFETCH(int, parityChoice);
        QFETCH(QString, reason);
        QFETCH(hx::OpenError, cause);
        const QByteArray name = "HX5800_COM" + QByteArray::number(port);
        qputenv(name.constData(), mapped);
        ModbusLink link;
        int32_t rc = 0;
        const qint64 ms = elapsedMs([&] { rc = link.OpenPort_Modbus(port, baudChoice, parityChoice); });
        qunsetenv(name.constData());
        QCOMPARE(rc, hx::kCallFailed);
        QVERIFY(ms < 50);
        const hx::PortStatus status = link.portStatus(port);
        QVERIFY(!status.open);
        QVERIFY(!status.error.empty());
        QVERIFY2(QString::fromStdString(status.error).contains(reason), status.error.c_str());
        QCOMPARE(status.cause, cause);
        // The operator's text is Chinese, not the system's English message.
        const std::string told = hx::openErrorText(status);
        const auto latin = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
        QVERIFY2(!told.empty() && std::none_of(told.begin(), told.end(), latin), told.c_str());
        if (!mapped.isEmpty()) QCOMPARE(QByteArray::fromStdString(status.device), mapped);
        int32_t buffer[8];
        QCOMPARE(link.Get_3X_D8(port, 1, 1, buffer), hx::kCallFailed);
        QCOMPARE(link.stats().transactions, uint64_t(0));
    }
};

QTEST_GUILESS_MAIN(LinkSimTest)
#include "test_link_sim.moc"
