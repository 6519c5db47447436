#include "app/StatusLabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace hx {

void StatusLabel::showStatus(const QString& text) {
    if (text == this->text()) return;
    setText(text);
    setToolTip(text);
}

void StatusLabel::showStatus(const StatusPart& part) {
    showStatus(part.text);
    // Restyled only when the style changes: every new style sheet repolishes the label.
    if (styleSheet() != part.style) setStyleSheet(part.style);
}

void StatusLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(room, int(alignment()), fitStatusText(text(), fontMetrics(), room.width()));
}

} // namespace hx
