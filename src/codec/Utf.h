#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quern::reg {

// UTF-16 to UTF-8. Names in Wine's files may hold a lone surrogate; it is encoded in the three
// bytes its code would take (as WTF-8 does), so that every name comes back to the same units and
// a key or value with such a name can still be opened, changed and deleted.
[[nodiscard]] std::string toUtf8(std::u16string_view text);

// Appends the UTF-8 form of UTF-16LE bytes (units of two bytes; an odd last byte is left out).
void appendUtf8FromUtf16LE(std::string& out, const std::uint8_t* bytes, std::size_t size);

// The units of UTF-16LE bytes, as the registry keeps text (an odd last byte is left out), and back.
[[nodiscard]] std::u16string unitsFromUtf16LE(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::vector<std::uint8_t> utf16LEBytes(std::u16string_view units);

// UTF-8 to UTF-16; the three-byte form of a lone surrogate gives that unit back. Other bytes that
// are not valid UTF-8 each become U+FFFD.
[[nodiscard]] std::u16string toUtf16(std::string_view text);

// A text to show: each lone surrogate of a name becomes <U+D800> (its unit in upper-case hex), so
// that the text is valid UTF-8 and the odd unit can be seen. unescapeLoneSurrogates takes such
// escapes back, for a path the user typed or the settings kept; other text passes unchanged.
[[nodiscard]] std::string escapeLoneSurrogates(std::string_view text);
[[nodiscard]] std::string unescapeLoneSurrogates(std::string_view text);

// Decodes the UTF-8 sequence at text[pos] (its first byte 0x80 or above) onto out and moves pos
// past it. False, with nothing changed, when the bytes there are not UTF-8.
bool decodeUtf8Char(std::string_view text, std::size_t& pos, std::u16string& out);

// Lower-cases one UTF-16 unit as the registry compares names: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic. Units outside those blocks compare as they are.
[[nodiscard]] char16_t foldUnit(char16_t unit);

// Compares two names unit by unit after folding, then by length: the order of subkeys and the
// test of equal names alike. Negative, zero or positive.
[[nodiscard]] int compareNames(std::u16string_view a, std::u16string_view b);

// The same order after upper-casing each unit instead, as Windows orders the subkeys of a hive
// (so `A` comes before `_x`). Names equal in one order are equal in the other.
[[nodiscard]] char16_t upperUnit(char16_t unit);
[[nodiscard]] int compareNamesUpper(std::u16string_view a, std::u16string_view b);

[[nodiscard]] inline bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && compareNames(a, b) == 0;
}

} // namespace quern::reg
