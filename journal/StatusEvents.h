#pragma once
// The instrument's 26 states (rows 1..26 of the status table: open circuit, short circuit and
// setpoint alarm of CH1..CH8, then relays DO1 and DO2) as the journal tells them: their texts,
// the states read from the discrete inputs, and the events of a change. The window and the
// line service journal the same events from the same reads.
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "journal/JournalEvent.h"

namespace hx {

constexpr int kStatusStates = 26;
using StatusStates = std::array<int32_t, kStatusStates>;

// The state text of row r (1..26) for its bit ("CH 3 短路报警", "DO 1 断开"); empty for any
// other row.
QString statusRowText(int row, int32_t bit);

// The states from the discrete inputs 1..32, eight to an element with the first input in bit 0;
// nullopt when an element is no state byte (negative, above 255, or 255: all eight inputs on).
std::optional<StatusStates> statusStatesOf(const std::array<int32_t, 4>& discrete);

// The states that changed from before to now, as raised and cleared events.
std::vector<JournalEvent> statusEvents(const StatusStates& before, const StatusStates& now);

} // namespace hx
