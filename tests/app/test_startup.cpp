// Start-up: the splash window's hand-over, its order and timing, and the pattern by which
// secondary windows are opened and left.
#include "app/frmSplash.h"
#include "core/SharedState.h"
#include "ui/Navigation.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

using hx::frmSplash;

namespace {

// A secondary window as the alarm, configuration and factory windows build it: its load
// sets the close lock; its return button leaves it.
class ProbeWindow : public hx::SecondaryWindow {
  public:
    static int loads;
    explicit ProbeWindow(QWidget* main) : SecondaryWindow(main) {
        ++loads;
        setCloseLock(true);
        auto* back = new QPushButton(QStringLiteral("返回"), this);
        back->setObjectName("Command1");
        connect(back, &QPushButton::clicked, this, &SecondaryWindow::returnToMain);
    }
};
int ProbeWindow::loads = 0;

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { hx::resetSharedState(); }

    void loadSetsTheSpanAndStartsTheCountdown() {
        auto* splash = new frmSplash({});
        QCOMPARE(hx::Y_Span, int16_t(1500));
        QVERIFY(splash->Timer2->isActive());
        QCOMPARE(splash->Timer2->interval(), 200);
        QVERIFY(!splash->Timer1->isActive());
        QCOMPARE(splash->Timer1->interval(), 100);
        delete splash;
    }

    // Seven ticks of Timer2, then one of Timer1 hands over: the splash unloads first, then
    // the main window is shown, then Met1, then mscom are created.
    void handOverRunsInOrderAfterSevenTicks() {
        QStringList order;
        QPointer<frmSplash> splash;
        splash = new frmSplash(
            {[&] { order << (splash && splash->isVisible() ? "main (splash visible)" : "main"); },
             [&] { order << "Met1"; }, [&] { order << "mscom"; }});
        splash->show();
        for (int i = 1; i <= 6; ++i) {
            splash->Timer2_Timer();
            QCOMPARE(splash->tickCount(), int16_t(i));
            QVERIFY(splash->Timer2->isActive());
            QVERIFY(!splash->Timer1->isActive());
        }
        splash->Timer2_Timer();
        QVERIFY(!splash->Timer2->isActive());
        QCOMPARE(splash->tickCount(), int16_t(0));
        QVERIFY(splash->Timer1->isActive());
        QVERIFY(order.isEmpty());
        splash->Timer1_Timer();
        QCOMPARE(order, QStringList({"main", "Met1", "mscom"}));
        QTRY_VERIFY(splash.isNull()); // unloaded
    }

    void handOverTakesAboutOneAndAHalfSeconds() {
        QElapsedTimer clock;
        bool mainShown = false;
        auto* splash = new frmSplash({[&] { mainShown = true; }, {}, {}});
        clock.start();
        splash->show();
        QTRY_VERIFY_WITH_TIMEOUT(mainShown, 10000);
        // Never before 1.5 s; the upper bound leaves a busy machine room and still catches a
        // hand-over that waits for far more ticks.
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 1450 && elapsed < 6000, qPrintable(QString::number(elapsed)));
    }

    void keysOnTheSplashDoNothing() {
        int shown = 0;
        auto* splash = new frmSplash({[&] { ++shown; }, {}, {}});
        splash->show();
        QTest::keyClick(splash, Qt::Key_Escape);
        QTest::keyClick(splash, Qt::Key_Return);
        QTest::keyClick(splash, Qt::Key_F7);
        QVERIFY(splash->isVisible());
        QCOMPARE(shown, 0);
        delete splash;
    }

    void secondaryWindowRefusesTitleBarCloseAndReturnsThroughItsButton() {
        QWidget main;
        main.show();
        ProbeWindow::loads = 0;
        QPointer<ProbeWindow> slot;
        const std::function<ProbeWindow*(QWidget*)> create = [](QWidget* m) { return new ProbeWindow(m); };
        ProbeWindow* window = hx::openSecondaryWindow(&main, slot, create);
        QVERIFY(window);
        QVERIFY(!main.isVisible());
        QVERIFY(window->isVisible());
        QVERIFY(window->closeLock());

        QVERIFY(!window->close()); // the title bar's close
        QVERIFY(window->isVisible());
        QVERIFY(!slot.isNull());

        window->findChild<QPushButton*>("Command1")->click();
        QVERIFY(main.isVisible());
        QTRY_VERIFY(slot.isNull()); // unloaded

        // Opening again creates it anew: its load runs again and sets the lock again.
        window = hx::openSecondaryWindow(&main, slot, create);
        QCOMPARE(ProbeWindow::loads, 2);
        QVERIFY(window->closeLock());
        window->returnToMain();
    }

    void openingWithNothingToOpenKeepsTheMainWindow() {
        QWidget main;
        main.show();
        QPointer<QWidget> slot;
        QVERIFY(!hx::openSecondaryWindow<QWidget>(&main, slot, {}));
        QVERIFY(main.isVisible());
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
