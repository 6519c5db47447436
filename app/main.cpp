// hx5800: the supervisory program. Starts in the splash window, which hands over to the
// main window, the poll host and the recorder.
#include "app/Application.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display (installers, scripts).
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("hx5800 %s\n", HX5800_VERSION);
        return 0;
    }
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("hx5800"));
    QApplication::setApplicationVersion(QStringLiteral(HX5800_VERSION));
    hx::Application app;
    app.start();
    return qtApp.exec();
}
