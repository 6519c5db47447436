#pragma once
// Which device a port number opens: the environment variable HX5800_COM<n> when set
// (a USB adapter, a pseudo-terminal, ...); otherwise /dev/ttyUSB<n-1> when it exists,
// else /dev/ttyS<n-1>.
#include <cstdint>
#include <string>

namespace hx {

std::string devicePathForPort(int32_t port);

} // namespace hx
