// End to end with hx5800-sim: an alarm setpoint edited in the window reaches the instrument
// and the window shows the instrument's value within a second.
#include "alarm/ALM1.h"
#include "core/SharedState.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace hx;
using hx::test::SimProcess;

class AlarmSimTest : public QObject {
    Q_OBJECT
  private slots:
    void anEditedSetpointReachesTheInstrument() {
        resetSharedState();
        SimProcess sim({"--static"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        qputenv("HX5800_COM4", sim.devicePath().toLocal8Bit());
        ModbusLink link;
        QCOMPARE(link.OpenPort_Modbus(4, 1, 0), 0);
        Com_Param[0] = 4;
        Com_Param[3] = 1;

        QWidget mainWindow;
        WriteLog writes;
        AlarmBuffer buffer{};
        QPointer<ALM1> window;
        openSecondaryWindow<ALM1>(&mainWindow, window,
                                  [&](QWidget* main) { return new ALM1(link, &writes, buffer, main); });
        QVERIFY(QTest::qWaitForWindowExposed(window.data()));
        QVERIFY(sim.command("set hr 259 -40"));
        QTRY_COMPARE_WITH_TIMEOUT(window->D_4W(98)->text(), QStringLiteral("-40"), 3000);

        QLineEdit* box = window->T_3RWA(98); // alarm 2 setpoint, register 259
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClicks(box, "4321");
        QElapsedTimer sinceLeave;
        sinceLeave.start();
        window->Command1->setFocus();
        QCOMPARE(sim.query("get hr 259"), std::optional<int>(4321));
        QTRY_COMPARE_WITH_TIMEOUT(window->D_4W(98)->text(), QStringLiteral("4321"), 3000);
        QVERIFY2(sinceLeave.elapsed() < 1000, qPrintable(QString::number(sinceLeave.elapsed())));
        QCOMPARE(writes.written, 1u);
        QCOMPARE(writes.failed, 0u);
        QVERIFY(!window->field(98)->marked());

        window->Command1->click();
        QVERIFY(mainWindow.isVisible());
        QTRY_VERIFY(window.isNull());
    }
};

QTEST_MAIN(AlarmSimTest)
#include "test_alarm_sim.moc"
