#pragma once
// Between the instrument's values and the configuration window's texts: what a value label
// shows for a value read back, and the value a list's text writes.
#include "instrument/ParameterMap.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace hx::config {

inline QString qText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

// The text of p's value label for value v: the password with at least four digits, a coded
// value by its list's shown text, anything else in decimal. nullopt for a value its list does
// not know, and for a parameter without a label: the label keeps what it shows.
std::optional<QString> shownText(const Parameter& p, int32_t v);

// The value a list writes for its text, rounded half to even: for an offered item the number
// the item begins with ("3:上偏差 " writes 3); for a text the operator typed (typed true)
// the text's number, when it is a number as a whole ("1O0" writes nothing). nullopt when
// there is no such number or it does not fit 32 bits: nothing is written.
std::optional<int32_t> listValueOf(const QString& text, bool typed = false);

} // namespace hx::config
