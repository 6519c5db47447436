// End to end with hx5800-sim: the factory window reached from the main window by its key
// chord, "8输入改5伏" setting every channel of the instrument, the next refresh showing it,
// and the way back.
#include "app/ssqx.h"
#include "core/SharedState.h"
#include "factory/FACTR.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace hx;
using hx::test::SimProcess;

class FactorySimTest : public QObject {
    Q_OBJECT
  private slots:
    void fiveVoltCommandShowsOnTheNextRefresh() {
        resetSharedState();
        Y_Span = 1500;
        SimProcess sim({"--static"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        qputenv("HX5800_COM5", sim.devicePath().toLocal8Bit());
        ModbusLink link;
        QCOMPARE(link.OpenPort_Modbus(5, 1, 0), 0);
        Com_Param[0] = 5;
        Com_Param[3] = 1;

        WriteLog writes;
        AppContext context;
        context.link = &link;
        context.writes = &writes;
        ssqx mainWindow(context);
        FactoryTables tables;
        struct FactoryHost final : MainWindowHost {
            std::function<QWidget*(QWidget*)> factory;
            QWidget* createWindow(Window w, QWidget* main) override {
                return w == Window::Factory ? factory(main) : nullptr;
            }
        } host;
        host.factory = [&](QWidget* main) { return new FACTR(link, &writes, tables, main); };
        mainWindow.setHost(&host);
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));

        QTest::keyClick(&mainWindow, Qt::Key_F12); // alone it opens nothing
        QVERIFY(mainWindow.isVisible());
        QTest::keyClick(&mainWindow, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!mainWindow.isVisible());
        FACTR* window = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<FACTR*>(w)) window = f;
        QVERIFY(window && window->isVisible());
        QPointer<FACTR> alive(window);

        window->Command2->click();
        QCOMPARE(window->writeFailures->text(), QString::fromUtf16(u"写入失败 0/24"));
        for (int m = 0; m < 8; ++m) {
            QCOMPARE(sim.query(QStringLiteral("get hr %1").arg(4121 + 8 * m)), std::optional<int>(20));
            QCOMPARE(sim.query(QStringLiteral("get hr %1").arg(4123 + 8 * m)), std::optional<int>(5000));
            QCOMPARE(sim.query(QStringLiteral("get hr %1").arg(4124 + 8 * m)), std::optional<int>(0));
        }

        // The next 2 s tick shows the new settings in every channel block.
        auto shown = [&](int item) {
            const ItemCell at = itemCell(item);
            QTableWidgetItem* cell = window->Flxg->item(at.row, at.valueColumn);
            return cell ? cell->text() : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(shown(25), QStringLiteral("20"), 6000);
        for (int m = 0; m < 8; ++m) {
            QCOMPARE(shown(25 + 8 * m), QStringLiteral("20"));
            QCOMPARE(shown(27 + 8 * m), QStringLiteral("5000"));
            QCOMPARE(shown(28 + 8 * m), QStringLiteral("0"));
        }
        // Calibration values come from the instrument too.
        QCOMPARE(window->Flxg1->item(1, 2)->text(), QString::number(*sim.query("get hr 24577")));

        window->Command1->click();
        QVERIFY(mainWindow.isVisible());
        QTRY_VERIFY(alive.isNull());
    }
};

QTEST_MAIN(FactorySimTest)
#include "test_factory_sim.moc"
