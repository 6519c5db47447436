#pragma once
// The windows' layouts are written in twips (1/1440 inch). A window converts them to pixels
// at its own logical resolution (15 twips a pixel at 96 dpi), rounded half to even, read
// afresh at every conversion.
#include <QRect>

class QWidget;

namespace hx {

// Pixels of `twips` at the widget's logical resolution (96 dpi when it reports none).
int twipsToPixels(const QWidget& widget, double twips);

// A window's converter, held as its member `tw`: tw(550) is a length in pixels,
// tw.rect(left, top, width, height) a rectangle.
class Twips {
  public:
    explicit Twips(const QWidget& widget) : widget_(widget) {}
    int operator()(double twips) const { return twipsToPixels(widget_, twips); }
    QRect rect(double left, double top, double width, double height) const;

  private:
    const QWidget& widget_;
};

} // namespace hx
