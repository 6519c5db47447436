// The configuration window end to end: the libmodbus link over a pseudo-terminal with
// hx5800-sim on the other end. An edited field reaches the instrument and comes back in its
// value label; a write goes out while the link backs off from a silent instrument; a write to
// a silent instrument is sent twice and marks its field.
#include "config/CONFIG1.h"
#include "config/TwoRowTabs.h"
#include "core/SharedState.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"
#include "ui/FailureText.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <chrono>

using hx::config::CONFIG1;
using hx::test::SimProcess;

namespace {

constexpr int32_t kPort = 4;

// The instrument's own view of a holding register, signed as the registers are.
std::optional<int> simHolding(SimProcess& sim, int reg) {
    const std::optional<int> raw = sim.query(QStringLiteral("get hr %1").arg(reg));
    return raw ? std::optional<int>(int16_t(uint16_t(*raw))) : std::nullopt;
}

} // namespace

class ConfigSimTest : public QObject {
    Q_OBJECT

    hx::config::ConfigTable configBuf{};
    hx::WriteLog log;
    QWidget mainWindow;

    bool startAndOpen(SimProcess& sim, hx::ModbusLink& link) {
        if (!sim.start()) {
            qWarning("%s", qPrintable(sim.errorText()));
            return false;
        }
        qputenv("HX5800_COM4", sim.devicePath().toLocal8Bit());
        hx::Com_Param[0] = kPort;
        hx::Com_Param[3] = 1;
        return link.OpenPort_Modbus(kPort, 1, 0) == 0;
    }

    // Types text into a box as the operator does and moves the focus on to the return button.
    static void enterAndLeave(CONFIG1& w, QLineEdit* box, const QString& text) {
        w.SSTab2->setCurrentIndex(box->parentWidget()->objectName().section(u'_', 1).toInt());
        box->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
        w.Command11->setFocus();
        QTRY_VERIFY(w.Command11->hasFocus());
    }

  private slots:
    void init() {
        hx::resetSharedState();
        configBuf.fill(0);
        log = hx::WriteLog{};
    }

    void anEditReachesTheInstrumentAndItsValueLabel() {
        SimProcess sim({"--static"});
        hx::ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        auto* w = new CONFIG1(&mainWindow, link, configBuf, &log);
        QPointer<CONFIG1> guard(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));

        // Channel 3's lower limit, typed; the baud rate, picked.
        enterAndLeave(*w, w->T_3RW[43], "-1999");
        QCOMPARE(simHolding(sim, 4140), std::optional<int>(-1999));
        w->SSTab2->setCurrentIndex(1);
        w->Combo[8]->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(w->Combo[8]->hasFocus());
        QTest::keyClick(w->Combo[8], Qt::Key_Down);
        QTest::keyClick(w->Combo[8], Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(simHolding(sim, 4106), std::optional<int>(2));
        QCOMPARE(log.written, uint64_t(2));
        QCOMPARE(log.failed, uint64_t(0));

        // The refresh runs every second: the labels show the instrument's values soon after.
        QTRY_COMPARE_WITH_TIMEOUT(w->D_4W[43]->text(), QStringLiteral("-1999"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(w->D_4W[9]->text(), QStringLiteral("19200"), 5000);
        QCOMPARE(configBuf[43], -1999);
        w->returnToMain();
        QTRY_VERIFY(!guard);
    }

    void aWriteGoesOutWhileTheLinkBacksOff() {
        SimProcess sim({"--static"});
        auto fakeNow = std::chrono::steady_clock::now(); // held still: the back-off never lapses
        hx::ModbusLink link([&] { return fakeNow; });
        QVERIFY(startAndOpen(sim, link));
        auto* w = new CONFIG1(&mainWindow, link, configBuf, &log);
        QPointer<CONFIG1> guard(w);
        w->Timer1->stop();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));

        QVERIFY(sim.command("silent on"));
        w->Timer1_Timer();
        QVERIFY(link.stats().backingOff);
        QVERIFY(sim.command("silent off"));

        enterAndLeave(*w, w->T_3RW[11], "25");
        QCOMPARE(simHolding(sim, 4108), std::optional<int>(25));
        QVERIFY(!w->boxField(11)->marked());
        QCOMPARE(log.failed, uint64_t(0));
        w->returnToMain();
        QTRY_VERIFY(!guard);
    }

    void aWriteToASilentInstrumentIsSentTwiceAndMarksItsField() {
        SimProcess sim({"--static"});
        hx::ModbusLink link;
        QVERIFY(startAndOpen(sim, link));
        auto* w = new CONFIG1(&mainWindow, link, configBuf, &log);
        QPointer<CONFIG1> guard(w);
        w->Timer1->stop();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        const auto before = simHolding(sim, 4123);

        QVERIFY(sim.command("silent on"));
        const uint64_t sent = link.stats().transactions;
        enterAndLeave(*w, w->T_3RW[26], "4321");
        QCOMPARE(link.stats().transactions, sent + 2);
        QVERIFY(w->boxField(26)->marked());
        QCOMPARE(w->T_3RW[26]->toolTip(),
                 QString::fromStdString(hx::failureText({hx::LinkFailure::Timeout})));
        QCOMPARE(log.failed, uint64_t(1));
        QVERIFY(sim.command("silent off"));
        QCOMPARE(simHolding(sim, 4123), before);

        // The instrument is back: the next leave writes the field again and clears the mark.
        w->T_3RW[26]->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(w->T_3RW[26]->hasFocus());
        w->Command11->setFocus();
        QTRY_VERIFY(w->Command11->hasFocus());
        QCOMPARE(simHolding(sim, 4123), std::optional<int>(4321));
        QVERIFY(!w->boxField(26)->marked());
        QVERIFY(w->T_3RW[26]->toolTip().isEmpty());
        w->returnToMain();
        QTRY_VERIFY(!guard);
    }
};

QTEST_MAIN(ConfigSimTest)
#include "test_config_sim.moc"
