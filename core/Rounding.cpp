#include "core/Rounding.h"

#include <cfenv>
#include <cmath>

namespace hx {

double roundHalfEven(double v) {
    // nearbyint follows the current rounding mode; the program never changes it from
    // round-to-nearest-even, but say so explicitly rather than rely on it.
    const int saved = std::fegetround();
    if (saved != FE_TONEAREST) std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    if (saved != FE_TONEAREST) std::fesetround(saved);
    return r;
}

} // namespace hx
