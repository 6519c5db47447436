#include "SplashPicture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace hx {

QPixmap splashPicture(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(QPointF(0, 0), QSizeF(size));

    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0, QColor(70, 84, 100));
    body.setColorAt(1, QColor(30, 38, 48));
    p.setBrush(body);
    p.setPen(QPen(QColor(20, 24, 30), 2));
    p.drawRoundedRect(r.adjusted(2, 2, -2, -2), 12, 12);

    // The display window with a dotted grid and ten curves in the chart's colours.
    const QRectF screen =
        r.adjusted(size.width() * 0.06, size.height() * 0.10, -size.width() * 0.06, -size.height() * 0.30);
    p.setBrush(QColor(192, 255, 255));
    p.setPen(QPen(QColor(10, 10, 10), 2));
    p.drawRect(screen);
    p.setPen(QPen(QColor(255, 128, 255), 1, Qt::DotLine));
    for (int i = 1; i < 8; ++i) {
        const qreal x = screen.left() + screen.width() * i / 8;
        p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
    }
    for (int i = 1; i < 6; ++i) {
        const qreal y = screen.top() + screen.height() * i / 6;
        p.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
    }
    static const QColor colours[] = {{255, 0, 0}, {128, 128, 0}, {0, 64, 0},  {255, 0, 255}, {192, 64, 0},
                                     {0, 0, 255}, {0, 0, 0},     {0, 192, 0}, {255, 128, 0}, {128, 0, 0}};
    p.setClipRect(screen);
    for (int c = 0; c < 10; ++c) {
        QPainterPath path;
        for (int i = 0; i <= 60; ++i) {
            const qreal x = screen.left() + screen.width() * i / 60.0;
            const qreal phase = i / 60.0 * 6.2832 * (1 + c % 3) + c;
            const qreal y = screen.top() + screen.height() * (0.12 + 0.078 * c + 0.05 * std::sin(phase));
            if (i == 0)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        p.setPen(QPen(colours[c], c == 0 ? 2.5 : 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    p.setClipping(false);

    // Eight channel keys and the model name under the display.
    const qreal keyTop = screen.bottom() + size.height() * 0.06;
    const qreal keyW = screen.width() / 8.0;
    for (int k = 0; k < 8; ++k) {
        const QRectF key(screen.left() + k * keyW + keyW * 0.15, keyTop, keyW * 0.7, size.height() * 0.07);
        p.setBrush(k < 2 ? QColor(200, 60, 60) : QColor(90, 100, 112));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(key, 3, 3);
    }
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(int(size.height() * 0.09));
    p.setFont(font);
    p.setPen(QColor(230, 236, 242));
    p.drawText(QRectF(screen.left(), keyTop + size.height() * 0.08, screen.width(), size.height() * 0.12),
               Qt::AlignCenter, QStringLiteral("HX5800"));
    return pixmap;
}

} // namespace hx
