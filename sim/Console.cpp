#include "sim/Console.h"

#include "sim/SimOptions.h"

#include <sstream>
#include <vector>

namespace hx::sim {

namespace {

std::vector<std::string> wordsOf(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::optional<bool> onOff(const std::string& word) {
    if (word == "on" || word == "1") return true;
    if (word == "off" || word == "0") return false;
    return std::nullopt;
}

const std::string kOk = "ok";

// The words after the verb when the command names no address; nullopt for an unknown verb.
std::optional<size_t> argumentCount(const std::string& verb) {
    static const std::vector<std::pair<std::string, size_t>> counts = {
        {"silent", 1},
        {"static", 1},
        {"refuse-first-write", 1},
        {"delay", 1},
        {"drop-every", 1},
        {"corrupt-every", 1},
        {"exception-every", 1},
        {"silent-after", 1},
        {"open-circuit", 1},
        {"short-circuit", 1},
        {"get", 2},
        {"release", 2},
        {"set", 3},
    };
    for (const auto& [name, count] : counts)
        if (name == verb) return count;
    return std::nullopt;
}

} // namespace

Console::Console(Instrument& instrument, FaultSettings& faults, Responder& responder)
    : targets_{{responder.slave(), &instrument, &faults, &responder}} {}

Console::Console(std::vector<ConsoleTarget> targets) : targets_(std::move(targets)) {}

CommandReply Console::execute(std::string_view line, double seconds) {
    auto words = wordsOf(line);
    if (words.empty()) return {"error empty command"};
    std::vector<const ConsoleTarget*> chosen;
    const auto arguments = argumentCount(words[0]);
    if (arguments && words.size() == *arguments + 2) {
        const auto address = parseNumber(words[1], 1, 247);
        for (const ConsoleTarget& t : targets_)
            if (address && t.address == *address) chosen.push_back(&t);
        if (chosen.empty()) return {"error no instrument at address " + words[1]};
        words.erase(words.begin() + 1);
    } else {
        for (const ConsoleTarget& t : targets_)
            chosen.push_back(&t);
        if (words[0] == "get") chosen.resize(1);
    }
    CommandReply reply;
    for (const ConsoleTarget* t : chosen) {
        t->instrument->update(seconds);
        const std::string answer = run(*t, words, reply.quit);
        t->instrument->update(seconds);
        if (reply.line.empty() || reply.line == kOk) reply.line = answer; // the first refusal is told
    }
    return reply;
}

std::string Console::run(const ConsoleTarget& target, const std::vector<std::string>& w, bool& quit) {
    Instrument& instrument = *target.instrument;
    FaultSettings& faults = *target.faults;
    Responder& responder = *target.responder;
    const std::string& verb = w[0];
    auto bad = [&](const char* usage) { return std::string("error usage: ") + usage; };

    if (verb == "quit" && w.size() == 1) {
        quit = true;
        return kOk;
    }
    if ((verb == "silent" || verb == "static" || verb == "refuse-first-write") && w.size() == 2) {
        const auto on = onOff(w[1]);
        if (!on) return bad("silent|static|refuse-first-write on|off");
        if (verb == "silent")
            faults.silent = *on;
        else if (verb == "static")
            instrument.setStatic(*on);
        else {
            faults.refuseFirstWrite = *on;
            responder.resetRefusals();
        }
        return kOk;
    }
    if ((verb == "delay" || verb == "drop-every" || verb == "corrupt-every" || verb == "exception-every" ||
         verb == "silent-after") &&
        w.size() == 2) {
        const auto n = parseNumber(w[1], 0, verb == "delay" ? 60000 : 1000000);
        if (!n) return bad("delay MS | drop-every N | corrupt-every N | exception-every N | silent-after N");
        int& field = verb == "delay"           ? faults.delayMs
                     : verb == "drop-every"    ? faults.dropEvery
                     : verb == "corrupt-every" ? faults.corruptEvery
                     : verb == "silent-after"  ? faults.silentAfter
                                               : faults.exceptionEvery;
        field = static_cast<int>(*n);
        responder.restartCounts();
        return kOk;
    }
    if ((verb == "open-circuit" || verb == "short-circuit") && w.size() == 2) {
        const auto mask = parseNumber(w[1], 0, 255);
        if (!mask) return bad("open-circuit|short-circuit MASK (0..255)");
        if (verb == "open-circuit")
            instrument.setOpenCircuit(static_cast<uint8_t>(*mask));
        else
            instrument.setShortCircuit(static_cast<uint8_t>(*mask));
        return kOk;
    }
    if (verb == "get" && w.size() == 3) {
        const auto n = parseNumber(w[2], 0, 65536);
        if (!n) return bad("get ir|hr|di N");
        const int number = static_cast<int>(*n);
        std::optional<int> value;
        if (w[1] == "ir")
            value = instrument.inputRegister(number);
        else if (w[1] == "hr")
            value = instrument.holdingRegister(number);
        else if (w[1] == "di")
            value = instrument.discreteInput(number);
        else
            return bad("get ir|hr|di N");
        if (!value) return "error " + w[1] + " " + w[2] + " is not mapped";
        return std::to_string(*value);
    }
    if (verb == "set" && w.size() == 4) {
        const auto n = parseNumber(w[2], 0, 65536);
        const auto v = parseNumber(w[3], -32768, 65535);
        if (!n || !v) return bad("set ir|hr N V (V -32768..65535) | set di N 0|1");
        const int number = static_cast<int>(*n);
        bool done = false;
        if (w[1] == "ir")
            done = instrument.pinInput(number, static_cast<int16_t>(*v));
        else if (w[1] == "hr")
            done = instrument.setHolding(number, static_cast<uint16_t>(*v));
        else if (w[1] == "di") {
            if (*v != 0 && *v != 1) return bad("set di N 0|1");
            done = instrument.setCircuitInput(number, *v == 1);
        } else {
            return bad("set ir|hr|di N V");
        }
        return done ? kOk : "error " + w[1] + " " + w[2] + " cannot be set";
    }
    if (verb == "release" && w.size() == 3 && w[1] == "ir") {
        const auto n = parseNumber(w[2], 1, kInputRegisters);
        if (!n || !instrument.releaseInput(static_cast<int>(*n))) return bad("release ir N (1..16)");
        return kOk;
    }
    return "error unknown command: " + verb;
}

} // namespace hx::sim
