#include "ui/PdfPage.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace hx {

bool writePdfPage(const QString& path, const QString& title,
                  const std::function<void(QPainter&, const QRectF& target)>& paint, QString* error) {
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir() || !folder.isWritable()) {
        if (error) *error = QStringLiteral("cannot write into %1").arg(folder.filePath());
        return false;
    }
    QPdfWriter writer(path);
    writer.setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0)));
    writer.setResolution(300);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("hx5800"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error) *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    paint(painter, QRectF(0, 0, writer.width(), writer.height()));
    if (!painter.end() || QFileInfo(path).size() == 0) {
        if (error) *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

QFont pageFont(double pixelSize, bool bold) {
    QFont font;
    font.setPixelSize(int(pixelSize));
    font.setBold(bold);
    return font;
}

} // namespace hx
