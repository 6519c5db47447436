#include "TextNumber.h"

#include "core/Rounding.h"

#include <cmath>
#include <limits>
#include <string>

namespace hx {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The leading number of text and the position where reading stopped (after the number and
// the blanks that follow it).
struct Reading {
    std::optional<double> number;
    int end = 0;
};

Reading readLeadingNumber(const QString& text) {
    // Collect the recognised characters into a plain ASCII number text, then let strtod
    // read it; blanks between the characters of the number are passed over.
    std::string number;
    int i = 0;
    const int n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text[i]))
            ++i;
    };
    skipBlanks();
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        number += char(text[i].unicode());
        ++i;
        skipBlanks();
    }
    bool digits = false;
    while (i < n && (isDigit(text[i]) || isBlank(text[i]))) {
        if (isDigit(text[i])) {
            number += char(text[i].unicode());
            digits = true;
        }
        ++i;
    }
    if (i < n && text[i] == u'.') {
        number += '.';
        ++i;
        while (i < n && (isDigit(text[i]) || isBlank(text[i]))) {
            if (isDigit(text[i])) {
                number += char(text[i].unicode());
                digits = true;
            }
            ++i;
        }
    }
    if (!digits) return {std::nullopt, i};
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        // The exponent counts only when digits follow it ("1e" reads as 1).
        std::string exponent = "e";
        int j = i + 1;
        while (j < n && isBlank(text[j]))
            ++j;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) {
            exponent += char(text[j].unicode());
            ++j;
        }
        bool expDigits = false;
        while (j < n && (isDigit(text[j]) || isBlank(text[j]))) {
            if (isDigit(text[j])) {
                exponent += char(text[j].unicode());
                expDigits = true;
            }
            ++j;
        }
        if (expDigits) {
            number += exponent;
            i = j;
        }
    }
    skipBlanks();
    return {std::strtod(number.c_str(), nullptr), i};
}

} // namespace

double leadingNumber(const QString& text) {
    return leadingNumberOf(text).value_or(0.0);
}

std::optional<double> leadingNumberOf(const QString& text) {
    return readLeadingNumber(text).number;
}

std::optional<double> wholeNumberOf(const QString& text) {
    const Reading reading = readLeadingNumber(text);
    if (reading.end != text.size()) return std::nullopt;
    return reading.number;
}

std::optional<int32_t> toInt32(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    const double r = roundHalfEven(v);
    if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
    return static_cast<int32_t>(r);
}

std::optional<int32_t> numberOfText(const QString& text) {
    return toInt32(leadingNumber(text));
}

std::optional<int32_t> entryValueOf(const QString& text) {
    const std::optional<double> number = wholeNumberOf(text);
    // Beyond single precision the conversion itself is undefined; such a value fits no
    // register anyway.
    if (!number || !(std::fabs(*number) <= std::numeric_limits<float>::max())) return std::nullopt;
    return toInt32(double(float(*number)));
}

} // namespace hx
