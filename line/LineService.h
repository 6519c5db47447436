#pragma once
// hx5800-line at work: the line opened once and held, the poll on its own thread, every
// instrument recorded, journalled and published on the event loop's thread, and a clean end
// on SIGTERM or SIGINT.
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

#include "line/LineOptions.h"

namespace hx {
class ModbusLink;
class StopSignal;
} // namespace hx

namespace hx::line {

class LineInstrument;
class LinePoll;
struct CycleAnswers;

class LineService : public QObject {
    Q_OBJECT
  public:
    explicit LineService(LineOptions options);
    ~LineService() override;

    // Opens the line and starts recording; false with *why when the line cannot be opened
    // (held by another program, no such device, a gateway that cannot be reached) or the
    // publishing settings cannot be used.
    bool start(QString* why);
    // Ends the poll, then the instruments (publishers say "offline", cursors saved).
    void stop();

  private:
    void take(const CycleAnswers& answers);
    void tick();

    LineOptions options_;
    std::unique_ptr<ModbusLink> link_;
    std::vector<std::unique_ptr<LineInstrument>> instruments_;
    std::unique_ptr<LinePoll> poll_;
    QTimer timer_;
    int64_t startedMs_ = 0;
};

} // namespace hx::line
