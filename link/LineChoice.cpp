#include "link/LineChoice.h"

#include <array>

namespace hx {

namespace {

template <size_t N>
std::optional<int32_t> choiceOf(const std::array<std::string_view, N>& names, std::string_view text) {
    for (size_t i = 0; i < N; ++i)
        if (names[i] == text) return int32_t(i);
    return std::nullopt;
}

} // namespace

std::optional<int32_t> baudChoiceOf(std::string_view text) {
    return choiceOf(std::array<std::string_view, 3>{"4800", "9600", "19200"}, text);
}

std::optional<int32_t> parityChoiceOf(std::string_view text) {
    return choiceOf(std::array<std::string_view, 3>{"none", "odd", "even"}, text);
}

} // namespace hx
