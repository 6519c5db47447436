#include "sim/SimOptions.h"

#include <algorithm>
#include <charconv>
#include <functional>

namespace hx::sim {

namespace {

struct OptionRow {
    const char* name;
    const char* argument; // nullptr for a switch
    const char* help;
    // Applies the option; returns an error text, empty when the value was good.
    std::function<std::string(SimOptions&, std::string_view)> apply;
};

template <typename T>
std::function<std::string(SimOptions&, std::string_view)> number(T SimOptions::*field, long min, long max) {
    return [field, min, max](SimOptions& o, std::string_view v) -> std::string {
        const auto n = parseNumber(v, min, max);
        if (!n) return "expects a number from " + std::to_string(min) + " to " + std::to_string(max);
        o.*field = static_cast<T>(*n);
        return {};
    };
}

template <typename T>
std::function<std::string(SimOptions&, std::string_view)> fault(T FaultSettings::*field, long max) {
    return [field, max](SimOptions& o, std::string_view v) -> std::string {
        const auto n = parseNumber(v, 0, max);
        if (!n) return "expects a number from 0 to " + std::to_string(max);
        o.faults.*field = static_cast<T>(*n);
        return {};
    };
}

const std::vector<OptionRow>& optionTable() {
    static const std::vector<OptionRow> table = {
        {"--pty", "PATH",
         "create a pseudo-terminal and make PATH a symbolic link to its client end (removed at exit)",
         [](SimOptions& o, std::string_view v) {
             o.ptyPath = v;
             return std::string{};
         }},
        {"--device", "PATH", "serve an existing serial device instead",
         [](SimOptions& o, std::string_view v) {
             o.devicePath = v;
             return std::string{};
         }},
        {"--tcp", "PORT",
         "serve Modbus TCP on PORT as a serial-to-Ethernet gateway would, the unit identifier being the "
         "slave address (0: a free port, named in the ready line)",
         number(&SimOptions::tcpPort, 0, 65535)},
        {"--bind", "ADDRESS", "the address --tcp listens on, IPv4 or IPv6 (default 127.0.0.1)",
         [](SimOptions& o, std::string_view v) {
             o.bindAddress = v;
             return std::string{};
         }},
        {"--slave", "N",
         "slave address to answer, 1..247 (default 1, shown in 4105); other addresses are ignored",
         number(&SimOptions::slave, 1, 247)},
        {"--slaves", "LIST",
         "several instruments on the one line, e.g. 1-4,7 (1..247, each once); each has its own values, "
         "alarms, registers and faults, and the commands take its address",
         [](SimOptions& o, std::string_view v) {
             std::string why;
             const auto list = parseAddressList(v, why);
             if (list) o.slaves = *list;
             return why;
         }},
        {"--baud", "RATE",
         "4800, 9600 or 19200 (default 9600); shown in 4106. A pseudo-terminal does not pace bytes at any "
         "rate",
         [](SimOptions& o, std::string_view v) {
             const auto n = parseNumber(v, 0, 1000000);
             if (!n || (*n != 4800 && *n != 9600 && *n != 19200))
                 return std::string{"expects 4800, 9600 or 19200"};
             o.baud = static_cast<int>(*n);
             return std::string{};
         }},
        {"--parity", "P", "none, odd or even (default none); shown in 4107",
         [](SimOptions& o, std::string_view v) {
             if (v == "none")
                 o.parity = 'N';
             else if (v == "odd")
                 o.parity = 'O';
             else if (v == "even")
                 o.parity = 'E';
             else
                 return std::string{"expects none, odd or even"};
             return std::string{};
         }},
        {"--static", nullptr, "freeze the channel values (see below)",
         [](SimOptions& o, std::string_view) {
             o.frozen = true;
             return std::string{};
         }},
        {"--demo", nullptr, "demonstration: CH5 open circuit 10 s a minute, CH6 short circuit 8 s in 90 s",
         [](SimOptions& o, std::string_view) { return o.demo = true, std::string{}; }},
        {"--open-circuit", "MASK", "channels in open-circuit alarm, bit n-1 for channel n (0..255)",
         number(&SimOptions::openCircuit, 0, 255)},
        {"--short-circuit", "MASK", "channels in short-circuit alarm, bit n-1 for channel n (0..255)",
         number(&SimOptions::shortCircuit, 0, 255)},
        {"--silent", nullptr, "answer nothing (requests received meanwhile are dropped)",
         [](SimOptions& o, std::string_view) {
             o.faults.silent = true;
             return std::string{};
         }},
        {"--delay", "MS", "wait MS milliseconds before each answer", fault(&FaultSettings::delayMs, 60000)},
        {"--pace", nullptr,
         "answer as late as a real line at --baud/--parity would: request and answer wire time and the "
         "3.5-character silence between them (added to --delay)",
         [](SimOptions& o, std::string_view) {
             o.pace = true;
             return std::string{};
         }},
        {"--drop-every", "N", "do not send every Nth answer (0 = off)",
         fault(&FaultSettings::dropEvery, 1000000)},
        {"--corrupt-every", "N",
         "send every Nth answer with a bad CRC (over --tcp: with a wrong transaction id) (0 = off)",
         fault(&FaultSettings::corruptEvery, 1000000)},
        {"--exception-every", "N", "answer every Nth request with exception 06, slave device busy (0 = off)",
         fault(&FaultSettings::exceptionEvery, 1000000)},
        {"--refuse-first-write", nullptr,
         "answer the first write of each register with exception 06; the next write of it succeeds",
         [](SimOptions& o, std::string_view) {
             o.faults.refuseFirstWrite = true;
             return std::string{};
         }},
        {"--verbose", nullptr, "log every request and answer on standard error",
         [](SimOptions& o, std::string_view) {
             o.verbose = true;
             return std::string{};
         }},
        {"--help", nullptr, "show this text",
         [](SimOptions& o, std::string_view) {
             o.help = true;
             return std::string{};
         }},
    };
    return table;
}

} // namespace

int64_t pacedAnswerMicroseconds(size_t requestBytes, size_t answerBytes, int baud, char parity) {
    const int bitsPerCharacter = parity == 'N' ? 10 : 11;
    const double characters = double(requestBytes) + 3.5 + double(answerBytes);
    return static_cast<int64_t>(characters * bitsPerCharacter * 1e6 / baud + 0.5);
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    bool oneSlave = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto& table = optionTable();
        const auto row =
            std::find_if(table.begin(), table.end(), [&](const OptionRow& r) { return arg == r.name; });
        if (row == table.end()) {
            result.error = "unknown option " + arg;
            return result;
        }
        std::string_view value;
        if (row->argument) {
            if (i + 1 >= args.size()) {
                result.error = arg + " needs " + row->argument;
                return result;
            }
            value = args[++i];
        }
        if (std::string why = row->apply(result.options, value); !why.empty()) {
            result.error = arg + " " + why;
            return result;
        }
        oneSlave = oneSlave || arg == "--slave";
    }
    const SimOptions& o = result.options;
    if (oneSlave && !o.slaves.empty()) {
        result.error = "give either --slave N or --slaves LIST";
        return result;
    }
    const int lines = int(!o.ptyPath.empty()) + int(!o.devicePath.empty()) + int(o.tcp());
    if (!o.help && lines != 1) result.error = "give either --pty PATH, --device PATH or --tcp PORT";
    return result;
}

std::string helpText() {
    std::string text =
        "Usage: hx5800-sim (--pty PATH | --device PATH | --tcp PORT) [options]\n"
        "The HX5800 instrument on a Modbus RTU line, for demonstrations and tests.\n\nOptions:\n";
    for (const OptionRow& row : optionTable()) {
        std::string head =
            std::string("  ") + row.name + (row.argument ? std::string(" ") + row.argument : "");
        head.resize(std::max<size_t>(head.size() + 1, 26), ' ');
        text += head + row.help + "\n";
    }
    text += R"(
Channel values move in slow waves inside each channel's input range (holding registers
4123+8(n-1) upper, 4124+8(n-1) lower). With --static they hold, with the factory ranges:
  CH1 2500  CH2 -1500  CH3 1234  CH4 3750  CH5 -320  CH6 455  CH7 612  CH8 7001
(clamped into a changed range, shifted by the channel's offset 4125+8(n-1)). Then DA1
(input register 9) is 3889, DA2 (10) 7500, the setpoint alarms of CH2 and CH4 are on
(discrete inputs 18 and 20) and relay DO1 (25) is closed.
Input registers 11..16 hold 253, 240, 103, 5800, 0, 0.
With --slaves the instrument at address A runs 23(A-1) s ahead of address 1 (waves and
--demo faults) and its --static values lie 10(A-1) higher (within the range).

Commands on standard input, one per line; each gets one line on standard output, the
value for get, "ok", or "error <why>". An address right after the verb picks one
instrument ("silent 3 on", "get 3 ir 1", "set 3 hr 257 100"); without one a command acts
on every instrument of the line and get reads the first (the lowest address):
  silent on|off            delay MS                  static on|off
  drop-every N             corrupt-every N           exception-every N
  silent-after N           answer N more requests, then fall silent (as "silent on")
  refuse-first-write on|off
  open-circuit MASK        short-circuit MASK
  set ir N V   pin input register N (1..16) to V     release ir N
  set hr N V   set holding register N (calibration too)
  set di N 0|1 set open-circuit (1..8) or short-circuit (9..16) input N
  get ir N | get hr N | get di N
  quit
"ready <path>" is printed once the line is served ("ready tcp://ADDRESS:PORT" over --tcp).
)";
    return text;
}

} // namespace hx::sim
