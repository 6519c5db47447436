// Texts of dates and times on the chart and on the clock labels.
#include <QLocale>
#include <QTest>

#include "TrendTestSupport.h"
#include "trend/TrendText.h"

using namespace hx;

class TestTrendText : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        // A locale with other separators and a 12-hour clock must not leak into the texts.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void timeOfDay_data() {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("text");
        QTest::newRow("midnight") << 0.0 << "00:00:00";
        QTest::newRow("afternoon is 24 h") << (13 * 3600 + 5 * 60 + 9) / 86400.0 << "13:05:09";
        QTest::newRow("last second") << 86399 / 86400.0 << "23:59:59";
        QTest::newRow("just under a second rounds up") << 59.6 / 86400.0 << "00:01:00";
        QTest::newRow("just over a second rounds down") << 59.4 / 86400.0 << "00:00:59";
        QTest::newRow("rounding to 24:00 reads midnight") << 86399.7 / 86400.0 << "00:00:00";
        QTest::newRow("a whole day reads midnight") << 1.0 << "00:00:00";
        QTest::newRow("beyond a day wraps") << 1.0 + 30 / 86400.0 << "00:00:30";
    }
    void timeOfDay() {
        QFETCH(double, fraction);
        QFETCH(QString, text);
        QCOMPARE(timeOfDayText(fraction), text);
        QCOMPARE(clockTimeText(fraction), text);
    }

    void dates_data() {
        QTest::addColumn<double>("dayNumber");
        QTest::addColumn<QString>("chartText");
        QTest::addColumn<QString>("clockText");
        QTest::newRow("day zero") << 0.0 << "1899/12/30"
                                  << "12-30-1899";
        QTest::newRow("design date") << 37091.0 << "2001/07/19"
                                     << "07-19-2001";
        QTest::newRow("test day") << test::kDay << "2026/03/14"
                                  << "03-14-2026";
        QTest::newRow("time part ignored") << test::kDay + 0.99 << "2026/03/14"
                                           << "03-14-2026";
        QTest::newRow("leap day") << 45351.0 << "2024/02/29"
                                  << "02-29-2024";
        QTest::newRow("no calendar date") << 1e300 << ""
                                          << "";
    }
    void dates() {
        QFETCH(double, dayNumber);
        QFETCH(QString, chartText);
        QFETCH(QString, clockText);
        QCOMPARE(dateText(dayNumber), chartText);
        QCOMPARE(clockDateText(dayNumber), clockText);
    }

    void slotTexts_data() {
        QTest::addColumn<double>("date");
        QTest::addColumn<double>("time");
        QTest::addColumn<QString>("dateText");
        QTest::addColumn<QString>("timeText");
        QTest::newRow("empty slot is blank") << 0.0 << 0.0 << ""
                                             << "";
        QTest::newRow("record at midnight") << test::kDay << 0.0 << "2026/03/14"
                                            << "00:00:00";
        QTest::newRow("record of day zero with a time") << 0.0 << 0.5 << "1899/12/30"
                                                        << "12:00:00";
        QTest::newRow("ordinary record") << test::kDay << 0.25 << "2026/03/14"
                                         << "06:00:00";
    }
    void slotTexts() {
        QFETCH(double, date);
        QFETCH(double, time);
        QFETCH(QString, dateText);
        QFETCH(QString, timeText);
        TrendState state;
        state.Trend_Date[17] = date;
        state.Trend_Time[17] = time;
        QCOMPARE(slotDateText(state, 17), dateText);
        QCOMPARE(slotTimeText(state, 17), timeText);
    }
};

QTEST_GUILESS_MAIN(TestTrendText)
#include "test_trend_text.moc"
