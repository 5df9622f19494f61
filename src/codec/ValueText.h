#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quern {

// The text of a value for each place that shows one. Each place is one function over the
// value's type and raw bytes, so that it reads a value one way however the value reached it.

// How the value grid shows DWORDs and bytes. A mode is one byte, stored in the settings file, so
// any number may arrive here; numbers outside 0..2 render as the empty text.
enum DwordViewMode : int { kDwordHex = 0, kDwordDecimal = 1, kDwordBinary = 2 };
enum BinaryViewMode : int { kBytesHex = 0, kBytesDecimal = 1, kBytesCharacters = 2 };

// Hex: upper-case digits without leading zeros and an "h" (255 is FFh); decimal: signed (all bits
// set is -1); binary: digits of all 32 bits without leading zeros and a "b" (5 is 101b).
[[nodiscard]] std::string formatDword(std::int32_t value, int mode);

// The character that stands for a byte in the characters view: the byte's own character in the
// Windows code page 1252 where that is visible; for controls and unused codes the placeholder
// U+25E6, for the no-break space U+2423 and for the soft hyphen a hyphen. Every byte gives exactly
// one visible character, so the text lines up with the bytes one to one.
[[nodiscard]] char16_t byteGlyph(std::uint8_t byte);

// Hex: two upper-case digits and a space per byte; decimal: three digits and a space per byte
// (010 255 ); characters: one visible character per byte (byteGlyph), in UTF-8. No bytes give the
// empty text.
[[nodiscard]] std::string formatBytes(std::span<const std::uint8_t> bytes, int mode);

// The grid's cell: strings and expand strings quoted, up to their first NUL; a DWORD of up to
// four bytes by dwordMode (shorter data has its high bytes zero), a longer one as
// [Invalid Integer Data]; everything else as bytes by binaryMode, a multi-string's being its
// text in UTF-8 with every NUL.
[[nodiscard]] std::string gridText(
    std::uint32_t type, std::span<const std::uint8_t> raw, int binaryMode, int dwordMode);

// What stands between two strings of a multi-string in readableGridText: a pilcrow with a space
// on each side, " \u00b6 ". Every font of the desktop has it (unlike the control pictures), it reads
// as a break between two texts, and the lists a registry keeps (paths, file names, commands) hold
// it no more than they hold a NUL; the separators they use themselves (|, ;, commas) stay theirs.
inline constexpr std::string_view kMultiStringSeparator = " \xC2\xB6 ";

// The grid's cell while its Type column names each value's type, so that the cell need not show
// the bytes to tell the kinds apart. In the characters view (binaryMode 2) a multi-string shows its
// strings with kMultiStringSeparator between them (a line break inside one as U+21B5, so that the
// cell keeps one line), a QWORD of eight bytes and a big-endian DWORD of four bytes show their
// number by dwordMode (the big-endian one as a DWORD shows, the QWORD unsigned in decimal);
// everything else, and every kind in the other views, is gridText.
[[nodiscard]] std::string readableGridText(
    std::uint32_t type, std::span<const std::uint8_t> raw, int binaryMode, int dwordMode);

// Appends the value's line of a REGEDIT4 file, without its line end: the quoted name (line breaks
// as \r and \n), then strings quoted, DWORDs of four bytes as dword: and hex digits, everything
// else as hex: or hex(N): bytes. A string holding a line break, which would end the line for
// every reader, is written in the hex form of its kind; a DWORD of another length as hex(4):.
void appendRegFileValue(std::string& out, std::string_view name, std::uint32_t type, std::span<const std::uint8_t> raw);

// Appends the value's line of a "Windows Registry Editor Version 5.00" file, in UTF-8 (the file
// turns it into UTF-16LE; a lone surrogate, kept as its three bytes, comes back as its unit), without
// its line end. Nothing is lost: the default value is @; a string is quoted (backslash, quote, CR
// and LF escaped) only when its data is whole UTF-16 units ending in its one NUL, else hex(1);
// a DWORD of four bytes is dword: and eight lower-case digits, of another length hex(4); every
// other type is hex: (binary) or hex(N): with the bytes in lower-case pairs. Long hex data is
// broken into continuation lines (a backslash, CR LF and two spaces) where Wine's reg export
// breaks it, so that the two write the same file.
void appendUnicodeRegFileValue(
    std::string& out, std::string_view name, std::uint32_t type, std::span<const std::uint8_t> raw);

// Appends what stands before a value's data on its line of a "Windows Registry Editor Version 5.00"
// file: @= for the default value, else the quoted name (escaped as above) and =. A deletion
// follows it with -.
void appendRegFileValueName(std::string& out, std::string_view name);

// Puts a backslash before every backslash and every double quote; nothing else changes.
[[nodiscard]] std::string EscapeRegText(std::string_view text);

// The data as reg query shows it: strings up to their first NUL; multi-strings with \0 between the
// strings; DWORDs and QWORDs of the right size as 0x and lower-case hex; everything else, and
// numbers of the wrong size, as upper-case hex bytes without separators.
[[nodiscard]] std::string queryText(std::uint32_t type, std::span<const std::uint8_t> raw);

// The text the search matches a value's data against: strings up to their first zero character
// (UTF-8, not expanded); a DWORD as a signed decimal number, or the empty text when its data is
// longer than four bytes; binary data as its bytes, one character each, zero bytes included; every
// other kind (multi-strings, untyped data, ...) the empty text.
[[nodiscard]] std::string searchText(std::uint32_t type, std::span<const std::uint8_t> raw);

// Orders names without regard to letter case, as the tree and the grid sort them; names that
// differ only in case keep a fixed order between them.
[[nodiscard]] bool nameLess(std::string_view a, std::string_view b);

} // namespace quern
