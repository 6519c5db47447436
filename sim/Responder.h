#pragma once
// The instrument's side of the Modbus RTU line: turns one request frame into the answer
// frame, with the faults it has been told to show. No I/O: the serve loop receives the
// frames, waits the answer delay and sends what comes back from here.
#include "sim/Instrument.h"

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace hx::sim {

// Function codes the instrument answers; everything else gets ILLEGAL_FUNCTION.
enum FunctionCode : uint8_t {
    kReadDiscreteInputs = 0x02,
    kReadHoldingRegisters = 0x03,
    kReadInputRegisters = 0x04,
    kWriteSingleRegister = 0x06,
    kWriteMultipleRegisters = 0x10,
};

enum ExceptionCode : uint8_t {
    kIllegalFunction = 0x01,
    kIllegalDataAddress = 0x02,
    kIllegalDataValue = 0x03,
    kSlaveDeviceBusy = 0x06,
};

// Faults the instrument shows, set by option at start-up and by command at run time.
// A count of 0 switches that fault off.
struct FaultSettings {
    bool silent = false;           // no answer at all; requests received meanwhile are dropped
    int delayMs = 0;               // every answer waits this long
    int dropEvery = 0;             // every Nth answer is not sent
    int corruptEvery = 0;          // every Nth answer is sent with a bad CRC
    int exceptionEvery = 0;        // every Nth request is answered with SLAVE_DEVICE_BUSY
    bool refuseFirstWrite = false; // the first write of each register gets SLAVE_DEVICE_BUSY
    int silentAfter = 0;           // this many more answers, then silent (a line cut on cue)
};

// CRC-16 of a Modbus RTU frame (polynomial 0xA001 reflected, start 0xFFFF); sent low byte first.
uint16_t modbusCrc(std::span<const uint8_t> bytes);
// Appends the CRC to slave + PDU.
std::vector<uint8_t> withCrc(std::vector<uint8_t> frame);
// "01 03 00 00 00 08 44 0C"
std::string hexOf(std::span<const uint8_t> bytes);

class Responder {
  public:
    Responder(Instrument& instrument, const FaultSettings& faults, int slave);

    // `request` is a whole RTU frame (slave, PDU, CRC) with a good CRC. Returns the answer
    // frame, CRC included, or nullopt when nothing is sent (another slave, a broadcast,
    // silent, a dropped answer). Silence and the delay are the serve loop's business; the
    // counting faults are applied here.
    std::optional<std::vector<uint8_t>> respond(std::span<const uint8_t> request);

    // The answer PDU (function code and data, or the exception) of one request PDU,
    // without faults. Writes take effect in the instrument.
    std::vector<uint8_t> answerPdu(std::span<const uint8_t> pdu);

    int slave() const { return slave_; }

    // Forgets which registers were already refused once (refuse-first-write).
    void resetRefusals() { refused_.clear(); }
    // Counts requests and answers from here on, so "every Nth" set at run time means the
    // Nth from now.
    void restartCounts() { requests_ = answers_ = 0; }

  private:
    std::vector<uint8_t> readRegisters(uint8_t function, std::span<const uint8_t> pdu);
    std::vector<uint8_t> readDiscreteInputs(std::span<const uint8_t> pdu);
    std::vector<uint8_t> writeRegisters(uint8_t function, std::span<const uint8_t> pdu);
    // True when this write is the first attempt on one of its registers and must be refused.
    bool refuseWrite(int first, int count);

    Instrument& instrument_;
    const FaultSettings& faults_;
    int slave_;
    uint64_t requests_ = 0;
    uint64_t answers_ = 0;
    std::set<int> refused_;
};

} // namespace hx::sim
