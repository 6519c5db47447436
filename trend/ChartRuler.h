#pragma once
// The ruler: a line over the chart moved by the slider hc, whose slot's date, time and ten
// values the readout labels show. The slider's ends page as F7 and F6 do. Plain logic on the
// trend state and history review; the window moves the controls.
#include <array>
#include <optional>

#include <QRgb>
#include <QString>

#include "trend/HistoryReview.h"
#include "trend/TrendState.h"

namespace hx {

// The slider spans the chart with one unit to spare at each end; the spare units page.
constexpr int kRulerSliderMin = -1;    // older page
constexpr int kRulerSliderMax = 12001; // newer page
constexpr QRgb kRulerReadoutBackground = qRgb(255, 255, 0);

// The line object Line1 on the chart, in chart units.
struct ChartLineShape {
    QRgb colour = qRgb(0, 0, 0);
    int width = 1; // pixels
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;

    friend bool operator==(const ChartLineShape&, const ChartLineShape&) = default;
};

// A short yellow tick at the left edge when the ruler comes on.
constexpr ChartLineShape kRulerOnTick{qRgb(255, 255, 0), 2, 1, 0, 1, 330};
// A short green tick at x = 0 while the ruler is off.
constexpr ChartLineShape kRulerOffTick{qRgb(0, 255, 0), 2, 0, 0, 0, 330};
// The full-height purple ruler line at slider value v.
constexpr ChartLineShape rulerLineAt(int v) {
    return {qRgb(192, 0, 192), 2, double(v), 0, double(v), 7500};
}

// The slot under slider value v: v / X_Step rounded half to even, plus Slot_Offset; nullopt
// when it lies outside the window or X_Step is not set.
std::optional<int> rulerSlot(const TrendState& state, int v);

// What the readout labels show for a slot: Label2(9), Label2(10) and D_3W(0..9).
struct RulerReadout {
    int slot = 0;
    QString date;
    QString time;
    std::array<QString, kDrawnChannels> values;
};

// The readout of the slot under slider value v; nullopt leaves the labels as they are. A slot
// that holds no record reads empty (no date, no time, no values), never as zeros.
std::optional<RulerReadout> rulerReadout(const TrendState& state, int v);

// The slider value whose slot is the one drawn at chart x (a click on the chart); nullopt
// when no slot of the window lies there.
std::optional<int> rulerValueAt(const TrendState& state, double x);

// What the chart shows when it is not the live chart (a history page, or the ruler on):
// "历史 2026/12/08 05:24:08 – 05:29:28", the first and last records the curves run through
// (the date again at the end when they lie on two days). Empty on the live chart.
QString shownSpanText(const TrendState& state);

// The slider moved to v: at its left end an older page (unless the oldest is shown), at its
// right end a newer one (unless live), with their effect on the live timer; then the readout
// on the page now shown.
std::optional<RulerReadout> moveRuler(TrendState& state, HistoryReview& history, int v);

// The ruler turned off: the chart returns wholly to the live page, also after the ruler was
// used on a history page: Page_Back 0, F6 disabled, the live timer on, the newest records
// loaded and drawn. F7 is offered unless the live page already holds the oldest record.
void leaveRuler(TrendState& state, HistoryReview& history, TrendView& view);

} // namespace hx
