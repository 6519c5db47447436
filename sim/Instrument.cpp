#include "sim/Instrument.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hx::sim {

namespace {

// Factory setting of one input channel and the shape of its wave: a slow main wave and a
// faster ripple, both well inside the range (together at most 40 % of the span either side
// of the middle), plus noise of 0.4 % of the span that changes twice a second.
struct ChannelFactory {
    int type;     // signal type code
    int decimals; // decimal-point code
    int upper;
    int lower;
    int setpoint;
    int hysteresis;
    AlarmMode mode;
    double periodS; // main wave
    double rippleS; // ripple
    double phase;
};

constexpr std::array<ChannelFactory, kChannels> kChannelFactory = {{
    {0, 1, 8000, -1000, 3000, 20, AlarmMode::HighLimit, 97, 17, 0.0},      // K thermocouple, -100.0..800.0
    {13, 1, 8500, -1999, -1000, 10, AlarmMode::LowLimit, 143, 23, 1.1},    // Pt100, -199.9..850.0
    {10, 2, 5000, 0, 2000, 10, AlarmMode::HighLimit, 61, 13, 2.3},         // 4-20 mA, 0.00..50.00
    {20, 3, 5000, 0, 500, 5, AlarmMode::HighDeviation, 211, 29, 0.4},      // 0-5 V, 0.000..5.000
    {12, 1, 1500, -500, 1200, 10, AlarmMode::None, 79, 19, 3.7},           // Cu50, -50.0..150.0
    {22, 1, 1000, -1000, 800, 10, AlarmMode::DeviationBand, 173, 31, 5.1}, // +-100 mV
    {5, 0, 1200, 0, 100, 5, AlarmMode::LowDeviation, 53, 11, 2.9},         // J thermocouple, 0..1200
    {19, 0, 9999, -1999, 9000, 50, AlarmMode::HighLimit, 257, 37, 4.4},    // 1-5 V, -1999..9999
}};

struct RegisterValue {
    int number;
    int value;
};

// Instrument block (4097..4120) apart from the line settings, which follow the options.
constexpr std::array<RegisterValue, 18> kConfigFactory = {{
    {4097, 0},     // password
    {4098, 0},     // display mode: cycle through the channels
    {4099, 3},     // digital filter level
    {4100, 0},     // unit degC
    {4101, 8},     // channels in use
    {4108, 0},     // answer delay, ms
    {4109, 0x03},  // DO1: setpoint alarms of CH1, CH2
    {4110, 0xF0},  // DO2: setpoint alarms of CH5..CH8
    {4111, 0x00},  // DO1: no open-circuit channels
    {4112, 0xFF},  // DO2: open circuit of any channel
    {4113, 1},     // DA1 follows CH1
    {4114, 6},     // DA1 4-20 mA
    {4115, 8000},  // DA1 upper
    {4116, -1000}, // DA1 lower
    {4117, 4},     // DA2 follows CH4
    {4118, 1},     // DA2 0-10 V
    {4119, 5000},  // DA2 upper
    {4120, 0},     // DA2 lower
}};

// Calibration block 24577..24584: DA flag, DA1 and DA calibration, spare, cold-junction
// calibration, measured and corrected cold junction, spare. Then six values per channel.
constexpr std::array<int, 8> kCalibrationHead = {1, 4012, 3987, 0, 12, 253, 251, 0};
constexpr std::array<int, 6> kCalibrationChannel = {10012, 9987, 35, 20480, 118, 30960};

double noiseOf(int channel, double seconds) {
    // splitmix64 of (channel, half-second slot): repeatable for a given time. The slot goes
    // through a signed integer: a time before the start (negative) has no unsigned value.
    const auto slot = static_cast<int64_t>(std::floor(seconds * 2.0));
    uint64_t x = (static_cast<uint64_t>(channel) << 40) ^ static_cast<uint64_t>(slot);
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / static_cast<double>(1ull << 53) * 2.0 - 1.0;
}

int16_t clamp16(long v) {
    return static_cast<int16_t>(std::clamp<long>(v, INT16_MIN, INT16_MAX));
}

bool beyond(bool active, int value, int setThreshold, int clearThreshold, bool upward) {
    if (upward) return active ? value >= clearThreshold : value > setThreshold;
    return active ? value <= clearThreshold : value < setThreshold;
}

} // namespace

bool nextAlarmState(AlarmMode mode, bool active, int value, int setpoint, int hysteresis, int reference) {
    const int h = std::max(hysteresis, 0);
    const int d = value - reference;
    switch (mode) {
    case AlarmMode::HighLimit:
        return beyond(active, value, setpoint, setpoint - h, true);
    case AlarmMode::LowLimit:
        return beyond(active, value, setpoint, setpoint + h, false);
    case AlarmMode::HighDeviation:
        return beyond(active, d, setpoint, setpoint - h, true);
    case AlarmMode::LowDeviation:
        return beyond(active, d, -setpoint, -setpoint + h, false);
    case AlarmMode::DeviationBand:
        return beyond(active, std::abs(d), setpoint, setpoint - h, true);
    case AlarmMode::None:
        break;
    }
    return false;
}

int outputPercent(int value, int upper, int lower) {
    if (upper == lower) return 0;
    const double f = (static_cast<double>(value) - lower) / (static_cast<double>(upper) - lower);
    return static_cast<int>(std::lround(std::clamp(f, 0.0, 1.0) * 10000.0));
}

Instrument::Instrument(int slave, int baudCode, int parityCode) {
    for (int n = 1; n <= kChannels; ++n) {
        const ChannelFactory& f = kChannelFactory[n - 1];
        alarmRegs_[setpointRegister(n) - kAlarmFirst] = static_cast<uint16_t>(f.setpoint);
        alarmRegs_[hysteresisRegister(n) - kAlarmFirst] = static_cast<uint16_t>(f.hysteresis);
        config_[channelTypeRegister(n) - kConfigFirst] = static_cast<uint16_t>(f.type);
        config_[channelTypeRegister(n) + 1 - kConfigFirst] = static_cast<uint16_t>(f.decimals);
        config_[channelUpperRegister(n) - kConfigFirst] = static_cast<uint16_t>(f.upper);
        config_[channelLowerRegister(n) - kConfigFirst] = static_cast<uint16_t>(f.lower);
        config_[alarmModeRegister(n) - kConfigFirst] = static_cast<uint16_t>(f.mode);
        for (int j = 0; j < 6; ++j) {
            // small differences between channels, as a calibrated instrument has
            const int spread = (n * 7 + j * 3) % 13 - 6;
            calibration_[8 + 6 * (n - 1) + j] = static_cast<uint16_t>(kCalibrationChannel[j] + spread);
        }
    }
    for (const RegisterValue& r : kConfigFactory)
        config_[r.number - kConfigFirst] = static_cast<uint16_t>(r.value);
    config_[kRegSlaveAddress - kConfigFirst] = static_cast<uint16_t>(slave);
    config_[kRegBaudCode - kConfigFirst] = static_cast<uint16_t>(baudCode);
    config_[kRegParityCode - kConfigFirst] = static_cast<uint16_t>(parityCode);
    for (size_t i = 0; i < kCalibrationHead.size(); ++i)
        calibration_[i] = static_cast<uint16_t>(kCalibrationHead[i]);
    update(0.0);
}

void Instrument::setDemo(bool on) {
    demo_ = on;
    if (!on) return;
    // Every range becomes 100..1400, the alarm settings moving with it (a limit as a point of
    // the range, a deviation as a share of the span), so each wave passes its setpoint as
    // often as before.
    constexpr int kLow = 100, kHigh = 1400;
    for (int n = 1; n <= kChannels; ++n) {
        const ChannelFactory& f = kChannelFactory[n - 1];
        const double share = double(kHigh - kLow) / double(f.upper - f.lower);
        const bool limit = f.mode == AlarmMode::HighLimit || f.mode == AlarmMode::LowLimit;
        const long setpoint =
            limit ? std::lround(kLow + (f.setpoint - f.lower) * share) : std::lround(f.setpoint * share);
        config_[channelUpperRegister(n) - kConfigFirst] = static_cast<uint16_t>(kHigh);
        config_[channelLowerRegister(n) - kConfigFirst] = static_cast<uint16_t>(kLow);
        alarmRegs_[setpointRegister(n) - kAlarmFirst] = static_cast<uint16_t>(setpoint);
        alarmRegs_[hysteresisRegister(n) - kAlarmFirst] =
            static_cast<uint16_t>(std::max(1L, std::lround(f.hysteresis * share)));
        staticValues_[n - 1] = int(std::lround(kLow + (kStaticValues[n - 1] - f.lower) * share));
    }
    // The outputs as ranges wider than the channel's, so their values (hundredths of a
    // percent) stay inside the scale too: DA1 = CH1 / 2 + 300, DA2 = 0.8 x CH4 + 100.
    for (const RegisterValue& r : {RegisterValue{4115, 19400}, RegisterValue{4116, -600},
                                   RegisterValue{4119, 12375}, RegisterValue{4120, -125}})
        config_[r.number - kConfigFirst] = static_cast<uint16_t>(r.value);
}

int Instrument::activeChannels() const {
    return std::clamp(config(kRegChannelCount), 1, kChannels);
}

int Instrument::channelWave(int n, double seconds) const {
    const ChannelFactory& f = kChannelFactory[n - 1];
    const int lo = std::min(channelUpper(n), channelLower(n));
    const int hi = std::max(channelUpper(n), channelLower(n));
    const double span = hi - lo;
    const double mid = (static_cast<double>(lo) + hi) / 2.0;
    constexpr double twoPi = 2.0 * std::numbers::pi;
    const double v = mid + span * (0.30 * std::sin(twoPi * seconds / f.periodS + f.phase) +
                                   0.10 * std::sin(twoPi * seconds / f.rippleS + 2.0 * f.phase) +
                                   0.004 * noiseOf(n, seconds));
    return std::clamp(static_cast<int>(std::lround(v)), lo, hi);
}

int Instrument::outputOf(int sourceRegister) const {
    const int source = config(sourceRegister);
    if (source < 1 || source > kChannels) return 0;
    return outputPercent(values_[source - 1], config(sourceRegister + 2), config(sourceRegister + 3));
}

void Instrument::update(double seconds) {
    seconds += 23.0 * lineIndex_;
    const int active = activeChannels();
    const double inMinute = std::fmod(seconds, 60.0);
    const double inNinety = std::fmod(seconds, 90.0);
    demoOpen_ = demo_ && inMinute >= 40.0 && inMinute < 50.0 ? 0x10 : 0;
    demoShort_ = demo_ && inNinety >= 20.0 && inNinety < 28.0 ? 0x20 : 0;
    for (int n = 1; n <= kChannels; ++n) {
        int v = 0;
        if (pinned_[n - 1]) {
            v = *pinned_[n - 1];
        } else if (n <= active) {
            const int lo = std::min(channelUpper(n), channelLower(n));
            const int hi = std::max(channelUpper(n), channelLower(n));
            const int raw = static_ ? std::clamp(staticValues_[n - 1] + 10 * lineIndex_, lo, hi)
                                    : channelWave(n, seconds);
            v = clamp16(static_cast<long>(raw) + config(channelOffsetRegister(n)));
        }
        values_[n - 1] = v;

        const int mode = config(alarmModeRegister(n));
        if (mode != alarmModeSeen_[n - 1]) alarm_[n - 1] = false; // a new mode starts clear
        alarmModeSeen_[n - 1] = mode;
        const int setpoint = static_cast<int16_t>(alarmRegs_[setpointRegister(n) - kAlarmFirst]);
        const int hysteresis = static_cast<int16_t>(alarmRegs_[hysteresisRegister(n) - kAlarmFirst]);
        const int reference = (channelUpper(n) + channelLower(n)) / 2;
        alarm_[n - 1] = n <= active && nextAlarmState(static_cast<AlarmMode>(mode), alarm_[n - 1], v,
                                                      setpoint, hysteresis, reference);
        inputs_[n - 1] = static_cast<int16_t>(v);
    }

    const uint8_t activeMask = static_cast<uint8_t>((1u << active) - 1u);
    uint8_t alarmMask = 0;
    for (int n = 1; n <= kChannels; ++n)
        if (alarm_[n - 1]) alarmMask |= static_cast<uint8_t>(1u << (n - 1));
    const uint8_t open = (openMask_ | demoOpen_) & activeMask;
    relay1_ = (alarmMask & config(kRegRelay1Mask)) || (open & config(kRegRelay1OpenMask));
    relay2_ = (alarmMask & config(kRegRelay2Mask)) || (open & config(kRegRelay2OpenMask));

    inputs_[8] = static_cast<int16_t>(outputOf(kRegDa1Source));
    inputs_[9] = static_cast<int16_t>(outputOf(kRegDa2Source));
    for (int i = 0; i < 6; ++i)
        inputs_[10 + i] = static_cast<int16_t>(kSteadyInputs[i]);
    for (int i = 8; i < kInputRegisters; ++i)
        if (pinned_[i]) inputs_[i] = *pinned_[i];
}

std::optional<int16_t> Instrument::inputRegister(int number) const {
    if (number < 1 || number > kInputRegisters) return std::nullopt;
    return inputs_[number - 1];
}

std::optional<bool> Instrument::discreteInput(int number) const {
    if (number < 1 || number > kDiscreteInputs) return std::nullopt;
    const uint8_t activeMask = static_cast<uint8_t>((1u << activeChannels()) - 1u);
    if (number < kDiShortFirst)
        return (((openMask_ | demoOpen_) & activeMask) >> (number - kDiOpenFirst)) & 1u;
    if (number < kDiAlarmFirst)
        return (((shortMask_ | demoShort_) & activeMask) >> (number - kDiShortFirst)) & 1u;
    if (number < kDiRelay1) return alarm_[number - kDiAlarmFirst];
    if (number == kDiRelay1) return relay1_;
    if (number == kDiRelay2) return relay2_;
    return false;
}

std::optional<int16_t> Instrument::holdingRegister(int number) const {
    if (number >= kAlarmFirst && number < kAlarmFirst + kAlarmCount)
        return static_cast<int16_t>(alarmRegs_[number - kAlarmFirst]);
    if (number >= kConfigFirst && number < kConfigFirst + kConfigCount)
        return static_cast<int16_t>(config_[number - kConfigFirst]);
    if (number >= kCalibrationFirst && number < kCalibrationFirst + kCalibrationCount)
        return static_cast<int16_t>(calibration_[number - kCalibrationFirst]);
    return std::nullopt;
}

WriteResult Instrument::writeHolding(int number, uint16_t value) {
    if (number >= kCalibrationFirst && number < kCalibrationFirst + kCalibrationCount)
        return WriteResult::ReadOnly;
    if (number >= kAlarmFirst && number < kAlarmFirst + kAlarmCount) {
        alarmRegs_[number - kAlarmFirst] = value;
        return WriteResult::Ok;
    }
    if (number >= kConfigFirst && number < kConfigFirst + kConfigCount) {
        config_[number - kConfigFirst] = value;
        return WriteResult::Ok;
    }
    return WriteResult::IllegalAddress;
}

bool Instrument::setHolding(int number, uint16_t value) {
    if (number >= kCalibrationFirst && number < kCalibrationFirst + kCalibrationCount) {
        calibration_[number - kCalibrationFirst] = value;
        return true;
    }
    return writeHolding(number, value) == WriteResult::Ok;
}

bool Instrument::pinInput(int number, int16_t value) {
    if (number < 1 || number > kInputRegisters) return false;
    pinned_[number - 1] = value;
    return true;
}

bool Instrument::releaseInput(int number) {
    if (number < 1 || number > kInputRegisters) return false;
    pinned_[number - 1].reset();
    return true;
}

bool Instrument::setCircuitInput(int number, bool on) {
    uint8_t* mask = nullptr;
    int channel = 0;
    if (number >= kDiOpenFirst && number < kDiShortFirst) {
        mask = &openMask_;
        channel = number - kDiOpenFirst;
    } else if (number >= kDiShortFirst && number < kDiAlarmFirst) {
        mask = &shortMask_;
        channel = number - kDiShortFirst;
    } else {
        return false;
    }
    const uint8_t bit = static_cast<uint8_t>(1u << channel);
    *mask = on ? (*mask | bit) : (*mask & ~bit);
    return true;
}

} // namespace hx::sim
