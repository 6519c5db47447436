#pragma once
// Run-time control of the simulator: one command line in, one reply line out ("ok", the
// value asked for, or "error <why>"). The command list is in the --help text.
#include "sim/Instrument.h"
#include "sim/Responder.h"

#include <string>
#include <string_view>
#include <vector>

namespace hx::sim {

struct CommandReply {
    std::string line; // without newline
    bool quit = false;
};

// One instrument the console acts on, by its address on the line.
struct ConsoleTarget {
    int address;
    Instrument* instrument;
    FaultSettings* faults;
    Responder* responder;
};

class Console {
  public:
    // The single instrument of a line.
    Console(Instrument& instrument, FaultSettings& faults, Responder& responder);
    // Several instruments on one line, in address order (at least one).
    explicit Console(std::vector<ConsoleTarget> targets);

    // `seconds` is the instrument's time, so that a changed setting shows at once in `get`.
    // An address right after the verb ("silent 3 on", "get 3 ir 1") picks one instrument;
    // without one a command acts on every instrument and `get` reads the first.
    CommandReply execute(std::string_view line, double seconds);

  private:
    std::string run(const ConsoleTarget& target, const std::vector<std::string>& words, bool& quit);

    std::vector<ConsoleTarget> targets_;
};

} // namespace hx::sim
