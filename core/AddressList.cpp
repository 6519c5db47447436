#include "core/AddressList.h"

#include <algorithm>
#include <charconv>

namespace hx {

std::optional<std::vector<int>> parseAddressList(std::string_view text, std::string& why) {
    std::vector<int> addresses;
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const size_t dash = item.find('-');
        const auto first = parseNumber(item.substr(0, dash), 0, 1000000);
        const auto last =
            dash == std::string_view::npos ? first : parseNumber(item.substr(dash + 1), 0, 1000000);
        if (!first || !last) {
            why = "expects addresses or ranges of addresses separated by commas, as 1-4,7";
            return std::nullopt;
        }
        if (*first < 1 || *last > 247) {
            why = "names " + std::string(item) + ", outside the addresses 1..247";
            return std::nullopt;
        }
        if (*last < *first) {
            why = "range " + std::string(item) + " runs backwards";
            return std::nullopt;
        }
        for (long a = *first; a <= *last; ++a) {
            if (std::find(addresses.begin(), addresses.end(), a) != addresses.end()) {
                why = "names address " + std::to_string(a) + " twice";
                return std::nullopt;
            }
            addresses.push_back(static_cast<int>(a));
        }
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

std::optional<long> parseNumber(std::string_view text, long min, long max) {
    int base = 10;
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (negative) value = -value;
    if (value < min || value > max) return std::nullopt;
    return value;
}

} // namespace hx
