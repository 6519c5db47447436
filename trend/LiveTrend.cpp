#include "trend/LiveTrend.h"

#include "core/Rounding.h"

#include <charconv>

namespace hx {

std::array<int64_t, kScaleLabels> scaleLabelValues(int16_t yMin, int16_t ySpan) {
    std::array<int64_t, kScaleLabels> labels{};
    const float sixth = float(ySpan) / 6.0f;
    for (int i = 0; i < kScaleLabels; ++i)
        labels[i] = int64_t(roundHalfEven(double(float(i) * sixth))) + yMin;
    return labels;
}

QString liveValueText(float value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr - buffer > 16)
        result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc()) return {};
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

bool zoomTrend(TrendState& state, HistoryReview& history, TrendView& view, int level) {
    state.Zoom_Level = int16_t(level);
    const bool reload =
        state.Page_Back == 0 && !state.Ruler_On && state.Win_Count >= growthBandEnd(state.Zoom_Level);
    if (reload) {
        history.reloadLiveWindow();
        history.settleLiveOldest();
    }
    view.redraw();
    return reload;
}

bool appendLiveSample(TrendState& state, HistoryReview& history, TrendView& view,
                      std::span<const float> values, const ClockReading& now) {
    ++state.Win_Count;
    // At or past the end: after a zoom in, a fuller band may already lie beyond the end of the
    // narrower one, and waiting for the count to meet it exactly would stop the chart for good.
    const bool reload = state.Win_Count >= growthBandEnd(state.Zoom_Level);
    if (reload) {
        history.ClearWindow();
        view.clearSurface();
        history.reloadLiveWindow();
        // F7 follows the growing ring: it comes back once the live page no longer holds
        // the oldest record.
        history.settleLiveOldest();
        view.redraw();
        // The reloaded window ends with the newest stored record: this very sample, which
        // was stored before it was announced.
        return true;
    }
    const int slot = state.Win_Count;
    if (isTrendSlot(slot)) {
        for (int c = 0; c < kDrawnChannels && c < int(values.size()); ++c)
            state.Trend_Value[c][slot] = values[c];
        state.Trend_Date[slot] = now.date;
        state.Trend_Time[slot] = now.time;
    }
    return false;
}

void appendUnstoredSample(TrendState& state, std::span<const float> values, const ClockReading& now) {
    if (state.Win_Count + 1 >= growthBandEnd(state.Zoom_Level)) {
        // Slide the window so that the newest sample lands in slot kLiveWinLen - 1; the slots
        // beyond are cleared as a reload clears them.
        const int shift = state.Win_Count + 1 - kLiveWinLen;
        for (int s = 1; s < kTrendSlots; ++s) {
            const int from = s + shift;
            const bool kept = from < kTrendSlots && from <= state.Win_Count;
            for (int c = 0; c < kDrawnChannels; ++c)
                state.Trend_Value[c][s] = kept ? state.Trend_Value[c][from] : 0.0f;
            state.Trend_Date[s] = kept ? state.Trend_Date[from] : 0;
            state.Trend_Time[s] = kept ? state.Trend_Time[from] : 0;
            state.Gap_Mark[s] = kept && state.Gap_Mark[from] != 0 ? int16_t(s) : int16_t(0);
        }
        state.Win_Count = int16_t(kLiveWinLen - 1);
    }
    ++state.Win_Count;
    const int slot = state.Win_Count;
    if (!isTrendSlot(slot)) return;
    for (int c = 0; c < kDrawnChannels && c < int(values.size()); ++c)
        state.Trend_Value[c][slot] = values[c];
    state.Trend_Date[slot] = now.date;
    state.Trend_Time[slot] = now.time;
}

void PendingRecords::appendTo(TrendState& state, HistoryReview& history, TrendView& view) {
    bool reloaded = false;
    for (const auto& [record, stored] : pending_) {
        const ClockReading at{record.date, record.time};
        if (!stored)
            appendUnstoredSample(state, record.values, at);
        else if (!reloaded)
            reloaded = appendLiveSample(state, history, view, record.values, at);
    }
    pending_.clear();
}

} // namespace hx
