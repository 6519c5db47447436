#include "ParameterText.h"

#include "core/TextNumber.h"

#include <cstdlib>

namespace hx::config {

std::optional<QString> shownText(const Parameter& p, int32_t v) {
    switch (p.encoding) {
    case Encoding::Unused:
        return std::nullopt;
    case Encoding::Password: {
        // At least four digits, the sign before the zeros.
        const QString digits = QString::number(std::abs(int64_t(v))).rightJustified(4, u'0');
        return v < 0 ? QStringLiteral("-") + digits : digits;
    }
    case Encoding::Code:
    case Encoding::Count:
    case Encoding::Integer:
    case Encoding::ChannelMask:
        break;
    }
    const OptionList* list = optionList(p.list);
    if (!list || list->shownAsNumber) return QString::number(v);
    for (const Option& option : list->items) {
        if (option.value == v) return qText(option.shown);
    }
    return std::nullopt;
}

std::optional<int32_t> listValueOf(const QString& text, bool typed) {
    const std::optional<double> number = typed ? wholeNumberOf(text) : leadingNumberOf(text);
    if (!number) return std::nullopt;
    return toInt32(*number);
}

} // namespace hx::config
