#pragma once
// The addresses of the instruments on one line as an operator writes them ("1-4,7"), and the
// whole numbers of a command line: read the same by the simulator and the line service.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

// An address list as "1-4,7": ranges and single addresses, 1..247, each address once. The
// addresses ascending, or nullopt with `why` saying what is wrong.
std::optional<std::vector<int>> parseAddressList(std::string_view text, std::string& why);

// Whole decimal number (or 0x... hexadecimal) within [min, max]; nullopt otherwise.
std::optional<long> parseNumber(std::string_view text, long min, long max);

} // namespace hx
