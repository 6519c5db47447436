// The whole program end to end: the splash hands over to the main window, the poll host and
// the recorder; "打开" connects to the simulator on a pseudo-terminal; values reach the
// shared state, the recording database, the live readout and the status table.
#include "app/Application.h"
#include "app/ssqx.h"
#include "core/SharedState.h"
#include "link/Met1.h"
#include "logging/DatabaseSetup.h"
#include "logging/RecordStore.h"
#include "logging/mscom.h"
#include "support/SimProcess.h"
#include "ui/Navigation.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <functional>
#include <utility>
#include <vector>

using namespace hx;

class ApplicationTest : public QObject {
    Q_OBJECT
  private slots:
    void fromLaunchToRecordedValues() {
        resetSharedState();
        QTemporaryDir dir;
        const QString db = dir.filePath("Rdatabj.db");
        QString error;
        QVERIFY2(createRecordDatabase(db, false, &error), qPrintable(error));
        test::SimProcess sim({"--static"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        qputenv("HX5800_DB", db.toUtf8());
        qputenv("HX5800_COM1", sim.devicePath().toUtf8());

        Application app;
        bool ended = false;
        app.context().endProcess = [&] { ended = true; };
        app.start();
        QCOMPARE(Y_Span, int16_t(1500));
        QVERIFY(!app.mainWindow());
        QTRY_VERIFY_WITH_TIMEOUT(app.mainWindow() && app.recorder(), 5000);
        ssqx& window = *app.mainWindow();
        QVERIFY(app.met1() && !app.met1()->Timer1->isActive());
        QCOMPARE(Main_Open, kTrue);

        window.Command9->click();
        QVERIFY(app.met1()->Timer1->isActive());
        // Static values of the simulator: CH2 is negative, CH2 and CH4 in setpoint alarm,
        // relay DO1 closed.
        QTRY_COMPARE_WITH_TIMEOUT(Pv_Value[1], -1500.0f, 3000);
        QCOMPARE(Pv_Value[0], 2500.0f);
        QCOMPARE(Pv_Value[7], 7001.0f);
        QCOMPARE(Pv_Value[8], 3889.0f);
        QCOMPARE(Status_Bit[17], 1);
        QCOMPARE(Status_Bit[19], 1);
        QCOMPARE(Status_Bit[24], 1);
        QCOMPARE(Status_Bit[16], 0);

        // The live readout and, within three seconds, the status table.
        QTRY_COMPARE_WITH_TIMEOUT(window.D_3W[1]->text(), QStringLiteral("-1500"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(window.FLXG->item(18, 1)->text(), QString::fromUtf16(u"CH 2 设定值报警"),
                                  4000);
        QCOMPARE(window.FLXG->item(25, 1)->text(), QString::fromUtf16(u"DO 1闭合"));

        // The recorder stores the polled values once a second, and the trend advances.
        const int16_t countAtStart = window.trend().Win_Count;
        const quint64 recordsAtStart = app.recorder()->status().recordsCommitted;
        // One a second since the hand-over: three at least by now. (The status table shows the
        // alarms at the first status read, which may come before the first record.)
        QTRY_VERIFY_WITH_TIMEOUT(
            app.recorder()->status().recordsCommitted >= std::max<quint64>(recordsAtStart + 2, 3), 5000);
        auto store = openRecordStore(db);
        QVERIFY(store->isOpen());
        const auto pointer = store->readPointer();
        QVERIFY(pointer && pointer->first >= 3);
        const auto records = store->selectWindow(pointer->first - 1, pointer->first, 1);
        QVERIFY(records && records->size() == 1);
        QCOMPARE(records->front().values[1], -1500.0f);
        QCOMPARE(records->front().values[8], 3889.0f);
        QTRY_VERIFY_WITH_TIMEOUT(window.trend().Win_Count > countAtStart, 1000);

        window.updateStatusLine();
        QVERIFY2(window.statusRecording->text().contains(QString::fromUtf16(u"最后记录")),
                 qPrintable(window.statusRecording->text()));
        QCOMPARE(window.statusRecording->styleSheet(), QString()); // publishing off is no fault
        QVERIFY2(window.statusLink->text().contains(QString::fromUtf16(u"最后应答")),
                 qPrintable(window.statusLink->text()));

        // "关闭" stops the poll; the values stay.
        window.Command10->click();
        QVERIFY(!app.met1()->Timer1->isActive());
        QCOMPARE(Pv_Value[1], -1500.0f);

        // With the port open again, the program's buttons and the factory key open the secondary
        // windows it assembled; each refuses its title-bar close and returns to the main window.
        window.Command9->click();
        const std::array<std::pair<std::function<void()>, QString>, 3> openers{{
            {[&] { window.Command21->click(); }, QString::fromUtf16(u"HX5800 配置 ")},
            {[&] { window.Command15->click(); }, QStringLiteral("ALARM")},
            {[&] { QTest::keyClick(&window, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier); },
             QString::fromUtf16(u"HX5800出厂记录保存")},
        }};
        for (const auto& [open, title] : openers) {
            QVERIFY(window.isVisible());
            open();
            SecondaryWindow* secondary = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* s = qobject_cast<SecondaryWindow*>(w); s && s->isVisible()) secondary = s;
            QVERIFY2(secondary, qPrintable(title));
            QCOMPARE(secondary->windowTitle(), title);
            QVERIFY(!window.isVisible());
            QVERIFY(!secondary->close());
            QPointer<SecondaryWindow> guard(secondary);
            secondary->returnToMain();
            QTRY_VERIFY(guard.isNull()); // unloaded
            QVERIFY(window.isVisible());
        }

        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(ended);
        qunsetenv("HX5800_DB");
        qunsetenv("HX5800_COM1");
    }

    // Every window, opened as the operator opens it, fits a 1366 x 768 screen with a 40-pixel
    // panel: its frame, a title bar included, within 1366 x 728, and every control inside it.
    void everyWindowFitsTheScreen() {
        QTemporaryDir dir;
        QString error;
        QVERIFY2(createRecordDatabase(dir.filePath("Rdatabj.db"), false, &error), qPrintable(error));
        qputenv("HX5800_DB", dir.filePath("Rdatabj.db").toUtf8());
        resetSharedState();
        Application app;
        app.context().endProcess = [] {};
        app.start();
        const std::vector<std::pair<const char*, std::function<void(ssqx&)>>> windows{
            {"frmSplash", nullptr},
            {"ssqx", [](ssqx&) {}},
            {"ALM1", [](ssqx& w) { w.Command15_Click(); }},
            {"CONFIG1", [](ssqx& w) { w.Command21_Click(); }},
            {"FACTR", [](ssqx& w) { w.openFactoryWindow(); }},
            {"EventsWindow", [](ssqx& w) { w.openEventsWindow(); }}};
        for (const auto& [name, open] : windows) {
            if (open) {
                QTRY_VERIFY_WITH_TIMEOUT(app.mainWindow(), 5000);
                open(*app.mainWindow());
            }
            QWidget* window = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && w->objectName() == QLatin1String(name)) window = w;
            QVERIFY2(window && QTest::qWaitForWindowExposed(window), name);
            // Offscreen windows have no title bar: allow for one as tall as desktops draw.
            const QRect frame = window->frameGeometry();
            const int height = frame.height() + (window->geometry().top() - frame.top() >= 20 ? 0 : 32);
            qInfo("%s: %d x %d with its title bar", name, frame.width(), height);
            QVERIFY2(frame.width() <= 1366 && height <= 728,
                     qPrintable(QStringLiteral("%1: %2 x %3").arg(name).arg(frame.width()).arg(height)));
            for (QWidget* control : window->findChildren<QWidget*>()) {
                if (!control->isVisibleTo(window) || control->isWindow()) continue;
                const QRect place(control->mapTo(window, QPoint(0, 0)), control->size());
                QVERIFY2(window->rect().contains(place),
                         qPrintable(QStringLiteral("%1: %2 cut off").arg(name, control->objectName())));
            }
        }
        qunsetenv("HX5800_DB");
    }
};

QTEST_MAIN(ApplicationTest)
#include "test_application.moc"
