#pragma once
// The trend window: the samples the chart shows and the bookkeeping of zoom, paging and
// ruler. One instance lives as long as the main window; only the trend code touches it.
#include <array>
#include <cstdint>

namespace hx {

constexpr int kTrendSlots = 323;    // slots 0..322
constexpr int kTrendChannels = 25;  // channels 0..24; only 0..9 are ever written or drawn
constexpr int kDrawnChannels = 10;  // CH1..CH8, DA1, DA2
constexpr int kLiveWinLen = 241;    // records of the live window
constexpr int kHistoryWinLen = 321; // records of a history page

// A slot the arrays hold. Everything that reads or writes a slot computed from the state
// checks it first, so a label, marker or segment outside the window is left out.
constexpr bool isTrendSlot(int slot) {
    return slot >= 0 && slot < kTrendSlots;
}

struct TrendState {
    // Sample values, Trend_Value[channel][slot]; channel 0..7 CH1..CH8, 8 DA1, 9 DA2.
    std::array<std::array<float, kTrendSlots>, kTrendChannels> Trend_Value{};
    // Date (whole day number) and time of day (fraction of a day) of each slot's sample.
    // Date 0 with time 0 marks a slot that holds no record.
    std::array<double, kTrendSlots> Trend_Date{};
    std::array<double, kTrendSlots> Trend_Time{};
    // Nonzero where a recording gap ends.
    std::array<int16_t, kTrendSlots> Gap_Mark{};

    int16_t Zoom_Level = 1;  // 1..4, 1 shows the fewest slots
    float X_Step = 0;        // chart units between neighbouring slots
    int16_t Slot_Offset = 0; // slot drawn at x = 0
    int16_t Win_Len = 0;     // records loaded: 241 live, 321 on a history page
    int16_t Win_Count = 0;   // slot of the newest sample
    int32_t Ring_Pos = 0;    // ring slot id of the newest record, as last read
    int32_t Win_End = 0;     // ring slot id of the newest record of the window to load
    int32_t Win_Start = 0;   // ring slot id just before the oldest record of that window
    int16_t Page_Back = 0;   // 60-record pages behind the newest record; 0 is live
    int32_t Probe_End = 0;   // ring slot id used to decide whether an older page exists
    bool At_Oldest = false;  // no older page may be requested
    bool Ruler_On = false;   // the ruler is shown
};

} // namespace hx
