#include "trend/TrendRenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Rounding.h"
#include "core/SharedState.h"
#include "trend/TrendText.h"

namespace hx {

namespace {

constexpr int W = kChartWidth;
constexpr int H = kChartHeight;
constexpr double kGapMarkerBottom = 9000; // the markers run past the bottom edge

// A label of the live window past the newest sample (slot Win_Count) tells when a record
// will stand there: the newest record's time plus one second a slot, as the recorder stores
// them. A label over a recorded slot reads that record instead, so an outage in the growth
// band shows in the labels as it does in the records.
void writeExtrapolatedLabel(const TrendState& state, int slot, QString& timeText, QString& dateTextOut) {
    const int newest = state.Win_Count;
    const double date = isTrendSlot(newest) ? state.Trend_Date[newest] : 0;
    const double time = isTrendSlot(newest) ? state.Trend_Time[newest] : 0;
    if (isEmptyInstant(date, time)) {
        timeText.clear();
        dateTextOut.clear();
        return;
    }
    double labelDate = date;
    double labelTime = time + (slot - newest) / 86400.0;
    // Whole seconds decide the day, so a label landing exactly on midnight takes the new one.
    while (roundHalfEven(labelTime * 86400.0) >= 86400.0) {
        labelDate += 1;
        labelTime -= 1.0;
    }
    timeText = timeOfDayText(labelTime);
    dateTextOut = dateText(labelDate);
}

// y of a value: Y_Min lands on the bottom edge, Y_Min + Y_Span on y = 8. NaN when the
// value cannot be placed, so the segment is left out.
double curveY(float k, float value) {
    const double scaled = roundHalfEven(static_cast<double>(k * value));
    if (!std::isfinite(scaled)) return std::numeric_limits<double>::quiet_NaN();
    return H + Y_Offset - scaled;
}

// The slot label j under the chart reads.
int labelSlot(const TrendState& state, int j) {
    return 10 * state.Zoom_Level * j + state.Slot_Offset + 1;
}

} // namespace

void DrawGrid(Canvas& pt) {
    pt.setPenWidth(1);
    pt.setPenColour(kGridColour);
    pt.setBackground(kChartBackground);
    pt.setPenStyle(PenStyle::Dot);

    pt.line(0, 0, W, 0);
    pt.line(0, 7500, W, 7500);
    for (int i = 0; i <= 24; ++i) {
        const double y = roundHalfEven(312.5 * i);
        pt.line(0, y, W, y);
    }
    pt.line(8, 0, 8, H);
    pt.line(9000, 0, 9000, H);
    for (int i = 0; i <= 32; ++i) {
        const double x = 375.0 * i;
        pt.line(x, 0, x, H);
    }
}

void ApplyZoom(TrendState& state) {
    for (const ZoomGeometry& zoom : kZoomLevels) {
        if (zoom.level == state.Zoom_Level) {
            state.X_Step = zoom.xStep;
            state.Slot_Offset = static_cast<int16_t>(zoom.slotOffset);
        }
    }
}

std::pair<int, int> labelledSlots(const TrendState& state) {
    const int first = std::max(state.Slot_Offset + 1, 1);
    const int last = std::min({labelSlot(state, kTimeLabels - 1), int(state.Win_Count), kTrendSlots - 1});
    return {first, last};
}

void DrawTrend(TrendState& state, Canvas& pt, TrendLabels& labels) {
    const int L = state.Zoom_Level;
    const int offset = state.Slot_Offset;
    const int N = 60 * L + state.Win_Count - kLiveWinLen; // segments per curve

    // Labels and curves count slots one apart: label j reads slot Slot_Offset + 1 + 10 L j,
    // while the curve point drawn under it is slot Slot_Offset + 10 L j. Operators know the
    // chart this way and the ruler readout follows the curves, so both are kept as they are.
    const bool live = state.Win_Len < 320;
    for (int j = 0; j < kTimeLabels; ++j) {
        const int s = labelSlot(state, j);
        if (live && s > state.Win_Count) {
            writeExtrapolatedLabel(state, s, labels.Label4[j], labels.Label7[j]);
            continue;
        }
        if (!isTrendSlot(s)) continue;
        labels.Label4[j] = slotTimeText(state, s);
        labels.Label7[j] = slotDateText(state, s);
    }

    // A gap marker stands where a recording gap ends; the curves run straight across it.
    pt.setPenWidth(1);
    pt.setPenColour(kGapMarkerColour);
    pt.setPenStyle(PenStyle::Dash);
    for (int i = 1; i <= N; ++i) {
        const int s = i + offset;
        if (!isTrendSlot(s) || state.Gap_Mark[s] <= 0) continue;
        const double x = static_cast<double>(state.X_Step * static_cast<float>(i));
        pt.line(x, 0, x, kGapMarkerBottom);
    }

    // With a span of 0 the scale cannot be computed: k stays 0 and the curves lie flat on
    // the bottom edge.
    float k = 0;
    if (Y_Span != 0) k = 7500.0f / static_cast<float>(Y_Span);
    if (Y_Min != 0) {
        const double v = roundHalfEven(static_cast<double>(k * static_cast<float>(Y_Min)));
        if (v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max())
            Y_Offset = static_cast<int16_t>(v);
    } else {
        Y_Offset = 0;
    }

    // Segment by segment, channel c over channel c - 1.
    for (int i = 1; i <= N; ++i) {
        const int s1 = offset + i - 1;
        const int s2 = offset + i;
        if (!isTrendSlot(s1) || !isTrendSlot(s2)) continue;
        // A slot that holds no record (a young ring, a record left out) is no reading: its
        // segments are left out rather than drawn as a flat line at 0.
        if (isEmptyInstant(state.Trend_Date[s1], state.Trend_Time[s1]) ||
            isEmptyInstant(state.Trend_Date[s2], state.Trend_Time[s2]))
            continue;
        const double x1 = roundHalfEven(static_cast<double>(static_cast<float>(i - 1) * state.X_Step));
        const double x2 = roundHalfEven(static_cast<double>(static_cast<float>(i) * state.X_Step));
        for (int c = 0; c < kDrawnChannels; ++c) {
            pt.setPenColour(kCurvePens[c].colour);
            pt.setPenWidth(kCurvePens[c].width);
            pt.setPenStyle(PenStyle::Solid);
            const double y1 = curveY(k, state.Trend_Value[c][s1]);
            const double y2 = curveY(k, state.Trend_Value[c][s2]);
            if (std::isfinite(y1) && std::isfinite(y2)) pt.line(x1, y1, x2, y2);
        }
    }
}

void redraw(TrendState& state, Canvas& pt, TrendLabels& labels) {
    pt.Cls();
    DrawGrid(pt);
    ApplyZoom(state);
    DrawTrend(state, pt, labels);
}

} // namespace hx
