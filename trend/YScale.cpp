#include "trend/YScale.h"

#include <limits>

#include "core/TextNumber.h"

namespace hx {

std::optional<YScale> yScaleOfEntry(const QString& upperText, const QString& lowerText) {
    const double u = leadingNumber(upperText);
    if (!(u >= kYBoundMin && u <= kYUpperMax)) return std::nullopt;
    const double m = leadingNumber(lowerText);
    if (!(m >= kYBoundMin && m <= kYLowerMax) || m > u) return std::nullopt;
    const double yMin = roundHalfEven(m);
    const double ySpan = roundHalfEven(u - m);
    // Bounds up to 48000 apart pass the limits above; a span beyond 32767 would leave Y_Min
    // changed under a stale Y_Span, so the entry is refused as a whole.
    if (ySpan > std::numeric_limits<int16_t>::max()) return std::nullopt;
    return YScale{static_cast<int16_t>(yMin), static_cast<int16_t>(ySpan)};
}

} // namespace hx
