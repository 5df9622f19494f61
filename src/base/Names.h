#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Names as the registry keeps them, UTF-16 units, in the two forms every layer must agree on:
// their UTF-8 text and their comparison without case.
namespace quern::reg {

// UTF-16 to UTF-8. Names in Wine's files may hold a lone surrogate; it is encoded in the three
// bytes its code would take (as WTF-8 does), so that every name comes back to the same units and
// a key or value with such a name can still be opened, changed and deleted.
[[nodiscard]] std::string toUtf8(std::u16string_view text);

// UTF-8 to UTF-16; the three-byte form of a lone surrogate gives that unit back. Other bytes that
// are not valid UTF-8 each become U+FFFD.
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

// The same order after upper-casing each unit instead, as Windows orders the subkeys of a hive
// (so `A` comes before `_x`). Names equal in one order are equal in the other.
[[nodiscard]] char16_t upperUnit(char16_t unit);
[[nodiscard]] int compareNamesUpper(std::u16string_view a, std::u16string_view b);

[[nodiscard]] inline bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && compareNames(a, b) == 0;
}

// The text with a to z made capitals and every other byte kept: how the tree and pasted paths
// compare key names typed by hand.
[[nodiscard]] std::string upperAscii(std::string_view text);

} // namespace quern::reg
