#pragma once
// The program as a whole: the link, the splash window and what its hand-over creates
// (the main window, the poll host Met1 and the recorder mscom).
#include "app/AppContext.h"
#include "ui/OperatorField.h"

#include <memory>
#include <utility>

namespace hx {

class EventFeed;
class EventJournal;
class ModbusLink;
class Publisher;
class StopSignal;
class ssqx;

class Application {
  public:
    Application();
    ~Application();

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
    QString publishSettingsError_;
    std::pair<QString, int> publishedLine_;
    int64_t journalNewestAtStart_ = 0; // the line and address the publisher's topics name
    void startPublishing();
    std::pair<QString, bool> publishingStatus();
    void handOverProgramState();
    int32_t chosenPort() const;
};

} // namespace hx
