#pragma once
// The trend chart: grid, zoom geometry, time labels, gap markers and the ten curves.
// Every redraw is the same four steps in this order: Cls, DrawGrid, ApplyZoom, DrawTrend.
#include <array>
#include <utility>

#include <QString>

#include "trend/Canvas.h"
#include "trend/TrendState.h"

namespace hx {

constexpr QRgb kChartBackground = qRgb(192, 255, 255);
constexpr QRgb kGridColour = qRgb(255, 128, 255);
constexpr QRgb kGapMarkerColour = qRgb(255, 255, 0);
constexpr QRgb kTimeLabelColour = qRgb(64, 64, 64); // Label4 and Label7 text

struct CurvePen {
    const char* legend; // caption of Label1 beside the curve's value label
    QRgb colour;
    int width;
};

// Channel 0..9: CH1..CH8, DA1, DA2. The legend captions take the same colours.
constexpr std::array<CurvePen, kDrawnChannels> kCurvePens{{
    {"CH1", qRgb(255, 0, 0), 2},
    {"CH2", qRgb(128, 128, 0), 1},
    {"CH3", qRgb(0, 64, 0), 1},
    {"CH4", qRgb(255, 0, 255), 1},
    {"CH5", qRgb(192, 64, 0), 1},
    {"CH6", qRgb(0, 0, 255), 1},
    {"CH7", qRgb(0, 0, 0), 1},
    {"CH8", qRgb(0, 192, 0), 1},
    {"DA1", qRgb(255, 128, 0), 1},
    {"DA2", qRgb(128, 0, 0), 1},
}};

struct ZoomGeometry {
    int level;
    float xStep;
    int slotOffset;
};

// X_Step x 60 x level = 9000 and Slot_Offset = 240 - 60 x level at every level.
constexpr std::array<ZoomGeometry, 4> kZoomLevels{{
    {1, 150.0f, 180},
    {2, 75.0f, 120},
    {3, 50.0f, 60},
    {4, 37.5f, 0},
}};

constexpr int kTimeLabels = 9;

// The first and last slot the time labels under the chart read, within the window.
std::pair<int, int> labelledSlots(const TrendState& state);

// Texts of the nine time labels Label4(0..8) and date labels Label7(0..8) under the
// chart; label j sits under x = 1500 j. The window copies them into its labels.
struct TrendLabels {
    std::array<QString, kTimeLabels> Label4;
    std::array<QString, kTimeLabels> Label7;
};

// Paints the background and the 62 dotted grid lines.
void DrawGrid(Canvas& pt);
// Sets X_Step and Slot_Offset for Zoom_Level; any other level leaves both unchanged.
void ApplyZoom(TrendState& state);
// Writes the time labels and Y_Offset (shared state), draws the gap markers and the curves.
void DrawTrend(TrendState& state, Canvas& pt, TrendLabels& labels);
// Cls, DrawGrid, ApplyZoom, DrawTrend.
void redraw(TrendState& state, Canvas& pt, TrendLabels& labels);

} // namespace hx
