// Whose cycle goes on the wire: every instrument in turn, a silent one probed at most once a
// second and never right after another unanswered turn while some instrument answers.
#include "line/LineSchedule.h"

#include <QtTest>

using hx::line::LineSchedule;

class LineScheduleTest : public QObject {
    Q_OBJECT

  private slots:
    // Addresses 1..4, 2 and 3 silent: the turns two seconds of a fast wire (10 ms a cycle) give.
    void aSilentInstrumentIsProbedOnceASecondAndStarvesNoOne() {
        LineSchedule schedule({1, 2, 3, 4});
        std::map<int, int> turns;
        int64_t now = 10000;
        bool previousUnanswered = false;
        for (; now < 12000; now += 10) {
            const auto address = schedule.next(now);
            QVERIFY(address);
            ++turns[*address];
            const bool answered = *address != 2 && *address != 3;
            // The first round finds them silent; from then on the probes are kept apart.
            if (now >= 10040) QVERIFY2(!(previousUnanswered && !answered), "two unanswered turns in a row");
            previousUnanswered = !answered;
            schedule.noteTurn(*address, answered, now);
        }
        for (int a : {2, 3})
            QVERIFY2(turns[a] >= 2 && turns[a] <= 3, qPrintable(QString::number(turns[a])));
        QVERIFY(turns[1] > 90 && std::abs(turns[4] - turns[1]) <= 1);
    }

    void allSilentTheWireRestsUntilTheNextProbe() {
        LineSchedule schedule({5, 7});
        QCOMPARE(*schedule.next(0), 5);
        schedule.noteTurn(5, false, 100);
        QCOMPARE(*schedule.next(100), 7);
        schedule.noteTurn(7, false, 300);
        QVERIFY(!schedule.next(500));
        QCOMPARE(schedule.nextProbeDueMs(), 1100);
        QCOMPARE(*schedule.next(1100), 5);
        schedule.noteTurn(5, true, 1150);
        QCOMPARE(*schedule.next(1200), 5); // 7 waits for its second, 5 answers: its turn again
    }
};

QTEST_GUILESS_MAIN(LineScheduleTest)
#include "test_line_schedule.moc"
