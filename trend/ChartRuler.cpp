#include "trend/ChartRuler.h"

#include <cmath>

#include "core/Rounding.h"
#include "trend/LiveTrend.h"
#include "trend/TrendRenderer.h"
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
    if (isEmptyInstant(state.Trend_Date[*slot], state.Trend_Time[*slot])) return readout;
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

std::optional<int> rulerValueAt(const TrendState& state, double x) {
    if (!(state.X_Step > 0)) return std::nullopt;
    const int v = int(roundHalfEven(roundHalfEven(x / double(state.X_Step)) * double(state.X_Step)));
    if (v < 0 || v > kChartWidth || !rulerSlot(state, v)) return std::nullopt;
    return v;
}

QString shownSpanText(const TrendState& state) {
    if (state.Page_Back <= 0 && !state.Ruler_On) return {};
    const auto [first, last] = labelledSlots(state);
    int from = 0, to = 0;
    for (int s = first; s <= last; ++s) {
        if (isEmptyInstant(state.Trend_Date[s], state.Trend_Time[s])) continue;
        if (from == 0) from = s;
        to = s;
    }
    QString text = QStringLiteral("历史");
    if (from == 0) return text;
    text += QLatin1Char(' ') + dateText(state.Trend_Date[from]) + QLatin1Char(' ') +
            timeOfDayText(state.Trend_Time[from]) + QStringLiteral(" – ");
    if (state.Trend_Date[to] != state.Trend_Date[from])
        text += dateText(state.Trend_Date[to]) + QLatin1Char(' ');
    return text + timeOfDayText(state.Trend_Time[to]);
}

} // namespace hx
