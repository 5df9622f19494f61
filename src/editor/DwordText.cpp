#include "editor/DwordText.h"

#include "codec/NumberText.h"

namespace quern {

namespace {

int radix(DwordBase base) {
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
    if (digits.empty()) return 0u; // an empty field is 0 in every base
    const auto number = codec::parseUnsigned(digits, radix(base), 32);
    if (!number) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

std::string dwordText(std::uint32_t value, DwordBase base) {
    return codec::formatUnsigned(value, radix(base));
}

std::optional<std::uint64_t> parseQword(std::string_view digits, DwordBase base) {
    if (digits.empty()) return 0u;
    return codec::parseUnsigned(digits, radix(base), 64);
}

std::string qwordText(std::uint64_t value, DwordBase base) {
    return codec::formatUnsigned(value, radix(base));
}

} // namespace quern
