// hx5800: the supervisory program. Starts in the splash window, which hands over to the
// main window, the poll host and the recorder.
#include "app/AppContext.h"
#include "app/SharedState.h"
#include "app/frmSplash.h"
#include "app/ssqx.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "logging/RecordStore.h"
#include "logging/mscom.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("hx5800"));

    hx::ModbusLink link;
    hx::AppContext context;
    context.link = &link;
    context.databasePath = hx::defaultDatabasePath();
    context.openStore = [](const QString& path) { return hx::openRecordStore(path); };
    context.endProcess = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };

    std::unique_ptr<hx::ssqx> mainWindow;
    std::unique_ptr<hx::Met1> met1;
    std::unique_ptr<hx::mscom> recorder;

    auto* splash = new hx::frmSplash(hx::frmSplash::HandOver{
        [&] {
            mainWindow = std::make_unique<hx::ssqx>(context);
            mainWindow->show();
        },
        [&] {
            met1 = std::make_unique<hx::Met1>(link);
            context.met1 = met1.get();
        },
        [&] {
            recorder = std::make_unique<hx::mscom>(context.databasePath);
            context.recorder = recorder.get();
            if (mainWindow)
                mainWindow->recordingHealth = [&] { return hx::recordingHealthOf(recorder->status()); };
        },
    });
    splash->show();
    return app.exec();
}
