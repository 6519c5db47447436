#include "trend/YScale.h"

#include <limits>

#include "core/Rounding.h"
#include "core/TextNumber.h"

namespace hx {

std::optional<YScale> yScaleOfEntry(const QString& upperText, const QString& lowerText) {
    const std::optional<double> upper = wholeNumberOf(upperText);
    const std::optional<double> lower = wholeNumberOf(lowerText);
    if (!upper || !lower) return std::nullopt;
    const double u = *upper;
    if (!(u >= kYBoundMin && u <= kYUpperMax)) return std::nullopt;
    const double m = *lower;
    if (!(m >= kYBoundMin && m <= kYLowerMax) || m > u) return std::nullopt;
    const double yMin = roundHalfEven(m);
    const double ySpan = roundHalfEven(u - m);
    // The limits above let through a lower bound up to 35000 and a span up to 48000; either
    // beyond 32767 would leave one of the two 16-bit values changed and the other stale, so
    // such an entry is refused as a whole.
    constexpr double kMax16 = std::numeric_limits<int16_t>::max();
    if (yMin > kMax16 || ySpan > kMax16) return std::nullopt;
    // Equal bounds (after rounding) would draw every curve as one flat line.
    if (ySpan < 1) return std::nullopt;
    return YScale{static_cast<int16_t>(yMin), static_cast<int16_t>(ySpan)};
}

} // namespace hx
