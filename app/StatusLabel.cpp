#include "app/StatusLabel.h"

#include "app/StatusLine.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace hx {

void StatusLabel::showStatus(const QString& text) {
    if (text == this->text()) return;
    setText(text);
    setToolTip(text);
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
