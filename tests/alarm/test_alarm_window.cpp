// The alarm setpoint window: what an edited box writes and where, the one resend, refused
// texts, untouched boxes that write nothing, the refresh, and leaving and reopening.
#include "alarm/ALM1.h"
#include "core/SharedState.h"
#include "fakes/FakeLink.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace hx;
using hx::test::FakeLink;

namespace {

struct Fixture {
    FakeLink link;
    WriteLog writes;
    AlarmBuffer buffer{};
    QWidget mainWindow;
    QPointer<ALM1> window;

    Fixture() {
        resetSharedState();
        Com_Param[0] = 1;
        Com_Param[3] = 1;
        open();
    }
    ~Fixture() { delete window.data(); }

    void open() {
        window = openSecondaryWindow<ALM1>(
            &mainWindow, window, [this](QWidget* main) { return new ALM1(link, &writes, buffer, main); });
        window->Timer1->stop(); // the tests refresh by hand
        QVERIFY(QTest::qWaitForWindowExposed(window.data()));
        QTRY_VERIFY(window->Command1->hasFocus());
    }

    QStringList writesSent() const { return link.calls.filter(QStringLiteral("Set_4X_D1")); }

    // The operator types into box `index`, then moves the focus on.
    void edit(int index, const QString& text) {
        QLineEdit* box = window->T_3RWA(index);
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClicks(box, text);
        window->Command1->setFocus();
        QTRY_VERIFY(!box->hasFocus());
    }
};

} // namespace

class AlarmWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void anEditedBoxWritesItsRegister_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<bool>("marked");
        auto sent = [](int reg, int value) {
            return QStringList{QStringLiteral("Set_4X_D1(1,1,%1,%2)").arg(reg).arg(value)};
        };
        QTest::newRow("first box, first register") << 96 << "5" << sent(257, 5) << false;
        QTest::newRow("last box, last register") << 111 << "5" << sent(272, 5) << false;
        QTest::newRow("half down to even") << 96 << "12.5" << sent(257, 12) << false;
        QTest::newRow("half up to even") << 98 << "13.5" << sent(259, 14) << false;
        QTest::newRow("negative half") << 100 << "-7.5" << sent(261, -8) << false;
        QTest::newRow("exponent") << 102 << "1e3" << sent(263, 1000) << false;
        QTest::newRow("letters after the number: refused") << 104 << "  42abc" << QStringList{} << true;
        QTest::newRow("setpoint beyond its hint") << 106 << "12000" << sent(267, 12000) << false;
        QTest::newRow("hysteresis beyond its hint") << 97 << "150" << sent(258, 150) << false;
        QTest::newRow("beyond 32 bits: refused") << 108 << "5e9" << QStringList{} << true;
        QTest::newRow("not a number: refused, not written as 0") << 110 << "abc" << QStringList{} << true;
    }
    void anEditedBoxWritesItsRegister() {
        QFETCH(int, box);
        QFETCH(QString, text);
        QFETCH(QStringList, sent);
        QFETCH(bool, marked);
        Fixture f;
        f.edit(box, text);
        QCOMPARE(f.writesSent(), sent);
        QCOMPARE(f.window->field(box)->marked(), marked);
        QCOMPARE(f.writes.failed, marked ? 1u : 0u);
    }

    void aFailedWriteIsSentOnceMoreAndMarked() {
        Fixture f;
        f.link.answering = false;
        f.edit(99, "7");
        QCOMPARE(f.writesSent(), QStringList(2, QStringLiteral("Set_4X_D1(1,1,260,7)")));
        QVERIFY(f.window->field(99)->marked());
        QVERIFY(!f.window->T_3RWA(99)->toolTip().isEmpty());
        QCOMPARE(f.writes.failed, 1u);

        // The next leave after the instrument answers again writes once and clears the mark.
        f.link.answering = true;
        f.edit(99, "");
        QCOMPARE(f.writesSent().size(), 3);
        QVERIFY(!f.window->field(99)->marked());
        QCOMPARE(f.link.holdingRegisters[260], 7);
    }

    void tabbingThroughUntouchedBoxesWritesNothing() {
        Fixture f;
        for (int box = 111; box >= 96; --box) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.window->T_3RWA(box)));
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_VERIFY(f.window->Command1->hasFocus());
        QVERIFY(f.writesSent().isEmpty());
    }

    void theRefreshShowsPlainSignedNumbers() {
        Fixture f;
        QVERIFY(f.window->D_4W(96)->text().isEmpty());
        f.link.answering = false; // a silent instrument said nothing: no "0"
        f.window->Timer1_Timer();
        QVERIFY(f.window->D_4W(96)->text().isEmpty());
        f.link.answering = true;
        f.link.calls.clear();
        f.link.holdingRegisters[257] = -1999;
        f.link.holdingRegisters[258] = 5;
        f.link.holdingRegisters[272] = 32767;
        f.window->Timer1_Timer();
        QCOMPARE(f.link.calls, QStringList{QStringLiteral("Get_4X_D16(1,1,257)")});
        QCOMPARE(f.window->D_4W(96)->text(), QStringLiteral("-1999"));
        QCOMPARE(f.window->D_4W(97)->text(), QStringLiteral("5"));
        QCOMPARE(f.window->D_4W(98)->text(), QStringLiteral("0"));
        QCOMPARE(f.window->D_4W(111)->text(), QStringLiteral("32767"));
        QCOMPARE(f.buffer[96], -1999);
    }

    void onlyTheReturnButtonClosesAndReopeningStartsEmpty() {
        Fixture f;
        f.link.holdingRegisters[257] = 321;
        f.window->Timer1_Timer();
        f.window->T_3RWA(96)->setText(QStringLiteral("44"));

        QVERIFY(!f.window->close());
        QVERIFY(f.window->isVisible());
        QVERIFY(!f.mainWindow.isVisible());

        f.window->Command1->click();
        QVERIFY(f.mainWindow.isVisible());
        QTRY_VERIFY(f.window.isNull());

        f.open();
        QVERIFY(f.window->closeLock());
        QVERIFY(f.window->T_3RWA(96)->text().isEmpty());
        QVERIFY(f.window->D_4W(96)->text().isEmpty());
        QCOMPARE(f.window->Alarm_Buf[96], 321);
    }

    void everyBoxIsNamedByItsCaption() {
        Fixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("ALARM"));
        QCOMPARE(f.window->T_3RWA(96)->accessibleName(), QString::fromUtf16(u"报警一设定值"));
        QCOMPARE(f.window->T_3RWA(111)->accessibleName(), QString::fromUtf16(u"报警八回差值"));
        QCOMPARE(f.window->findChild<QLineEdit*>("T_3RWA_105"), f.window->T_3RWA(105));
        QCOMPARE(f.window->T_3RWA(112), nullptr);
    }
};

QTEST_MAIN(AlarmWindowTest)
#include "test_alarm_window.moc"
