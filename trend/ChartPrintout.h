#pragma once
// The printout of the chart ("F3 打印"): one A4 landscape page with the caption, the time of
// printing, the legend with the values shown beside it, the scale labels, the chart in its
// colours drawn from the trend window by the same renderer as the screen, and the time and
// date labels under it. The page is composed on any QPainter, so a PDF and a picture of it
// come from the same code.
#include <array>
#include <optional>

#include <QRectF>
#include <QString>

#include "core/Clock.h"
#include "trend/Canvas.h"
#include "trend/ChartRuler.h"
#include "trend/LiveTrend.h"
#include "trend/TrendState.h"

class QPainter;

namespace hx {

// What the window shows besides the trend window itself.
struct ChartPrintout {
    QString title;                              // the window's caption
    QString printedAt;                          // "yyyy/MM/dd hh:mm:ss"
    QString dateText, timeText;                 // Label2(9), Label2(10): the clock or the ruler's slot
    std::array<QString, kDrawnChannels> values; // D_3W(0..9) as shown
    std::array<QString, kScaleLabels> scale;    // Label5(0..6), bottom to top
    std::optional<ChartLineShape> ruler;        // Line1 while the ruler is on
};

// The page in logical units of 0.1 mm (A4 landscape).
constexpr double kPrintoutWidth = 2970;
constexpr double kPrintoutHeight = 2100;
// Where the chart lies on the page, in the same units.
constexpr QRectF kPrintoutChart{300, 360, 2500, 2500.0 * kChartHeight / kChartWidth};

// Composes the page into target (device coordinates of the painter, A4 landscape in
// proportion). The trend window is drawn from a copy; the state is left untouched.
void paintChartPage(QPainter& painter, const QRectF& target, const TrendState& state,
                    const ChartPrintout& content);

// Writes the page as a one-page PDF at path. False, with the reason, when it cannot.
bool writeChartPdf(const QString& path, const TrendState& state, const ChartPrintout& content,
                   QString* error);

// "trend-yyyy-MM-dd-hh-mm-ss.pdf" of a clock reading.
QString printoutFileName(const ClockReading& at);

} // namespace hx
