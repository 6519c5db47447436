#include "sim/Responder.h"

#include <cstdio>

namespace hx::sim {

namespace {

constexpr int kMaxReadRegisters = 125;
constexpr int kMaxReadBits = 2000;
constexpr int kMaxWriteRegisters = 123;

int word(std::span<const uint8_t> pdu, size_t at) {
    return (pdu[at] << 8) | pdu[at + 1];
}

void putWord(std::vector<uint8_t>& out, int v) {
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

std::vector<uint8_t> exception(uint8_t function, uint8_t code) {
    return {static_cast<uint8_t>(function | 0x80), code};
}

} // namespace

uint16_t modbusCrc(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

std::vector<uint8_t> withCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = modbusCrc(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

std::string hexOf(std::span<const uint8_t> bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", b);
        out += buf;
    }
    return out;
}

Responder::Responder(Instrument& instrument, const FaultSettings& faults, int slave)
    : instrument_(instrument), faults_(faults), slave_(slave) {}

std::optional<std::vector<uint8_t>> Responder::respond(std::span<const uint8_t> request) {
    if (request.size() < 4) return std::nullopt;
    const int slave = request[0];
    const auto pdu = request.subspan(1, request.size() - 3);
    if (slave == 0) { // broadcast: writes are carried out, nothing is answered
        if (pdu[0] == kWriteSingleRegister || pdu[0] == kWriteMultipleRegisters) answerPdu(pdu);
        return std::nullopt;
    }
    if (slave != slave_) return std::nullopt;

    ++requests_;
    std::vector<uint8_t> answer;
    if (faults_.exceptionEvery > 0 && requests_ % faults_.exceptionEvery == 0)
        answer = exception(pdu[0], kSlaveDeviceBusy);
    else
        answer = answerPdu(pdu);

    ++answers_;
    if (faults_.dropEvery > 0 && answers_ % faults_.dropEvery == 0) return std::nullopt;
    answer.insert(answer.begin(), static_cast<uint8_t>(slave_));
    std::vector<uint8_t> frame = withCrc(std::move(answer));
    if (faults_.corruptEvery > 0 && answers_ % faults_.corruptEvery == 0) frame.back() ^= 0xFF;
    return frame;
}

std::vector<uint8_t> Responder::answerPdu(std::span<const uint8_t> pdu) {
    if (pdu.empty()) return exception(0, kIllegalFunction);
    const uint8_t function = pdu[0];
    switch (function) {
    case kReadHoldingRegisters:
    case kReadInputRegisters:
        return readRegisters(function, pdu);
    case kReadDiscreteInputs:
        return readDiscreteInputs(pdu);
    case kWriteSingleRegister:
    case kWriteMultipleRegisters:
        return writeRegisters(function, pdu);
    default:
        return exception(function, kIllegalFunction);
    }
}

std::vector<uint8_t> Responder::readRegisters(uint8_t function, std::span<const uint8_t> pdu) {
    if (pdu.size() != 5) return exception(function, kIllegalDataValue);
    const int first = word(pdu, 1) + 1; // protocol address + 1 = register number
    const int count = word(pdu, 3);
    if (count < 1 || count > kMaxReadRegisters) return exception(function, kIllegalDataValue);
    std::vector<uint8_t> out{function, static_cast<uint8_t>(2 * count)};
    for (int number = first; number < first + count; ++number) {
        const auto v = function == kReadInputRegisters ? instrument_.inputRegister(number)
                                                       : instrument_.holdingRegister(number);
        if (!v) return exception(function, kIllegalDataAddress);
        putWord(out, static_cast<uint16_t>(*v));
    }
    return out;
}

std::vector<uint8_t> Responder::readDiscreteInputs(std::span<const uint8_t> pdu) {
    if (pdu.size() != 5) return exception(kReadDiscreteInputs, kIllegalDataValue);
    const int first = word(pdu, 1) + 1;
    const int count = word(pdu, 3);
    if (count < 1 || count > kMaxReadBits) return exception(kReadDiscreteInputs, kIllegalDataValue);
    std::vector<uint8_t> out{kReadDiscreteInputs, static_cast<uint8_t>((count + 7) / 8)};
    out.resize(2 + (count + 7) / 8, 0);
    for (int i = 0; i < count; ++i) {
        const auto on = instrument_.discreteInput(first + i);
        if (!on) return exception(kReadDiscreteInputs, kIllegalDataAddress);
        if (*on) out[2 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    return out;
}

std::vector<uint8_t> Responder::writeRegisters(uint8_t function, std::span<const uint8_t> pdu) {
    const bool single = function == kWriteSingleRegister;
    if (pdu.size() < 5) return exception(function, kIllegalDataValue);
    const int first = word(pdu, 1) + 1;
    const int count = single ? 1 : word(pdu, 3);
    if (!single &&
        (count < 1 || count > kMaxWriteRegisters || pdu.size() != 6u + 2u * count || pdu[5] != 2 * count))
        return exception(function, kIllegalDataValue);
    if (single && pdu.size() != 5) return exception(function, kIllegalDataValue);

    for (int number = first; number < first + count; ++number) {
        const auto current = instrument_.holdingRegister(number);
        const bool calibration =
            number >= kCalibrationFirst && number < kCalibrationFirst + kCalibrationCount;
        if (!current || calibration) return exception(function, kIllegalDataAddress);
    }
    if (refuseWrite(first, count)) return exception(function, kSlaveDeviceBusy);

    for (int i = 0; i < count; ++i) {
        const int value = single ? word(pdu, 3) : word(pdu, 6 + 2 * i);
        instrument_.writeHolding(first + i, static_cast<uint16_t>(value));
    }
    if (single) return {pdu.begin(), pdu.end()};
    std::vector<uint8_t> out{function};
    putWord(out, first - 1);
    putWord(out, count);
    return out;
}

bool Responder::refuseWrite(int first, int count) {
    if (!faults_.refuseFirstWrite) return false;
    bool refuse = false;
    for (int number = first; number < first + count; ++number)
        refuse = refused_.insert(number).second || refuse;
    return refuse;
}

} // namespace hx::sim
