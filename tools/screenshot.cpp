// hx5800-screenshot OUT.png [SECONDS]: runs the whole program as it starts for an operator,
// opens port 1 after the hand-over, and saves a picture of the main window after SECONDS
// (default 8). Used to keep the README's pictures current.
#include "app/Application.h"
#include "app/ssqx.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: hx5800-screenshot OUT.png [SECONDS]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 8;
    hx::Application app;
    app.start();
    QTimer::singleShot(2000, [&] {
        if (app.mainWindow())
            app.mainWindow()->Command9->click();
    });
    int rc = 1;
    QTimer::singleShot(2000 + seconds * 1000, [&] {
        if (app.mainWindow() && app.mainWindow()->grab().save(out))
            rc = 0;
        qtApp.exit(rc);
    });
    qtApp.exec();
    std::fflush(nullptr);
    std::_Exit(rc); // like the exit command: the port is not closed first
}
