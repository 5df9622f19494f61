#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quern::reg {

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD: the program's texts are always valid UTF-8.
[[nodiscard]] std::string toUtf8(std::u16string_view text);

// Appends the UTF-8 form of UTF-16LE bytes (units of two bytes; an odd last byte is left out).
void appendUtf8FromUtf16LE(std::string& out, const std::uint8_t* bytes, std::size_t size);

// UTF-8 to UTF-16. Bytes that are not valid UTF-8 each become U+FFFD.
[[nodiscard]] std::u16string toUtf16(std::string_view text);

// Decodes the UTF-8 sequence at text[pos] (its first byte 0x80 or above) onto out and moves pos
// past it. False, with nothing changed, when the bytes there are not UTF-8.
bool decodeUtf8Char(std::string_view text, std::size_t& pos, std::u16string& out);

// Lower-cases one UTF-16 unit as the registry compares names: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic. Units outside those blocks compare as they are.
[[nodiscard]] char16_t foldUnit(char16_t unit);

// Compares two names unit by unit after folding, then by length: the order of subkeys and the
// test of equal names alike. Negative, zero or positive.
[[nodiscard]] int compareNames(std::u16string_view a, std::u16string_view b);

[[nodiscard]] inline bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && compareNames(a, b) == 0;
}

} // namespace quern::reg
