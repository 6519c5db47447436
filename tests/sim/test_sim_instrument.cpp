// The instrument model without any line: alarms with hysteresis, relays, analogue outputs,
// waves, static values and what writes do.
#include "sim/Instrument.h"

#include <QTest>

#include <algorithm>
#include <map>
#include <set>

using namespace hx::sim;

Q_DECLARE_METATYPE(AlarmMode)

namespace {

// Every channel in high-limit alarm at setpoint 0 without hysteresis; a channel pinned to 1
// is in alarm, one pinned to -1 is not.
void driveAlarms(Instrument& inst, uint8_t alarmMask) {
    for (int n = 1; n <= kChannels; ++n) {
        inst.writeHolding(alarmModeRegister(n), static_cast<uint16_t>(AlarmMode::HighLimit));
        inst.writeHolding(setpointRegister(n), 0);
        inst.writeHolding(hysteresisRegister(n), 0);
        inst.pinInput(n, (alarmMask >> (n - 1)) & 1 ? 1 : -1);
    }
}

uint16_t word(int v) {
    return static_cast<uint16_t>(v);
}

} // namespace

class TestInstrument : public QObject {
    Q_OBJECT
  private slots:
    void alarmStep_data();
    void alarmStep();
    void hysteresisOverTime_data();
    void hysteresisOverTime();
    void changedAlarmModeStartsClear();
    void relaysFollowMasks_data();
    void relaysFollowMasks();
    void outputMapping_data();
    void outputMapping();
    void outputsFollowTheirSourceChannel_data();
    void outputsFollowTheirSourceChannel();
    void wavesStayInsideTheirRange_data();
    void wavesStayInsideTheirRange();
    void wavesDifferBetweenChannels();
    void staticValues();
    void staticValueClampedIntoChangedRangeAndShiftedByOffset();
    void writes_data();
    void writes();
    void circuitInputs();
    void demoCircuitAlarmsComeAndGo_data();
    void demoCircuitAlarmsComeAndGo();
    void demoValuesFitTheDefaultScale();
    void switchedOffChannelsReadZeroWithoutAlarms();
    void pinnedInputsOverrideAndRelease();
};

void TestInstrument::alarmStep_data() {
    QTest::addColumn<AlarmMode>("mode");
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("setpoint");
    QTest::addColumn<int>("hysteresis");
    QTest::addColumn<int>("reference");
    QTest::addColumn<bool>("expected");

    const auto H = AlarmMode::HighLimit;
    QTest::newRow("high: at setpoint does not set") << H << false << 100 << 100 << 10 << 0 << false;
    QTest::newRow("high: past setpoint sets") << H << false << 101 << 100 << 10 << 0 << true;
    QTest::newRow("high: inside hysteresis holds") << H << true << 95 << 100 << 10 << 0 << true;
    QTest::newRow("high: at setpoint-hysteresis holds") << H << true << 90 << 100 << 10 << 0 << true;
    QTest::newRow("high: beyond hysteresis clears") << H << true << 89 << 100 << 10 << 0 << false;
    QTest::newRow("high: inside hysteresis does not set") << H << false << 95 << 100 << 10 << 0 << false;
    QTest::newRow("high: negative setpoint") << H << false << -1998 << -1999 << 0 << 0 << true;
    QTest::newRow("high: negative hysteresis counts as 0") << H << true << 99 << 100 << -5 << 0 << false;

    const auto L = AlarmMode::LowLimit;
    QTest::newRow("low: at setpoint does not set") << L << false << -100 << -100 << 10 << 0 << false;
    QTest::newRow("low: past setpoint sets") << L << false << -101 << -100 << 10 << 0 << true;
    QTest::newRow("low: inside hysteresis holds") << L << true << -95 << -100 << 10 << 0 << true;
    QTest::newRow("low: at setpoint+hysteresis holds") << L << true << -90 << -100 << 10 << 0 << true;
    QTest::newRow("low: beyond hysteresis clears") << L << true << -89 << -100 << 10 << 0 << false;

    const auto HD = AlarmMode::HighDeviation;
    QTest::newRow("high dev: ref+sp does not set") << HD << false << 1050 << 50 << 5 << 1000 << false;
    QTest::newRow("high dev: past ref+sp sets") << HD << false << 1051 << 50 << 5 << 1000 << true;
    QTest::newRow("high dev: inside hysteresis holds") << HD << true << 1046 << 50 << 5 << 1000 << true;
    QTest::newRow("high dev: beyond hysteresis clears") << HD << true << 1044 << 50 << 5 << 1000 << false;
    QTest::newRow("high dev: far below is no alarm") << HD << false << -500 << 50 << 5 << 1000 << false;

    const auto LD = AlarmMode::LowDeviation;
    QTest::newRow("low dev: ref-sp does not set") << LD << false << 950 << 50 << 5 << 1000 << false;
    QTest::newRow("low dev: past ref-sp sets") << LD << false << 949 << 50 << 5 << 1000 << true;
    QTest::newRow("low dev: inside hysteresis holds") << LD << true << 955 << 50 << 5 << 1000 << true;
    QTest::newRow("low dev: beyond hysteresis clears") << LD << true << 956 << 50 << 5 << 1000 << false;
    QTest::newRow("low dev: far above is no alarm") << LD << false << 3000 << 50 << 5 << 1000 << false;

    const auto B = AlarmMode::DeviationBand;
    QTest::newRow("band: above sets") << B << false << 51 << 50 << 5 << 0 << true;
    QTest::newRow("band: below sets") << B << false << -51 << 50 << 5 << 0 << true;
    QTest::newRow("band: on the edge does not set") << B << false << -50 << 50 << 5 << 0 << false;
    QTest::newRow("band: inside hysteresis above holds") << B << true << 46 << 50 << 5 << 0 << true;
    QTest::newRow("band: inside hysteresis below holds") << B << true << -45 << 50 << 5 << 0 << true;
    QTest::newRow("band: back inside clears") << B << true << -44 << 50 << 5 << 0 << false;

    QTest::newRow("none: never sets") << AlarmMode::None << false << 9999 << 0 << 0 << 0 << false;
    QTest::newRow("none: clears an old state") << AlarmMode::None << true << 9999 << 0 << 0 << 0 << false;
    QTest::newRow("unknown mode: no alarm")
        << static_cast<AlarmMode>(9) << false << 9999 << 0 << 0 << 0 << false;
}

void TestInstrument::alarmStep() {
    QFETCH(AlarmMode, mode);
    QFETCH(bool, active);
    QFETCH(int, value);
    QFETCH(int, setpoint);
    QFETCH(int, hysteresis);
    QFETCH(int, reference);
    QFETCH(bool, expected);
    QCOMPARE(nextAlarmState(mode, active, value, setpoint, hysteresis, reference), expected);
}

void TestInstrument::hysteresisOverTime_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QList<int>>("alarm"); // discrete input 17 + channel after each value

    // CH3: range 0..5000, middle 2500; setpoint 2000, hysteresis 100
    QTest::newRow("high limit") << 1 << QList<int>{1990, 2001, 1950, 1900, 1899, 1950, 2000, 2001}
                                << QList<int>{0, 1, 1, 1, 0, 0, 0, 1};
    QTest::newRow("low limit") << 2 << QList<int>{2010, 1999, 2050, 2100, 2101, 2050, 1999}
                               << QList<int>{0, 1, 1, 1, 0, 0, 1};
    // deviation from 2500 by more than 2000: above 4500 / below 500
    QTest::newRow("high deviation") << 3 << QList<int>{4500, 4501, 4450, 4399, 4450}
                                    << QList<int>{0, 1, 1, 0, 0};
    QTest::newRow("low deviation") << 4 << QList<int>{500, 499, 550, 600, 601, 550}
                                   << QList<int>{0, 1, 1, 1, 0, 0};
    QTest::newRow("deviation band") << 5 << QList<int>{4501, 2500, 499, 599, 601, 4499, 4401, 4399}
                                    << QList<int>{1, 0, 1, 1, 0, 0, 0, 0};
}

void TestInstrument::hysteresisOverTime() {
    QFETCH(int, mode);
    QFETCH(QList<int>, values);
    QFETCH(QList<int>, alarm);
    Instrument inst;
    inst.writeHolding(alarmModeRegister(3), 0); // start from a clear alarm
    inst.update(-1);
    QCOMPARE(inst.writeHolding(alarmModeRegister(3), word(mode)), WriteResult::Ok);
    QCOMPARE(inst.writeHolding(setpointRegister(3), 2000), WriteResult::Ok);
    QCOMPARE(inst.writeHolding(hysteresisRegister(3), 100), WriteResult::Ok);
    for (int i = 0; i < values.size(); ++i) {
        inst.pinInput(3, static_cast<int16_t>(values[i]));
        inst.update(i);
        QVERIFY2(inst.discreteInput(kDiAlarmFirst + 2) == (alarm[i] == 1),
                 qPrintable(QStringLiteral("step %1, value %2").arg(i).arg(values[i])));
    }
}

void TestInstrument::changedAlarmModeStartsClear() {
    Instrument inst;
    inst.writeHolding(alarmModeRegister(1), word(1));
    inst.writeHolding(setpointRegister(1), 100);
    inst.writeHolding(hysteresisRegister(1), 50);
    inst.pinInput(1, 200);
    inst.update(0);
    QVERIFY(inst.alarmActive(1));
    // As a low-limit alarm at 100 the value 90 would still be held inside the hysteresis
    // of a set alarm; a new mode must not inherit the old state.
    inst.writeHolding(alarmModeRegister(1), word(2));
    inst.pinInput(1, 120);
    inst.update(1);
    QVERIFY(!inst.alarmActive(1));
}

void TestInstrument::relaysFollowMasks_data() {
    QTest::addColumn<int>("alarms");
    QTest::addColumn<int>("open");
    QTest::addColumn<int>("relay1Mask");
    QTest::addColumn<int>("relay2Mask");
    QTest::addColumn<int>("relay1OpenMask");
    QTest::addColumn<int>("relay2OpenMask");
    QTest::addColumn<bool>("do1");
    QTest::addColumn<bool>("do2");

    QTest::newRow("no alarms") << 0x00 << 0x00 << 0xFF << 0xFF << 0xFF << 0xFF << false << false;
    QTest::newRow("alarm in DO1 mask only") << 0x04 << 0x00 << 0x06 << 0x01 << 0 << 0 << true << false;
    QTest::newRow("alarm in both masks") << 0x80 << 0x00 << 0x80 << 0x81 << 0 << 0 << true << true;
    QTest::newRow("alarm outside both masks") << 0x10 << 0x00 << 0x0F << 0xE0 << 0 << 0 << false << false;
    QTest::newRow("empty masks") << 0xFF << 0xFF << 0 << 0 << 0 << 0 << false << false;
    QTest::newRow("open circuit in DO2 open mask")
        << 0x00 << 0x02 << 0xFF << 0xFF << 0x01 << 0x02 << false << true;
    QTest::newRow("open circuit outside open masks")
        << 0x00 << 0x08 << 0xFF << 0xFF << 0x07 << 0xF0 << false << false;
    QTest::newRow("open circuit does not count as setpoint alarm")
        << 0x00 << 0x01 << 0x01 << 0x01 << 0 << 0 << false << false;
    QTest::newRow("alarm and open circuit") << 0x01 << 0x20 << 0x01 << 0 << 0 << 0x20 << true << true;
}

void TestInstrument::relaysFollowMasks() {
    QFETCH(int, alarms);
    QFETCH(int, open);
    QFETCH(int, relay1Mask);
    QFETCH(int, relay2Mask);
    QFETCH(int, relay1OpenMask);
    QFETCH(int, relay2OpenMask);
    QFETCH(bool, do1);
    QFETCH(bool, do2);
    Instrument inst;
    driveAlarms(inst, static_cast<uint8_t>(alarms));
    inst.setOpenCircuit(static_cast<uint8_t>(open));
    inst.writeHolding(kRegRelay1Mask, word(relay1Mask));
    inst.writeHolding(kRegRelay2Mask, word(relay2Mask));
    inst.writeHolding(kRegRelay1OpenMask, word(relay1OpenMask));
    inst.writeHolding(kRegRelay2OpenMask, word(relay2OpenMask));
    inst.update(0);
    for (int n = 1; n <= kChannels; ++n)
        QCOMPARE(*inst.discreteInput(kDiAlarmFirst + n - 1), bool((alarms >> (n - 1)) & 1));
    QCOMPARE(*inst.discreteInput(kDiRelay1), do1);
    QCOMPARE(*inst.discreteInput(kDiRelay2), do2);
    for (int n = 27; n <= 32; ++n)
        QCOMPARE(*inst.discreteInput(n), false);
}

void TestInstrument::outputMapping_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("expected");
    QTest::newRow("lower end") << 0 << 5000 << 0 << 0;
    QTest::newRow("upper end") << 5000 << 5000 << 0 << 10000;
    QTest::newRow("middle") << 2500 << 5000 << 0 << 5000;
    QTest::newRow("negative lower") << 2500 << 8000 << -1000 << 3889;
    QTest::newRow("clamped above") << 9999 << 5000 << 0 << 10000;
    QTest::newRow("clamped below") << -1999 << 5000 << 0 << 0;
    QTest::newRow("inverted range, at lower") << 1000 << 0 << 1000 << 0;
    QTest::newRow("inverted range, quarter") << 750 << 0 << 1000 << 2500;
    QTest::newRow("inverted range, beyond upper") << -50 << 0 << 1000 << 10000;
    QTest::newRow("empty range") << 10 << 10 << 10 << 0;
    QTest::newRow("widest range") << 0 << 32767 << -32768 << 5000;
}

void TestInstrument::outputMapping() {
    QFETCH(int, value);
    QFETCH(int, upper);
    QFETCH(int, lower);
    QFETCH(int, expected);
    QCOMPARE(outputPercent(value, upper, lower), expected);
}

void TestInstrument::outputsFollowTheirSourceChannel_data() {
    QTest::addColumn<int>("sourceRegister");
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("inputRegister");
    QTest::addColumn<int>("expected");
    // static values: CH2 -1500, CH6 455, CH8 7001
    QTest::newRow("DA1 off") << kRegDa1Source << 0 << 5000 << 0 << 9 << 0;
    QTest::newRow("DA1 from CH6") << kRegDa1Source << 6 << 1000 << -1000 << 9 << 7275;
    QTest::newRow("DA1 source out of list is off") << kRegDa1Source << 9 << 1000 << -1000 << 9 << 0;
    QTest::newRow("DA2 from CH2, negative") << kRegDa2Source << 2 << 0 << -2000 << 10 << 2500;
    QTest::newRow("DA2 from CH8, clamped") << kRegDa2Source << 8 << 5000 << 0 << 10 << 10000;
    QTest::newRow("DA2 from CH8, inverted") << kRegDa2Source << 8 << 6000 << 8000 << 10 << 4995;
}

void TestInstrument::outputsFollowTheirSourceChannel() {
    QFETCH(int, sourceRegister);
    QFETCH(int, source);
    QFETCH(int, upper);
    QFETCH(int, lower);
    QFETCH(int, inputRegister);
    QFETCH(int, expected);
    Instrument inst;
    inst.setStatic(true);
    inst.writeHolding(sourceRegister, word(source));
    inst.writeHolding(sourceRegister + 2, word(upper));
    inst.writeHolding(sourceRegister + 3, word(lower));
    inst.update(10);
    QCOMPARE(int(*inst.inputRegister(inputRegister)), expected);
}

void TestInstrument::wavesStayInsideTheirRange_data() {
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("lower");
    QTest::newRow("factory ranges") << 0 << 0; // 0/0: keep the factory settings
    QTest::newRow("all negative") << -1000 << -1999;
    QTest::newRow("narrow") << 105 << 100;
    QTest::newRow("inverted") << 0 << 500;
    QTest::newRow("single value") << 42 << 42;
    QTest::newRow("widest") << 32767 << -32768;
}

void TestInstrument::wavesStayInsideTheirRange() {
    QFETCH(int, upper);
    QFETCH(int, lower);
    Instrument inst;
    if (upper != 0 || lower != 0) {
        for (int n = 1; n <= kChannels; ++n) {
            inst.writeHolding(channelUpperRegister(n), word(upper));
            inst.writeHolding(channelLowerRegister(n), word(lower));
        }
    }
    std::array<int, kChannels> lowest, highest;
    lowest.fill(INT32_MAX);
    highest.fill(INT32_MIN);
    for (double t = 0; t < 2 * 3600; t += 0.5) { // two hours at the poll rate
        inst.update(t);
        for (int n = 1; n <= kChannels; ++n) {
            const int v = *inst.inputRegister(n);
            lowest[n - 1] = std::min(lowest[n - 1], v);
            highest[n - 1] = std::max(highest[n - 1], v);
        }
    }
    for (int n = 1; n <= kChannels; ++n) {
        const int u = *inst.holdingRegister(channelUpperRegister(n));
        const int l = *inst.holdingRegister(channelLowerRegister(n));
        const int lo = std::min(u, l), hi = std::max(u, l);
        QVERIFY2(lowest[n - 1] >= lo && highest[n - 1] <= hi,
                 qPrintable(QStringLiteral("CH%1 went %2..%3 outside %4..%5")
                                .arg(n)
                                .arg(lowest[n - 1])
                                .arg(highest[n - 1])
                                .arg(lo)
                                .arg(hi)));
        // and it really moves: over two hours it sweeps a good part of its range
        QVERIFY2(highest[n - 1] - lowest[n - 1] >= 0.5 * (hi - lo),
                 qPrintable(
                     QStringLiteral("CH%1 moved only %2..%3").arg(n).arg(lowest[n - 1]).arg(highest[n - 1])));
    }
}

void TestInstrument::wavesDifferBetweenChannels() {
    // Same range everywhere: the channels must still not move in step.
    Instrument inst;
    for (int n = 1; n <= kChannels; ++n) {
        inst.writeHolding(channelUpperRegister(n), 1000);
        inst.writeHolding(channelLowerRegister(n), 0);
    }
    std::array<std::array<int, 40>, kChannels> traces{};
    for (int i = 0; i < 40; ++i) {
        inst.update(i * 5.0);
        for (int n = 1; n <= kChannels; ++n)
            traces[n - 1][i] = *inst.inputRegister(n);
    }
    for (int a = 0; a < kChannels; ++a)
        for (int b = a + 1; b < kChannels; ++b)
            QVERIFY2(traces[a] != traces[b], qPrintable(QStringLiteral("CH%1 = CH%2").arg(a + 1).arg(b + 1)));
    // slow: from one half-second to the next a channel moves by a few percent at most
    for (double t = 0; t < 600; t += 0.5) {
        inst.update(t);
        const int before = *inst.inputRegister(1);
        inst.update(t + 0.5);
        QVERIFY(std::abs(*inst.inputRegister(1) - before) <= 40);
    }
}

void TestInstrument::staticValues() {
    Instrument inst;
    inst.setStatic(true);
    for (double t : {0.0, 13.7, 600.0, 86400.0}) {
        inst.update(t);
        for (int n = 1; n <= kChannels; ++n)
            QCOMPARE(int(*inst.inputRegister(n)), kStaticValues[n - 1]);
        QCOMPARE(int(*inst.inputRegister(9)), 3889);
        QCOMPARE(int(*inst.inputRegister(10)), 7500);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(int(*inst.inputRegister(11 + i)), kSteadyInputs[i]);
        for (int d = 1; d <= kDiscreteInputs; ++d)
            QCOMPARE(*inst.discreteInput(d), d == 18 || d == 20 || d == kDiRelay1);
    }
    QVERIFY(std::any_of(kStaticValues.begin(), kStaticValues.end(), [](int v) { return v < 0; }));
    inst.setStatic(false);
    inst.update(40);
    QVERIFY(std::any_of(kStaticValues.begin(), kStaticValues.end(),
                        [&, n = 0](int v) mutable { return *inst.inputRegister(++n) != v; }));
}

void TestInstrument::staticValueClampedIntoChangedRangeAndShiftedByOffset() {
    Instrument inst;
    inst.setStatic(true);
    inst.writeHolding(channelUpperRegister(2), 5000); // CH2 holds -1500
    inst.writeHolding(channelLowerRegister(2), 0);
    inst.writeHolding(channelUpperRegister(8), 5000); // CH8 holds 7001
    inst.writeHolding(channelLowerRegister(8), 0);
    inst.writeHolding(channelOffsetRegister(3), word(-34)); // CH3 holds 1234
    inst.update(1);
    QCOMPARE(int(*inst.inputRegister(2)), 0);
    QCOMPARE(int(*inst.inputRegister(8)), 5000);
    QCOMPARE(int(*inst.inputRegister(3)), 1200);
}

void TestInstrument::writes_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("value");
    QTest::addColumn<WriteResult>("result");
    QTest::newRow("first setpoint") << 257 << -1999 << WriteResult::Ok;
    QTest::newRow("last hysteresis") << 272 << 150 << WriteResult::Ok;
    QTest::newRow("password") << 4097 << 9999 << WriteResult::Ok;
    QTest::newRow("unused channel word") << 4126 << 7 << WriteResult::Ok;
    QTest::newRow("last alarm mode") << 4192 << 5 << WriteResult::Ok;
    QTest::newRow("first calibration") << 24577 << 5 << WriteResult::ReadOnly;
    QTest::newRow("last calibration") << 24632 << 5 << WriteResult::ReadOnly;
    QTest::newRow("below alarm block") << 256 << 1 << WriteResult::IllegalAddress;
    QTest::newRow("after alarm block") << 273 << 1 << WriteResult::IllegalAddress;
    QTest::newRow("before configuration") << 4096 << 1 << WriteResult::IllegalAddress;
    QTest::newRow("after configuration") << 4193 << 1 << WriteResult::IllegalAddress;
    QTest::newRow("after calibration") << 24633 << 1 << WriteResult::IllegalAddress;
    QTest::newRow("register 0") << 0 << 1 << WriteResult::IllegalAddress;
}

void TestInstrument::writes() {
    QFETCH(int, number);
    QFETCH(int, value);
    QFETCH(WriteResult, result);
    Instrument inst;
    const auto before = inst.holdingRegister(number);
    QCOMPARE(inst.writeHolding(number, word(value)), result);
    if (result == WriteResult::Ok)
        QCOMPARE(int(*inst.holdingRegister(number)), value);
    else
        QCOMPARE(inst.holdingRegister(number), before);
    // the service side may set a calibration value that the line may not
    QCOMPARE(inst.setHolding(number, word(value)), result != WriteResult::IllegalAddress);
}

void TestInstrument::demoCircuitAlarmsComeAndGo_data() {
    QTest::addColumn<bool>("demo");
    QTest::addColumn<bool>("frozen");
    QTest::newRow("demo") << true << false;
    QTest::newRow("demo with frozen values") << true << true;
    QTest::newRow("waves alone") << false << false;
}

void TestInstrument::demoCircuitAlarmsComeAndGo() {
    QFETCH(bool, demo);
    QFETCH(bool, frozen);
    Instrument inst;
    inst.setDemo(demo);
    inst.setStatic(frozen);
    // Over three minutes: how often each input changed, and the seconds it was on.
    std::map<int, int> changes;
    std::map<int, double> onSeconds;
    std::map<int, bool> last;
    bool relayFollowsOpenCircuit = true;
    for (double t = 0; t < 180.0; t += 0.5) {
        inst.update(t);
        for (int d : {5, 14, kDiAlarmFirst, kDiRelay1, kDiRelay2}) {
            const bool on = *inst.discreteInput(d);
            if (t > 0 && on != last[d]) ++changes[d];
            if (on) onSeconds[d] += 0.5;
            last[d] = on;
        }
        relayFollowsOpenCircuit =
            relayFollowsOpenCircuit && (!*inst.discreteInput(5) || *inst.discreteInput(kDiRelay2));
        for (int d : {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16})
            QVERIFY2(!*inst.discreteInput(d), qPrintable(QString("input %1 at %2 s").arg(d).arg(t)));
    }
    QCOMPARE(changes[5], demo ? 6 : 0); // CH5 open circuit: 40..50 s of every minute
    QCOMPARE(onSeconds[5], demo ? 30.0 : 0.0);
    QCOMPARE(changes[14], demo ? 4 : 0); // CH6 short circuit: 20..28 s of every 90 s
    QCOMPARE(onSeconds[14], demo ? 16.0 : 0.0);
    QVERIFY(relayFollowsOpenCircuit);
    if (demo) QVERIFY(changes[kDiRelay2] >= 6);
    // The waves' own setpoint alarm of CH1 and DO1 with it come and go in the demo too.
    if (!frozen) {
        QVERIFY(changes[kDiAlarmFirst] >= 2);
        QVERIFY(changes[kDiRelay1] >= 2);
    }
}

// The demonstration fits the program's default chart scale: all ten values stay in 0..1500,
// and the same channels raise their setpoint alarms as with the instrument's own ranges.
void TestInstrument::demoValuesFitTheDefaultScale() {
    std::array<std::set<int>, 2> alarmed;
    for (bool demo : {false, true}) {
        Instrument inst;
        inst.setDemo(demo);
        for (double t = 0; t < 600.0; t += 0.5) {
            inst.update(t);
            for (int r = 1; demo && r <= 10; ++r) {
                const int v = *inst.inputRegister(r);
                QVERIFY2(v >= 0 && v <= 1500,
                         qPrintable(QString("register %1 at %2 s: %3").arg(r).arg(t).arg(v)));
            }
            for (int n = 1; n <= kChannels; ++n)
                if (*inst.discreteInput(kDiAlarmFirst + n - 1)) alarmed[demo].insert(n);
        }
    }
    QVERIFY(alarmed[0].size() >= 4);
    QCOMPARE(alarmed[1], alarmed[0]);
}

void TestInstrument::circuitInputs() {
    Instrument inst;
    inst.setOpenCircuit(0b00000101);
    QVERIFY(inst.setCircuitInput(10, true));  // short circuit CH2
    QVERIFY(!inst.setCircuitInput(17, true)); // setpoint alarms are computed, not set
    QVERIFY(!inst.setCircuitInput(0, true));
    inst.update(0);
    for (int d = 1; d <= 16; ++d)
        QCOMPARE(*inst.discreteInput(d), d == 1 || d == 3 || d == 10);
    QVERIFY(*inst.discreteInput(kDiRelay2)); // factory: open circuit of any channel closes DO2
    QVERIFY(inst.setCircuitInput(1, false));
    QVERIFY(inst.setCircuitInput(3, false));
    inst.update(1);
    QCOMPARE(inst.openCircuit(), uint8_t(0));
    QCOMPARE(inst.shortCircuit(), uint8_t(0b10));
    QVERIFY(!inst.discreteInput(0));
    QVERIFY(!inst.discreteInput(33));
}

void TestInstrument::switchedOffChannelsReadZeroWithoutAlarms() {
    Instrument inst;
    inst.setStatic(true);
    inst.setOpenCircuit(0xFF);
    QCOMPARE(inst.writeHolding(kRegChannelCount, 3), WriteResult::Ok);
    inst.update(0);
    for (int n = 1; n <= kChannels; ++n) {
        QCOMPARE(int(*inst.inputRegister(n)), n <= 3 ? kStaticValues[n - 1] : 0);
        QCOMPARE(*inst.discreteInput(n), n <= 3);
    }
    QVERIFY(!*inst.discreteInput(20)); // CH4's deviation alarm is gone with the channel
    QCOMPARE(inst.activeChannels(), 3);
    inst.writeHolding(kRegChannelCount, 0); // out of range counts as the nearest valid count
    QCOMPARE(inst.activeChannels(), 1);
}

void TestInstrument::pinnedInputsOverrideAndRelease() {
    Instrument inst;
    inst.setStatic(true);
    QVERIFY(inst.pinInput(4, 4999));
    QVERIFY(inst.pinInput(12, -5));
    QVERIFY(!inst.pinInput(17, 0));
    inst.update(0);
    QCOMPARE(int(*inst.inputRegister(4)), 4999);
    QCOMPARE(int(*inst.inputRegister(10)), 9998); // DA2 follows the pinned CH4
    QCOMPARE(int(*inst.inputRegister(12)), -5);
    QVERIFY(inst.releaseInput(4));
    inst.update(1);
    QCOMPARE(int(*inst.inputRegister(4)), 3750);
    QVERIFY(!inst.inputRegister(17));
}

QTEST_GUILESS_MAIN(TestInstrument)
#include "test_sim_instrument.moc"
