// hx5800-screenshot OUT.png [SECONDS] [ruler|printout]: runs the whole program as it starts
// for an operator, opens port 1 after the hand-over, and saves a picture of the main window
// after SECONDS (default 8): with "ruler", with the ruler on a third of the way across the
// chart and the scale set to 0..8000; with "printout", the page "F3 打印" writes, drawn by the same code into a picture.
// Used to keep the README's pictures current.
#include "app/Application.h"
#include "app/ssqx.h"
#include "core/Clock.h"
#include "trend/ChartPrintout.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
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
    const QString mode = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    hx::Application app;
    app.start();
    QTimer::singleShot(2000, [&] {
        if (app.mainWindow())
            app.mainWindow()->Command9->click();
    });
    int rc = 1;
    if (mode == QLatin1String("ruler")) {
        QTimer::singleShot(2500, [&] {
            if (hx::ssqx* window = app.mainWindow()) {
                // The simulated channels run up to about 7500: a scale that shows them all.
                window->Label5_DblClick(0);
                window->YKD->setText(QStringLiteral("8000"));
                window->YKD1->setText(QStringLiteral("0"));
                window->Command26->click();
            }
        });
        QTimer::singleShot(2000 + seconds * 1000 - 1500, [&] {
            if (hx::ssqx* window = app.mainWindow()) {
                window->Command5->click();
                window->hc->setValue(4000);
            }
        });
    }
    QTimer::singleShot(2000 + seconds * 1000, [&] {
        hx::ssqx* window = app.mainWindow();
        if (window && mode == QLatin1String("printout")) {
            QImage page(1782, 1260, QImage::Format_RGB32);
            QPainter painter(&page);
            hx::paintChartPage(painter, page.rect(), window->trend(),
                               window->printoutContent(hx::appClock().now()));
            painter.end();
            if (page.save(out))
                rc = 0;
        } else if (window && window->grab().save(out)) {
            rc = 0;
        }
        qtApp.exit(rc);
    });
    qtApp.exec();
    std::fflush(nullptr);
    std::_Exit(rc); // like the exit command: the port is not closed first
}
