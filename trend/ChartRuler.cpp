#include "trend/ChartRuler.h"

#include <cmath>

#include "core/TextNumber.h"
#include "trend/LiveTrend.h"
#include "trend/TrendText.h"

namespace hx {

std::optional<int> rulerSlot(const TrendState& state, int v) {
    if (!(state.X_Step > 0)) return std::nullopt;
    const double slot = roundHalfEven(double(v) / double(state.X_Step)) + state.Slot_Offset;
    if (!isTrendSlot(int(slot))) return std::nullopt;
    return int(slot);
}

std::optional<RulerReadout> rulerReadout(const TrendState& state, int v) {
    const auto slot = rulerSlot(state, v);
    if (!slot) return std::nullopt;
    RulerReadout readout;
    readout.slot = *slot;
    readout.date = slotDateText(state, *slot);
    readout.time = slotTimeText(state, *slot);
    for (int c = 0; c < kDrawnChannels; ++c)
        readout.values[c] = liveValueText(state.Trend_Value[c][*slot]);
    return readout;
}

std::optional<RulerReadout> moveRuler(TrendState& state, HistoryReview& history, int v) {
    if (v == kRulerSliderMin && !state.At_Oldest) history.olderPage();
    if (v == kRulerSliderMax && state.Page_Back > 0) history.newerPage();
    return rulerReadout(state, v);
}

void leaveRuler(TrendState& state, HistoryReview& history, TrendView& view) {
    state.Ruler_On = false;
    view.setLiveTimerActive(true);
    state.Page_Back = 0;
    view.setNewerEnabled(false);
    history.reloadLiveWindow();
    history.settleLiveOldest();
    view.redraw();
}

} // namespace hx
