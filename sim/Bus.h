#pragma once
// The instruments on one RS-485 line (--slaves): each address with its own instrument,
// faults and answers. Finds the instrument a request names; no I/O, the serve loop owns the
// wire and so sends one answer at a time.
#include "sim/Console.h"
#include "sim/Instrument.h"
#include "sim/Responder.h"
#include "sim/SimOptions.h"

#include <memory>
#include <span>
#include <vector>

namespace hx::sim {

// One instrument on the line, set up from the options: the faults, --static, --demo and the
// circuit masks apply to each; with --slaves each is told its place so their values differ.
struct Slave {
    Slave(int address, const SimOptions& options);
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;

    const int address;
    Instrument instrument;
    FaultSettings faults;
    Responder responder; // answers for `instrument` with `faults`
};

class Bus {
  public:
    explicit Bus(const SimOptions& options); // one instrument per address of options.addresses()

    // The instrument at `address`; nullptr when nobody on the line has it (and for 0).
    Slave* find(int address);
    const std::vector<std::unique_ptr<Slave>>& slaves() const { return slaves_; }
    // Every instrument scans, whether or not it is asked.
    void update(double seconds);
    // A broadcast frame (address 0): every instrument that is not silent carries out its
    // write; none answers.
    void broadcast(std::span<const uint8_t> frame, double seconds);
    // What the console acts on, in address order.
    std::vector<ConsoleTarget> consoleTargets();

  private:
    std::vector<std::unique_ptr<Slave>> slaves_;
};

} // namespace hx::sim
