#include "base/Names.h"

#include <vector>

namespace quern::reg {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

} // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    // Names and strings are mostly ASCII: take that run in one go.
    std::size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80)
        ++ascii;
    out.resize(ascii);
    for (std::size_t i = 0; i < ascii; ++i)
        out[i] = static_cast<char>(text[i]);
    if (ascii == text.size()) return out;
    out.reserve(text.size() + 8);
    for (std::size_t i = ascii; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, unit); // a lone surrogate too, in the three bytes of its code
        }
    }
    return out;
}

bool decodeUtf8Char(std::string_view s, std::size_t& pos, std::u16string& out) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    int extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    else
        return false;
    if (pos + static_cast<std::size_t>(extra) >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(k)]);
        if ((next & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF) return false;
    appendUtf16(out, cp);
    pos += static_cast<std::size_t>(extra) + 1;
    return true;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            out.push_back(byte);
            ++pos;
        } else if (!decodeUtf8Char(text, pos, out)) {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++pos;
        }
    }
    return out;
}

char16_t foldUnit(char16_t u) {
    if (u < 0x80) return (u >= 'A' && u <= 'Z') ? static_cast<char16_t>(u + 32) : u;
    if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char16_t>(u + 32);
    if (u >= 0x100 && u <= 0x17F) {
        // Latin Extended-A pairs upper and lower case as even and odd, except the block around U+0138
        // and U+0178 (Ÿ) whose lower case is U+00FF.
        if (u == 0x178) return 0xFF;
        if (u == 0x130 || u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return u;
        const bool oddIsUpper = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
        if (oddIsUpper) return (u & 1) ? static_cast<char16_t>(u + 1) : u;
        return (u & 1) ? u : static_cast<char16_t>(u + 1);
    }
    if (u >= 0x391 && u <= 0x3AB && u != 0x3A2) return static_cast<char16_t>(u + 32);
    if (u >= 0x410 && u <= 0x42F) return static_cast<char16_t>(u + 32);
    if (u >= 0x400 && u <= 0x40F) return static_cast<char16_t>(u + 80);
    return u;
}

namespace {

// Compares unit by unit after casing each with caseOf, then by length.
template<char16_t (*caseOf)(char16_t)> int compareCased(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        // Most units of most names are equal as they stand: only the others need casing.
        if (a[i] == b[i]) continue;
        const char16_t x = caseOf(a[i]);
        const char16_t y = caseOf(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

} // namespace

int compareNames(std::u16string_view a, std::u16string_view b) {
    return compareCased<foldUnit>(a, b);
}

char16_t upperUnit(char16_t unit) {
    if (unit < 0x80) return (unit >= 'a' && unit <= 'z') ? static_cast<char16_t>(unit - 32) : unit;
    // The upper case of each folded unit is the unit that folds to it: one table, built once,
    // keeps the two orders' notions of equal names the same.
    static const std::vector<char16_t> upper = [] {
        std::vector<char16_t> table(0x10000, 0);
        for (std::uint32_t u = 0; u < 0x10000; ++u) {
            const char16_t folded = foldUnit(static_cast<char16_t>(u));
            if (folded != u && table[folded] == 0) table[folded] = static_cast<char16_t>(u);
        }
        return table;
    }();
    const char16_t folded = foldUnit(unit);
    return upper[folded] ? upper[folded] : folded;
}

int compareNamesUpper(std::u16string_view a, std::u16string_view b) {
    return compareCased<upperUnit>(a, b);
}

std::string upperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return upper;
}

} // namespace quern::reg
