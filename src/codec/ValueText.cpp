#include "codec/ValueText.h"

#include "codec/Utf.h"

#include <algorithm>

namespace quern {

std::string formatDword(std::int32_t value, int mode) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto bits = static_cast<std::uint32_t>(value);
    auto inBase = [&](unsigned shift, char suffix) {
        // Digits come out lowest first; the text is turned round at the end.
        std::string text;
        const unsigned mask = (1u << shift) - 1;
        for (std::uint32_t rest = bits; rest != 0; rest >>= shift)
            text.push_back(kDigits[rest & mask]);
        if (text.empty()) text = "0";
        std::reverse(text.begin(), text.end());
        text.push_back(suffix);
        return text;
    };
    switch (mode) {
    case kDwordHex:
        return inBase(4, 'h');
    case kDwordDecimal:
        return std::to_string(value);
    case kDwordBinary:
        return inBase(1, 'b');
    default:
        return {};
    }
}

char16_t byteGlyph(std::uint8_t byte) {
    // Bytes without a visible character of their own (controls, and the five codes Windows-1252
    // leaves unused) share one small circle: a glyph that the common fonts have, unlike the
    // control pictures, and that no byte stands for otherwise.
    constexpr char16_t kNone = 0x25E6;
    static constexpr char16_t kHigh[32] = { 0x20AC, kNone, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
        0x2030, 0x0160, 0x2039, 0x0152, kNone, 0x017D, kNone, kNone, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
        0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, kNone, 0x017E, 0x0178 };
    if (byte < 0x20 || byte == 0x7F) return kNone;
    if (byte < 0x7F) return byte;
    if (byte < 0xA0) return kHigh[byte - 0x80];
    if (byte == 0xA0) return 0x2423; // the no-break space, drawn as the open box of a blank
    if (byte == 0xAD) return 0x2010; // the soft hyphen, which text drawing leaves out
    return byte;
}

std::string formatBytes(std::span<const std::uint8_t> bytes, int mode) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    switch (mode) {
    case kBytesHex:
        text.reserve(bytes.size() * 3);
        for (std::uint8_t b : bytes) {
            text.push_back(kDigits[b >> 4]);
            text.push_back(kDigits[b & 15]);
            text.push_back(' ');
        }
        break;
    case kBytesDecimal:
        text.reserve(bytes.size() * 4);
        for (std::uint8_t b : bytes) {
            text.push_back(static_cast<char>('0' + b / 100));
            text.push_back(static_cast<char>('0' + b / 10 % 10));
            text.push_back(static_cast<char>('0' + b % 10));
            text.push_back(' ');
        }
        break;
    case kBytesCharacters:
        text.reserve(bytes.size() * 2);
        for (std::uint8_t b : bytes) {
            const char16_t glyph = byteGlyph(b);
            if (glyph < 0x80) {
                text.push_back(static_cast<char>(glyph));
            } else if (glyph < 0x800) {
                text.push_back(static_cast<char>(0xC0 | (glyph >> 6)));
                text.push_back(static_cast<char>(0x80 | (glyph & 0x3F)));
            } else {
                text.push_back(static_cast<char>(0xE0 | (glyph >> 12)));
                text.push_back(static_cast<char>(0x80 | ((glyph >> 6) & 0x3F)));
                text.push_back(static_cast<char>(0x80 | (glyph & 0x3F)));
            }
        }
        break;
    default:
        break;
    }
    return text;
}

bool nameLess(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x >= 0x80 || y >= 0x80) {
            // Beyond ASCII the registry's own folding decides, on the rest of both names.
            const int order = reg::compareNames(reg::toUtf16(a.substr(i)), reg::toUtf16(b.substr(i)));
            if (order != 0) return order < 0;
            return a < b;
        }
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

} // namespace quern
