// The live window without widgets: scale labels, where the growth band scrolls, and the
// chart of a young ring against the records of a real database.
#include "TrendTestSupport.h"
#include "core/FreshValues.h"
#include "core/Rounding.h"
#include "core/SharedState.h"
#include "logging/LoggingTestSupport.h"
#include "logging/mscom.h"
#include "trend/LiveTrend.h"
#include "trend/TrendText.h"

#include <QtTest>

#include <map>

using namespace hx;
using namespace hx::test;

class TestLiveTrend : public QObject {
    Q_OBJECT

  private slots:
    void scaleLabels_data() {
        QTest::addColumn<int>("yMin");
        QTest::addColumn<int>("ySpan");
        QTest::addColumn<QList<qint64>>("labels");
        QTest::newRow("defaults") << 0 << 1500 << QList<qint64>{0, 250, 500, 750, 1000, 1250, 1500};
        QTest::newRow("thirds round to nearest")
            << -100 << 1000 << QList<qint64>{-100, 67, 233, 400, 567, 733, 900};
        QTest::newRow("flat") << 42 << 0 << QList<qint64>{42, 42, 42, 42, 42, 42, 42};
    }
    void scaleLabels() {
        QFETCH(int, yMin);
        QFETCH(int, ySpan);
        QFETCH(QList<qint64>, labels);
        const auto values = scaleLabelValues(int16_t(yMin), int16_t(ySpan));
        QCOMPARE(QList<qint64>(values.begin(), values.end()), labels);
    }

    // A live window freshly loaded holds 241 records; each recorded sample goes into the
    // growth band, which scrolls (reloads the newest records) when it is full.
    void theGrowthBandScrollsWhenFull_data() {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<int>("samplesToScroll");
        QTest::newRow("level 1") << 1 << 20;
        QTest::newRow("level 4") << 4 << 80;
    }
    void theGrowthBandScrollsWhenFull() {
        QFETCH(int, zoom);
        QFETCH(int, samplesToScroll);
        TrendState state;
        FakeRecordStore store;
        store.fillRing(1, 500, 10 * 3600);
        RecordingTrendView view(state);
        HistoryReview history(state, &store, view);
        history.reloadLiveWindow();
        state.Zoom_Level = int16_t(zoom);
        const std::array<float, 10> values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        for (int n = 1; n < samplesToScroll; ++n)
            QVERIFY(!appendLiveSample(state, history, view, values, {kDay, 0.5}));
        QCOMPARE(int(state.Win_Count), 241 + samplesToScroll - 1);
        QCOMPARE(state.Trend_Value[9][state.Win_Count], 10.0f);
        QVERIFY(appendLiveSample(state, history, view, values, {kDay, 0.5}));
        QCOMPARE(int(state.Win_Count), 241);
        // The window ends with the newest stored record, which the reload brought.
        QCOMPARE(state.Trend_Value[0][241], float(500)); // slot 500 of the ring
        QCOMPARE(state.Trend_Value[0][240], float(499));
    }

    // Zooming in with a fuller band than the new level holds: the next sample scrolls, so
    // the chart keeps moving instead of writing past the window.
    void zoomingInOverAFullerBandScrollsOnTheNextSample() {
        TrendState state;
        FakeRecordStore store;
        store.fillRing(1, 500, 10 * 3600);
        RecordingTrendView view(state);
        HistoryReview history(state, &store, view);
        history.reloadLiveWindow();
        state.Zoom_Level = 4;
        const std::array<float, 10> values{};
        for (int n = 0; n < 50; ++n)
            QVERIFY(!appendLiveSample(state, history, view, values, {kDay, 0.5}));
        QCOMPARE(int(state.Win_Count), 291);
        state.Zoom_Level = 2; // F2 twice: the band of level 2 ended at 281
        store.fillRing(1, 600, 10 * 3600 + 100);
        QVERIFY(appendLiveSample(state, history, view, values, {kDay, 0.5}));
        QCOMPARE(int(state.Win_Count), 241);
        QCOMPARE(state.Ring_Pos, 600);
        QCOMPARE(state.Trend_Value[0][240], float(599));
    }

    // A first run on a fresh database: 300 records, one a second with a 15 s outage, through
    // the recorder and the live chart as the main window joins them, zooming as the row says.
    // Every five records CH1's points are the newest records but the very newest, one X_Step
    // apart and ending in the growth band, and each time label reads its slot's record, or
    // past the newest the time one record a second gives.
    void aYoungRingDrawsItsNewestRecords_data() {
        QTest::addColumn<QList<int>>("zooms"); // pairs: at record n, to level
        QTest::newRow("level 1") << QList<int>{};
        QTest::newRow("level 4") << QList<int>{1, 4};
        QTest::newRow("F1 and F2 as the ring grows")
            << QList<int>{40, 2, 100, 3, 150, 4, 215, 3, 226, 2, 247, 1, 280, 4};
    }
    void aYoungRingDrawsItsNewestRecords() {
        QFETCH(QList<int>, zooms);
        resetSharedState();
        Y_Span = 1500; // CH1 = n lands on y = 7508 - 5 n
        QTemporaryDir dir;
        const QString path = testing::freshDatabase(dir);
        testing::FakeClock clock(QDateTime(QDate(2024, 3, 14), QTime(23, 57, 0)));
        mscom recorder(path, clock);
        recorder.Timer1.stop();
        Main_Open = kTrue;
        auto chartStore = openRecordStore(path), checkStore = openRecordStore(path);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview history(st, chartStore.get(), view);
        QObject::connect(&recorder, &mscom::recordWritten, [&](const StoredRecord& r, WriteOutcome) {
            appendLiveSample(st, history, view, r.values, {r.date, r.time});
            view.redraw();
        });
        history.openLiveWindow();
        for (int n = 1; n <= 300; ++n) {
            clock.advance(n == 200 ? 16 : 1);
            for (int c = 0; c < kDrawnChannels; ++c)
                Pv_Value[c] = float(n + c);
            freshValues().noteMeasured(0, FreshValues::kValues, FreshValues::steadyNowMs());
            recorder.Timer1_Timer();
            if (const int at = int(zooms.indexOf(n)); at >= 0 && at % 2 == 0)
                zoomTrend(st, history, view, zooms[at + 1]);
            else if (n % 5 != 0)
                continue;
            const auto db = checkStore->selectWindow(0, n, n); // oldest first
            QVERIFY(db && int(db->size()) == n);
            std::map<double, double> drawn, expected; // x -> y of CH1
            for (const RecordedLine& l : view.canvas.visibleLines())
                if (l.pen.colour == kCurvePens[0].colour && l.pen.style == PenStyle::Solid)
                    drawn[l.x1] = l.y1, drawn[l.x2] = l.y2;
            if (n >= 3) {
                QVERIFY2(!drawn.empty(), qPrintable(QStringLiteral("blank at %1").arg(n)));
                const int right = int(std::lround(std::prev(drawn.end())->first / double(st.X_Step)));
                QVERIFY2(right * st.X_Step >= 9000 && right * st.X_Step < 12000,
                         qPrintable(QString::number(n)));
                for (int k = 1; k < n && right - k + 1 >= (st.Slot_Offset == 0 ? 1 : 0); ++k)
                    expected[roundHalfEven(double(float(right - k + 1) * st.X_Step))] =
                        kChartHeight - roundHalfEven(5.0 * (*db)[size_t(n - 1 - k)].values[0]);
            }
            QVERIFY2(drawn == expected, qPrintable(QStringLiteral("record %1").arg(n)));
            for (int j = 0; j < kTimeLabels; ++j) {
                const int k =
                    st.Win_Count - (10 * st.Zoom_Level * j + st.Slot_Offset + 1); // behind the newest
                QCOMPARE(view.labels.Label4[j], k < 0   ? timeOfDayText(db->back().time - k / 86400.0)
                                                : k < n ? timeOfDayText((*db)[size_t(n - 1 - k)].time)
                                                        : QString());
            }
        }
    }
};

QTEST_MAIN(TestLiveTrend)
#include "test_live_trend.moc"
