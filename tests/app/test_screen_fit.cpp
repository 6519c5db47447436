// Every window of the whole program, opened as the operator opens it, fits a 1366 x 768 screen
// with a 40-pixel panel: its frame, a title bar included, within 1366 x 728, and every control
// it shows inside it.
#include "app/Application.h"
#include "app/ssqx.h"
#include "core/SharedState.h"
#include "logging/DatabaseSetup.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

using namespace hx;

class ScreenFitTest : public QObject {
    Q_OBJECT
  private slots:
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

QTEST_MAIN(ScreenFitTest)
#include "test_screen_fit.moc"
