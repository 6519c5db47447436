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

} // namespace

Console::Console(Instrument& instrument, FaultSettings& faults, Responder& responder)
    : instrument_(instrument), faults_(faults), responder_(responder) {}

CommandReply Console::execute(std::string_view line, double seconds) {
    const auto words = wordsOf(line);
    if (words.empty()) return {"error empty command"};
    CommandReply reply;
    instrument_.update(seconds);
    reply.line = run(words, reply.quit);
    instrument_.update(seconds);
    return reply;
}

std::string Console::run(const std::vector<std::string>& w, bool& quit) {
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
            faults_.silent = *on;
        else if (verb == "static")
            instrument_.setStatic(*on);
        else {
            faults_.refuseFirstWrite = *on;
            responder_.resetRefusals();
        }
        return kOk;
    }
    if ((verb == "delay" || verb == "drop-every" || verb == "corrupt-every" || verb == "exception-every" ||
         verb == "silent-after") &&
        w.size() == 2) {
        const auto n = parseNumber(w[1], 0, verb == "delay" ? 60000 : 1000000);
        if (!n) return bad("delay MS | drop-every N | corrupt-every N | exception-every N | silent-after N");
        int& field = verb == "delay"           ? faults_.delayMs
                     : verb == "drop-every"    ? faults_.dropEvery
                     : verb == "corrupt-every" ? faults_.corruptEvery
                     : verb == "silent-after"  ? faults_.silentAfter
                                               : faults_.exceptionEvery;
        field = static_cast<int>(*n);
        responder_.restartCounts();
        return kOk;
    }
    if ((verb == "open-circuit" || verb == "short-circuit") && w.size() == 2) {
        const auto mask = parseNumber(w[1], 0, 255);
        if (!mask) return bad("open-circuit|short-circuit MASK (0..255)");
        if (verb == "open-circuit")
            instrument_.setOpenCircuit(static_cast<uint8_t>(*mask));
        else
            instrument_.setShortCircuit(static_cast<uint8_t>(*mask));
        return kOk;
    }
    if (verb == "get" && w.size() == 3) {
        const auto n = parseNumber(w[2], 0, 65536);
        if (!n) return bad("get ir|hr|di N");
        const int number = static_cast<int>(*n);
        std::optional<int> value;
        if (w[1] == "ir")
            value = instrument_.inputRegister(number);
        else if (w[1] == "hr")
            value = instrument_.holdingRegister(number);
        else if (w[1] == "di")
            value = instrument_.discreteInput(number);
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
            done = instrument_.pinInput(number, static_cast<int16_t>(*v));
        else if (w[1] == "hr")
            done = instrument_.setHolding(number, static_cast<uint16_t>(*v));
        else if (w[1] == "di") {
            if (*v != 0 && *v != 1) return bad("set di N 0|1");
            done = instrument_.setCircuitInput(number, *v == 1);
        } else {
            return bad("set ir|hr|di N V");
        }
        return done ? kOk : "error " + w[1] + " " + w[2] + " cannot be set";
    }
    if (verb == "release" && w.size() == 3 && w[1] == "ir") {
        const auto n = parseNumber(w[2], 1, kInputRegisters);
        if (!n || !instrument_.releaseInput(static_cast<int>(*n))) return bad("release ir N (1..16)");
        return kOk;
    }
    return "error unknown command: " + verb;
}

} // namespace hx::sim
