#include "ui/Twips.h"

#include "core/Rounding.h"

#include <QWidget>

namespace hx {

int twipsToPixels(const QWidget& widget, double twips) {
    const double dpi = widget.logicalDpiX() > 0 ? widget.logicalDpiX() : 96.0;
    return int(roundHalfEven(twips / 15.0 * dpi / 96.0));
}

QRect Twips::rect(double left, double top, double width, double height) const {
    return QRect((*this)(left), (*this)(top), (*this)(width), (*this)(height));
}

} // namespace hx
