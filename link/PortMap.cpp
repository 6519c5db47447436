#include "PortMap.h"

#include <cstdlib>
#include <sys/stat.h>

namespace hx {

namespace {

constexpr std::string_view kGatewayScheme = "tcp://";

bool isPortNumber(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long n = std::strtol(text.c_str(), nullptr, 10);
    return n >= 1 && n <= 65535;
}

} // namespace

std::string devicePathForPort(int32_t port) {
    const std::string name = "HX5800_COM" + std::to_string(port);
    if (const char* mapped = std::getenv(name.c_str()); mapped && *mapped) return mapped;
    if (port < 1) return {};
    const std::string usb = "/dev/ttyUSB" + std::to_string(port - 1);
    struct stat st {};
    if (::stat(usb.c_str(), &st) == 0) return usb;
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string devicePathForPortText(const std::string& text) {
    return isPortNumber(text) ? devicePathForPort(int32_t(std::stol(text))) : text;
}

bool namesGateway(const std::string& device) {
    return device.rfind(kGatewayScheme, 0) == 0;
}

std::optional<GatewayAddress> gatewayOf(const std::string& device) {
    if (!namesGateway(device)) return std::nullopt;
    std::string rest = device.substr(kGatewayScheme.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    GatewayAddress gateway{{}, "502"};
    std::string::size_type portAt = std::string::npos;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) return std::nullopt;
        gateway.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return std::nullopt;
            portAt = close + 2;
        }
    } else {
        const auto colon = rest.find(':');
        gateway.host = rest.substr(0, colon);
        if (colon != std::string::npos) portAt = colon + 1;
    }
    if (portAt != std::string::npos) gateway.service = rest.substr(portAt);
    if (gateway.host.empty() || gateway.host.find_first_of("/ ") != std::string::npos ||
        !isPortNumber(gateway.service))
        return std::nullopt;
    return gateway;
}

} // namespace hx
