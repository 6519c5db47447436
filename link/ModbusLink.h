#pragma once
// The link over libmodbus: Modbus RTU on a serial device, or Modbus TCP to a serial-to-Ethernet
// gateway (a port mapped to tcp://HOST:PORT), one context per open port.
#include "link/LineTiming.h"
#include "link/Link.h"
#include "link/TraceLog.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

struct _modbus;

namespace hx {

class ModbusLink final : public Link {
  public:
    // The monotonic time the back-off is measured in; tests pass a clock they move by hand.
    using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

    explicit ModbusLink(SteadyNow now = {});
    ~ModbusLink() override;
    ModbusLink(const ModbusLink&) = delete;
    ModbusLink& operator=(const ModbusLink&) = delete;

    int32_t OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice) override;
    // OpenPort_Modbus with the device (a serial device or tcp://HOST[:PORT]) named by the
    // caller instead of the port map: for programs told their line on the command line.
    int32_t openDevice(int32_t port, const std::string& device, int32_t baudChoice, int32_t parityChoice);
    int32_t ClosePort_Modbus(int32_t port) override;
    int32_t Get_3X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override;
    int32_t Get_1X_B16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override;
    int32_t Get_4X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override;
    int32_t Get_4X_D16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override;
    int32_t Set_4X_D1(int32_t port, int32_t address, int32_t reg, int32_t value) override;

    // One request of a Modbus client passed on to the instrument at `address`: `pdu` is the
    // function code and its data, checked by the caller (function codes 1, 2, 3, 4, 5, 6, 15
    // and 16, quantities within the protocol's limits). The instrument's answer PDU, an
    // exception answer included; nullopt when none came (lastFailure says why). A read waits
    // for the back-off's probe as the poll's do; a write goes out at once.
    std::optional<std::vector<uint8_t>> forward(int32_t port, int32_t address, std::span<const uint8_t> pdu);

    // Gateways opened from now on get the time limits of one far away (remoteGatewayTiming):
    // for a link on a thread of its own, which no window waits for.
    void allowRemoteGateways() { remoteGateways_ = true; }

    LinkStats stats() const override { return stats_; }
    PortStatus portStatus(int32_t port) const override;
    std::optional<CallFailure> lastFailure() const override { return lastFailure_; }

    // After this many consecutive timeouts of one address the link stops waiting for that
    // instrument (the others on the line are asked as before).
    static constexpr int kTimeoutsBeforeBackOff = 3;
    // While backing off, one request at most per this interval goes out as a probe.
    static constexpr std::chrono::milliseconds kProbeInterval{1000};

  private:
    struct Port;
    enum class Kind { InputRegisters, DiscreteInputs, HoldingRegisters };

    int32_t readRegisters(Kind kind, int32_t port, int32_t address, int32_t first, int count,
                          std::span<int32_t> buffer);
    // Checks the port, the slave address and the address's back-off (which a write passes: it
    // goes out as the probe); the port when a request may go out.
    Port* admit(int32_t port, int32_t address, bool isWrite);
    std::chrono::steady_clock::time_point now() const;
    void fail(LinkFailure kind, int exceptionCode = 0, int systemError = 0) {
        lastFailure_ = CallFailure{kind, exceptionCode, systemError};
    }
    // The device or the gateway's connection is gone (err: the system's reason): the call
    // fails, and the first call after the back-off's probe interval opens it again.
    void lose(Port& port, int err);
    // Counts the outcome of one transaction; true when the answer is the one asked for.
    bool settle(Port& port, int rc, int expected);
    // After a timeout: whether the answer just read was the late one of the timed-out request.
    bool lateAnswerFollows(const Port& port);
    bool reopen(Port& port, PortStatus& status);
    // Opens port.device for this link alone (an advisory lock and the terminal's exclusive
    // mode), or connects to the port's gateway; false with the reason in status when it cannot.
    static bool openContext(Port& port, PortStatus& status);
    static bool openGateway(Port& port, PortStatus& status);
    // Parses and resolves a tcp:// port name once, at the open; false with the reason in status.
    static bool prepareGateway(Port& port, PortStatus& status);
    // One line in the traffic log: the request rebuilt from the call, the answer rebuilt from
    // what libmodbus accepted (answerPdu, for a good answer) or from the failure.
    void trace(const Port& port, uint8_t slave, std::span<const uint8_t> requestPdu,
               std::span<const uint8_t> answerPdu, bool good, std::chrono::steady_clock::time_point started);

    std::map<int32_t, std::unique_ptr<Port>> ports_;
    std::map<int32_t, PortStatus> lastOpen_;
    LinkStats stats_;
    std::optional<CallFailure> lastFailure_;
    SteadyNow now_;
    bool remoteGateways_ = false;
    std::unique_ptr<TraceLog> trace_; // null unless HX5800_TRACE names a file
};

} // namespace hx
