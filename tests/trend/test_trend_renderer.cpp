// The chart geometry through a recording canvas: grid, zoom, time labels, gap markers,
// vertical scale and curves.
#include <algorithm>
#include <cmath>
#include <limits>

#include <QTest>

#include "TrendTestSupport.h"
#include "core/SharedState.h"
#include "fakes/RecordingCanvas.h"
#include "trend/TrendRenderer.h"

using namespace hx;
using test::kDay;

namespace {

// A window whose slots 1..filled hold one record per second, the slot `newestSlot`
// at `newestSecond` after midnight of kDay; channel c of slot s holds s + c.
TrendState filledWindow(int level, int winLen, int winCount, int filled, int newestSlot,
                        long long newestSecond) {
    TrendState st;
    st.Zoom_Level = static_cast<int16_t>(level);
    st.Win_Len = static_cast<int16_t>(winLen);
    st.Win_Count = static_cast<int16_t>(winCount);
    for (int s = 1; s <= filled; ++s) {
        const long long second = newestSecond - (newestSlot - s);
        st.Trend_Date[s] = kDay + double(second / 86400);
        st.Trend_Time[s] = (second % 86400) / 86400.0;
        for (int c = 0; c < kDrawnChannels; ++c)
            st.Trend_Value[c][s] = float(s + c);
    }
    return st;
}

std::vector<RecordedLine> curveOf(const RecordingCanvas& canvas, int channel) {
    std::vector<RecordedLine> out;
    for (const RecordedLine& l : canvas.visibleLines())
        if (l.pen.style == PenStyle::Solid && l.pen.colour == kCurvePens[channel].colour) out.push_back(l);
    return out;
}

std::vector<RecordedLine> linesWithStyle(const RecordingCanvas& canvas, PenStyle style) {
    std::vector<RecordedLine> out;
    for (const RecordedLine& l : canvas.visibleLines())
        if (l.pen.style == style) out.push_back(l);
    return out;
}

} // namespace

class TestTrendRenderer : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        resetSharedState();
        Y_Span = 1500;
    }

    void gridLines_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QLineF>("line");
        QTest::newRow("top edge") << 0 << QLineF(0, 0, 12008, 0);
        QTest::newRow("bottom of the scale") << 1 << QLineF(0, 7500, 12008, 7500);
        QTest::newRow("band 0") << 2 << QLineF(0, 0, 12008, 0);
        QTest::newRow("312.5 rounds to even 312") << 3 << QLineF(0, 312, 12008, 312);
        QTest::newRow("937.5 rounds to even 938") << 5 << QLineF(0, 938, 12008, 938);
        QTest::newRow("band 24") << 26 << QLineF(0, 7500, 12008, 7500);
        QTest::newRow("left rule") << 27 << QLineF(8, 0, 8, 7508);
        QTest::newRow("window edge") << 28 << QLineF(9000, 0, 9000, 7508);
        QTest::newRow("first vertical") << 29 << QLineF(0, 0, 0, 7508);
        QTest::newRow("vertical 1") << 30 << QLineF(375, 0, 375, 7508);
        QTest::newRow("last vertical in the band") << 61 << QLineF(12000, 0, 12000, 7508);
    }
    void gridLines() {
        QFETCH(int, index);
        QFETCH(QLineF, line);
        RecordingCanvas canvas;
        DrawGrid(canvas);
        // The background fill comes before any line and clears the surface.
        QCOMPARE(canvas.events().front().kind, CanvasEvent::Kind::Background);
        QCOMPARE(canvas.events().front().background, qRgb(192, 255, 255));
        const auto lines = canvas.visibleLines();
        QCOMPARE(int(lines.size()), 62);
        for (const RecordedLine& l : lines)
            QCOMPARE(l.pen, (Pen{qRgb(255, 128, 255), 1, PenStyle::Dot}));
        const RecordedLine& l = lines[index];
        QCOMPARE(QLineF(l.x1, l.y1, l.x2, l.y2), line);
    }

    void zoomGeometry_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<float>("xStep");
        QTest::addColumn<int>("slotOffset");
        QTest::newRow("level 1") << 1 << 150.0f << 180;
        QTest::newRow("level 2") << 2 << 75.0f << 120;
        QTest::newRow("level 3") << 3 << 50.0f << 60;
        QTest::newRow("level 4") << 4 << 37.5f << 0;
        QTest::newRow("level 0 leaves them") << 0 << 11.0f << 77;
        QTest::newRow("level 5 leaves them") << 5 << 11.0f << 77;
    }
    void zoomGeometry() {
        QFETCH(int, level);
        QFETCH(float, xStep);
        QFETCH(int, slotOffset);
        TrendState st;
        st.X_Step = 11;
        st.Slot_Offset = 77;
        st.Zoom_Level = static_cast<int16_t>(level);
        ApplyZoom(st);
        QCOMPARE(st.X_Step, xStep);
        QCOMPARE(int(st.Slot_Offset), slotOffset);
    }

    void curveSegments_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("winLen");
        QTest::addColumn<int>("winCount");
        QTest::addColumn<int>("segments");
        QTest::addColumn<double>("lastX");
        QTest::addColumn<int>("firstSlot");
        QTest::newRow("live level 1") << 1 << 241 << 241 << 60 << 9000.0 << 180;
        QTest::newRow("live level 2") << 2 << 241 << 241 << 120 << 9000.0 << 120;
        QTest::newRow("live level 3") << 3 << 241 << 241 << 180 << 9000.0 << 60;
        QTest::newRow("live level 4 from slot 0") << 4 << 241 << 241 << 240 << 9000.0 << 0;
        QTest::newRow("live plus 5 samples") << 1 << 241 << 246 << 65 << 9750.0 << 180;
        QTest::newRow("history level 1 past the edge") << 1 << 321 << 321 << 140 << 21000.0 << 180;
        QTest::newRow("history level 2") << 2 << 321 << 321 << 200 << 15000.0 << 120;
        QTest::newRow("history level 3") << 3 << 321 << 321 << 260 << 13000.0 << 60;
        QTest::newRow("history level 4 ends at 12000") << 4 << 321 << 321 << 320 << 12000.0 << 0;
    }
    void curveSegments() {
        QFETCH(int, level);
        QFETCH(int, winLen);
        QFETCH(int, winCount);
        QFETCH(int, segments);
        QFETCH(double, lastX);
        QFETCH(int, firstSlot);
        TrendState st = filledWindow(level, winLen, winCount, 322, 241, 12 * 3600);
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);

        const float step = st.X_Step;
        // Slot 0 is never loaded: at level 4 the segment from it to slot 1 is left out.
        const int skipped = firstSlot == 0 ? 1 : 0;
        for (int c = 0; c < kDrawnChannels; ++c) {
            const auto curve = curveOf(canvas, c);
            QCOMPARE(int(curve.size()), segments - skipped);
            QCOMPARE(curve.front().pen.width, c == 0 ? 2 : 1);
            QCOMPARE(curve.front().x1, std::nearbyint(double(skipped * step)));
            QCOMPARE(curve.back().x2, lastX);
            // k = 7500 / 1500 = 5: y = 7508 - 5 x value, value = slot + channel.
            auto yOfSlot = [c](int s) { return 7508.0 - 5 * (s + c); };
            for (int i = 1 + skipped; i <= segments; i += 37) {
                const RecordedLine& l = curve[i - 1 - skipped];
                QCOMPARE(l.x1, std::nearbyint(double((i - 1) * step)));
                QCOMPARE(l.x2, std::nearbyint(double(i * step)));
                QCOMPARE(l.y1, yOfSlot(firstSlot + i - 1));
                QCOMPARE(l.y2, yOfSlot(firstSlot + i));
            }
        }
    }

    void curvesInterleaveChannelOverChannel() {
        TrendState st = filledWindow(1, 241, 241, 241, 241, 12 * 3600);
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);
        const auto solid = linesWithStyle(canvas, PenStyle::Solid);
        QCOMPARE(int(solid.size()), 600);
        for (int n = 0; n < 30; ++n) {
            QCOMPARE(solid[n].pen.colour, kCurvePens[n % 10].colour);
            QCOMPARE(solid[n].x1, 150.0 * (n / 10));
        }
    }

    void redrawClearsThenGridThenTrend() {
        TrendState st = filledWindow(1, 241, 241, 241, 241, 12 * 3600);
        st.Gap_Mark[200] = 200;
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);
        redraw(st, canvas, labels);
        const auto& ev = canvas.events();
        QCOMPARE(ev[0].kind, CanvasEvent::Kind::Cls);
        QCOMPARE(ev[1].kind, CanvasEvent::Kind::Background);
        QCOMPARE(ev[2].line.pen.style, PenStyle::Dot);
        QCOMPARE(ev[64].line.pen.style, PenStyle::Dash); // the one gap marker after 62 grid lines
        QCOMPARE(ev[65].line.pen.style, PenStyle::Solid);
        QCOMPARE(canvas.clsCount(), 2);
        // The second redraw draws the same picture again, not on top of the first.
        QCOMPARE(int(canvas.visibleLines().size()), 62 + 1 + 600);
    }

    void timeLabels_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("winLen");
        QTest::addColumn<int>("newestSlot");
        QTest::addColumn<long long>("newestSecond");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QStringList>("dates");
        const QString d = QStringLiteral("2026/03/14");
        const QString next = QStringLiteral("2026/03/15");
        // Slot s lies (241 - s) seconds before the newest; 12:00:00 in slot 241.
        QTest::newRow("live level 1: slots 181..241 and two steps beyond")
            << 1 << 241 << 241 << 12 * 3600LL
            << QStringList{"11:59:00", "11:59:10", "11:59:20", "11:59:30", "11:59:40",
                           "11:59:50", "12:00:00", "12:00:10", "12:00:20"}
            << QStringList(9, d);
        QTest::newRow("live level 2: slots 121, 141, ..., 10 s x 2 beyond")
            << 2 << 241 << 241 << 12 * 3600LL
            << QStringList{"11:58:00", "11:58:20", "11:58:40", "11:59:00", "11:59:20",
                           "11:59:40", "12:00:00", "12:00:20", "12:00:40"}
            << QStringList(9, d);
        QTest::newRow("live level 2 across midnight")
            << 2 << 241 << 241 << 86395LL
            << QStringList{"23:57:55", "23:58:15", "23:58:35", "23:58:55", "23:59:15",
                           "23:59:35", "23:59:55", "00:00:15", "00:00:35"}
            << QStringList{d, d, d, d, d, d, d, next, next};
        QTest::newRow("live level 1, label 8 only in the next day")
            << 1 << 241 << 241 << 86385LL
            << QStringList{"23:58:45", "23:58:55", "23:59:05", "23:59:15", "23:59:25",
                           "23:59:35", "23:59:45", "23:59:55", "00:00:05"}
            << QStringList{d, d, d, d, d, d, d, d, next};
        QTest::newRow("live level 1, label 7 exactly at midnight")
            << 1 << 241 << 241 << 86390LL
            << QStringList{"23:58:50", "23:59:00", "23:59:10", "23:59:20", "23:59:30",
                           "23:59:40", "23:59:50", "00:00:00", "00:00:10"}
            << QStringList{d, d, d, d, d, d, d, next, next};
        QTest::newRow("live level 4 from slot 1")
            << 4 << 241 << 241 << 12 * 3600LL
            << QStringList{"11:56:00", "11:56:40", "11:57:20", "11:58:00", "11:58:40",
                           "11:59:20", "12:00:00", "12:00:40", "12:01:20"}
            << QStringList(9, d);
        // A history page shows slots 181 + 10 j throughout, slot 321 the newest.
        QTest::newRow("history level 1: no extrapolation")
            << 1 << 321 << 321 << 12 * 3600LL
            << QStringList{"11:57:40", "11:57:50", "11:58:00", "11:58:10", "11:58:20",
                           "11:58:30", "11:58:40", "11:58:50", "11:59:00"}
            << QStringList(9, d);
        QTest::newRow("history level 4 reaches slot 321")
            << 4 << 321 << 321 << 12 * 3600LL
            << QStringList{"11:54:40", "11:55:20", "11:56:00", "11:56:40", "11:57:20",
                           "11:58:00", "11:58:40", "11:59:20", "12:00:00"}
            << QStringList(9, d);
    }
    void timeLabels() {
        QFETCH(int, level);
        QFETCH(int, winLen);
        QFETCH(int, newestSlot);
        QFETCH(long long, newestSecond);
        QFETCH(QStringList, times);
        QFETCH(QStringList, dates);
        TrendState st = filledWindow(level, winLen, winLen, newestSlot, newestSlot, newestSecond);
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);
        for (int j = 0; j < kTimeLabels; ++j) {
            QCOMPARE(labels.Label4[j], times[j]);
            QCOMPARE(labels.Label7[j], dates[j]);
        }
    }

    void emptySlotsShowBlankLabelsAndZeroCurves() {
        // Only 100 records: slots 101..322 are empty.
        TrendState st = filledWindow(1, 241, 241, 100, 100, 12 * 3600);
        RecordingCanvas canvas;
        TrendLabels labels;
        labels.Label4.fill(QStringLiteral("stale"));
        labels.Label7.fill(QStringLiteral("stale"));
        redraw(st, canvas, labels);
        for (int j = 0; j < kTimeLabels; ++j) {
            QVERIFY2(labels.Label4[j].isEmpty(), qPrintable(labels.Label4[j]));
            QVERIFY2(labels.Label7[j].isEmpty(), qPrintable(labels.Label7[j]));
        }
        for (const RecordedLine& l : linesWithStyle(canvas, PenStyle::Solid)) {
            QCOMPARE(l.y1, 7508.0);
            QCOMPARE(l.y2, 7508.0);
        }
    }

    void recordAtMidnightShowsItsTime() {
        TrendState st = filledWindow(1, 241, 241, 241, 241, 86400 + 60);
        // Slot 181 lies 60 s before slot 241: exactly midnight of the next day.
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);
        QCOMPARE(labels.Label4[0], QStringLiteral("00:00:00"));
        QCOMPARE(labels.Label7[0], QStringLiteral("2026/03/15"));
    }

    void verticalScale_data() {
        QTest::addColumn<int>("yMin");
        QTest::addColumn<int>("ySpan");
        QTest::addColumn<float>("value");
        QTest::addColumn<double>("y");
        QTest::addColumn<int>("yOffset");
        QTest::newRow("default scale, 0 at the bottom") << 0 << 1500 << 0.0f << 7508.0 << 0;
        QTest::newRow("default scale, 1500 at the top") << 0 << 1500 << 1500.0f << 8.0 << 0;
        QTest::newRow("-50..100: -50 at the bottom") << -50 << 150 << -50.0f << 7508.0 << -2500;
        QTest::newRow("-50..100: 100 at the top") << -50 << 150 << 100.0f << 8.0 << -2500;
        QTest::newRow("-50..100: 25 in the middle") << -50 << 150 << 25.0f << 3758.0 << -2500;
        QTest::newRow("100..1100: 100 at the bottom") << 100 << 1000 << 100.0f << 7508.0 << 750;
        QTest::newRow("value above the scale off the top") << 0 << 1500 << 3000.0f << -7492.0 << 0;
        QTest::newRow("span 0: flat on the bottom") << 0 << 0 << 1234.0f << 7508.0 << 0;
        QTest::newRow("span 0 with a minimum: flat on the bottom") << -100 << 0 << 500.0f << 7508.0 << 0;
        // k = 7500 / 7 in single precision; 3 x k = 3214.2856 rounds to 3214.
        QTest::newRow("span 7, single precision k") << 0 << 7 << 3.0f << 7508.0 - 3214 << 0;
    }
    void verticalScale() {
        QFETCH(int, yMin);
        QFETCH(int, ySpan);
        QFETCH(float, value);
        QFETCH(double, y);
        QFETCH(int, yOffset);
        Y_Min = static_cast<int16_t>(yMin);
        Y_Span = static_cast<int16_t>(ySpan);
        Y_Offset = 99; // whatever the last redraw left
        TrendState st = filledWindow(1, 241, 241, 241, 241, 12 * 3600);
        for (int s = 0; s < kTrendSlots; ++s)
            st.Trend_Value[3][s] = value;
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);
        QCOMPARE(int(Y_Offset), yOffset);
        const auto curve = curveOf(canvas, 3);
        QCOMPARE(int(curve.size()), 60);
        for (const RecordedLine& l : curve) {
            QCOMPARE(l.y1, y);
            QCOMPARE(l.y2, y);
        }
    }

    void gapMarkers_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("winCount");
        QTest::addColumn<QList<int>>("markedSlots");
        QTest::addColumn<QList<double>>("markerXs");
        QTest::newRow("level 1: only slots 181..240 count")
            << 1 << 241 << QList<int>{180, 181, 200, 240, 241} << QList<double>{150, 3000, 9000};
        QTest::newRow("level 1 live band grows with Win_Count")
            << 1 << 250 << QList<int>{241, 249, 250} << QList<double>{9150, 10350};
        QTest::newRow("level 4: marker between grid steps")
            << 4 << 241 << QList<int>{0, 1, 3, 240} << QList<double>{37.5, 112.5, 9000};
        QTest::newRow("level 4 history page up to slot 320")
            << 4 << 321 << QList<int>{320, 321, 322} << QList<double>{12000};
        QTest::newRow("Win_Count beyond the window: slots past 322 ignored")
            << 4 << 400 << QList<int>{322} << QList<double>{12075};
    }
    void gapMarkers() {
        QFETCH(int, level);
        QFETCH(int, winCount);
        QFETCH(QList<int>, markedSlots);
        QFETCH(QList<double>, markerXs);
        TrendState st = filledWindow(level, 241, winCount, 241, 241, 12 * 3600);
        for (int s : markedSlots)
            st.Gap_Mark[s] = static_cast<int16_t>(s);
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);
        const auto markers = linesWithStyle(canvas, PenStyle::Dash);
        QCOMPARE(int(markers.size()), int(markerXs.size()));
        for (int n = 0; n < int(markers.size()); ++n) {
            QCOMPARE(markers[n].pen, (Pen{qRgb(255, 255, 0), 1, PenStyle::Dash}));
            QCOMPARE(QLineF(markers[n].x1, markers[n].y1, markers[n].x2, markers[n].y2),
                     QLineF(markerXs[n], 0, markerXs[n], 9000));
        }
    }

    // A value that is no reading (what a damaged database reads as) or that lies beyond what
    // the scale can place leaves out the two segments that touch it; every line drawn has
    // finite coordinates. A finite value far off the scale is still drawn, off the surface.
    void valuesThatCannotBePlaced_data() {
        QTest::addColumn<int>("ySpan");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("segments");
        QTest::addColumn<double>("y"); // of the odd slot when drawn
        const float inf = std::numeric_limits<float>::infinity();
        QTest::newRow("NaN") << 1500 << std::numeric_limits<float>::quiet_NaN() << 58 << 0.0;
        QTest::newRow("+infinity") << 1500 << inf << 58 << 0.0;
        QTest::newRow("-infinity") << 1500 << -inf << 58 << 0.0;
        QTest::newRow("largest single: k x value overflows")
            << 1500 << std::numeric_limits<float>::max() << 58 << 0.0;
        QTest::newRow("span 1: 3e36 x 7500 overflows") << 1 << 3e36f << 58 << 0.0;
        QTest::newRow("1e30: far above the top") << 1500 << 1e30f << 60 << 7508.0 - double(5 * 1e30f);
        QTest::newRow("-1e30: far below the bottom") << 1500 << -1e30f << 60 << 7508.0 + double(5 * 1e30f);
        QTest::newRow("span 0: infinity is still left out (0 x infinity)") << 0 << inf << 58 << 0.0;
    }
    void valuesThatCannotBePlaced() {
        QFETCH(int, ySpan);
        QFETCH(float, value);
        QFETCH(int, segments);
        QFETCH(double, y);
        Y_Span = static_cast<int16_t>(ySpan);
        TrendState st = filledWindow(1, 241, 241, 241, 241, 12 * 3600);
        constexpr int kOddSlot = 200; // segments 20 and 21 at level 1 touch it
        st.Trend_Value[4][kOddSlot] = value;
        RecordingCanvas canvas;
        TrendLabels labels;
        redraw(st, canvas, labels);

        for (const RecordedLine& l : canvas.visibleLines())
            QVERIFY(std::isfinite(l.x1) && std::isfinite(l.y1) && std::isfinite(l.x2) && std::isfinite(l.y2));
        const auto curve = curveOf(canvas, 4);
        QCOMPARE(int(curve.size()), segments);
        const double x = std::nearbyint(double((kOddSlot - 180) * st.X_Step));
        const auto touching = std::count_if(curve.begin(), curve.end(),
                                            [x](const RecordedLine& l) { return l.x1 == x || l.x2 == x; });
        QCOMPARE(int(touching), segments == 60 ? 2 : 0);
        if (segments == 60) {
            const auto into =
                std::find_if(curve.begin(), curve.end(), [x](const RecordedLine& l) { return l.x2 == x; });
            QCOMPARE(into->y2, y);
        }
        // The other channels are untouched.
        QCOMPARE(int(curveOf(canvas, 3).size()), 60);
    }

    void slotsOutsideTheWindowAreLeftOut_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("slotOffset");
        QTest::addColumn<int>("winCount");
        QTest::addColumn<int>("segments");
        QTest::addColumn<int>("labelsKept");
        // Slot 0 holds no record: its segment is left out too.
        QTest::newRow("Win_Count 400 at level 4: segments up to slot 322") << 4 << 0 << 400 << 321 << 0;
        QTest::newRow("Win_Count 330 at level 1") << 1 << 180 << 330 << 142 << 0;
        // A level outside 1..4 keeps the old geometry; labels past slot 322 stay as they were.
        QTest::newRow("level 9 with the offset of level 1") << 9 << 180 << 241 << 142 << 7;
        QTest::newRow("negative offset: segments and labels from slot 1") << 1 << -30 << 241 << 29 << 3;
    }
    void slotsOutsideTheWindowAreLeftOut() {
        QFETCH(int, level);
        QFETCH(int, slotOffset);
        QFETCH(int, winCount);
        QFETCH(int, segments);
        QFETCH(int, labelsKept);
        TrendState st = filledWindow(level, 321, winCount, 322, 322, 12 * 3600);
        st.Slot_Offset = static_cast<int16_t>(slotOffset);
        st.X_Step = 150;
        RecordingCanvas canvas;
        TrendLabels labels;
        labels.Label4.fill(QStringLiteral("kept"));
        // DrawTrend alone: a level outside the table must not reach ApplyZoom's defaults.
        DrawTrend(st, canvas, labels);
        QCOMPARE(int(curveOf(canvas, 0).size()), segments);
        QCOMPARE(int(std::count(labels.Label4.begin(), labels.Label4.end(), QStringLiteral("kept"))),
                 labelsKept);
    }
};

QTEST_MAIN(TestTrendRenderer)
#include "test_trend_renderer.moc"
