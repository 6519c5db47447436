// The acquisition poll: what one cycle reads, where the values land, and the rules for
// discrete-input bytes; against a fake link that answers from tables.
#include "core/SharedState.h"
#include "fakes/FakeLink.h"
#include "link/Met1.h"

#include <QtTest>

using hx::Met1;
using hx::Pv_Value;
using hx::Status_Bit;
using hx::test::FakeLink;

class PollTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { hx::resetSharedState(); }

    void dByteSplitsFromTheTop_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("bits"); // element 0 first
        QTest::newRow("0") << 0 << "00000000";
        QTest::newRow("1") << 1 << "10000000";
        QTest::newRow("5") << 5 << "10100000";
        QTest::newRow("128") << 128 << "00000001";
        QTest::newRow("254") << 254 << "01111111";
        QTest::newRow("255") << 255 << "11111111";
        QTest::newRow("170") << 170 << "01010101";
    }
    void dByteSplitsFromTheTop() {
        QFETCH(int, byte);
        QFETCH(QString, bits);
        FakeLink link;
        Met1 met1(link);
        met1.D_Byte(uint8_t(byte));
        QString got;
        for (uint8_t b : met1.bitBuffer())
            got += QChar(u'0' + b);
        QCOMPARE(got, bits);
    }

    // The journal compares the states after a cycle only when every status bit came from this
    // cycle's answers.
    void statusReadOnlyWhenBothDiscreteReadsAnsweredWithValidBytes_data() {
        QTest::addColumn<QList<int>>("unanswered"); // calls of the cycle (0-based) with no answer
        QTest::addColumn<int>("byte17");
        QTest::addColumn<bool>("told");
        QTest::newRow("all answered") << QList<int>{} << 5 << true;
        QTest::newRow("first discrete read unanswered") << QList<int>{2} << 5 << false;
        QTest::newRow("second discrete read unanswered") << QList<int>{3} << 5 << false;
        QTest::newRow("a byte of 255") << QList<int>{} << 255 << false;
        QTest::newRow("values unanswered, status answered") << QList<int>{0, 1} << 5 << true;
    }
    void statusReadOnlyWhenBothDiscreteReadsAnsweredWithValidBytes() {
        QFETCH(QList<int>, unanswered);
        QFETCH(int, byte17);
        QFETCH(bool, told);
        FakeLink link;
        link.discreteBytes[17] = byte17;
        link.duringCall = [&link, unanswered] {
            link.answering = !unanswered.contains(int(link.calls.size()) - 1);
        };
        Met1 met1(link);
        QSignalSpy spy(&met1, &Met1::statusRead);
        met1.Timer1_Timer();
        QCOMPARE(spy.count(), told ? 1 : 0);
    }

    void oneCycleReadsFourBlocksWithTheStoredSettings() {
        FakeLink link;
        hx::Com_Param[0] = 3;
        hx::Com_Param[3] = 7;
        Met1 met1(link);
        met1.Timer1_Timer();
        QCOMPARE(link.calls, QStringList({"Get_3X_D8(3,7,1)", "Get_3X_D8(3,7,9)", "Get_1X_B16(3,7,1)",
                                          "Get_1X_B16(3,7,17)"}));
    }

    void registerValuesLandSignedAndUnscaled() {
        FakeLink link;
        const int32_t values[16] = {-200, 0,    1,  9999, -1999, 32767, -32768, 500,
                                    1234, 5678, 11, 12,   13,    14,    15,     16};
        for (int i = 0; i < 16; ++i)
            link.inputRegisters[i + 1] = values[i];
        Met1 met1(link);
        met1.Timer1_Timer();
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(hx::Reg_Buffer[i], values[i]);
            QCOMPARE(Pv_Value[i], float(values[i]));
        }
        QCOMPARE(Pv_Value[16], 0.0f);
        QCOMPARE(hx::Reg_Buffer[16], 0);
    }

    void discreteBytesBecomeBits_data() {
        QTest::addColumn<int>("previous"); // every bit of the group before the cycle
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("expected"); // Status_Bit 8k..8k+7
        QTest::newRow("0 clears") << 1 << 0 << "00000000";
        QTest::newRow("5 sets bits 0 and 2") << 0 << 5 << "10100000";
        QTest::newRow("254 sets 1..7") << 0 << 254 << "01111111";
        QTest::newRow("255 leaves the previous bits") << 1 << 255 << "11111111";
        QTest::newRow("255 leaves cleared bits") << 0 << 255 << "00000000";
        QTest::newRow("negative leaves") << 1 << -1 << "11111111";
        QTest::newRow("above a byte leaves") << 0 << 256 << "00000000";
    }
    void discreteBytesBecomeBits() {
        QFETCH(int, previous);
        QFETCH(int, byte);
        QFETCH(QString, expected);
        // The same byte in all four groups: 1..8, 9..16, 17..24, 25..32.
        for (int k = 0; k < 4; ++k) {
            FakeLink link;
            for (int i = 0; i < 32; ++i)
                Status_Bit[i] = previous;
            link.discreteBytes[1 + 8 * k] = byte;
            const int other = k == 0 ? 9 : 1;
            link.discreteBytes[other] = 0;
            Met1 met1(link);
            met1.Timer1_Timer();
            QString got;
            for (int b = 0; b < 8; ++b)
                got += QChar(u'0' + Status_Bit[8 * k + b]);
            QVERIFY2(got == expected, qPrintable(QStringLiteral("group %1: %2").arg(k).arg(got)));
        }
        QCOMPARE(Status_Bit[32], 0);
    }

    void aFailedReadLeavesTheLastValues() {
        FakeLink link;
        link.inputRegisters[1] = 42;
        link.discreteBytes[1] = 3;
        Met1 met1(link);
        met1.Timer1_Timer();
        QCOMPARE(Pv_Value[0], 42.0f);
        link.answering = false;
        link.inputRegisters[1] = 99;
        link.discreteBytes[1] = 0;
        met1.Timer1_Timer();
        QCOMPARE(Pv_Value[0], 42.0f);
        QCOMPARE(Status_Bit[0], 1);
        QCOMPARE(Status_Bit[1], 1);
    }

    // The poll yields between its calls; a tick that falls due meanwhile does not start a
    // second, nested cycle, while other handlers do run in the middle of the cycle.
    void aTickDuringACycleIsPassedOver() {
        FakeLink link;
        Met1 met1(link);
        int handlersRun = 0;
        link.duringCall = [&] {
            met1.Timer1_Timer();
            QTimer::singleShot(0, [&] { ++handlersRun; });
        };
        met1.Timer1_Timer();
        QCOMPARE(link.calls.size(), 4);
        QCOMPARE(met1.cyclesRun(), uint64_t(1));
        QCOMPARE(met1.ticksPassed(), uint64_t(4));
        QVERIFY(handlersRun >= 3); // the three yields let pending events run
        QVERIFY(!met1.cycleRunning());
    }

    void thePollTimerIsOffUntilThePortOpens() {
        FakeLink link;
        Met1 met1(link);
        QVERIFY(!met1.Timer1->isActive());
        QCOMPARE(met1.Timer1->interval(), 500);
    }
};

QTEST_GUILESS_MAIN(PollTest)
#include "test_poll.moc"
