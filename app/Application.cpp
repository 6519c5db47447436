#include "Application.h"

#include "alarm/ALM1.h"
#include "app/EventFeed.h"
#include "app/StatusLine.h"
#include "app/frmSplash.h"
#include "app/ssqx.h"
#include "config/CONFIG1.h"
#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "core/StopSignal.h"
#include "core/TextNumber.h"
#include "events/EventsWindow.h"
#include "factory/FACTR.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "logging/RecordStore.h"
#include "logging/mscom.h"
#include "publish/Publisher.h"

#include <QComboBox>
#include <QDateTime>
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
        // At once, as the exit command says: every committed record and event is already
        // durable. The recorder goes first, so its lock goes with it and another copy may
        // record; the publisher then sends "offline" and saves its cursors (within a second).
        recorder_.reset();
        if (journal_) journal_->onStored = nullptr;
        publisher_.reset();
        std::fflush(nullptr);
        std::_Exit(0);
    };
    // SIGTERM (systemd, a shutdown, kill) ends the program as "退出" does.
    stopSignal_ = std::make_unique<StopSignal>([this] { context_.endProcess(); });
    journal_ = std::make_unique<EventJournal>(EventJournal::pathBeside(context_.databasePath));
    journalNewestAtStart_ = journal_->newestId();
    feed_ = std::make_unique<EventFeed>(*journal_, link_.get());
    writes_.observer = [this](const OperatorWrite& write) { feed_->noteWrite(write); };
}

Application::~Application() {
    // The publisher goes before the journal: nothing is told to it any more.
    if (journal_) journal_->onStored = nullptr;
}

// Only the program that records publishes: a second copy paging the same database would send
// the same ring and journal and write the same cursor files. The topic names the line and the
// instrument, so publishing starts with the first "打开" and starts anew when another port or
// address is opened; it is tried again whenever the recorder's claim changes (the other
// program ended).
void Application::startPublishing() {
    if (!recorder_ || Com_Param[kComPort] == 0) return;
    const int address = Com_Param[kComAddress] > 0 ? Com_Param[kComAddress] : 1;
    const QString line = QStringLiteral("com%1").arg(Com_Param[kComPort]);
    if (publisher_ && publishedLine_ == std::pair(line, address)) return;
    auto settings = mqttSettingsFromEnvironment(context_.databasePath, line, address, &publishSettingsError_);
    if (!settings || recorder_->status().claim != RecorderClaim::Held) return;
    settings->firstEventsAfter = journalNewestAtStart_; // a first start sends this run's events
    journal_->onStored = nullptr;
    publisher_.reset(); // the other line's "offline" goes first
    publisher_ = std::make_unique<Publisher>(*settings);
    publishedLine_ = {line, address};
    journal_->onStored = [p = publisher_.get()](int64_t) { p->noteEvents(); };
}

// The status line's part about publishing, refreshed every second; the program state and what
// the publisher has to tell the journal are handed over with it (no timer of their own: the
// publisher sends only what changed, and costs the windows no wake-up).
std::pair<QString, bool> Application::publishingStatus() {
    if (!publisher_) {
        if (!publishSettingsError_.isEmpty())
            return {QStringLiteral("MQTT: 设置有误, 未发布: ") + publishSettingsError_, false};
        if (qEnvironmentVariableIsEmpty("HX5800_MQTT")) return {};
        if (recorder_ && recorder_->status().claim == RecorderClaim::OtherProgram)
            return {QStringLiteral("MQTT: 未发布 (记录它的程序发布)"), true};
        return {QStringLiteral("MQTT: 端口打开后发布"), true};
    }
    handOverProgramState();
    auto notices = publisher_->takeNotices();
    if (!notices.empty()) journal_->record(std::move(notices));
    const PublisherStatus status = publisher_->status();
    return {publisherStatusText(status), publisherHealthy(status)};
}

int32_t Application::chosenPort() const {
    // Before the first "打开" the port is the one chosen in the main window, as its status line says.
    return Com_Param[kComPort] != 0 || !mainWindow_
               ? Com_Param[kComPort]
               : numberOfText(mainWindow_->Combo1->currentText()).value_or(0);
}

void Application::handOverProgramState() {
    const int32_t port = chosenPort();
    const PortStatus portStatus = link_->portStatus(port);
    ProgramState state;
    state.portOpen = portStatus.open;
    state.port = portStatusText(port, portStatus, Com_Param[kComPort] != 0);
    const bool silent = freshValues().stale(0, FreshValues::steadyNowMs());
    // Right after an open the instrument is neither answering nor silent yet: nothing is said
    // until it answered or kSilentAfterMs passed, as on the status line (the broker keeps what
    // it was told before).
    if (portStatus.open && silent && mainWindow_ &&
        QDateTime::currentMSecsSinceEpoch() - mainWindow_->openedAtMs() <= kSilentAfterMs)
        return;
    state.instrument = !portStatus.open ? QStringLiteral("closed")
                       : silent         ? QStringLiteral("silent")
                                        : QStringLiteral("answering");
    publisher_->setProgramState(state);
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
            mainWindow_->createEventsWindow = [this](QWidget* main) -> QWidget* {
                auto* window = new EventsWindow(*journal_, main);
                window->acknowledged = [this] { mainWindow_->Timer4_Timer(); };
                return window;
            };
            mainWindow_->unacknowledgedRows = [this] {
                std::array<bool, 27> rows{};
                const UnacknowledgedAlarms alarms = journal_->unacknowledged();
                std::copy(alarms.rows.begin(), alarms.rows.end(), rows.begin());
                return rows;
            };
            mainWindow_->eventStatus = [this] { return feed_->statusText(); };
            QObject::connect(mainWindow_.get(), &ssqx::portActionDone, feed_.get(),
                             [this](bool opening) { feed_->notePortAction(Com_Param[kComPort], opening); });
            // The status table shows a new or acknowledged alarm at once, not at its next refresh.
            QObject::connect(feed_.get(), &EventFeed::alarmsChanged, mainWindow_.get(), &ssqx::Timer4_Timer);
            mainWindow_->show();
        },
        [this] {
            met1_ = std::make_unique<Met1>(*link_);
            context_.met1 = met1_.get();
            QObject::connect(met1_.get(), &Met1::statusRead, feed_.get(), &EventFeed::noteStatusRead);
        },
        [this] {
            recorder_ = std::make_unique<mscom>(context_.databasePath);
            context_.recorder = recorder_.get();
            if (mainWindow_) {
                mainWindow_->recordingHealth = [this] { return recordingHealthOf(recorder_->status()); };
                QObject::connect(recorder_.get(), &mscom::recordWritten, mainWindow_.get(),
                                 &ssqx::noteRecord);
            }
            QObject::connect(recorder_.get(), &mscom::statusChanged, feed_.get(),
                             [this] { feed_->noteRecorder(recorder_->status()); });
            feed_->noteRecorder(recorder_->status());
            if (mainWindow_) {
                mainWindow_->publishingStatus = [this] { return publishingStatus(); };
                QObject::connect(mainWindow_.get(), &ssqx::portActionDone, feed_.get(), [this](bool opening) {
                    if (opening) startPublishing();
                });
            }
            QObject::connect(recorder_.get(), &mscom::statusChanged, feed_.get(),
                             [this] { startPublishing(); });
            QObject::connect(recorder_.get(), &mscom::recordWritten, feed_.get(),
                             [this](const StoredRecord& record, WriteOutcome outcome) {
                                 if (publisher_) publisher_->noteRecord(record, outcome);
                             });
            if (met1_)
                QObject::connect(met1_.get(), &Met1::statusRead, feed_.get(), [this] {
                    if (!publisher_) return;
                    std::array<bool, kAlarmStates> alarms{};
                    for (int i = 0; i < kAlarmStates; ++i)
                        alarms[i] = Status_Bit[i] != 0;
                    publisher_->setAlarmStates(alarms);
                });
            startPublishing();
        },
    });
    splash->show();
}

} // namespace hx
