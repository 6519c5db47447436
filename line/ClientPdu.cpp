#include "line/ClientPdu.h"

#include <QStringList>

#include "line/LinePoll.h"
#include "ui/FailureText.h"

namespace hx::line {

namespace {

int wordAt(std::span<const uint8_t> pdu, size_t at) {
    return pdu[at] << 8 | pdu[at + 1];
}

struct Limits {
    uint8_t function;
    int most; // the largest quantity one request may carry
    bool write;
};
constexpr Limits kFunctions[] = {
    {0x01, 2000, false}, {0x02, 2000, false}, {0x03, 125, false}, {0x04, 125, false},
    {0x05, 1, true},     {0x06, 1, true},     {0x0F, 1968, true}, {0x10, 123, true},
};

const Limits* limitsOf(uint8_t function) {
    for (const Limits& l : kFunctions)
        if (l.function == function) return &l;
    return nullptr;
}

} // namespace

uint8_t checkRequest(std::span<const uint8_t> pdu) {
    if (pdu.empty()) return kIllegalFunction;
    const Limits* limits = limitsOf(pdu[0]);
    if (!limits) return kIllegalFunction;
    if (pdu.size() < 5) return kIllegalValue;
    const int first = wordAt(pdu, 1);
    const int second = wordAt(pdu, 3); // a quantity, or the value of a single write
    switch (pdu[0]) {
    case 0x05:
        return pdu.size() == 5 && (second == 0 || second == 0xFF00) ? 0 : kIllegalValue;
    case 0x06:
        return pdu.size() == 5 ? 0 : kIllegalValue;
    case 0x0F:
    case 0x10: {
        const int bytes = pdu[0] == 0x0F ? (second + 7) / 8 : 2 * second;
        if (pdu.size() < 6 || second < 1 || second > limits->most || pdu[5] != bytes ||
            pdu.size() != size_t(6 + bytes))
            return kIllegalValue;
        break;
    }
    default:
        if (pdu.size() != 5 || second < 1 || second > limits->most) return kIllegalValue;
    }
    return first + second > 0x10000 ? kIllegalAddress : 0;
}

bool isWriteRequest(std::span<const uint8_t> pdu) {
    const Limits* limits = pdu.empty() ? nullptr : limitsOf(pdu[0]);
    return limits && limits->write;
}

Pdu exceptionAnswer(std::span<const uint8_t> request, uint8_t code) {
    return {uint8_t((request.empty() ? 0 : request[0]) | 0x80), code};
}

std::optional<Pdu> answerFromCycle(std::span<const uint8_t> request, const CycleAnswers& cycle) {
    if (request.size() != 5) return std::nullopt;
    const int first = wordAt(request, 1);
    const int count = wordAt(request, 3);
    if (request[0] == 0x04 && count == 8 && (first == 0 || first == 8)) {
        const size_t block = size_t(first / 8);
        if (!cycle.valueBlocks[block]) return std::nullopt;
        Pdu answer{0x04, 16};
        for (size_t i = 8 * block; i < 8 * block + 8; ++i) {
            answer.push_back(uint8_t(cycle.values[i] >> 8));
            answer.push_back(uint8_t(cycle.values[i]));
        }
        return answer;
    }
    if (request[0] == 0x02 && count == 16 && (first == 0 || first == 16)) {
        const size_t block = size_t(first / 16);
        if (!cycle.discreteBlocks[block]) return std::nullopt;
        return Pdu{0x02, 2, uint8_t(cycle.discrete[2 * block]), uint8_t(cycle.discrete[2 * block + 1])};
    }
    return std::nullopt;
}

JournalEvent clientWriteEvent(const QString& client, std::span<const uint8_t> request,
                              const std::optional<Pdu>& answer, const std::optional<CallFailure>& failure) {
    JournalEvent e;
    const bool confirmed = answer && !answer->empty() && (*answer)[0] == request[0];
    e.kind = confirmed ? EventKind::WriteConfirmed : EventKind::WriteFailed;
    // The instrument's own numbering, as the windows write it: holding register 4097 is
    // protocol address 4096.
    const int first = wordAt(request, 1) + 1;
    const int second = wordAt(request, 3);
    const bool coils = request[0] == 0x05 || request[0] == 0x0F;
    QStringList values;
    int count = 1;
    if (request[0] == 0x05)
        values << QString::number(second ? 1 : 0);
    else if (request[0] == 0x06)
        values << QString::number(int16_t(second));
    else {
        count = second;
        for (int i = 0; i < count; ++i)
            values << QString::number(coils ? (request[6 + size_t(i / 8)] >> (i % 8)) & 1
                                            : int16_t(wordAt(request, 6 + 2 * size_t(i))));
    }
    e.subject = QString::number(first);
    const QString where =
        count == 1 ? QString::number(first) : QStringLiteral("%1..%2").arg(first).arg(first + count - 1);
    e.text = QStringLiteral("客户端 %1 %2 %3 = %4: ")
                 .arg(client, coils ? QStringLiteral("线圈") : QStringLiteral("寄存器"), where,
                      values.join(QStringLiteral(", ")));
    if (confirmed)
        e.text += QStringLiteral("已确认");
    else
        e.text += QStringLiteral("失败 ") +
                  QString::fromStdString(failureText(failure.value_or(CallFailure{LinkFailure::Timeout})));
    return e;
}

} // namespace hx::line
