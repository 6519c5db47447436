#pragma once
// One landscape A4 page to a PDF file, written at 300 dpi: the chart printout and the factory
// report both print this way. The page is drawn by the caller onto the painter, in page
// pixels (target is the whole page).
#include <QFont>
#include <QRectF>
#include <QString>

#include <functional>

class QPainter;

namespace hx {

// False, with the reason in error, when the folder cannot be written or the page did not
// reach the file; no dialog, nothing thrown.
bool writePdfPage(const QString& path, const QString& title,
                  const std::function<void(QPainter&, const QRectF& target)>& paint, QString* error);

// A font of a size in page pixels (the page is drawn at 300 dpi).
QFont pageFont(double pixelSize, bool bold = false);

} // namespace hx
