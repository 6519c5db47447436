#pragma once
// Time limits of one transaction on the serial line, from the wire time of the frames at
// the chosen speed plus the instrument's turnaround. Every link call runs on the window
// thread, so a silent instrument must not hold it for more than about a quarter second.
#include <chrono>
#include <cstdint>

namespace hx {

struct LineTiming {
    std::chrono::microseconds character;       // one character on the wire
    std::chrono::microseconds responseTimeout; // request sent -> first byte of the answer
    std::chrono::microseconds byteTimeout;     // gap allowed between bytes of one answer
    std::chrono::microseconds longestExchange; // worst case of one answered call
};

// Baud in bits per second, parity true for odd/even (11 bits per character, else 10).
LineTiming lineTimingFor(int32_t baud, bool parity);

// The longest frames the program exchanges: a request is 8 bytes, the longest answer
// (16 holding registers) is 37 bytes.
constexpr int kRequestBytes = 8;
constexpr int kLongestAnswerBytes = 37;
// The instrument answers within its configurable communication delay (0..60 ms).
constexpr std::chrono::milliseconds kInstrumentTurnaround{60};
// USB serial adapters hand bytes over in bursts (latency timer, typically 16 ms).
constexpr std::chrono::milliseconds kAdapterLatency{20};

// Behind a Modbus TCP gateway the serial side runs at the gateway's own setting, unknown here:
// the limits cover the slowest line (4800 baud with parity). The gateway forwards an answer
// once it has the whole frame, so the first byte comes after both frames' wire time and the
// instrument's turnaround, plus the network. About 191 ms.
LineTiming gatewayTiming();
// A connection to the gateway must be made within this, or the call fails (and is retried with
// the back-off): with the longest answered exchange it stays within a quarter second.
constexpr std::chrono::milliseconds kGatewayConnectTimeout{30};
// What the network adds to an answer's wait (a LAN, a VPN, the gateway's own scheduling).
constexpr std::chrono::milliseconds kNetworkAllowance{20};

// A link on a thread of its own (the line service) may wait as long as a gateway far away
// needs: a round trip of up to 300 ms over a VPN or a cellular link, and some to spare. The
// connection is one round trip, the answer another on top of the frames' wire time.
constexpr std::chrono::milliseconds kRemoteNetworkAllowance{400};
LineTiming remoteGatewayTiming();
constexpr std::chrono::milliseconds kRemoteGatewayConnectTimeout{1000};

} // namespace hx
