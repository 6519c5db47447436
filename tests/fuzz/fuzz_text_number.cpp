// libFuzzer harness of the number of a text: arbitrary bytes become a text (as UTF-8, UTF-16
// or Latin-1, chosen by the first byte) and every reading of it must agree with the others.
// Built and run by tools/fuzz_text_number.sh with clang, AddressSanitizer and UBSan.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include <QString>

#include "core/TextNumber.h"

namespace {

void check(bool holds, const char* what, const QString& text) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\ntext: \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

bool same(const std::optional<double>& a, const std::optional<double>& b) {
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

QString textOf(const uint8_t* data, size_t size) {
    if (size == 0) return {};
    const auto* bytes = reinterpret_cast<const char*>(data + 1);
    const qsizetype n = qsizetype(size - 1);
    switch (data[0] % 3) {
    case 0:
        return QString::fromUtf8(bytes, n);
    case 1: {
        // Unpaired surrogates and all: whatever a text box can hold.
        QString text(n / 2, Qt::Uninitialized);
        std::memcpy(text.data(), bytes, size_t(n / 2) * 2);
        return text;
    }
    default:
        return QString::fromLatin1(bytes, n);
    }
}

bool startsWithSign(const QString& text) {
    for (QChar c : text) {
        if (c == u' ' || c == u'\t') continue;
        return c == u'+' || c == u'-';
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = textOf(data, size);

    const std::optional<double> leading = hx::leadingNumberOf(text);
    check(!leading || !std::isnan(*leading), "the leading number is never NaN", text);
    check(hx::leadingNumber(text) == leading.value_or(0.0), "leadingNumber is leadingNumberOf or 0", text);

    const std::optional<int32_t> number = hx::numberOfText(text);
    check(number == hx::toInt32(hx::leadingNumber(text)), "numberOfText is the leading number rounded", text);
    if (number)
        check(std::fabs(double(*number) - hx::leadingNumber(text)) <= 0.5,
              "rounding moves a number by half at most", text);

    const std::optional<double> whole = hx::wholeNumberOf(text);
    const std::optional<int32_t> entry = hx::entryValueOf(text);
    if (whole && std::fabs(*whole) <= std::numeric_limits<float>::max())
        check(entry == hx::toInt32(double(float(*whole))), "an entry is the single-precision number rounded",
              text);
    else
        check(!entry, "a text that is not a number, or beyond single precision, is never an entry", text);

    // Reading stops at the first character that cannot continue a number, and blanks in
    // front of a number are passed over.
    check(same(hx::leadingNumberOf(text + QStringLiteral("x")), leading),
          "a letter after the text changes nothing", text);
    check(same(hx::leadingNumberOf(QStringLiteral(" \t") + text), leading), "leading blanks change nothing",
          text);
    if (!startsWithSign(text)) {
        const std::optional<double> negated = hx::leadingNumberOf(QStringLiteral("-") + text);
        check(negated.has_value() == leading.has_value() && (!leading || *negated == -*leading),
              "a minus sign negates", text);
    }

    // Every 32-bit value survives its own decimal text.
    if (size >= 4) {
        int32_t v;
        std::memcpy(&v, data, sizeof v);
        check(hx::numberOfText(QString::number(v)) == v, "a decimal text reads back as its value",
              QString::number(v));
    }
    return 0;
}
