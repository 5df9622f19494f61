#pragma once

#include "base/Names.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The codec's forms of text: UTF-16LE bytes as values hold them, and the escapes that show a lone
// surrogate. The conversions and comparisons of names themselves are the floor's (base/Names.h).
namespace quern::reg {

// Appends the UTF-8 form of UTF-16LE bytes (units of two bytes; an odd last byte is left out).
void appendUtf8FromUtf16LE(std::string& out, const std::uint8_t* bytes, std::size_t size);

// The units of UTF-16LE bytes, as the registry keeps text (an odd last byte is left out), and back.
[[nodiscard]] std::u16string unitsFromUtf16LE(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::vector<std::uint8_t> utf16LEBytes(std::u16string_view units);

// A text to show: each lone surrogate of a name becomes <U+D800> (its unit in upper-case hex), so
// that the text is valid UTF-8 and the odd unit can be seen. unescapeLoneSurrogates takes such
// escapes back, for a path the user typed or the settings kept; other text passes unchanged.
[[nodiscard]] std::string escapeLoneSurrogates(std::string_view text);
[[nodiscard]] std::string unescapeLoneSurrogates(std::string_view text);

} // namespace quern::reg
