#pragma once
// The alarm status table: one row per alarm or relay state in Status_Bit, its texts and how
// a row shows its state (the state texts themselves, statusRowText, are the journal's too:
// journal/StatusEvents.h).
#include <QString>

#include <array>
#include <cstdint>

#include "journal/StatusEvents.h"

class QTableWidget;

namespace hx {

constexpr int kStatusTableRows = 31; // row 0 is the header
constexpr int kStatusTableStateRows = kStatusStates;
constexpr int kStatusColumn0Twips = 550;
constexpr int kStatusColumn1Twips = 4600;

QString statusHeaderText(int column);
// The text of row r (1..26) before the instrument's states were read: its name and a dash
// ("CH 1 —", "DO 2 —"), claiming no state.
QString statusRowUnreadText(int row);

class Twips;
// The header row, the row numbers and no state yet, in the main window's twips.
void prepareStatusTable(QTableWidget& table, const Twips& tw);
// The states of bits (Status_Bit), or none before the poll read them (read false): an active
// alarm in red, one not yet acknowledged (active or gone) in bold red.
void showStatusRows(QTableWidget& table, const int32_t* bits, bool read,
                    const std::array<bool, 27>& unacknowledged);

} // namespace hx
