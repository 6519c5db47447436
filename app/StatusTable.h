#pragma once
// The texts of the alarm status table: one row per alarm or relay state in Status_Bit (the
// state texts themselves, statusRowText, are the journal's too: journal/StatusEvents.h).
#include <QString>

#include "journal/StatusEvents.h"

namespace hx {

constexpr int kStatusTableRows = 31; // row 0 is the header
constexpr int kStatusTableStateRows = kStatusStates;
constexpr int kStatusColumn0Twips = 550;
constexpr int kStatusColumn1Twips = 4600;

QString statusHeaderText(int column);
// The text of row r (1..26) before the instrument's states were read: its name and a dash
// ("CH 1 —", "DO 2 —"), claiming no state.
QString statusRowUnreadText(int row);

} // namespace hx
