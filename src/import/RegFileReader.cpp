#include "import/RegFileReader.h"

#include "base/RegTypes.h"
#include "codec/FileRead.h"
#include "codec/Utf.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace quern {

namespace {

constexpr std::u16string_view kRegedit4 = u"REGEDIT4";
constexpr std::u16string_view kVersion5 = u"Windows Registry Editor Version 5.00";

struct RootName {
    std::u16string_view longName;
    std::u16string_view shortName;
    reg::HKey handle;
};

// HKEY_DYN_DATA has no short name; HKDD would be one nobody writes.
constexpr std::array<RootName, 6> kRoots { {
    { u"HKEY_LOCAL_MACHINE", u"HKLM", reg::kLocalMachine },
    { u"HKEY_CURRENT_USER", u"HKCU", reg::kCurrentUser },
    { u"HKEY_CLASSES_ROOT", u"HKCR", reg::kClassesRoot },
    { u"HKEY_USERS", u"HKU", reg::kUsers },
    { u"HKEY_CURRENT_CONFIG", u"HKCC", reg::kCurrentConfig },
    { u"HKEY_DYN_DATA", u"", reg::kDynData },
} };

// The characters Windows-1252 puts at 0x80..0x9F; the five codes it leaves unused map to the
// control of the same number, as the system's conversion does.
constexpr std::array<char16_t, 32> kCp1252High { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
    0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
    0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178 };

char16_t cp1252Unit(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte);
}

// The units of UTF-8 text; nothing when any byte is not part of valid UTF-8.
std::optional<std::u16string> unitsFromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[pos]);
        if (byte < 0x80) {
            out.push_back(byte);
            ++pos;
        } else if (!reg::decodeUtf8Char(bytes, pos, out)) {
            return std::nullopt;
        }
    }
    return out;
}

std::u16string unitsFromCp1252(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        out.push_back(cp1252Unit(static_cast<unsigned char>(c)));
    return out;
}

// Text a REGEDIT4 file holds as bytes: UTF-8 when it is valid UTF-8, else Windows-1252.
std::u16string unitsFromNarrow(std::string_view bytes) {
    if (auto units = unitsFromUtf8(bytes)) return std::move(*units);
    return unitsFromCp1252(bytes);
}

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view trimLeft(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return text.substr(i);
}

// Nothing but blanks, or blanks and a comment.
bool isLineEnd(std::u16string_view rest) {
    rest = trimLeft(rest);
    return rest.empty() || rest.front() == u';';
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

char16_t asciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

bool equalsAsciiNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    return true;
}

bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && equalsAsciiNoCase(text.substr(0, prefix.size()), prefix);
}

// Up to maxDigits hex digits at the start of text as a number; the count taken goes to used
// (0 when text does not begin with a digit).
std::uint32_t takeHex(std::u16string_view text, std::size_t maxDigits, std::size_t& used) {
    std::uint32_t value = 0;
    used = 0;
    while (used < text.size() && used < maxDigits && hexDigit(text[used]) >= 0)
        value = value << 4 | static_cast<std::uint32_t>(hexDigit(text[used++]));
    return value;
}

void appendUnitsLE(std::vector<std::uint8_t>& out, std::u16string_view units) {
    out.reserve(out.size() + units.size() * 2);
    for (char16_t u : units) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

// The registry file, line by line: CR LF, LF and a lone CR each end a line.
class LineReader {
public:
    explicit LineReader(std::u16string_view text)
        : m_text(text) { }
    bool next(std::u16string_view& line) {
        if (m_pos >= m_text.size()) return false;
        std::size_t end = m_pos;
        while (end < m_text.size() && m_text[end] != u'\n' && m_text[end] != u'\r')
            ++end;
        line = m_text.substr(m_pos, end - m_pos);
        m_pos = end;
        if (m_pos < m_text.size() && m_text[m_pos++] == u'\r' && m_pos < m_text.size() && m_text[m_pos] == u'\n')
            ++m_pos;
        ++m_number;
        return true;
    }
    [[nodiscard]] std::size_t number() const { return m_number; }

private:
    std::u16string_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_number = 0;
};

class Parser {
public:
    Parser(std::u16string_view text, std::string_view fileName, RegFileContent& content)
        : m_lines(text)
        , m_fileName(fileName)
        , m_content(content) { }

    // ReadFailed, with "FILE:LINE: expected ...", at the first thing the text gets wrong.
    reg::Status run();

private:
    // The steps stop at the first failure and leave its words in m_error.
    bool fail(std::string_view expected) { return failAt(m_lines.number(), expected); }
    bool failAt(std::size_t line, std::string_view expected);
    bool header();
    bool line(std::u16string_view text);
    bool keyLine(std::u16string_view text);
    bool rootAndPath(std::u16string_view keyPath, RegFileKey& key);
    bool valueLine(std::u16string_view text);
    bool quoted(std::u16string_view& text, std::u16string& out, std::string_view what);
    bool data(std::u16string_view text, RegFileValue& value);
    bool dwordData(std::u16string_view text, RegFileValue& value);
    bool hexType(std::u16string_view& text, RegFileValue& value);
    bool hexData(std::u16string_view text, RegFileValue& value);
    void narrowTextToUnits(RegFileValue& value) const;

    LineReader m_lines;
    std::string_view m_fileName;
    RegFileContent& m_content;
    std::string m_error;
};

bool Parser::failAt(std::size_t line, std::string_view expected) {
    m_error = std::string(m_fileName) + ":" + std::to_string(line) + ": expected " + std::string(expected);
    return false;
}

reg::Status Parser::run() {
    bool parsed = header();
    std::u16string_view text;
    while (parsed && m_lines.next(text))
        parsed = line(trimLeft(text));
    return parsed ? reg::Status::Ok : reg::Status(reg::Status::ReadFailed, m_error);
}

bool Parser::header() {
    constexpr std::string_view kExpected = "the header REGEDIT4 or Windows Registry Editor Version 5.00";
    std::u16string_view text;
    if (!m_lines.next(text)) return failAt(1, kExpected);
    text = trimLeft(text);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (text == kRegedit4)
        m_content.format = RegFileFormat::Regedit4;
    else if (text == kVersion5)
        m_content.format = RegFileFormat::Version5;
    else
        return fail(kExpected);
    return true;
}

bool Parser::line(std::u16string_view text) {
    if (text.empty() || text.front() == u';') return true;
    if (text.front() == u'[') return keyLine(text.substr(1));
    if (text.front() == u'@' || text.front() == u'"') return valueLine(text);
    return fail("[KEY], \"NAME\"=, @=, a comment or an empty line");
}

bool Parser::keyLine(std::u16string_view text) {
    // Key names may hold ']' themselves: the last one on the line closes the path.
    const std::size_t close = text.rfind(u']');
    if (close == std::u16string_view::npos) return fail("] at the end of the key line");
    if (!isLineEnd(text.substr(close + 1))) return fail("nothing but a comment after the ] of the key line");
    RegFileKey key;
    key.line = m_lines.number();
    text = text.substr(0, close);
    if (!text.empty() && text.front() == u'-') {
        key.remove = true;
        text.remove_prefix(1);
    }
    if (!rootAndPath(text, key)) return false;
    m_content.keys.push_back(std::move(key));
    return true;
}

bool Parser::rootAndPath(std::u16string_view keyPath, RegFileKey& key) {
    const std::size_t slash = keyPath.find(u'\\');
    const std::u16string_view root = keyPath.substr(0, slash);
    for (const RootName& candidate : kRoots) {
        if (equalsAsciiNoCase(root, candidate.longName)
            || (!candidate.shortName.empty() && equalsAsciiNoCase(root, candidate.shortName))) {
            key.root = candidate.handle;
            key.rootName = reg::toUtf8(candidate.longName);
        }
    }
    if (key.root == reg::kNoKey)
        return fail("a root key (HKEY_LOCAL_MACHINE, HKLM, HKCU, ...) at the start of the key path");
    std::u16string_view path = slash == std::u16string_view::npos ? std::u16string_view {} : keyPath.substr(slash + 1);
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    if (path.starts_with(u'\\') || path.find(u"\\\\") != std::u16string_view::npos)
        return fail("a key name between two backslashes");
    if (key.remove && path.empty()) return fail("a key below the root: a root key cannot be deleted");
    key.path = std::u16string(path);
    return true;
}

bool Parser::valueLine(std::u16string_view text) {
    if (m_content.keys.empty()) return fail("a [KEY] line before the first value");
    if (m_content.keys.back().remove) return fail("a [KEY] line: the values of a deleted key [-KEY] go nowhere");
    RegFileValue value;
    value.line = m_lines.number();
    if (text.front() == u'@') {
        text.remove_prefix(1);
    } else {
        text.remove_prefix(1);
        if (!quoted(text, value.name, "\" to close the value name")) return false;
    }
    text = trimLeft(text);
    if (text.empty() || text.front() != u'=') return fail("= after the value name");
    if (!data(trimLeft(text.substr(1)), value)) return false;
    m_content.keys.back().values.push_back(std::move(value));
    return true;
}

// Reads the escaped text up to its closing quote (text begins after the opening one) and leaves
// text after the closing one. \\ \" \n \r \0 are escapes; a backslash before anything else stays
// with it, as Wine keeps it.
bool Parser::quoted(std::u16string_view& text, std::u16string& out, std::string_view what) {
    std::size_t i = 0;
    while (i < text.size() && text[i] != u'"') {
        if (text[i] != u'\\' || i + 1 == text.size()) {
            out.push_back(text[i++]);
            continue;
        }
        const char16_t next = text[i + 1];
        switch (next) {
        case u'\\':
        case u'"':
            out.push_back(next);
            break;
        case u'n':
            out.push_back(u'\n');
            break;
        case u'r':
            out.push_back(u'\r');
            break;
        case u'0':
            out.push_back(u'\0');
            break;
        default:
            out.push_back(u'\\');
            out.push_back(next);
            break;
        }
        i += 2;
    }
    if (i >= text.size()) return fail(what);
    text.remove_prefix(i + 1);
    return true;
}

bool Parser::data(std::u16string_view text, RegFileValue& value) {
    if (!text.empty() && text.front() == u'-') {
        if (!isLineEnd(text.substr(1))) return fail("nothing but a comment after =-");
        value.remove = true;
        return true;
    }
    if (!text.empty() && text.front() == u'"') {
        text.remove_prefix(1);
        std::u16string units;
        if (!quoted(text, units, "\" to close the string")) return false;
        if (!isLineEnd(text)) return fail("nothing but a comment after the string's closing \"");
        units.push_back(u'\0');
        value.type = reg::kRegSz;
        appendUnitsLE(value.data, units);
        return true;
    }
    if (startsWithNoCase(text, u"dword:")) return dwordData(text.substr(6), value);
    if (startsWithNoCase(text, u"hex")) {
        text.remove_prefix(3);
        return hexType(text, value) && hexData(text, value);
    }
    return fail("\"STRING\", dword:, hex:, hex(TYPE): or - after =");
}

bool Parser::dwordData(std::u16string_view text, RegFileValue& value) {
    text = trimLeft(text);
    std::size_t used = 0;
    const std::uint32_t number = takeHex(text, 8, used);
    if (used == 0 || !isLineEnd(text.substr(used))) return fail("1 to 8 hex digits after dword:");
    value.type = reg::kRegDword;
    for (int shift = 0; shift < 32; shift += 8)
        value.data.push_back(static_cast<std::uint8_t>(number >> shift));
    return true;
}

// After "hex": ":" for binary data, or "(TYPE):" with the type in 1 to 8 hex digits.
bool Parser::hexType(std::u16string_view& text, RegFileValue& value) {
    if (!text.empty() && text.front() == u':') {
        value.type = reg::kRegBinary;
        text.remove_prefix(1);
        return true;
    }
    std::size_t used = 0;
    if (!text.empty() && text.front() == u'(') value.type = takeHex(text.substr(1), 8, used);
    if (used == 0 || text.size() < used + 3 || text.substr(used + 1, 2) != u"):")
        return fail("hex: or hex(TYPE): with TYPE in 1 to 8 hex digits");
    text.remove_prefix(used + 3);
    return true;
}

// Bytes of one or two hex digits separated by commas; a backslash at the end of a line goes on
// at the next one that is not blank or a comment.
bool Parser::hexData(std::u16string_view text, RegFileValue& value) {
    value.data.reserve(text.size() / 3 + 1);
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i == text.size() || text[i] == u';') break;
        if (text[i] == u'\\') {
            if (!isLineEnd(text.substr(i + 1))) return fail("the end of the line after the continuation \\");
            const std::size_t from = m_lines.number();
            do {
                if (!m_lines.next(text)) return failAt(from + 1, "more hex data after the \\ the last line ends in");
            } while (isLineEnd(text));
            i = 0;
            continue;
        }
        const int high = hexDigit(text[i++]);
        if (high < 0) return fail("a hex byte (one or two hex digits)");
        const int low = i < text.size() ? hexDigit(text[i]) : -1;
        i += low >= 0 ? 1 : 0;
        value.data.push_back(static_cast<std::uint8_t>(low >= 0 ? high << 4 | low : high));
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i < text.size() && text[i] == u',')
            ++i;
        else if (i < text.size() && text[i] != u'\\' && text[i] != u';')
            return fail(", between two hex bytes");
    }
    if (m_content.format == RegFileFormat::Regedit4) narrowTextToUnits(value);
    return true;
}

// A REGEDIT4 file holds the text of a string written in hex as the bytes of its code page; the
// registry keeps it as UTF-16, as Wine's regedit converts it.
void Parser::narrowTextToUnits(RegFileValue& value) const {
    if (!reg::isStringType(value.type)) return;
    const std::string_view bytes(reinterpret_cast<const char*>(value.data.data()), value.data.size());
    const std::u16string units = unitsFromNarrow(bytes);
    value.data.clear();
    appendUnitsLE(value.data, units);
}

// The text of the file: UTF-16LE after its byte-order mark, otherwise UTF-8 (its mark skipped)
// when valid, else Windows-1252. ReadFailed for a file that cannot be text.
reg::Status decodeFile(std::string_view bytes, std::string_view fileName, std::u16string& text) {
    const auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    const auto refused = [&](std::string_view why) {
        return reg::Status(reg::Status::ReadFailed, std::string(fileName) + ":1: expected " + std::string(why));
    };
    if (startsWith("\xFF\xFE")) {
        bytes.remove_prefix(2);
        if (bytes.size() % 2 != 0)
            return refused("UTF-16LE text of whole two-byte units; the file's length is odd, so it was cut short");
        text = reg::unitsFromUtf16LE({ reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() });
        return reg::Status::Ok;
    }
    if (startsWith("\xFE\xFF")) return refused("UTF-16LE or UTF-8 text; the file is UTF-16 big-endian");
    if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) return refused("a byte-order mark before UTF-16LE text");
    if (startsWith("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    text = unitsFromNarrow(bytes);
    return reg::Status::Ok;
}

} // namespace

std::string RegFileKey::fullPath() const {
    return path.empty() ? rootName : rootName + "\\" + reg::toUtf8(path);
}

reg::Status parseRegFile(std::string_view bytes, std::string_view fileName, RegFileContent& content) {
    content = {};
    std::u16string text;
    if (reg::Status decoded = decodeFile(bytes, fileName, text); !decoded.ok()) return decoded;
    RegFileContent parsed;
    parsed.fileName = std::string(fileName);
    Parser parser(text, fileName, parsed);
    if (reg::Status read = parser.run(); !read.ok()) return read;
    content = std::move(parsed);
    return reg::Status::Ok;
}

reg::Status readRegFile(const std::string& path, RegFileContent& content) {
    content = {};
    // A backup of a whole registry is tens of megabytes; anything past this is no registry file,
    // and a device or a FIFO may never end at all.
    constexpr long long kMaxFileSize = 1LL << 30;
    std::string bytes;
    struct stat st { };
    const reg::Status read = readRegularFile(path, kMaxFileSize, bytes, st);
    if (read.ok()) return parseRegFile(bytes, path, content);
    return reg::Status(
        read.code(), read == reg::Status::NotFound ? path + ": " + std::strerror(ENOENT) : path + " " + read.message());
}

} // namespace quern
