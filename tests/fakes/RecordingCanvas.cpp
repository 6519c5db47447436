#include "fakes/RecordingCanvas.h"

namespace hx {

void RecordingCanvas::line(double x1, double y1, double x2, double y2) {
    CanvasEvent e;
    e.kind = CanvasEvent::Kind::Line;
    e.line = RecordedLine{x1, y1, x2, y2, pen()};
    events_.push_back(e);
}

void RecordingCanvas::setBackground(QRgb colour) {
    CanvasEvent e;
    e.kind = CanvasEvent::Kind::Background;
    e.background = colour;
    events_.push_back(e);
}

void RecordingCanvas::Cls() {
    CanvasEvent e;
    e.kind = CanvasEvent::Kind::Cls;
    events_.push_back(e);
}

std::vector<RecordedLine> RecordingCanvas::visibleLines() const {
    std::vector<RecordedLine> lines;
    for (const CanvasEvent& e : events_) {
        if (e.kind == CanvasEvent::Kind::Line)
            lines.push_back(e.line);
        else
            lines.clear();
    }
    return lines;
}

std::vector<RecordedLine> RecordingCanvas::allLines() const {
    std::vector<RecordedLine> lines;
    for (const CanvasEvent& e : events_)
        if (e.kind == CanvasEvent::Kind::Line) lines.push_back(e.line);
    return lines;
}

int RecordingCanvas::clsCount() const {
    int n = 0;
    for (const CanvasEvent& e : events_)
        n += e.kind == CanvasEvent::Kind::Cls;
    return n;
}

} // namespace hx
