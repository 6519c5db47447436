#include "Application.h"

#include "alarm/ALM1.h"
#include "app/StatusLine.h"
#include "app/frmSplash.h"
#include "app/ssqx.h"
#include "config/CONFIG1.h"
#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "core/TextNumber.h"
#include "factory/FACTR.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "logging/RecordStore.h"
#include "logging/mscom.h"
#include "publish/Publisher.h"

#include <QComboBox>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace hx {

Application::Application() : link_(std::make_unique<ModbusLink>()) {
    context_.link = link_.get();
    context_.writes = &writes_;
    context_.databasePath = defaultDatabasePath();
    context_.openStore = [](const QString& path) { return openRecordStore(path); };
    context_.endProcess = [] {
        // At once, as the exit command says: every committed record is already durable.
        std::fflush(nullptr);
        std::_Exit(0);
    };
}

Application::~Application() = default;

void Application::startPublishing() {
    const int address = Com_Param[kComAddress] > 0 ? Com_Param[kComAddress] : 1;
    auto settings = mqttSettingsFromEnvironment(context_.databasePath, address, &publishSettingsError_);
    if (!settings) {
        if (!publishSettingsError_.isEmpty() && mainWindow_)
            mainWindow_->publishingStatus = [this] {
                return std::pair{QStringLiteral("MQTT: 设置有误, 未发布: ") + publishSettingsError_, false};
            };
        return;
    }
    publisher_ = std::make_unique<Publisher>(*settings);
    QObject::connect(recorder_.get(), &mscom::recordWritten,
                     [p = publisher_.get()](const StoredRecord& record, WriteOutcome outcome) {
                         p->noteRecord(record, outcome);
                     });
    if (mainWindow_)
        mainWindow_->publishingStatus = [this] {
            const PublisherStatus status = publisher_->status();
            return std::pair{publisherStatusText(status), publisherHealthy(status)};
        };
    // The port, the instrument and the alarm table as the main window shows them, looked at
    // twice a second; the publisher sends only what changed.
    publishTimer_ = std::make_unique<QTimer>();
    publishTimer_->setInterval(500);
    QObject::connect(publishTimer_.get(), &QTimer::timeout, [this] {
        // Before the first "打开" the port is the one chosen in the main window, as its status line says.
        const int32_t port = Com_Param[kComPort] != 0 || !mainWindow_
                                 ? Com_Param[kComPort]
                                 : numberOfText(mainWindow_->Combo1->currentText()).value_or(0);
        const PortStatus portStatus = link_->portStatus(port);
        ProgramState state;
        state.portOpen = portStatus.open;
        state.port = portStatusText(port, portStatus, Com_Param[kComPort] != 0);
        const bool silent = freshValues().stale(0, FreshValues::steadyNowMs());
        state.instrument = !portStatus.open ? QStringLiteral("closed")
                           : silent         ? QStringLiteral("silent")
                                            : QStringLiteral("answering");
        publisher_->setProgramState(state);
        std::array<bool, kAlarmStates> alarms{};
        for (int i = 0; i < kAlarmStates; ++i)
            alarms[i] = Status_Bit[i] != 0;
        publisher_->setAlarmStates(alarms);
    });
    publishTimer_->start();
}

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
            startPublishing();
        },
    });
    splash->show();
}

} // namespace hx
