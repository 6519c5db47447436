#include "PortSession.h"

#include "core/FreshValues.h"
#include "core/TextNumber.h"
#include "link/OperatorWrite.h"
#include "ui/FailureText.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

namespace hx {

bool linkLooksSilent(const LinkStats& stats, int64_t nowMs, bool portOpen, int64_t openedAtMs) {
    if (!portOpen) return false;
    const int64_t since = std::max(stats.lastGoodAnswerMs, openedAtMs);
    return stats.backingOff || nowMs - since > kSilentAfterMs;
}

LinkStats statsSince(const LinkStats& now, const LinkStats& base) {
    LinkStats since = now;
    const auto less = [](uint64_t a, uint64_t b) { return a >= b ? a - b : a; };
    since.transactions = less(now.transactions, base.transactions);
    since.good = less(now.good, base.good);
    since.timeouts = less(now.timeouts, base.timeouts);
    since.framingErrors = less(now.framingErrors, base.framingErrors);
    since.exceptions = less(now.exceptions, base.exceptions);
    since.refused = less(now.refused, base.refused);
    since.ioErrors = less(now.ioErrors, base.ioErrors);
    since.skippedInBackOff = less(now.skippedInBackOff, base.skippedInBackOff);
    if (now.lastGoodAnswerMs <= base.lastGoodAnswerMs) since.lastGoodAnswerMs = 0;
    return since;
}

std::optional<int32_t> PortSession::acceptAddress(const QString& text) {
    const std::optional<double> number = wholeNumberOf(text);
    const std::optional<int32_t> address = number ? toInt32(*number) : std::nullopt;
    if (address && *address >= kLowestSlaveAddress && *address <= kHighestSlaveAddress) {
        refused_.clear();
        return address;
    }
    refused_ = QStringLiteral("模块地址 \"%1\" 无效, 应为 %2..%3, 端口未打开")
                   .arg(text.trimmed())
                   .arg(kLowestSlaveAddress)
                   .arg(kHighestSlaveAddress);
    return std::nullopt;
}

int32_t PortSession::open(Link* link, const WriteLog* writes, int32_t port, int32_t baud, int32_t parity) {
    freshValues().forget();
    const int32_t result = link ? link->OpenPort_Modbus(port, baud, parity) : kCallFailed;
    port_ = port;
    everOpened_ = true;
    open_ = link && link->portStatus(port).open;
    if (link) statsAtOpen_ = link->stats();
    if (writes) failedWritesAtOpen_ = writes->failed;
    openedAtMs_ = QDateTime::currentMSecsSinceEpoch();
    return result;
}

bool PortSession::close(Link* link, int32_t port) {
    if (link) link->ClosePort_Modbus(port);
    port_ = port;
    freshValues().forget();
    return std::exchange(open_, false);
}

PortReading PortSession::read(const Link* link, const WriteLog* writes, int32_t port) const {
    PortReading reading;
    reading.port = port;
    reading.everOpened = everOpened_;
    reading.addressRefused = refused_;
    if (link) {
        reading.status = link->portStatus(port);
        reading.stats = statsSince(link->stats(), statsAtOpen_);
    }
    if (writes) {
        reading.failedWrites = writes->failed - failedWritesAtOpen_;
        if (writes->lastFailure) reading.lastWriteFailure = writeFailureText(*writes->lastFailure);
    }
    reading.openedAtMs = openedAtMs_;
    reading.nowMs = QDateTime::currentMSecsSinceEpoch();
    return reading;
}

} // namespace hx
