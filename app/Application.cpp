#include "Application.h"

#include "alarm/ALM1.h"
#include "app/StatusLine.h"
#include "app/frmSplash.h"
#include "app/ssqx.h"
#include "config/CONFIG1.h"
#include "factory/FACTR.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "logging/RecordStore.h"
#include "logging/mscom.h"

#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace hx {

Application::Application() : link_(std::make_unique<ModbusLink>()) {
    context_.link = link_.get();
    context_.writes = &writes_;
    context_.databasePath = defaultDatabasePath();
    context_.openStore = [](const QString& path) { return openRecordStore(path); };
    context_.endProcess = [this] {
        // At once, as the exit command says: every committed record is already durable. The
        // recorder goes first, so its lock file goes with it and another copy may record.
        recorder_.reset();
        std::fflush(nullptr);
        std::_Exit(0);
    };
}

Application::~Application() = default;

void Application::start() {
    auto* splash = new frmSplash(frmSplash::HandOver{
        [this] {
            mainWindow_ = std::make_unique<ssqx>(context_);
            // The windows' read tables keep their contents from one opening to the next.
            mainWindow_->createAlarmWindow = [this, kept = std::make_shared<AlarmBuffer>()](QWidget* main) {
                return new ALM1(*link_, &writes_, *kept, main);
            };
            mainWindow_->createFactoryWindow = [this,
                                                kept = std::make_shared<FactoryTables>()](QWidget* main) {
                const auto note = [this](const QString& text) { mainWindow_->notePrintout(text); };
                const FactoryReportOptions report{QFileInfo(context_.databasePath).absolutePath(), note};
                return new FACTR(*link_, &writes_, *kept, main, report);
            };
            mainWindow_->createConfigWindow =
                [this, configBuf = std::make_shared<config::ConfigTable>()](QWidget* main) -> QWidget* {
                return new config::CONFIG1(main, *link_, *configBuf, &writes_);
            };
            mainWindow_->show();
        },
        [this] {
            met1_ = std::make_unique<Met1>(*link_);
            context_.met1 = met1_.get();
        },
        [this] {
            recorder_ = std::make_unique<mscom>(context_.databasePath);
            context_.recorder = recorder_.get();
            if (mainWindow_) {
                mainWindow_->recordingHealth = [this] { return recordingHealthOf(recorder_->status()); };
                QObject::connect(recorder_.get(), &mscom::recordWritten, mainWindow_.get(),
                                 &ssqx::noteRecord);
            }
        },
    });
    splash->show();
}

} // namespace hx
