#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quern {

// The input bases of the DWORD and QWORD pages, in the order of their radio items.
enum class DwordBase { Binary, Decimal, Hex };

// Whether the character is a digit of the base: 0 and 1; 0 to 9; 0 to 9 and A to F in either case.
[[nodiscard]] bool isDwordDigit(char c, DwordBase base);

// The text with every character that is not a digit of the base removed (lower-case hex digits stay
// as typed). caret, when given, is a character index into text and is moved to the same place in
// the result.
[[nodiscard]] std::string keepDwordDigits(std::string_view text, DwordBase base, std::size_t* caret = nullptr);

// The number the digits spell, or nothing when it does not fit in 32 bits (leading zeros never
// count against it): the page refuses such text rather than cut it to its low bits, so the field
// never shows one number and writes another. Decimal numbers are unsigned, 0 to 4294967295. Empty
// text is 0. The text must hold digits of the base only.
[[nodiscard]] std::optional<std::uint32_t> parseDword(std::string_view digits, DwordBase base);

// The number in the base, without leading zeros ("0" for zero): binary digits of all 32 bits,
// unsigned decimal, upper-case hex.
[[nodiscard]] std::string dwordText(std::uint32_t value, DwordBase base);

// The same for the QWORD page: 64 bits, decimal 0 to 18446744073709551615.
[[nodiscard]] std::optional<std::uint64_t> parseQword(std::string_view digits, DwordBase base);
[[nodiscard]] std::string qwordText(std::uint64_t value, DwordBase base);

} // namespace quern
