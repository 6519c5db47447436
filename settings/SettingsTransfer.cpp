#include "SettingsTransfer.h"

#include "instrument/FactoryRegisters.h"
#include "instrument/LineRegisters.h"

#include <span>

namespace hx::config {

namespace {

// count (8 or 16) registers from first, asked once more when the first try fails.
bool readBlock(Link& link, const LineSettings& line, int32_t first, int count, std::span<int32_t> into) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int32_t rc = count == 16 ? link.Get_4X_D16(line.port, line.address, first, into)
                                       : link.Get_4X_D8(line.port, line.address, first, into);
        if (rc == 0) return true;
    }
    return false;
}

// The value of one register: the eight-register block of the sheet's reads that holds it.
std::optional<int32_t> readOne(Link& link, const LineSettings& line, int32_t reg) {
    for (const SheetRead& block : kSheetReads) {
        if (reg < block.first || reg >= block.first + block.count) continue;
        const int32_t first = reg - (reg - block.first) % 8;
        int32_t values[8] = {};
        if (!readBlock(link, line, first, 8, values)) return std::nullopt;
        return values[reg - first];
    }
    return std::nullopt;
}

} // namespace

LineSettings afterWriting(LineSettings line, int32_t reg, int32_t value) {
    if (reg == kLineRegisters.address) line.address = value;
    if (reg == kLineRegisters.baud) line.baudChoice = value;
    if (reg == kLineRegisters.parity) line.parityChoice = value;
    return line;
}

QString causeText(const CallFailure& failure) {
    switch (failure.kind) {
    case LinkFailure::Timeout:
        return QStringLiteral("no answer (timeout)");
    case LinkFailure::Framing:
        return QStringLiteral("bad answer (CRC or framing)");
    case LinkFailure::Exception:
        return QStringLiteral("exception %1 from the instrument").arg(failure.exceptionCode);
    case LinkFailure::Refused:
        return QStringLiteral("not sent (port not open or bad value)");
    case LinkFailure::Io:
        return QStringLiteral("serial device error");
    case LinkFailure::BackOff:
        return QStringLiteral("not sent (instrument silent)");
    case LinkFailure::Connection:
        return QStringLiteral("gateway connection failed (error %1)").arg(failure.systemError);
    }
    return {};
}

QString parityName(int32_t choice) {
    return choice == 0   ? QStringLiteral("none")
           : choice == 1 ? QStringLiteral("odd")
           : choice == 2 ? QStringLiteral("even")
                         : QString();
}

QString lineText(const LineSettings& line) {
    return QStringLiteral("address %1, %2 baud, parity %3")
        .arg(line.address)
        .arg(baudOfChoice(line.baudChoice))
        .arg(parityName(line.parityChoice));
}

std::optional<RegisterValues> readSettings(Link& link, const LineSettings& line, QString* error) {
    RegisterValues values;
    for (const SheetRead& block : kSheetReads) {
        int32_t buffer[16] = {};
        if (!readBlock(link, line, block.first, block.count,
                       std::span<int32_t>(buffer, size_t(block.count)))) {
            if (error)
                *error = QStringLiteral("registers %1..%2 could not be read: %3")
                             .arg(block.first)
                             .arg(block.first + block.count - 1)
                             .arg(causeText(link.lastFailure().value_or(CallFailure{})));
            return std::nullopt;
        }
        for (int i = 0; i < block.count; ++i)
            values[block.first + i] = buffer[i];
    }
    return values;
}

RestoreRun runRestore(Link& link, const LineSettings& line, const std::vector<Difference>& writes,
                      const std::function<void(const WriteResult&)>& report) {
    RestoreRun run;
    run.line = line;
    for (const Difference& d : writes) {
        WriteResult result{d, WriteOutcome::NoAnswer, false, 0, std::nullopt};
        int32_t rc = link.Set_4X_D1(run.line.port, run.line.address, d.reg, d.file);
        if (rc == kWriteFailed) rc = link.Set_4X_D1(run.line.port, run.line.address, d.reg, d.file);
        result.answered = rc == 0;
        const std::optional<CallFailure> writeFailure = rc == 0 ? std::nullopt : link.lastFailure();
        std::optional<int32_t> readBack = readOne(link, run.line, d.reg);
        const bool lineSetting = kLineRegisters.holds(d.reg);
        if (!readBack && lineSetting) {
            // The instrument may have taken its new line setting at once.
            const LineSettings moved = afterWriting(run.line, d.reg, d.file);
            if (link.OpenPort_Modbus(moved.port, moved.baudChoice, moved.parityChoice) == 0) {
                readBack = readOne(link, moved, d.reg);
                if (readBack) {
                    run.line = moved;
                } else {
                    link.OpenPort_Modbus(run.line.port, run.line.baudChoice, run.line.parityChoice);
                }
            }
        }
        if (writeFailure && writeFailure->kind == LinkFailure::Exception) {
            result.outcome = WriteOutcome::Refused;
            result.failure = writeFailure;
        } else if (readBack) {
            result.readBack = *readBack;
            result.outcome = *readBack == d.file ? WriteOutcome::Confirmed : WriteOutcome::Differs;
        } else {
            result.failure = writeFailure ? writeFailure : link.lastFailure();
        }
        run.results.push_back(result);
        report(result);
        if (result.outcome == WriteOutcome::NoAnswer) {
            run.stopped = true;
            break;
        }
    }
    return run;
}

} // namespace hx::config
