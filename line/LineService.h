#pragma once
// hx5800-line at work: the line opened once and held, the poll on its own thread, every
// instrument recorded, journalled and published on the event loop's thread, the Modbus TCP
// clients served between the poll's cycles, and a clean end on SIGTERM or SIGINT.
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "line/LineOptions.h"
#include "line/LinePoll.h"
#include "line/ModbusTcpServer.h"
#include "link/Link.h"

namespace hx {
class ModbusLink;
class StopSignal;
} // namespace hx

namespace hx::line {

class LineInstrument;

class LineService : public QObject {
    Q_OBJECT
  public:
    explicit LineService(LineOptions options);
    ~LineService() override;

    // Listens for clients, opens the line and starts recording; false with *why when the
    // publishing settings cannot be used, the listen address is in use, or the line cannot
    // be opened (held by another program, no such device, a gateway that cannot be reached).
    // Nothing goes on the line before all of these are settled.
    bool start(QString* why);
    // Ends the poll, then the instruments (publishers say "offline", cursors saved).
    void stop();

  private:
    // The cycles the poll finished since the last look, taken up on this thread: before the
    // recorders' tick, the second's tick and a client's request, so that the poll's answers
    // never wake this thread on their own.
    void takeArrived();
    void take(const CycleAnswers& answers);
    void tick();
    LineInstrument* instrumentAt(int address) const;
    // A client's request: answered at once when it can be (a bad request, an address not on
    // the line, a read of what the last cycle brought), otherwise queued for the poll's thread.
    void serve(ClientRequest request);
    void finish(const ClientRequest& request, const std::optional<Pdu>& answer,
                const std::optional<CallFailure>& failure);

    LineOptions options_;
    std::unique_ptr<ModbusLink> link_;
    std::vector<std::unique_ptr<LineInstrument>> instruments_;
    std::unique_ptr<LinePoll> poll_;
    std::unique_ptr<ModbusTcpServer> server_;
    // Each instrument's last cycle and how long after the one before it came: a read of a block
    // the cycle reads is answered from it while it is younger than that.
    struct LastCycle {
        CycleAnswers answers;
        int64_t periodMs = 0;
        bool current = false; // no write went to the instrument since
    };
    std::map<int, LastCycle> lastCycles_;
    std::mutex arrivedMutex_;
    std::vector<CycleAnswers> arrived_; // from the poll's thread, under arrivedMutex_
    QTimer timer_;                      // every second: lost or back, journals, publishers
    QTimer recordTimer_;                // every recorder's tick
    int64_t startedMs_ = 0;
};

} // namespace hx::line
