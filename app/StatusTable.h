#pragma once
// The texts of the alarm status table: one row per alarm or relay state in Status_Bit.
#include <QString>

namespace hx {

constexpr int kStatusTableRows = 31; // row 0 is the header
constexpr int kStatusTableStateRows = 26;
constexpr int kStatusColumn0Twips = 550;
constexpr int kStatusColumn1Twips = 4600;

QString statusHeaderText(int column);
// The state text of row r (1..26) for its bit; empty for rows without a state.
QString statusRowText(int row, int32_t bit);
// The text of row r (1..26) before the instrument's states were read: its name and a dash
// ("CH 1 —", "DO 2 —"), claiming no state.
QString statusRowUnreadText(int row);

} // namespace hx
