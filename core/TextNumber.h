#pragma once
// The number of a text, as every field of the program reads it: the number the text
// begins with (leading blanks skipped, blanks between digits ignored, sign, decimal
// point and exponent accepted; reading stops at the first other character), 0 when the
// text does not begin with a number.
#include <cstdint>
#include <optional>

#include <QString>

namespace hx {

// The leading number of a text as a double (0 when there is none; may be +-inf for huge
// texts such as "1e999").
double leadingNumber(const QString& text);

// The leading number of a text, or nullopt when the text does not begin with a number.
std::optional<double> leadingNumberOf(const QString& text);

// The number of a text that is a number as a whole, blanks around it aside ("1e3", " -4.5 ");
// nullopt when anything else is in it ("1O0", "0x10", "1,5", "1e") or there is no number.
std::optional<double> wholeNumberOf(const QString& text);

// Rounded half to even (core/Rounding.h) into a signed 32-bit integer; nullopt when it does
// not fit, so callers write nothing.
std::optional<int32_t> toInt32(double v);

// The numeric value of a box text: leadingNumber, rounded half to even, when it fits in
// 32 bits.
std::optional<int32_t> numberOfText(const QString& text);

// An operator's entry as the instrument writers take it: the text's whole number in single
// precision, rounded half to even. nullopt when the text is not a number as a whole (it is
// refused rather than written as its leading number or as 0) or the value does not fit in
// 32 bits.
std::optional<int32_t> entryValueOf(const QString& text);

} // namespace hx
