// The chart surface offscreen: what the drawing leaves in its backing image and on screen.
#include <QTest>

#include "core/SharedState.h"
#include "trend/ChartSurface.h"
#include "trend/TrendRenderer.h"

using namespace hx;

namespace {

// Whether a pixel of the colour lies within `radius` pixels of where a chart point lands.
bool colourNear(const QImage& image, const QPointF& at, QRgb colour, int radius = 2) {
    const int cx = qRound(at.x());
    const int cy = qRound(at.y());
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if (image.rect().contains(x, y) && image.pixel(x, y) == colour) return true;
    return false;
}

bool uniform(const QImage& image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != colour) return false;
    return true;
}

// A live window at level 1: CH1 at 750 (y 3758), CH6 at 300 (y 6008), everything else 0,
// a gap ending at slot 200 (x 3000).
TrendState scene() {
    TrendState st;
    st.Win_Len = 241;
    st.Win_Count = 241;
    for (int s = 0; s < kTrendSlots; ++s) {
        st.Trend_Date[s] = 46000; // every slot holds a record
        st.Trend_Time[s] = s / 86400.0;
        st.Trend_Value[0][s] = 750;
        st.Trend_Value[5][s] = 300;
    }
    st.Gap_Mark[200] = 200;
    return st;
}

} // namespace

class TestChartSurface : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        resetSharedState();
        Y_Span = 1500;
    }

    void framedSurfaceHasItsNamesAndSize() {
        ChartFrame frame;
        QCOMPARE(frame.objectName(), QStringLiteral("pt0"));
        QCOMPARE(frame.surface()->objectName(), QStringLiteral("pt"));
        QCOMPARE(frame.surface()->parentWidget(), &frame);
        // 15 chart units per pixel: 12008 x 7508 is about 800 x 500.
        QCOMPARE(frame.surface()->sizeHint(), QSize(800, 500));
        // The frame adds its one-pixel border around the surface.
        QCOMPARE(frame.sizeHint(), QSize(802, 502));
        frame.resize(frame.sizeHint());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QCOMPARE(frame.surface()->size(), QSize(800, 500));
        QCOMPARE(frame.surface()->image().size(), QSize(800, 500));
    }

    void drawingLandsInTheImage_data() {
        QTest::addColumn<QPointF>("chartPoint");
        QTest::addColumn<QRgb>("colour");
        QTest::newRow("background between grid lines") << QPointF(200, 150) << qRgb(192, 255, 255);
        QTest::newRow("CH1 curve") << QPointF(4700, 3758) << qRgb(255, 0, 0);
        QTest::newRow("CH6 curve") << QPointF(4700, 6008) << qRgb(0, 0, 255);
        QTest::newRow("dotted grid line") << QPointF(5000, 312) << qRgb(255, 128, 255);
        QTest::newRow("dashed gap marker") << QPointF(3000, 1500) << qRgb(255, 255, 0);
        QTest::newRow("DA2 drawn last over the curves at value 0") << QPointF(4700, 7508) << qRgb(128, 0, 0);
    }
    void drawingLandsInTheImage() {
        QFETCH(QPointF, chartPoint);
        QFETCH(QRgb, colour);
        ChartSurface pt;
        pt.resize(800, 500);
        pt.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pt));
        TrendState st = scene();
        TrendLabels labels;
        redraw(st, pt, labels);
        const QImage image = pt.image();
        QCOMPARE(image.size(), QSize(800, 500));
        QVERIFY2(colourNear(image, pt.toImagePixels(chartPoint.x(), chartPoint.y()), colour),
                 qPrintable(QString::number(colour, 16)));
    }

    void clsClearsTheDrawing() {
        ChartSurface pt;
        pt.resize(800, 500);
        TrendState st = scene();
        TrendLabels labels;
        redraw(st, pt, labels);
        QVERIFY(!uniform(pt.image(), qRgb(192, 255, 255)));
        pt.Cls();
        QVERIFY(uniform(pt.image(), qRgb(192, 255, 255)));
        // A new background fills the whole surface with it.
        pt.setBackground(qRgb(10, 20, 30));
        QVERIFY(uniform(pt.image(), qRgb(10, 20, 30)));
    }

    void drawingPersistsAcrossRepaints() {
        ChartSurface pt;
        pt.resize(800, 500);
        pt.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pt));
        TrendState st = scene();
        TrendLabels labels;
        redraw(st, pt, labels);
        const QPointF ch1 = pt.toImagePixels(4700, 3758);
        for (int n = 0; n < 3; ++n) {
            pt.repaint();
            QCoreApplication::processEvents();
            // What the widget shows is the drawing, without anyone drawing again.
            const QImage shown = pt.grab().toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY(colourNear(shown, ch1, qRgb(255, 0, 0)));
            QCOMPARE(shown.pixel(13, 10), qRgb(192, 255, 255));
        }
        // A repaint after more drawing shows both the old and the new lines.
        pt.setPenColour(qRgb(0, 0, 0));
        pt.setPenWidth(1);
        pt.setPenStyle(PenStyle::Solid);
        pt.line(0, 1000, kChartWidth, 1000);
        const QImage shown = pt.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY(colourNear(shown, ch1, qRgb(255, 0, 0)));
        QVERIFY(colourNear(shown, pt.toImagePixels(4700, 1000), qRgb(0, 0, 0)));
    }

    void resizingRescalesTheDrawing() {
        ChartSurface pt;
        pt.resize(800, 500);
        TrendState st = scene();
        TrendLabels labels;
        redraw(st, pt, labels);
        pt.resize(400, 250);
        const QImage image = pt.image();
        QCOMPARE(image.size(), QSize(400, 250));
        QVERIFY(colourNear(image, pt.toImagePixels(4700, 3758), qRgb(255, 0, 0)));
        // The next redraw fills the new size.
        redraw(st, pt, labels);
        QVERIFY(colourNear(pt.image(), pt.toImagePixels(4700, 3758), qRgb(255, 0, 0), 1));
        QVERIFY(colourNear(pt.image(), pt.toImagePixels(8900, 3758), qRgb(255, 0, 0), 1));
    }

    void linesOutsideTheSurfaceAreClipped_data() {
        QTest::addColumn<QLineF>("line");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QPointF>("probe");
        QTest::newRow("far above") << QLineF(0, -1e9, 12008, -1e9) << false << QPointF();
        QTest::newRow("far below") << QLineF(0, 9e8, 12008, 9e8) << false << QPointF();
        QTest::newRow("huge values across the surface")
            << QLineF(-1e12, 3000, 1e12, 3000) << true << QPointF(6000, 3000);
        QTest::newRow("steep line from far off")
            << QLineF(6000, -1e9, 6000, 1e9) << true << QPointF(6000, 4000);
        QTest::newRow("past the right edge") << QLineF(12100, 0, 40000, 7508) << false << QPointF();
    }
    void linesOutsideTheSurfaceAreClipped() {
        QFETCH(QLineF, line);
        QFETCH(bool, visible);
        QFETCH(QPointF, probe);
        ChartSurface pt;
        pt.resize(800, 500);
        pt.Cls();
        pt.setPenColour(qRgb(255, 0, 0));
        pt.setPenWidth(2);
        pt.line(line.x1(), line.y1(), line.x2(), line.y2());
        const QImage image = pt.image();
        if (visible)
            QVERIFY(colourNear(image, pt.toImagePixels(probe.x(), probe.y()), qRgb(255, 0, 0)));
        else
            QVERIFY(uniform(image, pt.background()));
    }
};

QTEST_MAIN(TestChartSurface)
#include "test_chart_surface.moc"
