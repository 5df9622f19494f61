#include "codec/ValueText.h"

#include "base/RegTypes.h"
#include "codec/NumberText.h"
#include "codec/Utf.h"
#include "codec/ValueData.h"

#include <algorithm>

namespace quern {

namespace {

// Bytes as a program that reads binary data sees them: a multi-string's text in UTF-8, every
// unit converted, NULs included; any other kind as it is.
std::string_view programBytes(std::uint32_t type, std::span<const std::uint8_t> raw, std::string& utf8) {
    if (type != reg::kRegMultiSz) return { reinterpret_cast<const char*>(raw.data()), raw.size() };
    reg::appendUtf8FromUtf16LE(utf8, raw.data(), raw.size());
    return utf8;
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

void appendByteGlyph(std::string& text, std::uint8_t byte) {
    const char16_t glyph = byteGlyph(byte);
    if (glyph < 0x80) {
        text.push_back(static_cast<char>(glyph));
    } else if (glyph < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (glyph >> 6)));
        text.push_back(static_cast<char>(0x80 | (glyph & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xE0 | (glyph >> 12)));
        text.push_back(static_cast<char>(0x80 | ((glyph >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (glyph & 0x3F)));
    }
}

void appendEscaped(std::string& out, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' && text[i] != '"') continue;
        out.append(text, start, i - start);
        out.push_back('\\');
        start = i;
    }
    out.append(text, start, text.size() - start);
}

// A value name as a line holds it: escaped as text is, and a line break, which would end the line
// there, as the escape that readers turn back into it.
void appendEscapedName(std::string& out, std::string_view name) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c != '\\' && c != '"' && c != '\r' && c != '\n') continue;
        out.append(name, start, i - start);
        out.push_back('\\');
        out.push_back(c == '\r' ? 'r' : c == '\n' ? 'n' : c);
        start = i + 1;
    }
    out.append(name, start, name.size() - start);
}

void appendRegFileString(std::string& out, std::uint32_t type, std::string_view text) {
    if (text.find_first_of("\r\n") == std::string_view::npos) {
        out.push_back('"');
        appendEscaped(out, text);
        out.push_back('"');
        return;
    }
    // A line break would split the line for every reader: such a string goes in the hex form of
    // its own kind, its text and the closing NUL as bytes.
    out += type == reg::kRegSz ? "hex(1):" : "hex(2):";
    codec::appendHexBytes(out, asBytes(text), ",", codec::ByteDigits::Fewest);
    out += text.empty() ? "0" : ",0";
}

std::string hexNumber(std::uint64_t number) {
    return "0x" + codec::formatUnsigned(number, 16, codec::LetterCase::Lower);
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    codec::appendHexBytes(text, bytes, {});
    return text;
}

std::string multiStringQueryText(std::span<const std::uint8_t> raw) {
    const std::u16string units = reg::unitsFromUtf16LE(raw);
    const auto strings = codec::splitMultiString(units);
    std::string text;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i) text += "\\0";
        text += reg::toUtf8(strings[i]);
    }
    return text;
}

// The UTF-16 units a UTF-8 text takes: one per sequence, two for a four-byte one.
std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}

// Wine's reg export counts the line in UTF-16 units and breaks it once it reaches 77, after a
// comma; the continuation starts with two spaces. Writing the same breaks keeps the files equal.
void appendWrappedHex(std::string& out, std::size_t lineLength, std::span<const std::uint8_t> raw) {
    constexpr std::size_t kBreakAt = 77;
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < raw.size(); ++i) {
        out.push_back(kDigits[raw[i] >> 4]);
        out.push_back(kDigits[raw[i] & 0xF]);
        if (i + 1 == raw.size()) break;
        out.push_back(',');
        lineLength += 3;
        if (lineLength >= kBreakAt) {
            out += "\\\r\n  ";
            lineLength = 2;
        }
    }
}

// A REG_SZ a quoted string gives back byte for byte: whole units, the last its only NUL.
bool quotableString(std::span<const std::uint8_t> raw) {
    if (raw.size() < 2 || raw.size() % 2 != 0) return false;
    for (std::size_t i = 0; i + 2 < raw.size(); i += 2)
        if (raw[i] == 0 && raw[i + 1] == 0) return false;
    return raw[raw.size() - 2] == 0 && raw[raw.size() - 1] == 0;
}

} // namespace

std::string formatDword(std::int32_t value, int mode) {
    const auto bits = static_cast<std::uint32_t>(value);
    switch (mode) {
    case kDwordHex:
        return codec::formatUnsigned(bits, 16) + 'h';
    case kDwordDecimal:
        return std::to_string(value);
    case kDwordBinary:
        return codec::formatUnsigned(bits, 2) + 'b';
    default:
        return {};
    }
}

char16_t byteGlyph(std::uint8_t byte) {
    // Bytes without a visible character of their own (controls, and the five codes Windows-1252
    // leaves unused) share one small circle: a glyph that the common fonts have, unlike the
    // control pictures, and that no byte stands for otherwise.
    constexpr char16_t kNone = 0x25E6;
    static constexpr char16_t kHigh[32] = { 0x20AC, kNone, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
        0x2030, 0x0160, 0x2039, 0x0152, kNone, 0x017D, kNone, kNone, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
        0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, kNone, 0x017E, 0x0178 };
    if (byte < 0x20 || byte == 0x7F) return kNone;
    if (byte < 0x7F) return byte;
    if (byte < 0xA0) return kHigh[byte - 0x80];
    if (byte == 0xA0) return 0x2423; // the no-break space, drawn as the open box of a blank
    if (byte == 0xAD) return 0x2010; // the soft hyphen, which text drawing leaves out
    return byte;
}

std::string formatBytes(std::span<const std::uint8_t> bytes, int mode) {
    std::string text;
    switch (mode) {
    case kBytesHex:
        codec::appendHexBytes(text, bytes, " ");
        if (!bytes.empty()) text.push_back(' ');
        break;
    case kBytesDecimal:
        text.reserve(bytes.size() * 4);
        for (std::uint8_t b : bytes) {
            text.push_back(static_cast<char>('0' + b / 100));
            text.push_back(static_cast<char>('0' + b / 10 % 10));
            text.push_back(static_cast<char>('0' + b % 10));
            text.push_back(' ');
        }
        break;
    case kBytesCharacters:
        text.reserve(bytes.size() * 2);
        for (std::uint8_t b : bytes)
            appendByteGlyph(text, b);
        break;
    default:
        break;
    }
    return text;
}

std::string gridText(std::uint32_t type, std::span<const std::uint8_t> raw, int binaryMode, int dwordMode) {
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz: {
        std::string text(1, '"');
        text += codec::stringUpToNul(raw);
        text += '"';
        return text;
    }
    case reg::kRegDword:
        // More than four bytes are no number; fewer are one whose high bytes are zero.
        if (raw.size() > 4) return "[Invalid Integer Data]";
        return formatDword(static_cast<std::int32_t>(codec::dwordFromBytes(raw)), dwordMode);
    default: {
        std::string utf8;
        return formatBytes(asBytes(programBytes(type, raw, utf8)), binaryMode);
    }
    }
}

namespace {

std::string multiStringReadable(std::span<const std::uint8_t> raw) {
    const std::u16string units = reg::unitsFromUtf16LE(raw);
    std::string text;
    bool first = true;
    for (const std::u16string_view string : codec::splitMultiString(units)) {
        if (!first) text += kMultiStringSeparator;
        first = false;
        for (const char c : reg::toUtf8(string)) {
            if (c == '\r' || c == '\n')
                text += "\xE2\x86\xB5"; // U+21B5, the return arrow
            else
                text.push_back(c);
        }
    }
    return text;
}

std::string formatQword(std::uint64_t value, int mode) {
    switch (mode) {
    case kDwordHex:
        return codec::formatUnsigned(value, 16) + 'h';
    case kDwordDecimal:
        return std::to_string(value);
    case kDwordBinary:
        return codec::formatUnsigned(value, 2) + 'b';
    default:
        return {};
    }
}

} // namespace

std::string readableGridText(std::uint32_t type, std::span<const std::uint8_t> raw, int binaryMode, int dwordMode) {
    if (binaryMode != kBytesCharacters) return gridText(type, raw, binaryMode, dwordMode);
    if (type == reg::kRegMultiSz) return multiStringReadable(raw);
    if (type == reg::kRegQword && raw.size() == 8) return formatQword(codec::qwordFromBytes(raw), dwordMode);
    if (type == reg::kRegDwordBigEndian && raw.size() == 4) {
        const std::uint32_t value = std::uint32_t(raw[0]) << 24 | std::uint32_t(raw[1]) << 16
            | std::uint32_t(raw[2]) << 8 | std::uint32_t(raw[3]);
        return formatDword(static_cast<std::int32_t>(value), dwordMode);
    }
    return gridText(type, raw, binaryMode, dwordMode);
}

void appendRegFileValue(
    std::string& out, std::string_view name, std::uint32_t type, std::span<const std::uint8_t> raw) {
    out.push_back('"');
    appendEscapedName(out, name);
    out += "\"=";
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz:
        appendRegFileString(out, type, codec::stringUpToNul(raw));
        break;
    case reg::kRegDword:
        if (raw.size() == 4) {
            out += "dword:";
            out += codec::formatUnsigned(codec::dwordFromBytes(raw), 16);
        } else {
            // A dword: line stands for four bytes; data of another length, which reading it as a
            // number would pad or refuse, keeps its bytes and its kind in the hex form.
            out += "hex(4):";
            codec::appendHexBytes(out, raw, ",", codec::ByteDigits::Fewest);
        }
        break;
    default: {
        std::string utf8;
        out += "hex:";
        codec::appendHexBytes(out, asBytes(programBytes(type, raw, utf8)), ",", codec::ByteDigits::Fewest);
    }
    }
}

void appendRegFileValueName(std::string& out, std::string_view name) {
    if (name.empty()) {
        out += "@=";
        return;
    }
    out.push_back('"');
    appendEscapedName(out, name);
    out += "\"=";
}

void appendUnicodeRegFileValue(
    std::string& out, std::string_view name, std::uint32_t type, std::span<const std::uint8_t> raw) {
    const std::size_t lineStart = out.size();
    appendRegFileValueName(out, name);
    if (type == reg::kRegSz && quotableString(raw)) {
        std::string text;
        reg::appendUtf8FromUtf16LE(text, raw.data(), raw.size() - 2);
        out.push_back('"');
        appendEscapedName(out, text); // the same escapes as a name: a line break stays on its line
        out.push_back('"');
        return;
    }
    if (type == reg::kRegDword && raw.size() == 4) {
        const std::string digits = codec::formatUnsigned(codec::dwordFromBytes(raw), 16, codec::LetterCase::Lower);
        out += "dword:" + std::string(8 - digits.size(), '0') + digits;
        return;
    }
    if (type == reg::kRegBinary)
        out += "hex:";
    else
        out += "hex(" + codec::formatUnsigned(type, 16, codec::LetterCase::Lower) + "):";
    appendWrappedHex(out, utf16Length(std::string_view(out).substr(lineStart)), raw);
}

std::string EscapeRegText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    appendEscaped(escaped, text);
    return escaped;
}

std::string queryText(std::uint32_t type, std::span<const std::uint8_t> raw) {
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz:
        return codec::stringUpToNul(raw);
    case reg::kRegMultiSz:
        return multiStringQueryText(raw);
    case reg::kRegDword:
        if (raw.size() == 4) return hexNumber(codec::dwordFromBytes(raw));
        return hexBytes(raw);
    case reg::kRegDwordBigEndian:
        if (raw.size() == 4) return hexNumber(std::uint32_t { raw[0] } << 24 | raw[1] << 16 | raw[2] << 8 | raw[3]);
        return hexBytes(raw);
    case reg::kRegQword:
        if (raw.size() == 8) return hexNumber(codec::qwordFromBytes(raw));
        return hexBytes(raw);
    default:
        return hexBytes(raw);
    }
}

std::string searchText(std::uint32_t type, std::span<const std::uint8_t> raw) {
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz:
        return codec::stringUpToNul(raw);
    case reg::kRegDword:
        if (raw.size() > 4) return {}; // what reading it as a number refuses
        return std::to_string(static_cast<std::int32_t>(codec::dwordFromBytes(raw)));
    case reg::kRegBinary:
        return std::string(raw.begin(), raw.end());
    default:
        return {};
    }
}

bool nameLess(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x >= 0x80 || y >= 0x80) {
            // Beyond ASCII the registry's own folding decides, on the rest of both names.
            const int order = reg::compareNames(reg::toUtf16(a.substr(i)), reg::toUtf16(b.substr(i)));
            if (order != 0) return order < 0;
            return a < b;
        }
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

} // namespace quern
