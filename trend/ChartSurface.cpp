#include "trend/ChartSurface.h"

#include <algorithm>

#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "trend/TrendRenderer.h"

namespace hx {

ChartSurface::ChartSurface(QWidget* parent) : QWidget(parent), background_(kChartBackground) {
    setObjectName(QStringLiteral("pt"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

ChartSurface::~ChartSurface() {
    finishPainting();
}

QSize ChartSurface::sizeHint() const {
    return {kChartWidth / kChartTwipsPerPixel, kChartHeight / kChartTwipsPerPixel};
}

QSize ChartSurface::imageSize() const {
    const qreal dpr = devicePixelRatioF();
    return {std::max(1, qRound(width() * dpr)), std::max(1, qRound(height() * dpr))};
}

void ChartSurface::fitImage() const {
    const QSize size = imageSize();
    if (!image_.isNull() && image_.size() == size) return;
    finishPainting();
    if (image_.isNull()) {
        image_ = QImage(size, QImage::Format_RGB32);
        image_.fill(background_);
    } else {
        // The drawing is scaled to the new size until the next redraw draws it afresh.
        image_ = image_.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    image_.setDevicePixelRatio(devicePixelRatioF());
}

QPainter& ChartSurface::painter() {
    fitImage();
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(&image_);
        painter_->setRenderHint(QPainter::Antialiasing, false);
    }
    return *painter_;
}

void ChartSurface::finishPainting() const {
    if (painter_) {
        painter_->end();
        painter_.reset();
    }
}

QPointF ChartSurface::toImagePixels(double x, double y) const {
    // The far edges of the chart land on the last pixel column and row, so that a curve at
    // the bottom of the scale (y = H) stays visible.
    const QSize size = imageSize();
    return {x * (size.width() - 1) / kChartWidth, y * (size.height() - 1) / kChartHeight};
}

void ChartSurface::line(double x1, double y1, double x2, double y2) {
    // Trim in chart units first, with a margin so that pen caps at the edges stay whole;
    // a curve of a value far outside the scale must not reach the painter as a huge number.
    constexpr double kMargin = 60;
    if (!clipSegment(x1, y1, x2, y2,
                     QRectF(-kMargin, -kMargin, kChartWidth + 2 * kMargin, kChartHeight + 2 * kMargin)))
        return;
    QPainter& p = painter();
    const qreal dpr = devicePixelRatioF();
    QPen qpen(QColor::fromRgb(pen().colour));
    qpen.setWidthF(pen().width * dpr);
    qpen.setStyle(qtPenStyle(pen().style));
    qpen.setCapStyle(pen().style == PenStyle::Solid ? Qt::RoundCap : Qt::FlatCap);
    qpen.setJoinStyle(Qt::RoundJoin);
    p.setPen(qpen);
    // The painter works in the image's logical pixels.
    const QPointF a = toImagePixels(x1, y1) / dpr;
    const QPointF b = toImagePixels(x2, y2) / dpr;
    p.drawLine(a, b);
    update();
}

void ChartSurface::setBackground(QRgb colour) {
    background_ = colour;
    Cls();
}

void ChartSurface::Cls() {
    fitImage();
    finishPainting();
    image_.fill(background_);
    update();
}

QImage ChartSurface::image() const {
    fitImage();
    finishPainting();
    return image_.copy();
}

void ChartSurface::paintEvent(QPaintEvent*) {
    fitImage();
    finishPainting();
    QPainter p(this);
    p.drawImage(rect(), image_);
}

void ChartSurface::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitImage();
}

ChartLine::ChartLine(ChartSurface* surface) : QWidget(surface), surface_(surface), shape_(kRulerOffTick) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(surface->rect());
    surface->installEventFilter(this);
}

void ChartLine::setShape(const ChartLineShape& shape) {
    if (shape == shape_) return;
    shape_ = shape;
    update();
}

bool ChartLine::eventFilter(QObject* watched, QEvent* event) {
    if (watched == surface_ && event->type() == QEvent::Resize) setGeometry(surface_->rect());
    return QWidget::eventFilter(watched, event);
}

void ChartLine::paintEvent(QPaintEvent*) {
    double x1 = shape_.x1, y1 = shape_.y1, x2 = shape_.x2, y2 = shape_.y2;
    if (!clipSegment(x1, y1, x2, y2, QRectF(0, 0, kChartWidth, kChartHeight))) return;
    QPainter p(this);
    QPen pen(QColor::fromRgb(shape_.colour));
    pen.setWidth(shape_.width);
    p.setPen(pen);
    const qreal dpr = devicePixelRatioF();
    p.drawLine(surface_->toImagePixels(x1, y1) / dpr, surface_->toImagePixels(x2, y2) / dpr);
}

ChartFrame::ChartFrame(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("pt0"));
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    surface_ = new ChartSurface(this);
    layout->addWidget(surface_);
}

} // namespace hx
