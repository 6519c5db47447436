#include "PortMap.h"

#include <cstdlib>
#include <sys/stat.h>

namespace hx {

std::string devicePathForPort(int32_t port) {
    const std::string name = "HX5800_COM" + std::to_string(port);
    if (const char* mapped = std::getenv(name.c_str()); mapped && *mapped) return mapped;
    if (port < 1) return {};
    const std::string usb = "/dev/ttyUSB" + std::to_string(port - 1);
    struct stat st {};
    if (::stat(usb.c_str(), &st) == 0) return usb;
    return "/dev/ttyS" + std::to_string(port - 1);
}

} // namespace hx
