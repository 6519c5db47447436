#pragma once
// The chart surface pt inside its frame pt0. Drawing goes into a backing image at the
// widget's pixel size and stays there until the next Cls or background fill, so a repaint
// of the window shows the last drawing without asking the renderer again.
#include <memory>

#include <QFrame>
#include <QImage>
#include <QWidget>

#include "trend/Canvas.h"
#include "trend/ChartRuler.h"

class QPainter;

namespace hx {

class ChartSurface final : public QWidget, public Canvas {
    Q_OBJECT
  public:
    explicit ChartSurface(QWidget* parent = nullptr);
    ~ChartSurface() override;

    void line(double x1, double y1, double x2, double y2) override;
    void setBackground(QRgb colour) override;
    void Cls() override;

    // The drawing as it stands, in device pixels.
    QImage image() const;
    // Where a point in chart units lands, in device pixels of image().
    QPointF toImagePixels(double x, double y) const;
    QRgb background() const { return background_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QPainter& painter();
    // Makes the backing image match the widget's pixel size, scaling what is drawn.
    void fitImage() const;
    void finishPainting() const;
    QSize imageSize() const;

    QRgb background_;
    mutable QImage image_;
    mutable std::unique_ptr<QPainter> painter_;
};

// A line object on the chart surface (the ruler's Line1): drawn over the drawing rather than
// into it, so a Cls or a redraw leaves it where it is. It covers the surface and lets the
// mouse through.
class ChartLine final : public QWidget {
    Q_OBJECT
  public:
    explicit ChartLine(ChartSurface* surface);
    void setShape(const ChartLineShape& shape);
    const ChartLineShape& shape() const { return shape_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    ChartSurface* surface_;
    ChartLineShape shape_;
};

// The framing picture pt0 around the chart surface.
class ChartFrame final : public QFrame {
    Q_OBJECT
  public:
    explicit ChartFrame(QWidget* parent = nullptr);
    ChartSurface* surface() const { return surface_; }

  private:
    ChartSurface* surface_;
};

} // namespace hx
