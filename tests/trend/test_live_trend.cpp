// The live window without widgets: scale labels, and where the growth band scrolls.
#include "TrendTestSupport.h"
#include "trend/LiveTrend.h"

#include <QtTest>

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
};

QTEST_MAIN(TestLiveTrend)
#include "test_live_trend.moc"
