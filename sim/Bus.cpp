#include "sim/Bus.h"

namespace hx::sim {

Slave::Slave(int address, const SimOptions& options)
    : address(address), instrument(address, options.baudCode(), options.parityCode()), faults(options.faults),
      responder(instrument, faults, address) {
    if (!options.slaves.empty()) instrument.setLineIndex(address - 1);
    instrument.setStatic(options.frozen);
    instrument.setDemo(options.demo);
    instrument.setOpenCircuit(options.openCircuit);
    instrument.setShortCircuit(options.shortCircuit);
}

Bus::Bus(const SimOptions& options) {
    for (int address : options.addresses())
        slaves_.push_back(std::make_unique<Slave>(address, options));
}

Slave* Bus::find(int address) {
    for (const auto& slave : slaves_)
        if (slave->address == address) return slave.get();
    return nullptr;
}

void Bus::update(double seconds) {
    for (const auto& slave : slaves_)
        slave->instrument.update(seconds);
}

void Bus::broadcast(std::span<const uint8_t> frame, double seconds) {
    for (const auto& slave : slaves_) {
        if (slave->faults.silent) continue; // cut off from the line: it hears nothing
        slave->instrument.update(seconds);
        slave->responder.respond(frame);
    }
}

std::vector<ConsoleTarget> Bus::consoleTargets() {
    std::vector<ConsoleTarget> targets;
    for (const auto& slave : slaves_)
        targets.push_back({slave->address, &slave->instrument, &slave->faults, &slave->responder});
    return targets;
}

} // namespace hx::sim
