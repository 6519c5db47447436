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

class Console {
  public:
    Console(Instrument& instrument, FaultSettings& faults, Responder& responder);

    // `seconds` is the instrument's time, so that a changed setting shows at once in `get`.
    CommandReply execute(std::string_view line, double seconds);

  private:
    std::string run(const std::vector<std::string>& words, bool& quit);

    Instrument& instrument_;
    FaultSettings& faults_;
    Responder& responder_;
};

} // namespace hx::sim
