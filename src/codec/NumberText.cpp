#include "codec/NumberText.h"

#include <algorithm>

namespace quern::codec {

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

template<std::size_t N> std::uint64_t fromLittleEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = std::min(bytes.size(), N); i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

} // namespace

std::optional<std::uint64_t> parseUnsigned(std::string_view text, int base, int bits) {
    if (text.empty() || base < 2 || base > 16 || bits < 1 || bits > 64) return std::nullopt;
    const std::uint64_t max = bits == 64 ? ~std::uint64_t { 0 } : (std::uint64_t { 1 } << bits) - 1;
    const auto radix = static_cast<std::uint64_t>(base);
    std::uint64_t value = 0;
    for (char c : text) {
        const int digit = digitValue(c);
        if (digit < 0 || digit >= base) return std::nullopt;
        // Checked before the step, so that the test itself cannot wrap round 64 bits.
        if (value > (max - static_cast<std::uint64_t>(digit)) / radix) return std::nullopt;
        value = value * radix + static_cast<std::uint64_t>(digit);
    }
    return value;
}

std::string formatUnsigned(std::uint64_t value, int base, LetterCase letters) {
    if (base < 2 || base > 16) return {};
    const char* digits = letters == LetterCase::Upper ? kUpperDigits : kLowerDigits;
    const auto radix = static_cast<std::uint64_t>(base);
    std::string text;
    do {
        text.push_back(digits[value % radix]);
        value /= radix;
    } while (value != 0);
    std::reverse(text.begin(), text.end()); // the digits came lowest first
    return text;
}

std::uint32_t dwordFromBytes(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(fromLittleEndian<4>(bytes));
}

std::uint64_t qwordFromBytes(std::span<const std::uint8_t> bytes) {
    return fromLittleEndian<8>(bytes);
}

std::array<std::uint8_t, 4> dwordBytes(std::uint32_t value) {
    std::array<std::uint8_t, 4> bytes {};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

std::array<std::uint8_t, 8> qwordBytes(std::uint64_t value) {
    std::array<std::uint8_t, 8> bytes {};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

} // namespace quern::codec
