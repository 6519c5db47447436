#pragma once
// The vertical scale of the chart as the operator enters it: an upper and a lower bound,
// checked against the limits the chart can show and turned into Y_Min and Y_Span.
#include <cstdint>
#include <optional>

#include <QString>

namespace hx {

constexpr double kYUpperMax = 36000;
constexpr double kYLowerMax = 35000;
constexpr double kYBoundMin = -12000;

struct YScale {
    int16_t yMin = 0;
    int16_t ySpan = 0;
};

// The scale of the two boxes' texts, or nullopt when the entry is refused: a text that is not
// a number as a whole (core/TextNumber), an upper bound outside -12000..36000, a lower bound
// outside -12000..35000 or not below the upper one (a span of 0 after rounding), or a lower
// bound or span beyond what the 16-bit Y_Min and Y_Span hold (32767).
std::optional<YScale> yScaleOfEntry(const QString& upperText, const QString& lowerText);

} // namespace hx
