#include "factory/FactoryReport.h"

#include "ui/PdfPage.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <numeric>

namespace hx {

namespace {

constexpr double kCellPadding = 8;
constexpr double kGridGap = 40;
const QColor kInk(0, 0, 0);
const QColor kFixedCell(224, 224, 224); // the header row and the number column, as on the screen

void drawText(QPainter& p, const QRectF& box, int flags, const QString& text, const QFont& font) {
    p.setFont(font);
    p.setPen(kInk);
    p.drawText(box, flags, text);
}

// A text wider than its cell is narrowed to fit rather than cut: the sheet's long labels
// stay whole on paper.
void drawCellText(QPainter& p, const QRectF& cell, const QString& text, const QFont& font) {
    if (text.isEmpty()) return;
    const double room = cell.width() - 2 * kCellPadding;
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    p.setFont(font);
    p.setPen(kInk);
    if (width <= room) {
        p.drawText(cell.adjusted(kCellPadding, 0, -kCellPadding, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
        return;
    }
    p.save();
    p.translate(cell.left() + kCellPadding, cell.top());
    p.scale(room / width, 1);
    p.drawText(QRectF(0, 0, width, cell.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    p.restore();
}

double totalWidth(const ReportGrid& grid) {
    return std::accumulate(grid.columnWidths.begin(), grid.columnWidths.end(), 0.0);
}

// One grid from its top left corner, `scale` page units per unit of its column widths.
void drawGrid(QPainter& p, const ReportGrid& grid, QPointF at, double scale, double rowHeight) {
    drawText(p, QRectF(at.x(), at.y() - 65, 600, 55), Qt::AlignLeft | Qt::AlignVCenter, grid.heading,
             pageFont(40, true));
    const QFont cellFont = pageFont(30);
    for (size_t r = 0; r < grid.rows.size(); ++r) {
        double x = at.x();
        for (size_t c = 0; c < grid.columnWidths.size(); ++c) {
            const QRectF cell(x, at.y() + double(r) * rowHeight, grid.columnWidths[c] * scale, rowHeight);
            if (r == 0 || c == 0) p.fillRect(cell, kFixedCell);
            p.setPen(QPen(kInk, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawRect(cell);
            if (c < size_t(grid.rows[r].size())) drawCellText(p, cell, grid.rows[r][int(c)], cellFont);
            x += cell.width();
        }
    }
}

QDateTime dateTimeOf(const ClockReading& at) {
    return QDateTime(dateOfDayNumber(at.date), QTime(0, 0).addSecs(secondsOfDayFraction(at.time) % 86400));
}

} // namespace

void paintFactoryPage(QPainter& painter, const QRectF& target, const FactoryReport& report) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.translate(target.topLeft());
    painter.scale(target.width() / kReportWidth, target.height() / kReportHeight);
    painter.fillRect(QRectF(0, 0, kReportWidth, kReportHeight), Qt::white);

    // Caption, time of printing, and the date and time the sheet shows.
    drawText(painter, QRectF(100, 100, 1600, 80), Qt::AlignLeft | Qt::AlignVCenter, report.title,
             pageFont(56, true));
    drawText(painter, QRectF(1700, 100, 1170, 80), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("打印时间 ") + report.printedAt, pageFont(40));
    drawText(painter, QRectF(1700, 185, 1170, 60), Qt::AlignRight | Qt::AlignVCenter,
             report.dateText + QStringLiteral("  ") + report.timeText, pageFont(40));

    // Product data, one line each, the text on a rule as on a paper form.
    for (size_t i = 0; i < report.productLabels.size(); ++i) {
        const double top = 210 + double(i) * 65;
        drawText(painter, QRectF(100, top, 300, 60), Qt::AlignLeft | Qt::AlignVCenter,
                 report.productLabels[i], pageFont(40, true));
        drawText(painter, QRectF(420, top, 1500, 60), Qt::AlignLeft | Qt::AlignVCenter, report.productData[i],
                 pageFont(40));
        painter.setPen(QPen(kInk, 1.5));
        painter.drawLine(QPointF(420, top + 58), QPointF(1920, top + 58));
    }

    // Both grids side by side in the proportions of their columns on the screen.
    const double basicWidth = totalWidth(report.basic);
    const double calibrationWidth = totalWidth(report.calibration);
    const double units = basicWidth + calibrationWidth;
    if (units > 0) {
        const double scale = (kReportGrids.width() - kGridGap) / units;
        const size_t rows = std::max(report.basic.rows.size(), report.calibration.rows.size());
        const double rowHeight = rows ? kReportGrids.height() / double(rows) : 0;
        drawGrid(painter, report.basic, kReportGrids.topLeft(), scale, rowHeight);
        drawGrid(painter, report.calibration,
                 kReportGrids.topLeft() + QPointF(basicWidth * scale + kGridGap, 0), scale, rowHeight);
    }
    painter.restore();
}

bool writeFactoryPdf(const QString& path, const FactoryReport& report, QString* error) {
    return writePdfPage(
        path, report.title,
        [&](QPainter& painter, const QRectF& target) { paintFactoryPage(painter, target, report); }, error);
}

QString factoryReportFileName(const ClockReading& at) {
    return dateTimeOf(at).toString(QStringLiteral("'factory-'yyyy-MM-dd-hh-mm-ss'.pdf'"));
}

QString reportTimeText(const ClockReading& at) {
    return dateTimeOf(at).toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

} // namespace hx
