// Chart navigation without widgets: the slot under the ruler and its readout, the slider's
// ends paging, the ruler turned off returning to the live page, the Y-scale entry, and the
// printout page written as a PDF.
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "TrendTestSupport.h"
#include "core/SharedState.h"
#include "trend/ChartPrintout.h"
#include "trend/ChartRuler.h"
#include "trend/LiveTrend.h"
#include "trend/TrendText.h"
#include "trend/YScale.h"

using namespace hx;
using namespace hx::test;

namespace {

struct Fixture {
    TrendState st;
    FakeRecordStore store;
    RecordingTrendView view{st};
    HistoryReview review{st, &store, view};

    Fixture(int32_t first, int32_t last) {
        resetSharedState();
        Y_Span = 1500;
        store.fillRing(first, last, 12 * 3600);
        review.openLiveWindow();
    }
};

} // namespace

class TestChartNavigation : public QObject {
    Q_OBJECT

  private slots:
    // The ruler reads the slot of the curve drawn under it (v / X_Step + Slot_Offset).
    void rulerReadout_data() {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<int>("slider");
        QTest::addColumn<int>("slot");
        QTest::newRow("level 4, 375") << 4 << 375 << 10;
        QTest::newRow("level 1, 1500") << 1 << 1500 << 190;
        QTest::newRow("level 2, half a step rounds to even") << 2 << 37 << 120;
        QTest::newRow("level 1, right end") << 1 << 12000 << 260;
    }
    void rulerReadout() {
        QFETCH(int, zoom);
        QFETCH(int, slider);
        QFETCH(int, slot);
        Fixture f(1, 1000); // live window: slots 1..241 hold ids 760..1000
        f.st.Zoom_Level = int16_t(zoom);
        f.view.redraw();
        const auto readout = moveRuler(f.st, f.review, slider);
        QVERIFY(readout);
        QCOMPARE(readout->slot, slot);
        const int id = 759 + slot;
        if (slot <= 241) {
            QCOMPARE(readout->values[0], QString::number(id));
            QCOMPARE(readout->values[9], QString::number(id + 9));
            QCOMPARE(readout->time, timeOfDayText(f.store.rows[id].time));
            QCOMPARE(readout->date, QStringLiteral("2026/03/14"));
        } else {
            // Beyond the newest record the slot is empty: an empty readout, not zeros.
            QVERIFY(readout->values[0].isEmpty());
            QVERIFY(readout->time.isEmpty());
        }
        QCOMPARE(int(f.st.Page_Back), 0); // no paging inside the range
    }

    void aRulerWithoutGeometryReadsNothing() {
        TrendState st; // X_Step 0: no zoom applied yet
        QVERIFY(!rulerSlot(st, 300));
        st.X_Step = 37.5f;
        st.Slot_Offset = 300;
        QVERIFY(!rulerSlot(st, 12000)); // slot 620 lies outside the window
    }

    // The slider's left end asks for an older page, its right end for a newer one, with the
    // same effect on the live timer as F7 and F6.
    void theSliderEndsPage() {
        Fixture f(1, 1000);
        f.view.setLiveTimerActive(false); // ruler on
        moveRuler(f.st, f.review, kRulerSliderMin);
        QCOMPARE(int(f.st.Page_Back), 1);
        QCOMPARE(int(f.st.Win_Len), 321);
        QCOMPARE(f.st.Win_End, 940);
        QVERIFY(!f.view.liveTimer);
        QVERIFY(f.view.newer);
        const auto readout = moveRuler(f.st, f.review, kRulerSliderMax);
        QCOMPARE(int(f.st.Page_Back), 0);
        QCOMPARE(int(f.st.Win_Len), 241);
        QVERIFY(f.view.liveTimer); // back on although the ruler stays
        QVERIFY(readout);          // slot 260 of the live page: past the newest record
        QCOMPARE(readout->slot, 260);
        QVERIFY(readout->time.isEmpty() && readout->values[0].isEmpty()); // not ten zeros
        moveRuler(f.st, f.review, kRulerSliderMax);                       // live already: nothing newer
        QCOMPARE(int(f.st.Page_Back), 0);

        Fixture small(1, 300); // page 1 reaches slot 1
        moveRuler(small.st, small.review, kRulerSliderMin);
        QVERIFY(small.st.At_Oldest);
        moveRuler(small.st, small.review, kRulerSliderMin);
        QCOMPARE(int(small.st.Page_Back), 1);
    }

    // Turning the ruler off after it paged back leaves no trace of the history page.
    void rulerOffReturnsWhollyToTheLivePage_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("pages");
        QTest::addColumn<bool>("oldest");
        QTest::newRow("three pages back in 1000 records") << 1 << 1000 << 3 << false;
        QTest::newRow("at the oldest page of 400 records") << 1 << 400 << 2 << false;
        QTest::newRow("200 records: the live page holds the oldest") << 1 << 200 << 1 << true;
        QTest::newRow("wrapped ring") << 121 << 120 << 4 << false;
    }
    void rulerOffReturnsWhollyToTheLivePage() {
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, pages);
        QFETCH(bool, oldest);
        Fixture f(first, last);
        f.st.Ruler_On = true;
        f.view.setLiveTimerActive(false);
        for (int n = 0; n < pages; ++n)
            moveRuler(f.st, f.review, kRulerSliderMin);
        QCOMPARE(int(f.st.Page_Back), pages);
        // The recorder went on meanwhile.
        f.store.writeRecord(recordAt(last % kRingSize + 1, 12 * 3600 + 1));
        leaveRuler(f.st, f.review, f.view);
        QVERIFY(!f.st.Ruler_On);
        QCOMPARE(int(f.st.Page_Back), 0);
        QCOMPARE(int(f.st.Win_Len), 241);
        QCOMPARE(int(f.st.Win_Count), 241);
        QCOMPARE(f.st.Win_End, last % kRingSize + 1);
        // The newest record ends the live window in slot 241, however few the records.
        QCOMPARE(f.st.Trend_Value[0][241], float(last % kRingSize + 1));
        QVERIFY(!f.view.newer);
        QVERIFY(f.view.liveTimer);
        QCOMPARE(f.st.At_Oldest, oldest);
        QCOMPARE(f.view.older, !oldest);
        QCOMPARE(f.view.calls.last(), QStringLiteral("redraw"));
    }

    void yScaleEntry_data() {
        QTest::addColumn<QString>("upper");
        QTest::addColumn<QString>("lower");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("yMin");
        QTest::addColumn<int>("ySpan");
        struct Row {
            const char* name;
            const char* upper;
            const char* lower;
            bool accepted;
            int yMin, ySpan;
        };
        static constexpr Row rows[] = {
            {"100 over -50", "100", "-50", true, -50, 150},
            {"upper 36000 is a limit", "36000", "32000", true, 32000, 4000},
            {"lower -12000 is a limit", "0", "-12000", true, -12000, 12000},
            {"upper 36001", "36001", "0", false, 0, 0},
            {"upper -12001", "-12001", "-12001", false, 0, 0},
            {"lower -12001", "100", "-12001", false, 0, 0},
            {"lower above 35000", "36000", "35000.5", false, 0, 0},
            {"lower above upper", "10", "20", false, 0, 0},
            {"equal bounds refused", "500", "500", false, 0, 0},
            {"equal after rounding refused", "4.5", "4", false, 0, 0},
            {"empty upper refused", "", "-3", false, 0, 0},
            {"empty upper, lower above 0", "", "1", false, 0, 0},
            {"blanks around, halves to even", " 100.5 ", "0", true, 0, 100},
            {"span 32767 fits", "30000", "-2767", true, -2767, 32767},
            {"span 32768 refused", "30000", "-2768", false, 0, 0},
            {"span 48000 refused", "36000", "-12000", false, 0, 0},
            {"lower 32767 fits Y_Min", "33000", "32767", true, 32767, 233},
            {"lower 32768 does not", "33000", "32768", false, 0, 0},
        };
        for (const Row& r : rows)
            QTest::newRow(r.name) << QString::fromUtf8(r.upper) << QString::fromUtf8(r.lower) << r.accepted
                                  << r.yMin << r.ySpan;
    }
    void yScaleEntry() {
        QFETCH(QString, upper);
        QFETCH(QString, lower);
        QFETCH(bool, accepted);
        QFETCH(int, yMin);
        QFETCH(int, ySpan);
        const auto scale = yScaleOfEntry(upper, lower);
        QCOMPARE(scale.has_value(), accepted);
        if (scale) {
            QCOMPARE(int(scale->yMin), yMin);
            QCOMPARE(int(scale->ySpan), ySpan);
        }
    }

    void printoutFileNames() {
        const ClockReading at = readingOf(QDateTime(QDate(2026, 12, 8), QTime(14, 3, 22)));
        QCOMPARE(printoutFileName(at), QStringLiteral("trend-2026-12-08-14-03-22.pdf"));
    }

    // The page as printed, drawn into a picture: the curves in their colours inside the
    // chart, the legend and the labels around it; the window's state is left as it was.
    void thePrintoutPageShowsTheChart() {
        Fixture f(1, 1000);
        for (int s = 0; s <= 241; ++s)
            f.st.Trend_Value[5][s] = 750; // CH6 across the middle of the scale
        ChartPrintout content;
        content.title = QStringLiteral("HX5800");
        content.values[5] = QStringLiteral("750");
        const TrendState before = f.st;
        QImage page(1485, 1050, QImage::Format_RGB32);
        page.fill(Qt::black);
        QPainter painter(&page);
        paintChartPage(painter, page.rect(), f.st, content);
        painter.end();
        const double k = 1485 / kPrintoutWidth;
        // Background of the chart, CH6 at mid-height of the scale, white margins.
        const QRectF chart(kPrintoutChart.left() * k, kPrintoutChart.top() * k, kPrintoutChart.width() * k,
                           kPrintoutChart.height() * k);
        QCOMPARE(page.pixel(int(chart.left() + 5), int(chart.top() + 40)), kChartBackground);
        const int midY = int(chart.top() + chart.height() * (kChartHeight - 3750.0) / kChartHeight);
        bool curve = false;
        for (int dy = -3; dy <= 3 && !curve; ++dy) {
            const QRgb p = page.pixel(int(chart.left() + chart.width() / 3), midY + dy);
            curve = qBlue(p) > 180 && qRed(p) < 120 && qGreen(p) < 120; // CH6 is the blue one
        }
        QVERIFY(curve);
        QCOMPARE(page.pixel(5, 5), qRgb(255, 255, 255));
        QCOMPARE(f.st.X_Step, before.X_Step);
        QCOMPARE(f.st.Win_Count, before.Win_Count);
    }

    void thePrintoutIsAOnePagePdf() {
        QTemporaryDir dir;
        Fixture f(1, 1000);
        ChartPrintout content;
        content.title = QStringLiteral("过程控制仪表  HX5800");
        const QString path = dir.filePath(QStringLiteral("trend.pdf"));
        QString error;
        QVERIFY2(writeChartPdf(path, f.st, content, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        QVERIFY(pdf.startsWith("%PDF-"));
        QCOMPARE(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b"))), 1);

        QVERIFY(
            !writeChartPdf(dir.filePath(QStringLiteral("no-such-folder/trend.pdf")), f.st, content, &error));
        QVERIFY(error.contains(QStringLiteral("no-such-folder")));
    }
};

QTEST_MAIN(TestChartNavigation)
#include "test_chart_navigation.moc"
