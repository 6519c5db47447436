#pragma once
// The commissioning report of the factory record sheet: one A4 landscape page with the
// caption, the time of printing, the four lines of product data, the sheet's date and time,
// and both grids cell by cell as they stand. The page is composed on any QPainter, so the PDF
// and a picture of it come from the same code.
#include "core/Clock.h"

#include <QRectF>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class QPainter;

namespace hx {

// One grid as shown: its heading, its column widths (in any unit: only their proportions
// count) and the text of every cell, row by row.
struct ReportGrid {
    QString heading;
    std::vector<double> columnWidths;
    std::vector<QStringList> rows;
};

struct FactoryReport {
    QString title;                        // the window's caption
    QString printedAt;                    // "yyyy/MM/dd hh:mm:ss"
    std::array<QString, 4> productLabels; // 产品型号, 产品编号, 软件版本, 客户名称
    std::array<QString, 4> productData;   // as typed
    QString dateText, timeText;           // the sheet's date and time labels
    ReportGrid basic, calibration;        // Flxg and Flxg1
};

// The page in logical units of 0.1 mm (A4 landscape).
constexpr double kReportWidth = 2970;
constexpr double kReportHeight = 2100;
// Where the grids lie on the page, in the same units: side by side, as on the screen.
constexpr QRectF kReportGrids{100, 560, 2770, 1460};

// Composes the page into target (device coordinates of the painter, A4 landscape in
// proportion).
void paintFactoryPage(QPainter& painter, const QRectF& target, const FactoryReport& report);

// Writes the page as a one-page PDF at path. False, with the reason, when it cannot.
bool writeFactoryPdf(const QString& path, const FactoryReport& report, QString* error);

// "factory-yyyy-MM-dd-hh-mm-ss.pdf" of a clock reading.
QString factoryReportFileName(const ClockReading& at);
// "yyyy/MM/dd hh:mm:ss" of a clock reading.
QString reportTimeText(const ClockReading& at);

} // namespace hx
