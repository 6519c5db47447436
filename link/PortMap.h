#pragma once
// Which device a port number opens: the environment variable HX5800_COM<n> when set
// (a USB adapter, a pseudo-terminal, a Modbus TCP gateway as tcp://HOST:PORT, ...);
// otherwise /dev/ttyUSB<n-1> when it exists, else /dev/ttyS<n-1>.
#include <cstdint>
#include <optional>
#include <string>

namespace hx {

std::string devicePathForPort(int32_t port);
// The device a command line's --port names: a port number (1..65535) through the map above,
// anything else (a device path, tcp://HOST[:PORT]) as it is.
std::string devicePathForPortText(const std::string& text);

// A serial-to-Ethernet gateway speaking Modbus TCP: a host name, an IPv4 address or an IPv6
// address (written in brackets in the port's name), and the TCP port.
struct GatewayAddress {
    std::string host;
    std::string service; // the port number as text, "502" when the name gives none
};

// True when `device` names a gateway (starts with "tcp://"), well-formed or not.
bool namesGateway(const std::string& device);
// The gateway of "tcp://HOST[:PORT]" or "tcp://[IPV6][:PORT]"; nullopt when malformed.
std::optional<GatewayAddress> gatewayOf(const std::string& device);

} // namespace hx
