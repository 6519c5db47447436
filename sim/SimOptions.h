#pragma once
// Command-line options of hx5800-sim: one struct, parsed in one place. Each option is one
// row of the option table in SimOptions.cpp, which also writes the --help text.
#include "core/AddressList.h"
#include "sim/Responder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx::sim {

struct SimOptions {
    std::string ptyPath;    // --pty: serve a new pseudo-terminal, this path links to its client end
    std::string devicePath; // --device: serve an existing serial device
    int tcpPort = -1;       // --tcp: serve Modbus TCP on this port, as a gateway would (0: any free port)
    std::string bindAddress = "127.0.0.1"; // --bind: the address it listens on
    int slave = 1;                         // --slave: the one instrument's address
    std::vector<int> slaves; // --slaves: several instruments on the line, ascending; empty: --slave
    int baud = 9600;
    char parity = 'N';   // 'N', 'O', 'E'
    bool frozen = false; // --static
    bool pace = false;   // --pace: answers take as long as on a real line
    bool demo = false;   // --demo
    uint8_t openCircuit = 0;
    uint8_t shortCircuit = 0;
    FaultSettings faults;
    bool verbose = false;
    bool help = false;

    int baudCode() const { return baud == 4800 ? 0 : baud == 19200 ? 2 : 1; }
    int parityCode() const { return parity == 'O' ? 1 : parity == 'E' ? 2 : 0; }
    bool tcp() const { return tcpPort >= 0; }
    // The addresses answered on the line, ascending.
    std::vector<int> addresses() const { return slaves.empty() ? std::vector<int>{slave} : slaves; }
};

// How long an answer takes on a real line from the moment its request starts: the request's
// wire time, the 3.5-character silence that ends it, and the answer's wire time (a character
// is a start bit, 8 data bits, the parity bit if any and a stop bit).
int64_t pacedAnswerMicroseconds(size_t requestBytes, size_t answerBytes, int baud, char parity);

struct ParsedOptions {
    SimOptions options;
    std::string error; // empty when the command line was good
};

// `args` without the program name.
ParsedOptions parseOptions(const std::vector<std::string>& args);
std::string helpText();

} // namespace hx::sim
