#include "codec/RegData.h"

#include "codec/Utf.h"
#include "registry/RegTypes.h"

#include <array>
#include <cstring>

namespace quern::cli {

namespace {

struct TypeEntry {
    std::string_view name;
    std::uint32_t type;
};

// The types /t accepts; REG_DWORD_LITTLE_ENDIAN is another name of REG_DWORD.
constexpr std::array<TypeEntry, 8> kWritableTypes { {
    { "REG_NONE", reg::kRegNone },
    { "REG_SZ", reg::kRegSz },
    { "REG_EXPAND_SZ", reg::kRegExpandSz },
    { "REG_BINARY", reg::kRegBinary },
    { "REG_DWORD", reg::kRegDword },
    { "REG_DWORD_LITTLE_ENDIAN", reg::kRegDword },
    { "REG_MULTI_SZ", reg::kRegMultiSz },
    { "REG_QWORD", reg::kRegQword },
} };

// Every type the registry defines has a name in query's output, whether or not /t can make it.
constexpr std::array<std::string_view, 12> kTypeNames { "REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY",
    "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ", "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR", "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD" };

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decimal digits, or 0x and hex digits; no sign, no spaces, nothing after the digits, no more
// than max. A number that does not fit is refused rather than cut, so no data is silently wrong.
bool parseNumber(std::string_view text, std::uint64_t max, std::uint64_t& number) {
    unsigned base = 10;
    if (text.size() > 1 && text[0] == '0' && lowerAscii(text[1]) == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    number = 0;
    for (char c : text) {
        const int digit = hexValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
        if (number > (max - static_cast<unsigned>(digit)) / base) return false;
        number = number * base + static_cast<unsigned>(digit);
    }
    return true;
}

void appendUnits(std::vector<std::uint8_t>& bytes, std::u16string_view units) {
    for (char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
}

std::u16string unitsOf(std::span<const std::uint8_t> bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return units;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(kUpperHexDigits[byte >> 4]);
        text.push_back(kUpperHexDigits[byte & 0xF]);
    }
    return text;
}

std::string hexNumber(std::uint64_t number) {
    std::string digits;
    do {
        digits.insert(digits.begin(), kHexDigits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    return "0x" + digits;
}

bool encodeMultiString(
    std::u16string_view text, std::optional<char16_t> separator, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::vector<std::u16string_view> items;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t width = 0;
        if (separator)
            width = text[i] == *separator ? 1 : 0;
        else
            width = text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u'0' ? 2 : 0;
        if (width == 0) {
            ++i;
            continue;
        }
        items.push_back(text.substr(start, i - start));
        i += width;
        start = i;
    }
    // A separator at the very end closes the last string; anywhere else it would make an empty
    // string, which ends a multi-string early and so cannot be stored inside one.
    if (start < text.size() || items.empty()) items.push_back(text.substr(start));
    for (const auto& item : items) {
        if (item.empty() && !text.empty()) {
            error = "The data of a REG_MULTI_SZ value cannot hold an empty string.";
            return false;
        }
    }
    bytes.clear();
    for (const auto& item : items) {
        if (item.empty()) continue;
        appendUnits(bytes, item);
        bytes.insert(bytes.end(), { 0, 0 });
    }
    bytes.insert(bytes.end(), { 0, 0 }); // the empty string that closes the list
    return true;
}

} // namespace

std::optional<std::uint32_t> typeFromName(std::string_view name) {
    for (const auto& entry : kWritableTypes)
        if (equalsIgnoringCase(entry.name, name)) return entry.type;
    return std::nullopt;
}

std::string typeName(std::uint32_t type) {
    if (type < kTypeNames.size()) return std::string(kTypeNames[type]);
    return hexNumber(type);
}

bool encodeData(std::uint32_t type, std::string_view text, std::optional<char16_t> separator,
    std::vector<std::uint8_t>& bytes, std::string& error) {
    switch (type) {
    case reg::kRegNone:
    case reg::kRegSz:
    case reg::kRegExpandSz: {
        std::u16string units = reg::toUtf16(text);
        units.push_back(u'\0');
        bytes.clear();
        appendUnits(bytes, units);
        return true;
    }
    case reg::kRegDword:
    case reg::kRegQword: {
        const bool dword = type == reg::kRegDword;
        std::uint64_t number = 0;
        if (!parseNumber(text, dword ? 0xFFFFFFFFull : ~0ull, number)) {
            error = std::string("The data of a ") + (dword ? "REG_DWORD" : "REG_QWORD")
                + " value must be a number from 0 to " + (dword ? "4294967295 (0xffffffff)" : "0xffffffffffffffff")
                + ", in decimal or with 0x in hex.";
            return false;
        }
        bytes.clear();
        for (int i = 0; i < (dword ? 4 : 8); ++i)
            bytes.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
        return true;
    }
    case reg::kRegBinary: {
        std::vector<std::uint8_t> parsed;
        parsed.reserve(text.size() / 2 + 1);
        std::size_t i = 0;
        if (text.size() % 2 == 1) {
            const int digit = hexValue(text[0]);
            if (digit < 0) break;
            parsed.push_back(static_cast<std::uint8_t>(digit));
            i = 1;
        }
        for (; i < text.size(); i += 2) {
            const int high = hexValue(text[i]);
            const int low = hexValue(text[i + 1]);
            if (high < 0 || low < 0) break;
            parsed.push_back(static_cast<std::uint8_t>(high << 4 | low));
        }
        if (i < text.size()) break;
        bytes = std::move(parsed);
        return true;
    }
    case reg::kRegMultiSz: {
        std::vector<std::uint8_t> parsed;
        if (!encodeMultiString(reg::toUtf16(text), separator, parsed, error)) return false;
        bytes = std::move(parsed);
        return true;
    }
    default:
        error = "Values of type " + typeName(type) + " cannot be written from the command line.";
        return false;
    }
    error = "The data of a REG_BINARY value must be hex digits (0-9, A-F), two for each byte.";
    return false;
}

std::string formatData(std::uint32_t type, std::span<const std::uint8_t> bytes) {
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz: {
        const std::u16string units = unitsOf(bytes);
        return reg::toUtf8(std::u16string_view(units).substr(0, units.find(u'\0')));
    }
    case reg::kRegMultiSz: {
        std::u16string units = unitsOf(bytes);
        // The last string's NUL and the list's closing NUL are the format, not the data.
        for (int i = 0; i < 2 && !units.empty() && units.back() == u'\0'; ++i)
            units.pop_back();
        std::string text;
        std::size_t start = 0;
        for (;;) {
            const std::size_t nul = units.find(u'\0', start);
            text += reg::toUtf8(std::u16string_view(units).substr(start, nul - start));
            if (nul == std::u16string::npos) break;
            text += "\\0";
            start = nul + 1;
        }
        return text;
    }
    case reg::kRegDword:
    case reg::kRegDwordBigEndian:
        if (bytes.size() == 4) {
            std::uint32_t number = 0;
            for (int i = 0; i < 4; ++i) {
                const std::uint32_t byte = bytes[static_cast<std::size_t>(type == reg::kRegDword ? i : 3 - i)];
                number |= byte << (8 * i);
            }
            return hexNumber(number);
        }
        return hexBytes(bytes);
    case reg::kRegQword:
        if (bytes.size() == 8) {
            std::uint64_t number = 0;
            for (int i = 0; i < 8; ++i)
                number |= static_cast<std::uint64_t>(bytes[static_cast<std::size_t>(i)]) << (8 * i);
            return hexNumber(number);
        }
        return hexBytes(bytes);
    default:
        return hexBytes(bytes);
    }
}

} // namespace quern::cli
