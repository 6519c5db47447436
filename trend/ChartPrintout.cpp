#include "trend/ChartPrintout.h"

#include "ui/PdfPage.h"

#include <memory>

#include <QFileInfo>
#include <QPainter>

#include "trend/TrendRenderer.h"

namespace hx {

namespace {

// The renderer's surface on a page: chart units onto a rectangle of the painter, pens as
// wide in proportion as on the screen.
class PainterCanvas final : public Canvas {
  public:
    PainterCanvas(QPainter& painter, const QRectF& rect)
        : painter_(painter), rect_(rect), pixel_(rect.width() * kChartTwipsPerPixel / kChartWidth) {}

    void line(double x1, double y1, double x2, double y2) override {
        if (!clipSegment(x1, y1, x2, y2, QRectF(0, 0, kChartWidth, kChartHeight))) return;
        QPen pen(QColor::fromRgb(this->pen().colour));
        pen.setWidthF(this->pen().width * pixel_);
        pen.setStyle(qtPenStyle(this->pen().style));
        pen.setCapStyle(this->pen().style == PenStyle::Solid ? Qt::RoundCap : Qt::FlatCap);
        painter_.setPen(pen);
        painter_.drawLine(toPage(x1, y1), toPage(x2, y2));
    }
    void setBackground(QRgb colour) override {
        background_ = colour;
        Cls();
    }
    void Cls() override { painter_.fillRect(rect_, QColor::fromRgb(background_)); }

    QPointF toPage(double x, double y) const {
        return {rect_.left() + x * rect_.width() / kChartWidth,
                rect_.top() + y * rect_.height() / kChartHeight};
    }
    double pixel() const { return pixel_; }

  private:
    QPainter& painter_;
    QRectF rect_;
    double pixel_;
    QRgb background_ = kChartBackground;
};

void drawText(QPainter& p, const QRectF& box, int flags, const QString& text, const QFont& font,
              QColor colour) {
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, flags, text);
}

} // namespace

void paintChartPage(QPainter& painter, const QRectF& target, const TrendState& state,
                    const ChartPrintout& content) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.translate(target.topLeft());
    painter.scale(target.width() / kPrintoutWidth, target.height() / kPrintoutHeight);
    painter.fillRect(QRectF(0, 0, kPrintoutWidth, kPrintoutHeight), Qt::white);

    const QColor ink(0, 0, 0);
    const QColor grey = QColor::fromRgb(kTimeLabelColour);
    // Caption, time of printing, and the date and time the readout shows.
    drawText(painter, QRectF(100, 100, 1600, 80), Qt::AlignLeft | Qt::AlignVCenter, content.title,
             pageFont(56, true), ink);
    drawText(painter, QRectF(1700, 100, 1170, 80), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("打印时间 ") + content.printedAt, pageFont(40), ink);
    drawText(painter, QRectF(1700, 185, 1170, 60), Qt::AlignRight | Qt::AlignVCenter,
             content.dateText + QStringLiteral("  ") + content.timeText, pageFont(40), ink);

    // Legend: each caption in its curve's colour, the value shown beside it.
    constexpr double legendTop = 260;
    constexpr double legendPitch = 250;
    for (int c = 0; c < kDrawnChannels; ++c) {
        const double x = kPrintoutChart.left() + c * legendPitch;
        drawText(painter, QRectF(x, legendTop, 100, 60), Qt::AlignLeft | Qt::AlignVCenter,
                 QString::fromLatin1(kCurvePens[c].legend), pageFont(40, true),
                 QColor::fromRgb(kCurvePens[c].colour));
        painter.fillRect(QRectF(x + 100, legendTop + 5, 140, 50), QColor(255, 192, 255));
        drawText(painter, QRectF(x + 100, legendTop, 130, 60), Qt::AlignRight | Qt::AlignVCenter,
                 content.values[c], pageFont(36), ink);
    }

    // The chart, drawn from a copy so that the window's own state stays as it is.
    const auto copy = std::make_unique<TrendState>(state);
    PainterCanvas canvas(painter, kPrintoutChart);
    TrendLabels labels;
    painter.save();
    painter.setClipRect(kPrintoutChart);
    redraw(*copy, canvas, labels);
    if (content.ruler) {
        const ChartLineShape& r = *content.ruler;
        double x1 = r.x1, y1 = r.y1, x2 = r.x2, y2 = r.y2;
        if (clipSegment(x1, y1, x2, y2, QRectF(0, 0, kChartWidth, kChartHeight))) {
            painter.setPen(QPen(QColor::fromRgb(r.colour), r.width * canvas.pixel()));
            painter.drawLine(canvas.toPage(x1, y1), canvas.toPage(x2, y2));
        }
    }
    painter.restore();
    painter.setPen(QPen(ink, canvas.pixel()));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(kPrintoutChart);

    // Scale labels beside the chart, bottom to top, each at the height of its value.
    for (int i = 0; i < kScaleLabels; ++i) {
        const double y = canvas.toPage(0, kChartHeight - (8 + 7500.0 * i / 6)).y();
        drawText(painter, QRectF(100, y - 30, kPrintoutChart.left() - 130, 60),
                 Qt::AlignRight | Qt::AlignVCenter, content.scale[i], pageFont(36), ink);
    }
    // Time and date labels under the chart, label j under x = 1500 j.
    const double under = kPrintoutChart.bottom() + 15;
    for (int j = 0; j < kTimeLabels; ++j) {
        const double x = canvas.toPage(1500.0 * j, 0).x();
        drawText(painter, QRectF(x - 150, under, 300, 50), Qt::AlignCenter, labels.Label4[j], pageFont(34),
                 grey);
        drawText(painter, QRectF(x - 150, under + 50, 300, 50), Qt::AlignCenter, labels.Label7[j],
                 pageFont(34), grey);
    }
    painter.restore();
}

bool writeChartPdf(const QString& path, const TrendState& state, const ChartPrintout& content,
                   QString* error) {
    return writePdfPage(
        path, content.title,
        [&](QPainter& painter, const QRectF& target) { paintChartPage(painter, target, state, content); },
        error);
}

QString printoutFileName(const ClockReading& at) {
    const QDate date = dateOfDayNumber(at.date);
    const QTime time = QTime(0, 0).addSecs(secondsOfDayFraction(at.time) % 86400);
    return QStringLiteral("trend-") + date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('-') +
           time.toString(QStringLiteral("hh-mm-ss")) + QStringLiteral(".pdf");
}

} // namespace hx
