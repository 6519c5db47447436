// The whole program as the crash test runs it: started as an operator starts it, port 1
// opened after the hand-over, and a history page turned every 200 ms (older, older, newer,
// ...) while it records. Every record whose commit returned is printed at once ("id date
// time"), so the test knows what was acknowledged before it kills the process.
//   reliability_program_child   (HX5800_COM1 and HX5800_DB name the instrument and the database;
//                                HX5800_TEST_PORT another port than 1 to open)
#include "app/Application.h"
#include "app/ssqx.h"
#include "logging/mscom.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    hx::Application app;
    app.start();
    int turn = 0;
    QTimer driver;
    driver.setInterval(200);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        hx::ssqx* window = app.mainWindow();
        if (!window || !app.recorder()) return;
        if (turn++ == 0) {
            const QString port = qEnvironmentVariable("HX5800_TEST_PORT");
            if (!port.isEmpty()) window->Combo1->setCurrentIndex(port.toInt() - 1);
            window->Command9->click(); // "打开"
            QObject::connect(app.recorder(), &hx::mscom::recordWritten,
                             [](const hx::StoredRecord& r, hx::WriteOutcome outcome) {
                                 if (outcome == hx::WriteOutcome::Failed) return;
                                 std::printf("%d %.17g %.17g\n", r.id, r.date, r.time);
                                 std::fflush(stdout);
                             });
            return;
        }
        window->Form_KeyDown(turn % 3 == 0 ? Qt::Key_F6 : Qt::Key_F7);
    });
    driver.start();
    return qtApp.exec();
}
