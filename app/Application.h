#pragma once
// The program as a whole: the link, the splash window and what its hand-over creates
// (the main window, the poll host Met1 and the recorder mscom).
#include "app/AppContext.h"
#include "app/MainWindowHost.h"
#include "ui/OperatorField.h"

#include <memory>
#include <utility>

namespace hx {

namespace config {
struct ConfigTable;
}
struct AlarmBuffer;
class EventFeed;
class EventJournal;
class ModbusLink;
class Publisher;
struct FactoryTables;
class StopSignal;
class ssqx;

class Application : public MainWindowHost {
  public:
    Application();
    ~Application();

    // MainWindowHost: the windows the main window opens, the journal's, the recorder's and the
    // broker's parts of its status line.
    QWidget* createWindow(Window window, QWidget* mainWindow) override;
    std::array<bool, 27> unacknowledgedRows() override;
    QString eventStatus() override;
    std::optional<RecordingHealth> recordingHealth() override;
    std::pair<QString, bool> publishingStatus() override;

    // Shows the splash window; the hand-over follows about 1.5 s later.
    void start();

    AppContext& context() { return context_; }
    ssqx* mainWindow() const { return mainWindow_.get(); }
    Met1* met1() const { return met1_.get(); }
    mscom* recorder() const { return recorder_.get(); }
    EventJournal& journal() { return *journal_; }
    // Null unless HX5800_MQTT names a broker (and its settings could be used).
    Publisher* publisher() const { return publisher_.get(); }

  private:
    std::unique_ptr<ModbusLink> link_;
    WriteLog writes_;
    AppContext context_;
    std::unique_ptr<EventJournal> journal_;
    std::unique_ptr<EventFeed> feed_;
    std::unique_ptr<ssqx> mainWindow_;
    std::unique_ptr<Met1> met1_;
    std::unique_ptr<mscom> recorder_;
    std::unique_ptr<Publisher> publisher_;
    std::unique_ptr<StopSignal> stopSignal_;
    // The windows' read tables keep their contents from one opening to the next.
    std::unique_ptr<AlarmBuffer> alarmTable_;
    std::unique_ptr<config::ConfigTable> configTable_;
    std::unique_ptr<FactoryTables> factoryTables_;
    QString publishSettingsError_;
    std::pair<QString, int> publishedLine_;
    int64_t journalNewestAtStart_ = 0; // the line and address the publisher's topics name
    void startPublishing();
    void tellPublisher(const PortReading& port);
};

} // namespace hx
