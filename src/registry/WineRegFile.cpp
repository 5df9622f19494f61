#include "registry/WineRegFile.h"

#include "registry/Utf.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quern::reg {

namespace {

constexpr std::array<signed char, 256> makeHexTable() {
    std::array<signed char, 256> table {};
    for (auto& v : table)
        v = -1;
    for (int c = '0'; c <= '9'; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'A' + 10);
    return table;
}
constexpr auto kHex = makeHexTable();

inline int hexDigit(char c) {
    return kHex[static_cast<unsigned char>(c)];
}
inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

void skipSpaces(std::string_view s, std::size_t& pos) {
    while (pos < s.size() && isSpace(s[pos]))
        ++pos;
}

bool onlySpacesFrom(std::string_view s, std::size_t pos) {
    skipSpaces(s, pos);
    return pos == s.size();
}

// Lines with their offsets; a line's text has neither its LF nor a CR before it.
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : m_text(text) { }

    bool next() {
        if (m_next >= m_text.size()) return false;
        m_start = m_next;
        const void* lf = std::memchr(m_text.data() + m_start, '\n', m_text.size() - m_start);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - m_text.data()) : m_text.size();
        m_next = lf ? end + 1 : end;
        if (end > m_start && m_text[end - 1] == '\r') --end;
        m_line = m_text.substr(m_start, end - m_start);
        ++m_number;
        return true;
    }
    [[nodiscard]] std::string_view line() const { return m_line; }
    [[nodiscard]] std::size_t start() const { return m_start; }
    [[nodiscard]] std::size_t end() const { return m_next; } // after the line's terminator
    [[nodiscard]] std::size_t number() const { return m_number; }
    [[nodiscard]] std::string_view raw() const { return m_text.substr(m_start, m_next - m_start); }

private:
    std::string_view m_text;
    std::size_t m_next = 0;
    std::size_t m_start = 0;
    std::string_view m_line;
    std::size_t m_number = 0;
};

void appendUnitsLE(std::vector<std::uint8_t>& data, std::u16string_view units) {
    data.reserve(data.size() + units.size() * 2 + 2);
    for (char16_t u : units) {
        data.push_back(static_cast<std::uint8_t>(u & 0xFF));
        data.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

bool startsWith(std::string_view s, std::size_t pos, std::string_view prefix) {
    return s.size() - pos >= prefix.size() && s.compare(pos, prefix.size(), prefix) == 0;
}

// Hex bytes, comma separated, going on over further lines after a backslash.
bool parseHexData(LineReader& reader, std::string_view line, std::size_t pos, std::vector<std::uint8_t>& data) {
    data.reserve((line.size() - pos + 1) / 3);
    for (;;) {
        skipSpaces(line, pos);
        while (pos < line.size() && hexDigit(line[pos]) >= 0) {
            int value = hexDigit(line[pos++]);
            if (pos < line.size() && hexDigit(line[pos]) >= 0) value = value * 16 + hexDigit(line[pos++]);
            data.push_back(static_cast<std::uint8_t>(value));
            skipSpaces(line, pos);
            if (pos < line.size() && line[pos] == ',') ++pos;
            skipSpaces(line, pos);
        }
        if (pos == line.size()) return true;
        if (line[pos] != '\\' || !onlySpacesFrom(line, pos + 1)) return false;
        if (!reader.next()) return false;
        line = reader.line();
        pos = 0;
    }
}

// A value line, and its continuation lines for long hex data.
bool parseValue(LineReader& reader, std::string_view line, RawValue& value, std::u16string& text) {
    std::size_t pos = 0;
    skipSpaces(line, pos);
    value.name.clear();
    value.data.clear();
    if (line[pos] == '@') {
        ++pos;
    } else {
        ++pos;
        if (!parseEscaped(line, pos, '"', value.name)) return false;
    }
    skipSpaces(line, pos);
    if (pos >= line.size() || line[pos] != '=') return false;
    ++pos;
    skipSpaces(line, pos);

    auto parseString = [&](std::uint32_t type, std::size_t from) {
        value.type = type;
        text.clear();
        std::size_t p = from;
        if (!parseEscaped(line, p, '"', text) || !onlySpacesFrom(line, p)) return false;
        text.push_back(u'\0');
        appendUnitsLE(value.data, text);
        return true;
    };

    if (pos < line.size() && line[pos] == '"') return parseString(kRegSz, pos + 1);
    if (startsWith(line, pos, "str:\"")) return parseString(kRegSz, pos + 5);
    if (startsWith(line, pos, "str(2):\"")) return parseString(kRegExpandSz, pos + 8);
    if (startsWith(line, pos, "str(7):\"")) return parseString(kRegMultiSz, pos + 8);
    if (startsWith(line, pos, "dword:")) {
        pos += 6;
        std::uint32_t number = 0;
        std::size_t digits = 0;
        while (pos < line.size() && hexDigit(line[pos]) >= 0 && digits < 8) {
            number = number * 16 + static_cast<std::uint32_t>(hexDigit(line[pos++]));
            ++digits;
        }
        if (digits == 0 || !onlySpacesFrom(line, pos)) return false;
        value.type = kRegDword;
        value.data = { static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24) };
        return true;
    }
    if (startsWith(line, pos, "hex:")) {
        value.type = kRegBinary;
        return parseHexData(reader, line, pos + 4, value.data);
    }
    if (startsWith(line, pos, "hex(")) {
        pos += 4;
        std::uint32_t type = 0;
        std::size_t digits = 0;
        while (pos < line.size() && hexDigit(line[pos]) >= 0 && digits < 8) {
            type = type * 16 + static_cast<std::uint32_t>(hexDigit(line[pos++]));
            ++digits;
        }
        if (digits == 0 || !startsWith(line, pos, "):")) return false;
        value.type = type;
        return parseHexData(reader, line, pos + 2, value.data);
    }
    return false;
}

bool splitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(u'\\', start);
        const std::u16string_view part
            = path.substr(start, slash == std::u16string_view::npos ? path.npos : slash - start);
        if (part.empty() || parts.size() >= kMaxKeyDepth) return false;
        parts.push_back(part);
        if (slash == std::u16string_view::npos) return true;
        start = slash + 1;
    }
}

class Parser {
public:
    Parser(std::string_view content, Key& root)
        : m_content(content)
        , m_reader(content)
        , m_root(root) { }

    ParsedFile run() {
        if (!m_reader.next() || m_reader.line() != kRegFileMagic) {
            m_result.error = "its first line is not \"" + std::string(kRegFileMagic) + "\"";
            return std::move(m_result);
        }
        m_result.isRegistryFile = true;
        m_result.prefixLength = m_reader.end();
        while (m_reader.next())
            handleLine();
        closeBlock();
        return std::move(m_result);
    }

private:
    void handleLine() {
        const std::string_view line = m_reader.line();
        std::size_t pos = 0;
        skipSpaces(line, pos);
        if (pos == line.size()) return; // empty lines separate blocks and belong to none
        if (line.find('\0') != std::string_view::npos) return keepUnread("a line with a NUL byte");
        const char first = line[pos];
        if (first == '[') return startBlock(line.substr(pos + 1));
        if (m_skipping) return keepRaw();
        if (first == ';') return keepRaw();
        if (first == '#') return handleOption(line.substr(pos));
        if (first == '@' || first == '"') return handleValue();
        keepUnread("unrecognised line");
    }

    void startBlock(std::string_view rest) {
        std::u16string& path = m_path;
        path.clear();
        std::size_t pos = 0;
        if (!parseEscaped(rest, pos, ']', path) || !splitKeyPath(path, m_parts)) {
            keepUnread("unreadable key name");
            m_skipping = true; // its values must not fall into the key before it
            return;
        }
        closeBlock();
        m_skipping = false;
        Key* key = &m_root;
        for (std::size_t i = 0; i < m_parts.size(); ++i) {
            // Files are written in tree order, so the new path mostly repeats the previous one.
            if (i < m_lastPath.size() && m_lastPath[i].first == m_parts[i]) {
                key = m_lastPath[i].second;
                continue;
            }
            m_lastPath.resize(i);
            key = key->findOrAddSubkey(m_parts[i]);
            m_lastPath.emplace_back(std::u16string(m_parts[i]), key);
        }
        m_lastPath.resize(m_parts.size());

        std::uint64_t seconds = 0;
        skipSpaces(rest, pos);
        while (pos < rest.size() && rest[pos] >= '0' && rest[pos] <= '9')
            seconds = seconds * 10 + static_cast<std::uint64_t>(rest[pos++] - '0');
        m_current = key;
        if (key->source.length > 0) key->merged = true;
        key->modified = kFileTimeUnixEpoch + (seconds & 0xFFFFFFFFu) * 10000000ull;
        m_blockStart = m_reader.start();
        m_blockEnd = m_reader.end();
        ++m_result.blockCount;
    }

    void closeBlock() {
        if (!m_current) return;
        if (m_current->source.length == 0) m_current->source = { m_blockStart, m_blockEnd - m_blockStart };
    }

    void handleOption(std::string_view line) {
        if (!m_current) return keepRaw();
        if (startsWith(line, 0, "#time=")) {
            std::uint64_t time = 0;
            std::size_t pos = 6;
            std::size_t digits = 0;
            while (pos < line.size() && hexDigit(line[pos]) >= 0 && digits < 16) {
                time = time * 16 + static_cast<std::uint64_t>(hexDigit(line[pos++]));
                ++digits;
            }
            if (digits == 0 || !onlySpacesFrom(line, pos)) return keepUnread("unreadable #time line");
            m_current->modified = time;
            return extendBlock();
        }
        if (startsWith(line, 0, "#class=\"")) {
            std::size_t pos = 8;
            std::u16string text;
            if (!parseEscaped(line, pos, '"', text) || !onlySpacesFrom(line, pos))
                return keepUnread("unreadable #class line");
            m_current->hasClass = true;
            m_current->ensureExtra().className = std::move(text);
            return extendBlock();
        }
        if (line == "#link" || (startsWith(line, 0, "#link") && onlySpacesFrom(line, 5))) {
            m_current->isLink = true;
            return extendBlock();
        }
        keepRaw(); // options wineserver does not know are kept for it as they are
    }

    void handleValue() {
        if (!m_current) return keepUnread("a value before the first key");
        const std::size_t firstLine = m_reader.number();
        const std::size_t start = m_reader.start();
        RawValue value;
        const bool ok = parseValue(m_reader, m_reader.line(), value, m_text);
        const std::size_t end = m_reader.end();
        if (!ok) {
            keepText(m_content.substr(start, end - start), firstLine, "unreadable value line");
            return;
        }
        ++m_result.valueCount;
        const std::ptrdiff_t existing = m_current->findValue(value.name);
        if (existing >= 0)
            m_current->values[static_cast<std::size_t>(existing)] = std::move(value);
        else
            m_current->appendValue(std::move(value));
        m_blockEnd = end;
    }

    void extendBlock() { m_blockEnd = m_reader.end(); }

    void keepRaw() { keepText(m_reader.raw(), 0, {}); }

    void keepUnread(std::string_view what) { keepText(m_reader.raw(), m_reader.number(), what); }

    // Text that is kept as it stands: in the block it follows, or in the header before any block.
    void keepText(std::string_view text, std::size_t line, std::string_view what) {
        if (line != 0) m_result.problems.push_back({ line, std::string(what) });
        const std::size_t end = static_cast<std::size_t>(text.data() - m_content.data()) + text.size();
        if (m_current) {
            std::string& raw = m_current->ensureExtra().rawLines;
            raw.append(text);
            if (raw.back() != '\n') raw.push_back('\n');
            m_blockEnd = end;
        } else {
            m_result.prefixLength = end;
        }
    }

    std::string_view m_content;
    LineReader m_reader;
    Key& m_root;
    ParsedFile m_result;
    std::vector<std::u16string_view> m_parts;
    std::u16string m_path; // scratch buffers, kept to spare an allocation per line
    std::u16string m_text;
    std::vector<std::pair<std::u16string, Key*>> m_lastPath;
    Key* m_current = nullptr;
    bool m_skipping = false;
    std::size_t m_blockStart = 0;
    std::size_t m_blockEnd = 0;
};

} // namespace

bool parseEscaped(std::string_view s, std::size_t& pos, char end, std::u16string& out) {
    while (pos < s.size()) {
        // Most text is plain ASCII: take a run of it at once.
        std::size_t run = pos;
        while (run < s.size()) {
            const auto c = static_cast<unsigned char>(s[run]);
            if (c == static_cast<unsigned char>(end) || c == '\\' || c == 0 || c >= 0x80) break;
            ++run;
        }
        if (run > pos) {
            const std::size_t old = out.size();
            out.resize(old + (run - pos));
            for (std::size_t k = 0; k < run - pos; ++k)
                out[old + k] = static_cast<unsigned char>(s[pos + k]);
            pos = run;
            if (pos == s.size()) break;
        }
        const char c = s[pos];
        if (c == end) {
            ++pos;
            return true;
        }
        if (c == '\0') return false;
        if (static_cast<unsigned char>(c) >= 0x80) {
            if (!decodeUtf8Char(s, pos, out)) return false;
            continue;
        }
        if (c != '\\') {
            out.push_back(static_cast<char16_t>(c));
            ++pos;
            continue;
        }
        if (++pos >= s.size()) return false;
        const char e = s[pos++];
        switch (e) {
        case 'a':
            out.push_back(u'\a');
            break;
        case 'b':
            out.push_back(u'\b');
            break;
        case 'e':
            out.push_back(u'\x1b');
            break;
        case 'f':
            out.push_back(u'\f');
            break;
        case 'n':
            out.push_back(u'\n');
            break;
        case 'r':
            out.push_back(u'\r');
            break;
        case 't':
            out.push_back(u'\t');
            break;
        case 'v':
            out.push_back(u'\v');
            break;
        case 'x': {
            if (pos >= s.size() || hexDigit(s[pos]) < 0) {
                out.push_back(u'x');
                break;
            }
            unsigned unit = 0;
            for (int k = 0; k < 4 && pos < s.size() && hexDigit(s[pos]) >= 0; ++k)
                unit = unit * 16 + static_cast<unsigned>(hexDigit(s[pos++]));
            out.push_back(static_cast<char16_t>(unit));
            break;
        }
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7': {
            unsigned unit = static_cast<unsigned>(e - '0');
            for (int k = 0; k < 2 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7'; ++k)
                unit = unit * 8 + static_cast<unsigned>(s[pos++] - '0');
            out.push_back(static_cast<char16_t>(unit));
            break;
        }
        default:
            if (e == '\0') return false;
            if (static_cast<unsigned char>(e) >= 0x80) {
                --pos;
                if (!decodeUtf8Char(s, pos, out)) return false;
            } else {
                out.push_back(static_cast<char16_t>(e));
            }
        }
    }
    return false;
}

ParsedFile parseRegFile(std::string_view content, Key& root) {
    Parser parser(content, root);
    ParsedFile result = parser.run();
    // The second header line names the hive; kept for files that Quern makes anew.
    std::size_t pos = content.find('\n');
    if (pos != std::string_view::npos) {
        std::string_view second = content.substr(pos + 1);
        second = second.substr(0, second.find('\n'));
        if (!second.empty() && second.back() == '\r') second.remove_suffix(1);
        constexpr std::string_view lead = ";; All keys relative to ";
        if (second.starts_with(lead)) result.relativeTo = std::string(second.substr(lead.size()));
    }
    return result;
}

void appendEscaped(std::string& out, std::u16string_view text, std::string_view quotes, bool dropFinalNul) {
    static constexpr char kEscapes[33] = ".......abtnvfr.............e....";
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool hasNext = i + 1 < text.size();
        if (c > 127) {
            const char16_t next = hasNext ? text[i + 1] : 0;
            const bool hexFollows = next < 128 && hexDigit(static_cast<char>(next)) >= 0 && hasNext;
            out += "\\x";
            char buffer[4];
            int count = 0;
            for (unsigned v = c; v; v >>= 4)
                buffer[count++] = kDigits[v & 15];
            for (int pad = count; hexFollows && pad < 4; ++pad)
                out.push_back('0');
            while (count)
                out.push_back(buffer[--count]);
            continue;
        }
        if (c < 32) {
            if (c == 0 && !hasNext && dropFinalNul) continue;
            if (kEscapes[c] != '.') {
                out.push_back('\\');
                out.push_back(kEscapes[c]);
            } else if (hasNext && text[i + 1] >= '0' && text[i + 1] <= '7') {
                out.push_back('\\');
                out.push_back(static_cast<char>('0' + ((c >> 6) & 7)));
                out.push_back(static_cast<char>('0' + ((c >> 3) & 7)));
                out.push_back(static_cast<char>('0' + (c & 7)));
            } else {
                out.push_back('\\');
                if (c >= 8) out.push_back(static_cast<char>('0' + (c >> 3)));
                out.push_back(static_cast<char>('0' + (c & 7)));
            }
            continue;
        }
        const char a = static_cast<char>(c);
        if (a == '\\' || a == quotes[0] || a == quotes[1]) out.push_back('\\');
        out.push_back(a);
    }
}

namespace {

void appendKeyPath(std::string& out, const Key& key, const Key& root) {
    if (&key == &root) return;
    if (key.parent && key.parent != &root) {
        appendKeyPath(out, *key.parent, root);
        out += "\\\\";
    }
    appendEscaped(out, key.name, "[]", false);
}

void appendHex32(std::string& out, std::uint32_t v, int width) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char buffer[8];
    int count = 0;
    do {
        buffer[count++] = kDigits[v & 15];
        v >>= 4;
    } while (v);
    for (int pad = count; pad < width; ++pad)
        out.push_back('0');
    while (count)
        out.push_back(buffer[--count]);
}

void appendValueLine(std::string& out, const RawValue& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out += "@=";
    } else {
        out.push_back('"');
        appendEscaped(out, value.name, "\"\"", false);
        out += "\"=";
    }
    const auto& data = value.data;
    if (isStringType(value.type) && data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 2] == 0
        && data.back() == 0) {
        if (value.type != kRegSz) {
            out += "str(";
            appendHex32(out, value.type, 1);
            out += "):";
        }
        out.push_back('"');
        // Data may sit unaligned in memory, so copy the units out before reading them.
        std::u16string units(data.size() / 2, u'\0');
        std::memcpy(units.data(), data.data(), data.size());
        appendEscaped(out, units, "\"\"", true);
        out += "\"\n";
        return;
    }
    if (value.type == kRegDword && data.size() == 4) {
        out += "dword:";
        appendHex32(out,
            static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8
                | static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24,
            8);
        out.push_back('\n');
        return;
    }
    if (value.type == kRegBinary) {
        out += "hex:";
    } else {
        out += "hex(";
        appendHex32(out, value.type, 1);
        out += "):";
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    // Wine counts the name's escaped length too when it decides where to break the line.
    std::size_t count = out.size() - lineStart;
    for (std::size_t i = 0; i < data.size(); ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 15]);
        count += 2;
        if (i + 1 < data.size()) {
            out.push_back(',');
            if (++count > 76) {
                out += "\\\n  ";
                count = 2;
            }
        }
    }
    out.push_back('\n');
}

} // namespace

void appendKeyBlock(std::string& out, const Key& key, const Key& root) {
    out.push_back('[');
    appendKeyPath(out, key, root);
    out += "] ";
    const auto seconds
        = static_cast<std::uint32_t>(static_cast<std::int64_t>(key.modified - kFileTimeUnixEpoch) / 10000000);
    out += std::to_string(seconds);
    out += "\n#time=";
    appendHex32(out, static_cast<std::uint32_t>(key.modified >> 32), 1);
    appendHex32(out, static_cast<std::uint32_t>(key.modified), 8);
    out.push_back('\n');
    if (key.hasClass) {
        out += "#class=\"";
        appendEscaped(
            out, key.extra ? std::u16string_view(key.extra->className) : std::u16string_view(), "\"\"", false);
        out += "\"\n";
    }
    if (key.isLink) out += "#link\n";
    // wineserver keeps values sorted, and so writes them; the store keeps creation order.
    std::vector<const RawValue*> sorted;
    sorted.reserve(key.values.size());
    for (const auto& v : key.values)
        sorted.push_back(&v);
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const RawValue* a, const RawValue* b) { return compareNames(a->name, b->name) < 0; });
    for (const RawValue* v : sorted)
        appendValueLine(out, *v);
    if (key.extra) out += key.extra->rawLines;
}

void serializeRegFile(const Key& root, std::string_view original, std::uint64_t prefixLength,
    std::string_view relativeTo, std::string& out, std::vector<BlockPlacement>& placements) {
    out.clear();
    placements.clear();
    if (!original.empty() && prefixLength > 0 && prefixLength <= original.size()) {
        out.append(original.substr(0, prefixLength));
        if (out.back() != '\n') out.push_back('\n');
    } else {
        out += kRegFileMagic;
        out += "\n;; All keys relative to ";
        out += relativeTo;
        out += "\n\n#arch=win64\n";
    }
    // Depth first, siblings in the registry's order: the order wineserver writes.
    std::vector<const Key*> stack { &root };
    while (!stack.empty()) {
        const Key* key = stack.back();
        stack.pop_back();
        // An empty hive is written as its header alone: a block for the hive's own key only when it
        // holds something.
        const bool block = key == &root ? !key->values.empty() || key->hasClass : key->needsBlock();
        if (block) {
            out.push_back('\n');
            const std::size_t start = out.size();
            const SourceRange& src = key->source;
            if (!key->dirty && !key->merged && src.length > 0 && src.offset + src.length <= original.size()) {
                out.append(original.substr(src.offset, src.length));
                if (out.back() != '\n') out.push_back('\n');
            } else {
                appendKeyBlock(out, *key, root);
            }
            placements.push_back({ const_cast<Key*>(key), { start, out.size() - start } });
        } else {
            placements.push_back({ const_cast<Key*>(key), { 0, 0 } });
        }
        for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it)
            stack.push_back(it->get());
    }
}

} // namespace quern::reg
