#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quern::codec {

// The pieces of value data that more than one text form needs: the string a REG_SZ holds, the
// strings of a REG_MULTI_SZ, and bytes as hex digits.

// The UTF-8 of the UTF-16LE text in data up to its first NUL unit (all of it when there is
// none); an odd last byte is left out.
[[nodiscard]] std::string stringUpToNul(std::span<const std::uint8_t> data);

// The strings of a multi-string's units: the last string's NUL and the list's closing NUL are
// the format and are dropped (at most two NULs at the end), every other NUL separates two
// strings, so an empty string inside the list stays visible. No units give one empty string.
[[nodiscard]] std::vector<std::u16string_view> splitMultiString(std::u16string_view units);

// The units of a multi-string holding these strings: each with its NUL, then the closing NUL.
// The caller keeps empty strings out, as one would end the list early.
[[nodiscard]] std::u16string joinMultiString(std::span<const std::u16string_view> strings);

// A multi-string as lines of text, one string a line, as the value editor shows it. The lines
// are the strings split at each NUL, with '\n' between them; an empty line before the last
// non-empty one is an empty string of the list. Text back to data: the lines in order, empty lines
// at the end left out, each string with its NUL, then the closing NUL (one NUL alone for no
// strings).
//
// Not every shape of data has a text that gives it back; what the text cannot hold is told, so
// that the editor can leave such data as it is until the user changes the text.
enum MultiStringLoss : unsigned {
    kMultiStringExact = 0,
    kMultiStringOddByte = 1, // an odd byte count: the last byte is no part of any character
    kMultiStringLineBreak = 2, // a string holds a line break, which its line would split
    kMultiStringNoEnd = 4, // the data does not end in the closing NUL, which the text adds back
    kMultiStringExtraEnd = 8, // NULs beyond the closing one (empty strings at the end)
};

struct MultiStringLines {
    std::u16string text;
    unsigned losses = kMultiStringExact; // MultiStringLoss flags; exact when none
};

[[nodiscard]] MultiStringLines multiStringLines(std::span<const std::uint8_t> data);
[[nodiscard]] std::vector<std::uint8_t> multiStringFromLines(std::u16string_view text);

// How many digits a byte takes: always two (0A), or as few as its value needs (A), as REGEDIT4
// files write them.
enum class ByteDigits { Two, Fewest };

// Appends each byte as upper-case hex digits, with separator between two bytes.
void appendHexBytes(std::string& out, std::span<const std::uint8_t> bytes, std::string_view separator,
    ByteDigits digits = ByteDigits::Two);

// The bytes that hex digits (either case, nothing else) stand for, two digits a byte; an odd
// count makes the first digit a byte of its own. Nothing when any character is not a hex digit.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text);

} // namespace quern::codec
