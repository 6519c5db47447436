#include "LineTiming.h"

#include <algorithm>

namespace hx {

LineTiming lineTimingFor(int32_t baud, bool parity) {
    using std::chrono::microseconds;
    const int bits = parity ? 11 : 10;
    const auto character = microseconds((bits * 1000000LL + baud - 1) / std::max<int32_t>(baud, 1));
    // The wait for the first byte covers the request still leaving the UART, the silent
    // interval that ends it (3.5 characters), the instrument's turnaround and the adapter.
    const auto response =
        character * kRequestBytes + character * 7 / 2 + kInstrumentTurnaround + kAdapterLatency;
    const auto byteGap = std::max<microseconds>(character * 4, kAdapterLatency);
    const auto longest = response + character * kLongestAnswerBytes;
    return LineTiming{character, response, byteGap, longest};
}

namespace {

LineTiming gatewayTimingWith(std::chrono::milliseconds network) {
    const LineTiming slowest = lineTimingFor(4800, true);
    const auto frames = slowest.character * (kRequestBytes + kLongestAnswerBytes) + slowest.character * 7 / 2;
    const auto response = frames + kInstrumentTurnaround + network;
    return LineTiming{slowest.character, response, kAdapterLatency, response + kAdapterLatency};
}

} // namespace

LineTiming gatewayTiming() {
    return gatewayTimingWith(kNetworkAllowance);
}

LineTiming remoteGatewayTiming() {
    // Bytes of one answer may straggle across the network as well.
    LineTiming timing = gatewayTimingWith(kRemoteNetworkAllowance);
    timing.byteTimeout = kRemoteNetworkAllowance / 2;
    timing.longestExchange = timing.responseTimeout + timing.byteTimeout;
    return timing;
}

} // namespace hx
