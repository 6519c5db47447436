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

    // A first run on a fresh database, 300 records one a second with a 15 s outage, the
    // recorder and the live chart as the main window joins them, zooming as the row says.
    // Every few records the chart's CH1 points are the newest records of the database but
    // the very newest, one X_Step apart and ending in the growth band: never blank from the
    // third record on, no hole, nothing of an earlier load or zoom; and every time label
    // reads the record of its slot, or past the newest the time one record a second gives.
    void aYoungRingDrawsItsNewestRecords_data() {
        QTest::addColumn<QList<int>>("zooms"); // record number, level, record number, level...
        QTest::newRow("level 1") << QList<int>{};
        QTest::newRow("level 4") << QList<int>{1, 4};
        QTest::newRow("F1 and F2 as the ring grows")
            << QList<int>{40, 2, 100, 3, 150, 4, 215, 3, 226, 2, 247, 1, 280, 4};
    }
    void aYoungRingDrawsItsNewestRecords() {
        QFETCH(QList<int>, zooms);
        std::map<int, int> zoomAt;
        for (int i = 0; i + 1 < zooms.size(); i += 2)
            zoomAt[zooms[i]] = zooms[i + 1];
        resetSharedState();
        Y_Span = 1500; // CH1 = record number n lands on y = 7508 - 5 n
        QTemporaryDir dir;
        const QString path = testing::freshDatabase(dir);
        testing::FakeClock clock(QDateTime(QDate(2024, 3, 14), QTime(23, 57, 0)));
        mscom recorder(path, clock);
        recorder.Timer1.stop();
        std::vector<StoredRecord> announced;
        QObject::connect(&recorder, &mscom::recordWritten, [&](const StoredRecord& r, WriteOutcome o) {
            if (o != WriteOutcome::Failed) announced.push_back(r);
        });
        Main_Open = kTrue;
        auto chartStore = openRecordStore(path);
        auto checkStore = openRecordStore(path);
        TrendState st;
        RecordingTrendView view(st);
        HistoryReview history(st, chartStore.get(), view);
        history.openLiveWindow();

        for (int n = 1; n <= 300; ++n) {
            clock.advance(n == 200 ? 16 : 1); // the instrument silent for 15 s before record 200
            for (int c = 0; c < kDrawnChannels; ++c)
                Pv_Value[c] = float(n + c);
            freshValues().noteMeasured(0, FreshValues::kValues, FreshValues::steadyNowMs());
            recorder.Timer1_Timer();
            QCOMPARE(int(announced.size()), 1);
            appendLiveSample(st, history, view, announced.front().values,
                             {announced.front().date, announced.front().time});
            announced.clear();
            view.redraw();
            const bool zoomed = zoomAt.count(n) > 0;
            if (zoomed) zoomTrend(st, history, view, zoomAt[n]);
            if (n % 5 != 0 && !zoomed && n > 5) continue;

            const auto pointer = checkStore->readPointer();
            QVERIFY(pointer && pointer->first == n);
            const auto newest = checkStore->selectWindow(0, n, n);
            QVERIFY(newest && int(newest->size()) == n);
            const auto recordBehind = [&](int k) { return (*newest)[size_t(n - 1 - k)]; };

            std::map<double, double> drawn; // x -> y of CH1's segment ends
            for (const RecordedLine& l : view.canvas.visibleLines()) {
                if (l.pen.colour != kCurvePens[0].colour || l.pen.style != PenStyle::Solid) continue;
                drawn[l.x1] = l.y1;
                drawn[l.x2] = l.y2;
            }
            std::map<double, double> expected;
            if (n >= 3) {
                QVERIFY2(!drawn.empty(), qPrintable(QStringLiteral("n %1: the chart is blank").arg(n)));
                // Record n - k lies k - 1 steps left of record n - 1; slot 0 is never loaded.
                const double right = std::prev(drawn.end())->first;
                QVERIFY2(right >= 9000 && right < 12000,
                         qPrintable(QStringLiteral("n %1: newest drawn at x = %2").arg(n).arg(right)));
                const int rightStep = int(std::lround(right / double(st.X_Step)));
                const int leftStep = st.Slot_Offset == 0 ? 1 : 0;
                for (int k = 1; k < n && rightStep - (k - 1) >= leftStep; ++k) {
                    const double x = roundHalfEven(double(float(rightStep - (k - 1)) * st.X_Step));
                    expected[x] = kChartHeight - roundHalfEven(5.0 * recordBehind(k).values[0]);
                }
            }
            QVERIFY2(drawn == expected,
                     qPrintable(QStringLiteral("n %1, level %2: %3 points drawn from x = %4, "
                                               "%5 records expected from x = %6")
                                    .arg(n)
                                    .arg(st.Zoom_Level)
                                    .arg(drawn.size())
                                    .arg(drawn.empty() ? -1 : drawn.begin()->first)
                                    .arg(expected.size())
                                    .arg(expected.empty() ? -1 : expected.begin()->first)));

            for (int j = 0; j < kTimeLabels; ++j) {
                const int s = 10 * st.Zoom_Level * j + st.Slot_Offset + 1;
                const int k = st.Win_Count - s; // records behind the newest
                QString time;
                if (k < 0)
                    time = timeOfDayText(newest->back().time - k / 86400.0);
                else if (k < n)
                    time = timeOfDayText(recordBehind(k).time);
                QCOMPARE(view.labels.Label4[j], time);
            }
        }
    }
};

QTEST_MAIN(TestLiveTrend)
#include "test_live_trend.moc"
