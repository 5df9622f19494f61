#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quern {

// How the value grid shows DWORDs and bytes. A mode is one byte, stored in the settings file, so
// any number may arrive here; numbers outside 0..2 render as the empty text.
enum DwordViewMode : int { kDwordHex = 0, kDwordDecimal = 1, kDwordBinary = 2 };
enum BinaryViewMode : int { kBytesHex = 0, kBytesDecimal = 1, kBytesCharacters = 2 };

// Hex: upper-case digits without leading zeros and an "h" (255 is FFh); decimal: signed (all bits
// set is -1); binary: digits of all 32 bits without leading zeros and a "b" (5 is 101b).
[[nodiscard]] std::string formatDword(std::int32_t value, int mode);

// Hex: two upper-case digits and a space per byte; decimal: three digits and a space per byte
// (010 255 ); characters: one visible character per byte (byteGlyph), in UTF-8. No bytes give the
// empty text.
// The character that stands for a byte in the characters view: the byte's own character in the
// Windows code page 1252 where that is visible; for controls and unused codes the placeholder
// U+25E6, for the no-break space U+2423 and for the soft hyphen a hyphen. Every byte gives exactly
// one visible character, so the text lines up with the bytes one to one.
[[nodiscard]] char16_t byteGlyph(std::uint8_t byte);

[[nodiscard]] std::string formatBytes(std::span<const std::uint8_t> bytes, int mode);

// Orders names without regard to letter case, as the tree and the grid sort them; names that
// differ only in case keep a fixed order between them.
[[nodiscard]] bool nameLess(std::string_view a, std::string_view b);

} // namespace quern
