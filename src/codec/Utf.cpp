#include "codec/Utf.h"

#include "codec/NumberText.h"

namespace quern::reg {

void appendUtf8FromUtf16LE(std::string& out, const std::uint8_t* bytes, std::size_t size) {
    const std::size_t units = size / 2;
    std::size_t i = 0;
    // The common case, ASCII, in one pass without decoding.
    while (i < units && bytes[2 * i + 1] == 0 && bytes[2 * i] < 0x80)
        out.push_back(static_cast<char>(bytes[2 * i++]));
    if (i == units) return;
    out += toUtf8(unitsFromUtf16LE({ bytes + 2 * i, size - 2 * i }));
}

std::u16string unitsFromUtf16LE(std::span<const std::uint8_t> bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return units;
}

std::vector<std::uint8_t> utf16LEBytes(std::u16string_view units) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

namespace {

constexpr std::string_view kEscapeOpen = "<U+";

bool isEncodedSurrogate(std::string_view text, std::size_t pos) {
    return pos + 2 < text.size() && static_cast<unsigned char>(text[pos]) == 0xED
        && (static_cast<unsigned char>(text[pos + 1]) & 0xE0) == 0xA0
        && (static_cast<unsigned char>(text[pos + 2]) & 0xC0) == 0x80;
}

} // namespace

std::string escapeLoneSurrogates(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (!isEncodedSurrogate(text, pos)) {
            out.push_back(text[pos]);
            continue;
        }
        const unsigned unit = 0xD000u | ((static_cast<unsigned char>(text[pos + 1]) & 0x3Fu) << 6)
            | (static_cast<unsigned char>(text[pos + 2]) & 0x3Fu);
        out += kEscapeOpen;
        out += codec::formatUnsigned(unit, 16); // a surrogate always has four digits
        out.push_back('>');
        pos += 2;
    }
    return out;
}

std::string unescapeLoneSurrogates(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (text.compare(pos, kEscapeOpen.size(), kEscapeOpen) == 0 && pos + 7 < text.size() && text[pos + 7] == '>') {
            const auto unit = codec::parseUnsigned(text.substr(pos + 3, 4), 16, 16);
            if (unit && *unit >= 0xD800 && *unit <= 0xDFFF) {
                const auto lone = static_cast<char16_t>(*unit);
                out += toUtf8(std::u16string_view(&lone, 1));
                pos += 7;
                continue;
            }
        }
        out.push_back(text[pos]);
    }
    return out;
}

} // namespace quern::reg
