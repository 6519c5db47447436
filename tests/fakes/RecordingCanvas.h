#pragma once
// A canvas that keeps a list of everything drawn on it, for checking the chart geometry
// without pixels.
#include <vector>

#include "trend/Canvas.h"

namespace hx {

struct RecordedLine {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    Pen pen;
};

struct CanvasEvent {
    enum class Kind { Cls, Background, Line };
    Kind kind = Kind::Line;
    RecordedLine line;   // Kind::Line
    QRgb background = 0; // Kind::Background
};

class RecordingCanvas final : public Canvas {
  public:
    void line(double x1, double y1, double x2, double y2) override;
    void setBackground(QRgb colour) override;
    void Cls() override;

    const std::vector<CanvasEvent>& events() const { return events_; }
    // The lines drawn since the surface was last cleared (by Cls or a background fill),
    // that is, what the surface shows now.
    std::vector<RecordedLine> visibleLines() const;
    // Every line ever drawn, in order.
    std::vector<RecordedLine> allLines() const;
    int clsCount() const;
    void reset() { events_.clear(); }

  private:
    std::vector<CanvasEvent> events_;
};

} // namespace hx
