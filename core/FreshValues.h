#pragma once
// Which of the recorded values (Pv_Value 0..9: CH1..CH8, DA1, DA2) a good answer refreshed,
// and when. The poll notes each block the instrument answered; the recorder stores a record
// only when every recorded value was refreshed since its previous record, so a closed port, a
// wrong address or a silent instrument never leaves a repeated or made-up row in the ring; the
// value labels show a value no good answer refreshed for a while as stale.
#include <array>
#include <bitset>
#include <cstdint>

namespace hx {

class FreshValues {
  public:
    static constexpr int kValues = 10;
    // A value no good answer refreshed for this long is stale (the status line's "silent").
    static constexpr int64_t kStaleAfterMs = 3000;

    // Pv_Value first..first+count-1 were refreshed by a good answer at atMs (monotonic
    // milliseconds, steadyNowMs()); indices past the recorded values are ignored.
    void noteMeasured(int first, int count, int64_t atMs);
    // Every recorded value was refreshed since the last take().
    bool allSinceTaken() const { return sinceTaken_.all(); }
    // The recorder took the values into a record.
    void take() { sinceTaken_.reset(); }
    // The port closed or opened afresh: no value is current any more (what was read once
    // stays read once).
    void forget();
    // Value index was never refreshed, or not within kStaleAfterMs before nowMs.
    bool stale(int index, int64_t nowMs) const;
    // A good answer ever gave value index since the program started: before, the instrument
    // said nothing about it and its label shows nothing.
    bool readOnce(int index) const { return index >= 0 && index < kValues && readOnce_[index]; }

    // The poll read the alarm and relay states (Status_Bit) from good answers.
    void noteStatusRead() { statusReadOnce_ = true; }
    // The states were read once since the program started; before, the status table claims none.
    bool statusReadOnce() const { return statusReadOnce_; }

    static int64_t steadyNowMs();

  private:
    std::array<int64_t, kValues> measuredAtMs_{};
    std::array<bool, kValues> everMeasured_{};
    std::bitset<kValues> sinceTaken_;
    std::array<bool, kValues> readOnce_{};
    bool statusReadOnce_ = false;
};

// The process-wide record of the poll's values, beside Pv_Value (reset by resetSharedState).
FreshValues& freshValues();

} // namespace hx
