// hx5800-screenshot OUT.png [SECONDS] [MODE] [--history N]: runs the whole program as it
// starts for an operator, opens port 1 at the hand-over, and saves a picture after SECONDS
// (default 8). MODE says of what:
//   main            the main window at the scale it starts with (the demo fits it)
//   ruler           the same, one page back (F7), with the ruler a third of the way across
//   printout        the page "F3 打印" writes of that chart one page back, drawn by the same
//                   code into a picture
//   config          the configuration window ("CONFIG"), on the tab it opens on
//   config-outputs  the same on its fourth tab, the analogue outputs
//   alarm           the alarm setpoint window ("报警设定")
//   factory         the factory record sheet (Ctrl+Shift+F12) with product data typed in and
//                   its report printed (F3), so the line beside the grids says where it went
//   report          the page the factory sheet's F3 writes, drawn into a picture
//   splash          the start-up window
// --history N first writes N records of the demonstration instrument's waves, one a second up
// to now, into an empty recording database, so the chart has history to page through.
// Used by tools/screenshots.sh to keep the README's pictures current.
#include "app/Application.h"
#include "app/ssqx.h"
#include "config/TwoRowTabs.h"
#include "core/Clock.h"
#include "factory/FACTR.h"
#include "factory/FactoryReport.h"
#include "logging/RecordStore.h"
#include "sim/Instrument.h"
#include "trend/ChartPrintout.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

// The visible top-level window of that object name (the secondary windows and the splash).
QWidget* windowNamed(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == QLatin1String(name)) return w;
    return nullptr;
}

// Records of the simulator's demonstration waves for the `count` seconds before now, as the
// recorder would have written them from a simulator started `count` seconds earlier.
bool writeHistory(int count) {
    const auto store = hx::openRecordStore(hx::defaultDatabasePath());
    const auto pointer = store->readPointer();
    if (!store->isOpen() || !pointer) {
        std::fprintf(stderr, "screenshot: %s\n", qPrintable(store->lastError()));
        return false;
    }
    if (pointer->first != 0) return true; // the database has records already
    hx::sim::Instrument instrument;
    instrument.setDemo(true);
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 1; i <= count; ++i) {
        instrument.update(double(i - count));
        const hx::ClockReading at = hx::readingOf(now.addSecs(i - count - 1));
        hx::StoredRecord record;
        record.id = i;
        record.date = at.date;
        record.time = at.time;
        for (int c = 0; c < 10; ++c)
            record.values[size_t(c)] = float(instrument.inputRegister(c + 1).value_or(0));
        if (store->writeRecord(record) != hx::WriteOutcome::Committed) {
            std::fprintf(stderr, "screenshot: %s\n", qPrintable(store->lastError()));
            return false;
        }
    }
    return true;
}

bool savePage(const QString& out, const std::function<void(QPainter&, const QRectF&)>& paint) {
    QImage page(1782, 1260, QImage::Format_RGB32);
    QPainter painter(&page);
    paint(painter, page.rect());
    painter.end();
    return page.save(out);
}

} // namespace

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QStringList args = qtApp.arguments().mid(1);
    int history = 0;
    if (const qsizetype at = args.indexOf(QStringLiteral("--history")); at >= 0 && at + 1 < args.size()) {
        history = args[at + 1].toInt();
        args.remove(at, 2);
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: hx5800-screenshot OUT.png [SECONDS] [MODE] [--history N]\n");
        return 2;
    }
    const QString out = args[0];
    const int seconds = args.size() > 1 ? args[1].toInt() : 8;
    const QString mode = args.size() > 2 ? args[2] : QStringLiteral("main");
    if (history > 0 && !writeHistory(history)) return 1;

    hx::Application app;
    app.start();
    int rc = 1;
    const auto finish = [&](bool saved) {
        rc = saved ? 0 : 1;
        qtApp.exit(rc);
    };
    if (mode == QLatin1String("splash")) {
        QTimer::singleShot(700, [&] {
            QWidget* splash = windowNamed("frmSplash");
            finish(splash && splash->grab().save(out));
        });
        qtApp.exec();
        std::fflush(nullptr);
        std::_Exit(rc);
    }

    const auto mainWindow = [&] { return app.mainWindow(); };
    // The port opens as soon as the main window exists, so the first records hold values.
    QTimer opener;
    opener.setInterval(20);
    QObject::connect(&opener, &QTimer::timeout, [&] {
        if (!mainWindow()) return;
        mainWindow()->Command9->click();
        opener.stop();
    });
    opener.start();
    // The windows open after the port, so their first reads find it open.
    QTimer::singleShot(2500, [&] {
        hx::ssqx* window = mainWindow();
        if (!window) return;
        if (mode.startsWith(QLatin1String("config"))) window->Command21->click();
        if (mode == QLatin1String("alarm")) window->Command15->click();
        if (mode == QLatin1String("events")) window->openEventsWindow();
        if (mode == QLatin1String("factory") || mode == QLatin1String("report")) {
            window->openFactoryWindow();
            if (auto* sheet = qobject_cast<hx::FACTR*>(windowNamed("FACTR"))) {
                const std::array<QString, 4> product{QStringLiteral("HX5800-8"), QStringLiteral("A-0001"),
                                                     QStringLiteral("V1.0"), QStringLiteral("演示客户")};
                for (size_t i = 0; i < product.size(); ++i)
                    sheet->Text1[i]->setText(product[i]);
            }
        }
        if (mode == QLatin1String("config-outputs"))
            if (QWidget* config = windowNamed("CONFIG1"))
                if (auto* tabs = config->findChild<hx::config::TwoRowTabs*>()) tabs->tabButton(3)->click();
    });
    // Both show the page before the live one: the records of this run's first second, taken
    // before the first answer, stay out of the picture.
    if (mode == QLatin1String("ruler") || mode == QLatin1String("printout")) {
        QTimer::singleShot(2000 + seconds * 1000 - 1500, [&] {
            hx::ssqx* window = mainWindow();
            if (!window) return;
            window->Command8->click();
            if (mode == QLatin1String("ruler")) {
                window->Command5->click();
                window->hc->setValue(4000);
            }
        });
    }
    if (mode == QLatin1String("factory")) {
        QTimer::singleShot(2000 + seconds * 1000 - 500, [&] {
            if (auto* sheet = qobject_cast<hx::FACTR*>(windowNamed("FACTR"))) sheet->printReport();
        });
    }
    QTimer::singleShot(2000 + seconds * 1000, [&] {
        hx::ssqx* window = mainWindow();
        if (!window) return finish(false);
        if (mode == QLatin1String("printout")) {
            const hx::ChartPrintout content = window->printoutContent(hx::appClock().now());
            return finish(savePage(out, [&](QPainter& p, const QRectF& r) {
                hx::paintChartPage(p, r, window->trend(), content);
            }));
        }
        if (mode == QLatin1String("report")) {
            auto* sheet = qobject_cast<hx::FACTR*>(windowNamed("FACTR"));
            if (!sheet) return finish(false);
            const hx::FactoryReport report = sheet->reportContent(hx::appClock().now());
            return finish(
                savePage(out, [&](QPainter& p, const QRectF& r) { hx::paintFactoryPage(p, r, report); }));
        }
        QWidget* shown = window;
        if (mode.startsWith(QLatin1String("config"))) shown = windowNamed("CONFIG1");
        if (mode == QLatin1String("alarm")) shown = windowNamed("ALM1");
        if (mode == QLatin1String("factory")) shown = windowNamed("FACTR");
        if (mode == QLatin1String("events")) shown = windowNamed("EventsWindow");
        finish(shown && shown->grab().save(out));
    });
    qtApp.exec();
    std::fflush(nullptr);
    std::_Exit(rc); // like the exit command: the port is not closed first
}
