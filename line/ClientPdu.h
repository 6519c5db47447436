#pragma once
// The requests the line service takes from its Modbus TCP clients, as PDUs (function code and
// data, without the MBAP header): which it passes on, which it answers itself, and the journal
// entry of a write.
#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "journal/JournalEvent.h"
#include "link/Link.h"

namespace hx::line {

struct CycleAnswers;

using Pdu = std::vector<uint8_t>;

// The exception codes the service answers with itself.
constexpr uint8_t kIllegalFunction = 0x01;
constexpr uint8_t kIllegalAddress = 0x02;
constexpr uint8_t kIllegalValue = 0x03;
constexpr uint8_t kServerBusy = 0x06;
constexpr uint8_t kTargetFailedToRespond = 0x0B; // as a gateway answers for a silent instrument

// 0 for a request that may go to an instrument: function codes 1, 2, 3, 4 (reads), 5, 6, 15 and
// 16 (writes), of the right length, quantities within the protocol's limits. Otherwise the
// exception code the client gets without the line being touched.
uint8_t checkRequest(std::span<const uint8_t> pdu);
bool isWriteRequest(std::span<const uint8_t> pdu);
Pdu exceptionAnswer(std::span<const uint8_t> request, uint8_t code);

// The answer to a read of exactly one block a poll cycle reads (input registers 1..8 or 9..16,
// discrete inputs 1..16 or 17..32), from the cycle's answers; nullopt for any other request or
// when that block's read failed in the cycle.
std::optional<Pdu> answerFromCycle(std::span<const uint8_t> request, const CycleAnswers& cycle);

// The journal entry of a write a client sent: the register (or coil) and values, the client
// (address:port) and the outcome. answer: the instrument's, nullopt when none came (failure
// says why).
JournalEvent clientWriteEvent(const QString& client, std::span<const uint8_t> request,
                              const std::optional<Pdu>& answer, const std::optional<CallFailure>& failure);

} // namespace hx::line
