#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quern::codec {

// Numbers as the registry keeps them (little-endian DWORDs and QWORDs) and as people type and
// read them (decimal, hexadecimal, binary). Every reader of a number goes through here, so that
// each refuses the same texts: a number that does not fit is refused, never cut to its low bits.

enum class LetterCase { Upper, Lower };

// The number written in text as digits of base (2 to 16; letters of either case), bounded by
// bits (1 to 64): 4294967295 fits in 32 bits, 4294967296 does not. Leading zeros are allowed and
// count for nothing. Nothing when text is empty, holds anything but digits of base (no sign,
// prefix or space), or names a number of more than bits bits; also for a base or width out of range.
[[nodiscard]] std::optional<std::uint64_t> parseUnsigned(std::string_view text, int base, int bits = 64);

// The digits of value in base (2 to 16), without leading zeros ("0" for zero), letters in the
// case asked for. The empty text for a base out of range.
[[nodiscard]] std::string formatUnsigned(std::uint64_t value, int base, LetterCase letters = LetterCase::Upper);

// The number in up to four (eight) little-endian bytes; missing high bytes count as zero, as a
// reader of short DWORD data takes them. Bytes past the fourth (eighth) are left out.
[[nodiscard]] std::uint32_t dwordFromBytes(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::uint64_t qwordFromBytes(std::span<const std::uint8_t> bytes);

// The little-endian bytes of a DWORD or QWORD, as the registry stores them.
[[nodiscard]] std::array<std::uint8_t, 4> dwordBytes(std::uint32_t value);
[[nodiscard]] std::array<std::uint8_t, 8> qwordBytes(std::uint64_t value);

} // namespace quern::codec
