#include "editor/DwordText.h"

#include <algorithm>

namespace quern {

namespace {

unsigned digitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return static_cast<unsigned>(c - 'a' + 10);
}

unsigned radix(DwordBase base) {
    switch (base) {
    case DwordBase::Binary:
        return 2;
    case DwordBase::Decimal:
        return 10;
    case DwordBase::Hex:
        break;
    }
    return 16;
}

} // namespace

bool isDwordDigit(char c, DwordBase base) {
    switch (base) {
    case DwordBase::Binary:
        return c == '0' || c == '1';
    case DwordBase::Decimal:
        return c >= '0' && c <= '9';
    case DwordBase::Hex:
        break;
    }
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string keepDwordDigits(std::string_view text, DwordBase base, std::size_t* caret) {
    std::string kept;
    std::size_t newCaret = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isDwordDigit(text[i], base)) continue;
        if (caret && i < *caret) ++newCaret;
        kept.push_back(text[i]);
    }
    if (caret) *caret = newCaret;
    return kept;
}

std::optional<std::uint32_t> parseDword(std::string_view digits, DwordBase base) {
    const std::uint64_t r = radix(base);
    std::uint64_t number = 0;
    for (char c : digits) {
        number = number * r + digitValue(c);
        if (number > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

std::uint32_t dwordOfText(std::string_view digits, DwordBase base) {
    if (base == DwordBase::Decimal) return parseDword(digits, base).value_or(0);
    // Binary and hex digits beyond the 32 bits fall off the top, as they would in a register.
    std::uint32_t number = 0;
    for (char c : digits)
        number = number * radix(base) + digitValue(c);
    return number;
}

std::string dwordText(std::uint32_t value, DwordBase base) {
    if (base == DwordBase::Decimal) return std::to_string(value);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const unsigned r = radix(base);
    std::string text;
    for (std::uint32_t rest = value; rest != 0; rest /= r)
        text.push_back(kDigits[rest % r]);
    if (text.empty()) text = "0";
    std::reverse(text.begin(), text.end());
    return text;
}

} // namespace quern
