#pragma once
// The drawing seam of the trend chart. The renderer draws in chart units on a surface
// 12008 wide and 7508 high, y growing downward; the surface maps them onto pixels.
#include <QRectF>
#include <QRgb>
#include <Qt>

namespace hx {

constexpr int kChartWidth = 12008;      // W
constexpr int kChartHeight = 7508;      // H
constexpr int kChartTwipsPerPixel = 15; // at 96 dpi, so the chart is about 800 x 500 px

enum class PenStyle { Solid, Dash, Dot };

struct Pen {
    QRgb colour = qRgb(0, 0, 0);
    int width = 1; // pixels
    PenStyle style = PenStyle::Solid;

    friend bool operator==(const Pen&, const Pen&) = default;
};

class Canvas {
  public:
    virtual ~Canvas() = default;

    void setPenColour(QRgb colour) { pen_.colour = colour; }
    void setPenWidth(int pixels) { pen_.width = pixels; }
    void setPenStyle(PenStyle style) { pen_.style = style; }
    const Pen& pen() const { return pen_; }

    // A straight line in chart units with the current pen; what lies outside the surface
    // is clipped.
    virtual void line(double x1, double y1, double x2, double y2) = 0;
    // Sets the background colour, which also clears the surface to it.
    virtual void setBackground(QRgb colour) = 0;
    // Clears the surface to the background colour.
    virtual void Cls() = 0;

  private:
    Pen pen_;
};

// Trims a segment to a rectangle (Liang-Barsky); false when nothing of it lies inside. The
// surfaces trim in chart units before painting, so that a curve of a value far outside the
// scale never reaches a painter as a huge number.
bool clipSegment(double& x1, double& y1, double& x2, double& y2, const QRectF& r);

Qt::PenStyle qtPenStyle(PenStyle style);

} // namespace hx
