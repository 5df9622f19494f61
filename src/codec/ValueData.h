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
