#pragma once
// The simulated HX5800: its register tables, its factory settings, the moving channel
// values, the setpoint alarms with hysteresis, the two relays and the two analogue outputs.
// Plain data and arithmetic, no I/O: the serve loop feeds it the time and the requests.
//
// Numbers are the instrument's own (input register 1, discrete input 17, holding register
// 4097); the protocol address is the number minus one, and only the request handler deals
// with addresses.
#include <array>
#include <cstdint>
#include <optional>

namespace hx::sim {

constexpr int kChannels = 8;
constexpr int kInputRegisters = 16; // 1..16
constexpr int kDiscreteInputs = 32; // 1..32

// Holding register blocks.
constexpr int kAlarmFirst = 257; // setpoint of CHn at 257 + 2(n-1), hysteresis at 258 + 2(n-1)
constexpr int kAlarmCount = 16;
constexpr int kConfigFirst = 4097; // 96 configuration parameters
constexpr int kConfigCount = 96;
constexpr int kCalibrationFirst = 24577; // 56 calibration values, read-only over the line
constexpr int kCalibrationCount = 56;

// Configuration parameters used by the model.
constexpr int kRegSlaveAddress = 4105;
constexpr int kRegBaudCode = 4106;
constexpr int kRegParityCode = 4107;
constexpr int kRegChannelCount = 4101;
constexpr int kRegRelay1Mask = 4109;     // channels whose setpoint alarm closes DO1
constexpr int kRegRelay2Mask = 4110;     // ... DO2
constexpr int kRegRelay1OpenMask = 4111; // channels whose open circuit closes DO1
constexpr int kRegRelay2OpenMask = 4112; // ... DO2
constexpr int kRegDa1Source = 4113;      // 0 = off, 1..8 = channel; type, upper, lower follow
constexpr int kRegDa2Source = 4117;
constexpr int kRegAlarmModeFirst = 4185; // CHn at 4184 + n

constexpr int channelTypeRegister(int n) {
    return 4121 + 8 * (n - 1);
}
constexpr int channelUpperRegister(int n) {
    return 4123 + 8 * (n - 1);
}
constexpr int channelLowerRegister(int n) {
    return 4124 + 8 * (n - 1);
}
constexpr int channelOffsetRegister(int n) {
    return 4125 + 8 * (n - 1);
}
constexpr int setpointRegister(int n) {
    return kAlarmFirst + 2 * (n - 1);
}
constexpr int hysteresisRegister(int n) {
    return kAlarmFirst + 1 + 2 * (n - 1);
}
constexpr int alarmModeRegister(int n) {
    return kRegAlarmModeFirst + n - 1;
}

// Discrete inputs: 1..8 open circuit, 9..16 short circuit, 17..24 setpoint alarm of
// CH1..CH8, 25 DO1, 26 DO2, 27..32 always 0.
constexpr int kDiOpenFirst = 1;
constexpr int kDiShortFirst = 9;
constexpr int kDiAlarmFirst = 17;
constexpr int kDiRelay1 = 25;
constexpr int kDiRelay2 = 26;

enum class AlarmMode : int {
    None = 0,
    HighLimit = 1,     // value above the setpoint
    LowLimit = 2,      // value below the setpoint
    HighDeviation = 3, // value above the middle of the input range by more than the setpoint
    LowDeviation = 4,  // value below the middle of the input range by more than the setpoint
    DeviationBand = 5, // value away from the middle of the input range by more than the setpoint
};

// Value of a channel when the waves are frozen (--static), with the factory ranges.
// A changed range clamps it into the new range.
constexpr std::array<int, kChannels> kStaticValues = {2500, -1500, 1234, 3750, -320, 455, 612, 7001};

// Input registers 11..16 hold steady values: cold-junction temperature 25.3 degC (253),
// supply 24.0 V (240), firmware 1.03 (103), model 5800, two spare words 0.
constexpr std::array<int, 6> kSteadyInputs = {253, 240, 103, 5800, 0, 0};

enum class WriteResult { Ok, IllegalAddress, ReadOnly };

// One step of a setpoint alarm with hysteresis: the alarm sets when the value passes the
// setpoint and clears only when it is back beyond the setpoint by more than the hysteresis.
// `reference` is the middle of the input range for the deviation modes. A negative
// hysteresis counts as 0.
bool nextAlarmState(AlarmMode mode, bool active, int value, int setpoint, int hysteresis, int reference);

// An analogue output in hundredths of a percent (0..10000): `value` mapped from the
// output's range (lower -> 0, upper -> 10000), clamped; an inverted range (upper below
// lower) maps inverted, an empty range gives 0.
int outputPercent(int value, int upper, int lower);

class Instrument {
  public:
    // Factory settings; `slave`, `baudCode` and `parityCode` are mirrored into 4105..4107.
    explicit Instrument(int slave = 1, int baudCode = 1, int parityCode = 0);

    // Recomputes the channel values for `seconds` since start-up, then alarms, relays and
    // outputs. Alarm hysteresis depends on the order of the updates, as on the instrument.
    void update(double seconds);

    // One of several instruments on a line, the `index`th (its address - 1): its waves and the
    // demonstration's faults run index x 23 s ahead and its frozen values lie index x 10 above
    // instrument 0's (within the range), so a client can tell the instruments apart. Index 0,
    // the default, is the single instrument as it has always been.
    void setLineIndex(int index) { lineIndex_ = index; }

    void setStatic(bool frozen) { static_ = frozen; }
    bool isStatic() const { return static_; }
    // The demonstration: besides the waves' setpoint alarms, CH5 goes open circuit for 10 s
    // of every minute and CH6 short circuit for 8 s of every 90 s, so a first look at the
    // main window shows alarms coming and going and DO2 switching. Turned on, it also moves
    // every channel's range, setpoint and hysteresis (and the outputs' ranges) into the
    // program's default chart scale, 0..1500, so all ten curves show at start; the alarms
    // come and go as before.
    void setDemo(bool on);

    // nullopt when the number is not mapped.
    std::optional<int16_t> inputRegister(int number) const;
    std::optional<bool> discreteInput(int number) const;
    std::optional<int16_t> holdingRegister(int number) const;

    // A write over the line: kept for 257..272 and 4097..4192, refused for the calibration
    // block. Takes effect at the next update().
    WriteResult writeHolding(int number, uint16_t value);
    // The front panel / service port: may set calibration values too.
    bool setHolding(int number, uint16_t value);

    // Pins input register 1..16 to a value until released (1..8 then drive alarms and DA).
    bool pinInput(int number, int16_t value);
    bool releaseInput(int number);

    // Open- and short-circuit state, bit n-1 for channel n.
    void setOpenCircuit(uint8_t mask) { openMask_ = mask; }
    void setShortCircuit(uint8_t mask) { shortMask_ = mask; }
    uint8_t openCircuit() const { return openMask_; }
    uint8_t shortCircuit() const { return shortMask_; }
    // Sets discrete input 1..16 (open or short circuit of one channel).
    bool setCircuitInput(int number, bool on);

    int channelValue(int n) const { return values_[n - 1]; }
    bool alarmActive(int n) const { return alarm_[n - 1]; }
    int activeChannels() const;

  private:
    int config(int number) const { return static_cast<int16_t>(config_[number - kConfigFirst]); }
    int channelWave(int n, double seconds) const;
    int channelUpper(int n) const { return config(channelUpperRegister(n)); }
    int channelLower(int n) const { return config(channelLowerRegister(n)); }
    int outputOf(int sourceRegister) const;

    std::array<uint16_t, kAlarmCount> alarmRegs_{};
    std::array<uint16_t, kConfigCount> config_{};
    std::array<uint16_t, kCalibrationCount> calibration_{};
    std::array<std::optional<int16_t>, kInputRegisters> pinned_{};
    std::array<int, kChannels> values_{};
    std::array<bool, kChannels> alarm_{};
    std::array<int, kChannels> alarmModeSeen_{}; // the mode each alarm state was computed under
    std::array<int16_t, kInputRegisters> inputs_{};
    uint8_t openMask_ = 0;
    uint8_t shortMask_ = 0;
    bool relay1_ = false;
    bool relay2_ = false;
    bool static_ = false;
    bool demo_ = false;
    int lineIndex_ = 0;
    std::array<int, kChannels> staticValues_ = kStaticValues; // moved into the demo's ranges
    uint8_t demoOpen_ = 0;  // open circuits of the demonstration, beside openMask_
    uint8_t demoShort_ = 0; // short circuits of the demonstration, beside shortMask_
};

} // namespace hx::sim
