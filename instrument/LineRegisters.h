#pragma once
// Where the instrument keeps its line settings: the address it answers at, its baud choice and
// its parity choice, coded as the link opens a port. Writing one of them can cut the line.
#include <cstdint>

namespace hx::config {

struct LineRegisters {
    int32_t address;
    int32_t baud;
    int32_t parity;

    constexpr bool holds(int32_t reg) const { return reg >= address && reg <= parity; }
};

inline constexpr LineRegisters kLineRegisters{4105, 4106, 4107};

} // namespace hx::config
