// hx5800: the supervisory program. Starts in the splash window, which hands over to the
// main window, the poll host and the recorder.
#include "app/Application.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("hx5800"));
    hx::Application app;
    app.start();
    return qtApp.exec();
}
