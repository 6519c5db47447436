#pragma once
// Between the instrument's values and the configuration window's texts: what a value label
// shows for a value read back, and the value a list's text writes.
#include "config/ParameterMap.h"

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

// The value a list writes for its text (an offered item or what the operator typed): the
// number the text begins with, rounded half to even. nullopt when the text does not begin
// with a number or the number does not fit 32 bits: nothing is written.
std::optional<int32_t> listValueOf(const QString& text);

} // namespace hx::config
