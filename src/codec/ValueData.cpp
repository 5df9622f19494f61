#include "codec/ValueData.h"

#include "codec/NumberText.h"
#include "codec/Utf.h"

#include <algorithm>

namespace quern::codec {

std::string stringUpToNul(std::span<const std::uint8_t> data) {
    std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < units; ++i)
        if (data[2 * i] == 0 && data[2 * i + 1] == 0) units = i;
    std::string text;
    reg::appendUtf8FromUtf16LE(text, data.data(), units * 2);
    return text;
}

std::vector<std::u16string_view> splitMultiString(std::u16string_view units) {
    for (int i = 0; i < 2 && !units.empty() && units.back() == u'\0'; ++i)
        units.remove_suffix(1);
    std::vector<std::u16string_view> strings;
    for (;;) {
        const std::size_t nul = units.find(u'\0');
        strings.push_back(units.substr(0, nul));
        if (nul == std::u16string_view::npos) return strings;
        units.remove_prefix(nul + 1);
    }
}

std::u16string joinMultiString(std::span<const std::u16string_view> strings) {
    std::u16string units;
    for (const auto string : strings) {
        units += string;
        units.push_back(u'\0');
    }
    units.push_back(u'\0'); // the empty string that closes the list
    return units;
}

MultiStringLines multiStringLines(std::span<const std::uint8_t> data) {
    const std::u16string units = reg::unitsFromUtf16LE(data);
    MultiStringLines lines;
    if (data.size() % 2) lines.losses |= kMultiStringOddByte;
    std::vector<std::u16string_view> strings = splitMultiString(units);
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i) lines.text.push_back(u'\n');
        lines.text += strings[i];
        if (strings[i].find(u'\n') != std::u16string_view::npos) lines.losses |= kMultiStringLineBreak;
    }
    // The end as the text writes it: the strings up to the last one that is not empty.
    while (!strings.empty() && strings.back().empty())
        strings.pop_back();
    const std::u16string canonical = joinMultiString(strings);
    if (canonical != units) {
        // Data that ends in its closing NUL (a second NUL after a string's own, or the one NUL
        // of no strings) only has more NULs than the text keeps; any other misses its end.
        const bool closed = units.size() >= 2 ? units.ends_with(std::u16string_view(u"\0\0", 2)) : units == canonical;
        lines.losses |= closed ? kMultiStringExtraEnd : kMultiStringNoEnd;
    }
    return lines;
}

std::vector<std::uint8_t> multiStringFromLines(std::u16string_view text) {
    std::vector<std::u16string_view> strings;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(u'\n', start), text.size());
        strings.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    while (!strings.empty() && strings.back().empty())
        strings.pop_back();
    return reg::utf16LEBytes(joinMultiString(strings));
}

void appendHexBytes(
    std::string& out, std::span<const std::uint8_t> bytes, std::string_view separator, ByteDigits digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.reserve(out.size() + bytes.size() * (2 + separator.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += separator;
        if (digits == ByteDigits::Two || bytes[i] >= 16) out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
    }
}

std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2 + 1);
    // The first byte takes one digit when the count is odd, so every later byte takes two.
    for (std::size_t width = text.size() % 2 ? 1 : 2; !text.empty(); width = 2) {
        const auto byte = parseUnsigned(text.substr(0, width), 16, 8);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*byte));
        text.remove_prefix(width);
    }
    return bytes;
}

} // namespace quern::codec
