#include "codec/RegData.h"

#include "base/RegTypes.h"
#include "codec/NumberText.h"
#include "codec/Utf.h"
#include "codec/ValueData.h"

#include <array>

namespace quern::codec {

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

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// Decimal digits, or 0x and hex digits, of a number that fits in bits. A number that does not
// fit is refused rather than cut, so no data is silently wrong.
std::optional<std::uint64_t> parseNumber(std::string_view text, int bits) {
    if (text.size() > 1 && text[0] == '0' && lowerAscii(text[1]) == 'x') return parseUnsigned(text.substr(2), 16, bits);
    return parseUnsigned(text, 10, bits);
}

std::vector<std::uint8_t> numberBytes(std::uint64_t number, bool dword) {
    if (dword) {
        const auto bytes = dwordBytes(static_cast<std::uint32_t>(number));
        return { bytes.begin(), bytes.end() };
    }
    const auto bytes = qwordBytes(number);
    return { bytes.begin(), bytes.end() };
}

// The strings of a /d text: split at the separator, or at the two characters \0.
std::vector<std::u16string_view> splitAtSeparator(std::u16string_view text, std::optional<char16_t> separator) {
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
    return items;
}

reg::Status encodeMultiString(
    std::u16string_view text, std::optional<char16_t> separator, std::vector<std::uint8_t>& bytes) {
    std::vector<std::u16string_view> items = splitAtSeparator(text, separator);
    if (!text.empty()) {
        for (const auto& item : items) {
            if (item.empty())
                return reg::Status(
                    reg::Status::InvalidData, "The data of a REG_MULTI_SZ value cannot hold an empty string.");
        }
    }
    std::erase_if(items, [](std::u16string_view item) { return item.empty(); });
    bytes = reg::utf16LEBytes(joinMultiString(items));
    return reg::Status::Ok;
}

} // namespace

std::optional<std::uint32_t> typeFromName(std::string_view name) {
    for (const auto& entry : kWritableTypes)
        if (equalsIgnoringCase(entry.name, name)) return entry.type;
    return std::nullopt;
}

std::string typeName(std::uint32_t type) {
    if (type < kTypeNames.size()) return std::string(kTypeNames[type]);
    return "0x" + formatUnsigned(type, 16, LetterCase::Lower);
}

std::string typeColumnName(std::uint32_t type) {
    if (type < kTypeNames.size()) return std::string(kTypeNames[type]);
    std::string digits = formatUnsigned(type, 16, LetterCase::Lower);
    return "0x" + std::string(8 - digits.size(), '0') + digits;
}

reg::Status encodeData(
    std::uint32_t type, std::string_view text, std::optional<char16_t> separator, std::vector<std::uint8_t>& bytes) {
    const auto refused = [](std::string message) { return reg::Status(reg::Status::InvalidData, std::move(message)); };
    switch (type) {
    case reg::kRegNone:
    case reg::kRegSz:
    case reg::kRegExpandSz: {
        std::u16string units = reg::toUtf16(text);
        units.push_back(u'\0');
        bytes = reg::utf16LEBytes(units);
        return reg::Status::Ok;
    }
    case reg::kRegDword:
    case reg::kRegQword: {
        const bool dword = type == reg::kRegDword;
        const auto number = parseNumber(text, dword ? 32 : 64);
        if (!number)
            return refused(std::string("The data of a ") + (dword ? "REG_DWORD" : "REG_QWORD")
                + " value must be a number from 0 to " + (dword ? "4294967295 (0xffffffff)" : "0xffffffffffffffff")
                + ", in decimal or with 0x in hex.");
        bytes = numberBytes(*number, dword);
        return reg::Status::Ok;
    }
    case reg::kRegBinary: {
        auto parsed = parseHexBytes(text);
        if (!parsed) return refused("The data of a REG_BINARY value must be hex digits (0-9, A-F), two for each byte.");
        bytes = std::move(*parsed);
        return reg::Status::Ok;
    }
    case reg::kRegMultiSz:
        return encodeMultiString(reg::toUtf16(text), separator, bytes);
    default:
        return refused("Values of type " + typeName(type) + " cannot be written from the command line.");
    }
}

} // namespace quern::codec
