#include "Application.h"

#include "alarm/ALM1.h"
#include "app/EventFeed.h"
#include "app/StatusLine.h"
#include "app/frmSplash.h"
#include "app/ssqx.h"
#include "config/CONFIG1.h"
#include "core/SharedState.h"
#include "core/StopSignal.h"
#include "events/EventsWindow.h"
#include "factory/FACTR.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "logging/RecordStore.h"
#include "logging/mscom.h"
#include "publish/Publisher.h"

#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace hx {

Application::Application()
    : link_(std::make_unique<ModbusLink>()), alarmTable_(std::make_unique<AlarmBuffer>()),
      configTable_(std::make_unique<config::ConfigTable>()),
      factoryTables_(std::make_unique<FactoryTables>()) {
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
    feed_ = std::make_unique<EventFeed>(*journal_, link_.get(), context_.session);
    writes_.observer = [this](const OperatorWrite& write) { feed_->noteWrite(write); };
}

Application::~Application() {
    // The publisher goes before the journal: nothing is told to it any more.
    if (journal_) journal_->onStored = nullptr;
    // The main window, and with it the windows it opened, before the tables and the link they use.
    mainWindow_.reset();
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

// The status line's part about publishing, refreshed every second.
std::pair<QString, bool> Application::publishingStatus() {
    if (!publisher_) {
        if (!publishSettingsError_.isEmpty())
            return {QStringLiteral("MQTT: 设置有误, 未发布: ") + publishSettingsError_, false};
        if (qEnvironmentVariableIsEmpty("HX5800_MQTT")) return {QString(), true}; // off: nothing to say
        if (recorder_ && recorder_->status().claim == RecorderClaim::OtherProgram)
            return {QStringLiteral("MQTT: 未发布 (记录它的程序发布)"), true};
        return {QStringLiteral("MQTT: 端口打开后发布"), true};
    }
    const PublisherStatus status = publisher_->status();
    return {publisherStatusText(status), publisherHealthy(status)};
}

// The port and the instrument as the status line showed them, and what the publisher has to
// tell the journal, handed over with every refresh of the status line (no timer of their own:
// the publisher sends only what changed, and costs the windows no wake-up).
void Application::tellPublisher(const PortReading& port) {
    if (!publisher_) return;
    auto notices = publisher_->takeNotices();
    if (!notices.empty()) journal_->record(std::move(notices));
    if (const auto state = programStateOf(port)) publisher_->setProgramState(*state);
}

QWidget* Application::createWindow(Window window, QWidget* main) {
    switch (window) {
    case Window::Alarm:
        return new ALM1(*link_, &writes_, *alarmTable_, main);
    case Window::Config:
        return new config::CONFIG1(main, *link_, *configTable_, &writes_);
    case Window::Factory: {
        const auto note = [this](const QString& text) { mainWindow_->notePrintout(text); };
        const FactoryReportOptions report{QFileInfo(context_.databasePath).absolutePath(), note};
        return new FACTR(*link_, &writes_, *factoryTables_, main, report);
    }
    case Window::Events: {
        auto* events = new EventsWindow(*journal_, main);
        events->acknowledged = [this] { mainWindow_->Timer4_Timer(); };
        return events;
    }
    }
    return nullptr;
}

std::array<bool, 27> Application::unacknowledgedRows() {
    std::array<bool, 27> rows{};
    const UnacknowledgedAlarms alarms = journal_->unacknowledged();
    std::copy(alarms.rows.begin(), alarms.rows.end(), rows.begin());
    return rows;
}

QString Application::eventStatus() {
    return feed_->statusText();
}

std::optional<RecordingHealth> Application::recordingHealth() {
    if (!recorder_) return std::nullopt;
    return recordingHealthOf(recorder_->status());
}

void Application::start() {
    auto* splash = new frmSplash(frmSplash::HandOver{
        [this] {
            mainWindow_ = std::make_unique<ssqx>(context_);
            mainWindow_->setHost(this);
            QObject::connect(mainWindow_.get(), &ssqx::portActionDone, feed_.get(),
                             [this](bool opening) { feed_->notePortAction(opening); });
            QObject::connect(mainWindow_.get(), &ssqx::portRead, feed_.get(),
                             [this](const PortReading& port) { tellPublisher(port); });
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
            if (mainWindow_)
                QObject::connect(recorder_.get(), &mscom::recordWritten, mainWindow_.get(),
                                 &ssqx::noteRecord);
            QObject::connect(recorder_.get(), &mscom::statusChanged, feed_.get(),
                             [this] { feed_->noteRecorder(recorder_->status()); });
            feed_->noteRecorder(recorder_->status());
            if (mainWindow_)
                QObject::connect(mainWindow_.get(), &ssqx::portActionDone, feed_.get(), [this](bool opening) {
                    if (opening) startPublishing();
                });
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
