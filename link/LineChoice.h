#pragma once
// The line settings as the command-line tools take them ("9600", "even") and the choices the
// link opens a port with (baud choice 0 = 4800, 1 = 9600, 2 = 19200; parity 0 none, 1 odd,
// 2 even).
#include <cstdint>
#include <optional>
#include <string_view>

namespace hx {

// "4800", "9600" or "19200"; nullopt for anything else.
std::optional<int32_t> baudChoiceOf(std::string_view text);
// "none", "odd" or "even"; nullopt for anything else.
std::optional<int32_t> parityChoiceOf(std::string_view text);

} // namespace hx
