#include "wine/WineRegFile.h"

#include "codec/Utf.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

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

// wineserver refuses longer key names and value names (in UTF-16 units) when it loads a file.
constexpr std::size_t kWineMaxKeyName = 256;
constexpr std::size_t kWineMaxValueName = 16383;

// Written after a kept line whose hex data the file cut short, whenever anything follows it:
// wineserver reads the next line as the rest of the data, and this one, which is not hex, makes
// the value empty again, as the end of the file did.
constexpr std::string_view kCutShortEnd = ";; the value above was cut short at the end of the file\n";

inline int hexDigit(char c) {
    return kHex[static_cast<unsigned char>(c)];
}
// C's isspace; a line never holds its LF.
inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

void skipSpaces(std::string_view s, std::size_t& pos) {
    while (pos < s.size() && isSpace(s[pos]))
        ++pos;
}

// Lines as wineserver's loader reads them. It reads with fgets into a buffer that starts at 4
// bytes and grows by half whenever a line fills it, and takes a line's text up to its first NUL
// byte: a line holding a NUL ends there, and when the line did not fit the buffer, what lies past
// the buffer's end is read as further lines. A line without NUL bytes is what lies between two LFs,
// without the LF and a CR before it.
class LineReader {
public:
    // From start on: a reader that starts at a key line reads that block as the whole file would,
    // provided the file has no NUL byte before it.
    explicit LineReader(std::string_view text, std::size_t start = 0)
        : m_text(text)
        , m_hasNul(std::memchr(text.data() + start, '\0', text.size() - start) != nullptr)
        , m_next(start) { }

    bool next() {
        if (m_next >= m_text.size()) return false;
        m_start = m_next;
        ++m_number;
        const char* begin = m_text.data() + m_start;
        const std::size_t rest = m_text.size() - m_start;
        const void* lf = std::memchr(begin, '\n', rest);
        const std::size_t length = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - begin) + 1 : rest;
        if (m_hasNul && std::memchr(begin, '\0', length)) {
            if (m_firstNulLine == 0) m_firstNulLine = m_number;
            readThroughNul();
            return true;
        }
        // The buffer grows until the line and its LF fit; a last line without one grows it once more
        // when it fills the buffer exactly.
        while (lf ? length > m_buffer - 1 : length >= m_buffer - 1)
            m_buffer += m_buffer / 2;
        m_next = m_start + length;
        std::size_t textLength = length;
        if (lf) {
            --textLength;
            if (textLength > 0 && begin[textLength - 1] == '\r') --textLength;
        }
        m_line = m_text.substr(m_start, textLength);
        return true;
    }
    [[nodiscard]] std::string_view line() const { return m_line; }
    [[nodiscard]] std::size_t start() const { return m_start; }
    [[nodiscard]] std::size_t end() const { return m_next; } // after what the line took from the file
    [[nodiscard]] std::size_t number() const { return m_number; }
    [[nodiscard]] std::string_view raw() const { return m_text.substr(m_start, m_next - m_start); }
    [[nodiscard]] std::size_t firstNulLine() const { return m_firstNulLine; }

private:
    // fgets call by fgets call, for a line that holds a NUL byte.
    void readThroughNul() {
        const char* text = m_text.data();
        std::size_t at = m_start;
        std::size_t length = 0; // what strlen sees in the buffer
        while (at < m_text.size()) {
            std::size_t take = std::min(m_buffer - 1 - length, m_text.size() - at);
            if (const void* lf = std::memchr(text + at, '\n', take))
                take = static_cast<std::size_t>(static_cast<const char*>(lf) - (text + at)) + 1;
            if (const void* nul = std::memchr(text + at, '\0', take)) {
                length += static_cast<std::size_t>(static_cast<const char*>(nul) - (text + at));
                at += take;
                break;
            }
            length += take;
            at += take;
            if (text[at - 1] == '\n') {
                --length;
                if (length > 0 && text[m_start + length - 1] == '\r') --length;
                break;
            }
            if (length < m_buffer - 1) break; // the end of the file
            m_buffer += m_buffer / 2;
        }
        m_next = at;
        m_line = m_text.substr(m_start, length);
    }

    std::string_view m_text;
    bool m_hasNul = false;
    std::size_t m_buffer = 4;
    std::size_t m_next = 0;
    std::size_t m_start = 0;
    std::string_view m_line;
    std::size_t m_number = 0;
    std::size_t m_firstNulLine = 0;
};

void appendUnitsLE(std::vector<std::uint8_t>& data, std::u16string_view units) {
    data.reserve(data.size() + units.size() * 2 + 2);
    for (char16_t u : units) {
        data.push_back(static_cast<std::uint8_t>(u & 0xFF));
        data.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

// A number as glibc's strtoul reads it in base 16: spaces, a sign, "0x", digits; 64 bits, all ones
// when it overflows. end is where it stopped, or from when it read no digit.
struct HexNumber {
    std::uint64_t value = 0;
    std::size_t end = 0;
};
HexNumber readHexNumber(std::string_view s, std::size_t from) {
    std::size_t pos = from;
    skipSpaces(s, pos);
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
    if (pos + 2 < s.size() && s[pos] == '0' && (s[pos + 1] == 'x' || s[pos + 1] == 'X') && hexDigit(s[pos + 2]) >= 0)
        pos += 2;
    const std::size_t digits = pos;
    std::uint64_t value = 0;
    bool overflow = false;
    while (pos < s.size() && hexDigit(s[pos]) >= 0) {
        if (value >> 60) overflow = true;
        value = value << 4 | static_cast<std::uint64_t>(hexDigit(s[pos++]));
    }
    if (pos == digits) return { 0, from };
    if (overflow)
        value = ~std::uint64_t { 0 };
    else if (negative)
        value = 0 - value;
    return { value, pos };
}

// Bytes as wineserver reads hex data: each a number as strtoul reads it, cut to 32 bits and at
// most ff, then spaces, a comma, spaces.
bool readHexBytes(std::string_view line, std::size_t& pos, std::vector<std::uint8_t>& data) {
    while (pos < line.size() && hexDigit(line[pos]) >= 0) {
        const HexNumber number = readHexNumber(line, pos);
        const auto byte = static_cast<std::uint32_t>(number.value);
        if (byte > 0xff) return false;
        data.push_back(static_cast<std::uint8_t>(byte));
        pos = number.end;
        skipSpaces(line, pos);
        if (pos < line.size() && line[pos] == ',') ++pos;
        skipSpaces(line, pos);
    }
    return true;
}

enum class HexEnd { Read, Unreadable, CutShort };

// Hex data, going on over the next line after a backslash whatever follows the backslash; the next
// line is taken whatever it holds, even an empty line or a key line.
HexEnd readHexData(LineReader& reader, std::string_view line, std::size_t pos, std::vector<std::uint8_t>& data) {
    data.reserve((line.size() - std::min(pos, line.size()) + 1) / 3);
    for (;;) {
        if (!readHexBytes(line, pos, data)) return HexEnd::Unreadable;
        skipSpaces(line, pos);
        if (pos == line.size()) return HexEnd::Read;
        if (line[pos] != '\\') return HexEnd::Unreadable;
        if (!reader.next()) return HexEnd::CutShort;
        line = reader.line();
        pos = 0;
        skipSpaces(line, pos);
    }
}

// How far wineserver gets with a value line: it ignores a line whose name it cannot read, and
// makes the value empty (type 0, no data) when it cannot read the data.
enum class ValueRead { Read, NameUnread, DataUnread };

// A value line, and its continuation lines for long hex data, read as wineserver's load_value reads
// it: text after a closing quote and after a number is ignored, numbers are read as strtoul reads
// them.
// The name of a value line (@ for the default value) and its '=', pos left at the data; false when
// Wine would not read the name.
bool readValueName(std::string_view line, std::size_t& pos, std::u16string& name) {
    skipSpaces(line, pos);
    name.clear();
    if (line[pos] == '@') {
        ++pos;
    } else {
        ++pos;
        if (!parseEscaped(line, pos, '"', name)) return false;
    }
    skipSpaces(line, pos);
    if (pos >= line.size() || line[pos] != '=') return false;
    if (name.size() > kWineMaxValueName) return false;
    ++pos;
    skipSpaces(line, pos);
    return true;
}

ValueRead readValue(LineReader& reader, std::string_view line, RawValue& value, std::u16string& text, bool& cutShort) {
    cutShort = false;
    std::size_t pos = 0;
    value.data.clear();
    if (!readValueName(line, pos, value.name)) return ValueRead::NameUnread;

    const std::string_view tag = line.substr(pos);
    auto readString = [&](std::uint32_t type, std::size_t tagLength) {
        value.type = type;
        text.clear();
        std::size_t p = pos + tagLength;
        if (!parseEscaped(line, p, '"', text)) return ValueRead::DataUnread;
        text.push_back(u'\0');
        appendUnitsLE(value.data, text);
        return ValueRead::Read;
    };
    if (tag.starts_with('"')) return readString(kRegSz, 1);
    if (tag.starts_with("str:\"")) return readString(kRegSz, 5);
    if (tag.starts_with("str(2):\"")) return readString(kRegExpandSz, 8);
    if (tag.starts_with("str(7):\"")) return readString(kRegMultiSz, 8);
    std::size_t data = 0;
    if (tag.starts_with("hex:")) {
        value.type = kRegBinary;
        data = pos + 4;
    } else if (tag.starts_with("dword:")) {
        const auto number = static_cast<std::uint32_t>(readHexNumber(line, pos + 6).value);
        value.type = kRegDword;
        value.data = { static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24) };
        return ValueRead::Read;
    } else if (tag.starts_with("hex(")) {
        const HexNumber type = readHexNumber(line, pos + 4);
        if (!line.substr(type.end).starts_with("):")) return ValueRead::DataUnread;
        value.type = static_cast<std::uint32_t>(type.value);
        data = type.end + 2;
    } else {
        return ValueRead::DataUnread;
    }
    switch (readHexData(reader, line, data, value.data)) {
    case HexEnd::Read:
        return ValueRead::Read;
    case HexEnd::CutShort:
        cutShort = true;
        break;
    case HexEnd::Unreadable:
        break;
    }
    return ValueRead::DataUnread;
}

} // namespace

bool splitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (path.empty() || path.front() == u'\0') return true;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find(u'\\', start);
        if (slash == std::u16string_view::npos) slash = path.size();
        const std::u16string_view part = path.substr(start, slash - start);
        if (!part.empty()) {
            if (part.size() > kWineMaxKeyName || parts.size() >= kMaxKeyDepth) return false;
            parts.push_back(part);
        }
        start = slash + 1;
    }
    return true;
}

namespace {

// The number after a key name, as sscanf's " %u" reads it; 0 when there is none.
std::uint32_t readSeconds(std::string_view s, std::size_t pos) {
    skipSpaces(s, pos);
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
    std::uint64_t value = 0;
    bool overflow = false;
    for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
        const std::uint64_t digit = static_cast<std::uint64_t>(s[pos] - '0');
        if (value > (~std::uint64_t { 0 } - digit) / 10) overflow = true;
        value = value * 10 + digit;
    }
    if (overflow) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(negative ? 0 - value : value);
}

void foldInto(std::u16string& out, std::u16string_view name) {
    out.assign(name);
    for (auto& unit : out)
        unit = foldUnit(unit);
}

class Parser {
public:
    Parser(std::string_view content, Key& root, std::string_view prefixArch, std::size_t start = 0)
        : m_content(content)
        , m_reader(content, start)
        , m_root(root)
        , m_prefixArch(prefixArch) { }

    ParsedFile run() {
        if (!m_reader.next() || m_reader.line() != kRegFileMagic) {
            m_result.error = "its first line is not \"" + std::string(kRegFileMagic) + "\"";
            return std::move(m_result);
        }
        m_result.isRegistryFile = true;
        m_result.prefixLength = m_reader.end();
        while (!m_stopped && m_reader.next())
            handleLine();
        closeBlock();
        if (m_result.writeRefused.empty() && m_reader.firstNulLine() != 0)
            m_result.writeRefused = "line " + std::to_string(m_reader.firstNulLine())
                + " holds a NUL byte, and Wine reads such a line in a way that depends on the lines before it";
        return std::move(m_result);
    }

    // The one block that starts where the reader does, read into key, whose path its key line names.
    BlockRead runBlock(Key& key) {
        BlockRead read;
        if (!m_reader.next()) return read;
        const std::string_view line = m_reader.line();
        std::size_t pos = 0;
        skipSpaces(line, pos);
        if (pos == line.size() || line[pos] != '[') return read;
        const std::string_view rest = line.substr(pos + 1);
        pos = 0;
        m_path.clear();
        if (!parseEscaped(rest, pos, ']', m_path)) return read;
        m_blockOnly = true;
        m_current = &key;
        m_lastKey = &key;
        m_blockTime = kFileTimeUnixEpoch + static_cast<std::uint64_t>(readSeconds(rest, pos)) * 10000000ull;
        m_blockStart = m_reader.start();
        m_blockEnd = m_reader.end();
        while (m_reader.next())
            handleLine();
        closeBlock();
        read.keyLine = true;
        read.source = key.source;
        read.hasNul = std::memchr(m_content.data() + m_blockStart, '\0', m_content.size() - m_blockStart) != nullptr;
        read.problems = std::move(m_result.problems);
        read.cutShort = key.hasKeptLines() && key.extra->kept.back().cutShort
            && m_content.substr(0, m_blockEnd).ends_with(key.extra->kept.back().text);
        return read;
    }

private:
    void handleLine() {
        const std::string_view line = m_reader.line();
        std::size_t pos = 0;
        skipSpaces(line, pos);
        if (pos == line.size()) return; // empty lines separate blocks and belong to none
        const char first = line[pos];
        if (first == '[') return startBlock(line.substr(pos + 1));
        if (!m_current) return handleOutsideKeys(line.substr(pos));
        if (first == '#') return handleOption(line.substr(pos));
        if (first == '@' || first == '"') return handleValue();
        if (first == ';') return keepLine(m_reader.raw());
        keepUnread("unrecognised line");
    }

    void startBlock(std::string_view rest) {
        std::u16string& path = m_path;
        path.clear();
        std::size_t pos = 0;
        if (!parseEscaped(rest, pos, ']', path) || !splitKeyPath(path, m_parts)) {
            // wineserver skips everything up to the next key line it can read.
            closeBlock();
            m_current = nullptr;
            m_result.problems.push_back({ m_reader.number(), "unreadable key line" });
            if (m_lastKey) {
                UnreadBlock block;
                for (const Key* k = m_lastKey; k != &m_root; k = k->parent)
                    block.after.push_back(k->name);
                std::reverse(block.after.begin(), block.after.end());
                auto& blocks = m_root.ensureExtra().unreadBlocks;
                blocks.push_back(std::move(block));
                m_unread = &blocks.back().text;
            }
            return keepOutsideKeys();
        }
        closeBlock();
        m_unread = nullptr;
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

        m_current = key;
        m_lastKey = key;
        if (key->source.length > 0) key->merged = true;
        // A key line that spells the key or a key above it otherwise than the spelling that stays
        // (the first one met) is not copied: moved into tree order, it could come first.
        const Key* k = key;
        for (std::size_t i = m_parts.size(); i-- > 0 && !key->merged; k = k->parent)
            if (k->name != m_parts[i]) key->merged = true;
        m_blockTime = kFileTimeUnixEpoch + static_cast<std::uint64_t>(readSeconds(rest, pos)) * 10000000ull;
        m_blockStart = m_reader.start();
        m_blockEnd = m_reader.end();
        ++m_result.blockCount;
        // A key seen before keeps the lines it had; later lines of the same value override them.
        m_keptByName.clear();
        if (key->extra)
            for (std::size_t i = 0; i < key->extra->kept.size(); ++i)
                if (key->extra->kept[i].namesValue && !key->extra->kept[i].overridden)
                    m_keptByName[foldedName(key->extra->kept[i].valueName)] = i;
    }

    void closeBlock() {
        if (!m_current) return;
        stamp(m_current, m_blockTime);
        if (m_current->source.length == 0) m_current->source = { m_blockStart, m_blockEnd - m_blockStart };
    }

    // wineserver sets a key's time once, from its first #time line or else from the number after
    // its name; keys above it that have no time yet take the same. (A block read on its own finds
    // them timed already.)
    void stamp(Key* key, std::uint64_t time) const {
        for (; key && key->modified == 0; key = m_blockOnly ? nullptr : key->parent)
            key->modified = time;
    }

    // Lines before the first key, and after a key line wineserver cannot read: options there are
    // the file's own, and values belong to no key.
    void handleOutsideKeys(std::string_view line) {
        if (line.starts_with("#arch=")) {
            const std::string_view arch = line.substr(6);
            if (arch != "win32" && arch != "win64") return stopReading("an unknown architecture");
            const std::string_view known = m_result.arch.empty() ? m_prefixArch : std::string_view(m_result.arch);
            if (!known.empty() && known != arch)
                return stopReading("an architecture other than the prefix's (" + std::string(known) + ")");
            if (m_result.arch.empty()) m_result.arch = std::string(arch);
        } else if (line[0] == '@' || line[0] == '"') {
            if (!m_unread) m_result.problems.push_back({ m_reader.number(), "a value before the first key" });
        } else if (line[0] != '#' && line[0] != ';') {
            m_result.problems.push_back({ m_reader.number(), "unrecognised line" });
        }
        keepOutsideKeys();
    }

    void keepOutsideKeys() {
        if (m_unread)
            m_unread->append(m_reader.raw());
        else
            m_result.prefixLength = m_reader.end();
    }

    // wineserver stops reading the file there and never writes it again.
    void stopReading(const std::string& why) {
        m_result.problems.push_back({ m_reader.number(), why });
        m_result.writeRefused
            = "Wine stops reading it at line " + std::to_string(m_reader.number()) + ", which gives " + why;
        m_stopped = true;
    }

    void handleOption(std::string_view line) {
        if (line.starts_with("#time=")) {
            // Hex digits up to the first other character, as many as there are.
            std::uint64_t time = 0;
            for (std::size_t pos = 6; pos < line.size() && hexDigit(line[pos]) >= 0; ++pos)
                time = time << 4 | static_cast<std::uint64_t>(hexDigit(line[pos]));
            stamp(m_current, time);
            return extendBlock();
        }
        if (line.starts_with("#class=")) {
            std::size_t pos = 8;
            std::u16string text;
            if (line.size() < 8 || line[7] != '"' || !parseEscaped(line, pos, '"', text))
                return keepUnread("unreadable #class line");
            m_current->hasClass = true;
            m_current->ensureExtra().className = std::move(text);
            return extendBlock();
        }
        if (line.starts_with("#link")) {
            m_current->isLink = true;
            return extendBlock();
        }
        keepLine(m_reader.raw()); // options wineserver does not know are kept for it as they are
    }

    void handleValue() {
        const std::size_t firstLine = m_reader.number();
        const std::size_t start = m_reader.start();
        RawValue value;
        bool cutShort = false;
        const ValueRead read = readValue(m_reader, m_reader.line(), value, m_text, cutShort);
        const std::string_view text = m_content.substr(start, m_reader.end() - start);
        if (read == ValueRead::NameUnread) return keepLine(text, firstLine, "unreadable value line");
        // This line decides the value now: a line of the same name kept before no longer counts.
        foldInto(m_folded, value.name);
        const auto earlier = m_keptByName.find(m_folded);
        if (earlier != m_keptByName.end()) {
            m_current->extra->kept[earlier->second].overridden = true;
            m_keptByName.erase(earlier);
        }
        const std::ptrdiff_t existing = m_current->findValue(value.name);
        if (read == ValueRead::DataUnread) {
            // wineserver empties the value; Quern keeps the line, and the value it read before is gone.
            if (existing >= 0) m_current->eraseValue(static_cast<std::size_t>(existing));
            m_keptByName.emplace(m_folded, m_current->hasKeptLines() ? m_current->extra->kept.size() : 0);
            keepLine(
                text, firstLine, cutShort ? "value line cut short by the end of the file" : "unreadable value line");
            KeptLine& kept = m_current->extra->kept.back();
            kept.valueName = std::move(value.name);
            kept.namesValue = true;
            kept.cutShort = cutShort;
            return;
        }
        ++m_result.valueCount;
        if (existing >= 0) {
            // The first spelling of the name stays, as in wineserver.
            RawValue& old = m_current->values[static_cast<std::size_t>(existing)];
            old.type = value.type;
            old.data = std::move(value.data);
        } else {
            m_current->appendValue(std::move(value));
        }
        m_blockEnd = m_reader.end();
    }

    void extendBlock() { m_blockEnd = m_reader.end(); }

    void keepUnread(std::string_view what) { keepLine(m_reader.raw(), m_reader.number(), what); }

    // Text of the current key's block that Quern keeps as it stands.
    void keepLine(std::string_view text, std::size_t line = 0, std::string_view what = {}) {
        if (line != 0) m_result.problems.push_back({ line, std::string(what) });
        KeptLine kept;
        kept.text = std::string(text);
        m_current->ensureExtra().kept.push_back(std::move(kept));
        m_blockEnd = static_cast<std::size_t>(text.data() - m_content.data()) + text.size();
    }

    static std::u16string foldedName(std::u16string_view name) {
        std::u16string folded;
        foldInto(folded, name);
        return folded;
    }

    std::string_view m_content;
    LineReader m_reader;
    Key& m_root;
    std::string_view m_prefixArch;
    ParsedFile m_result;
    std::vector<std::u16string_view> m_parts;
    std::u16string m_path; // scratch buffers, kept to spare an allocation per line
    std::u16string m_text;
    std::u16string m_folded;
    std::vector<std::pair<std::u16string, Key*>> m_lastPath;
    Key* m_current = nullptr; // the key whose block is being read
    Key* m_lastKey = nullptr; // the key of the last block that could be read
    std::string* m_unread = nullptr; // the text of the block being read whose key line could not be
    // The kept value lines of the current key that still decide their value, by folded name.
    std::unordered_map<std::u16string, std::size_t> m_keptByName;
    bool m_stopped = false;
    bool m_blockOnly = false;
    std::uint64_t m_blockTime = 0;
    std::size_t m_blockStart = 0;
    std::size_t m_blockEnd = 0;
};

// UTF-8 as wineserver decodes it: a sequence that is not valid (a stray byte, a cut sequence, an
// overlong form, beyond U+10FFFF) is dropped with the bytes it took; encoded surrogates pass.
void decodeLikeWine(std::string_view s, std::size_t& pos, unsigned char lead, std::u16string& out) {
    static constexpr unsigned char kMask[4] = { 0x7f, 0x1f, 0x0f, 0x07 };
    static constexpr char32_t kMinimum[4] = { 0, 0x80, 0x800, 0x10000 };
    const int extra = lead >= 0xc2 && lead <= 0xdf ? 1
        : lead >= 0xe0 && lead <= 0xef             ? 2
        : lead >= 0xf0 && lead <= 0xf4             ? 3
                                                   : 0;
    if (extra == 0) return;
    char32_t cp = lead & kMask[extra];
    for (int k = 0; k < extra; ++k) {
        if (pos >= s.size()) return;
        const unsigned next = static_cast<unsigned char>(s[pos]) ^ 0x80u;
        if (next >= 0x40) return;
        cp = cp << 6 | next;
        ++pos;
    }
    if (cp < kMinimum[extra] || cp > 0x10ffff) return;
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xd800 | (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xdc00 | (cp & 0x3ff)));
    }
}

} // namespace

namespace {

// The unit a letter escape stands for (\a \b \e \f \n \r \t \v); 0 for any other character.
char16_t letterEscape(char e) {
    switch (e) {
    case 'a':
        return u'\a';
    case 'b':
        return u'\b';
    case 'e':
        return u'\x1b';
    case 'f':
        return u'\f';
    case 'n':
        return u'\n';
    case 'r':
        return u'\r';
    case 't':
        return u'\t';
    case 'v':
        return u'\v';
    default:
        return 0;
    }
}

// Appends the run of plain ASCII from pos: most text is, and it is taken at once. The run stops
// at end, a backslash, a NUL or a byte above 0x7f.
void takeAsciiRun(std::string_view s, std::size_t& pos, char end, std::u16string& out) {
    std::size_t run = pos;
    while (run < s.size()) {
        const auto c = static_cast<unsigned char>(s[run]);
        if (c == static_cast<unsigned char>(end) || c == '\\' || c == 0 || c >= 0x80) break;
        ++run;
    }
    const std::size_t old = out.size();
    out.resize(old + (run - pos));
    for (std::size_t k = 0; k < run - pos; ++k)
        out[old + k] = static_cast<unsigned char>(s[pos + k]);
    pos = run;
}

enum class Escape { Taken, Literal, Broken };

// Reads the escape whose backslash lies just before pos. Literal: the character at pos stands for
// itself and is read as any other. Broken: the text ends after the backslash.
Escape takeEscape(std::string_view s, std::size_t& pos, std::u16string& out) {
    if (pos >= s.size() || s[pos] == '\0') return Escape::Broken;
    const char e = s[pos];
    if (const char16_t unit = letterEscape(e)) {
        out.push_back(unit);
        ++pos;
        return Escape::Taken;
    }
    unsigned value = 0;
    if (e == 'x') {
        // Up to four hex digits; an x without any is the letter itself.
        ++pos;
        if (pos >= s.size() || hexDigit(s[pos]) < 0) {
            out.push_back(u'x');
            return Escape::Taken;
        }
        for (int k = 0; k < 4 && pos < s.size() && hexDigit(s[pos]) >= 0; ++k)
            value = value * 16 + static_cast<unsigned>(hexDigit(s[pos++]));
    } else if (e >= '0' && e <= '7') {
        // Up to three octal digits.
        value = static_cast<unsigned>(s[pos++] - '0');
        for (int k = 0; k < 2 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7'; ++k)
            value = value * 8 + static_cast<unsigned>(s[pos++] - '0');
    } else {
        return Escape::Literal;
    }
    out.push_back(static_cast<char16_t>(value));
    return Escape::Taken;
}

} // namespace

bool parseEscaped(std::string_view s, std::size_t& pos, char end, std::u16string& out) {
    while (pos < s.size()) {
        takeAsciiRun(s, pos, end, out);
        if (pos == s.size()) break;
        const char c = s[pos];
        if (c == end) {
            ++pos;
            return true;
        }
        if (c == '\0') return false; // the end of the text as C sees it
        if (c == '\\') {
            ++pos;
            const Escape escape = takeEscape(s, pos, out);
            if (escape == Escape::Broken) return false;
            if (escape == Escape::Taken) continue;
        }
        const auto ch = static_cast<unsigned char>(s[pos++]);
        if (ch < 0x80)
            out.push_back(ch);
        else
            decodeLikeWine(s, pos, ch, out);
    }
    return false;
}

BlockRead parseRegBlock(std::string_view content, std::size_t offset, Key& key) {
    Key scratch(u"", nullptr, nullptr);
    Parser parser(content, scratch, {}, offset);
    return parser.runBlock(key);
}

ParsedFile parseRegFile(std::string_view content, Key& root, std::string_view prefixArch) {
    Parser parser(content, root, prefixArch);
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
    } else if (!key.name.empty() && key.name.front() == u'\0') {
        // wineserver takes a path that starts with a NUL for the hive's own key; a backslash
        // before it, which it skips, keeps the key what it is.
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
        if (!units.empty()) std::memcpy(units.data(), data.data(), units.size() * 2);
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
    // Kept lines go before the values: a value Quern writes comes after any kept line naming it,
    // and wineserver takes the last line of a name.
    if (key.extra) {
        for (const KeptLine& line : key.extra->kept) {
            // A line that a later one overrode says nothing once that value is gone: written, it
            // would bring the value back, empty.
            if (line.namesValue && line.overridden && key.findValue(line.valueName) < 0) continue;
            out += line.text;
            if (out.back() != '\n') out.push_back('\n');
            if (line.cutShort) out += kCutShortEnd;
        }
    }
    // wineserver keeps values sorted, and so writes them; the store keeps creation order.
    std::vector<const RawValue*> sorted;
    sorted.reserve(key.values.size());
    for (const auto& v : key.values)
        sorted.push_back(&v);
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const RawValue* a, const RawValue* b) { return compareNames(a->name, b->name) < 0; });
    for (const RawValue* v : sorted)
        appendValueLine(out, *v);
}

namespace {

// Orders a path below the hive's root against a key as the blocks of a file stand: parts compared
// as the registry compares names, a key before the keys below it.
int comparePath(const std::vector<std::u16string>& path, const Key& key, const Key& root,
    std::vector<std::u16string_view>& scratch) {
    scratch.clear();
    for (const Key* k = &key; k != &root; k = k->parent)
        scratch.push_back(k->name);
    std::reverse(scratch.begin(), scratch.end());
    const std::size_t common = std::min(path.size(), scratch.size());
    for (std::size_t i = 0; i < common; ++i)
        if (const int order = compareNames(path[i], scratch[i]); order != 0) return order;
    return path.size() < scratch.size() ? -1 : (path.size() > scratch.size() ? 1 : 0);
}

// The new text of a file: gathered in out and, with a sink, passed on whenever out holds a
// buffer's worth, so that where a block lands counts what already went.
class FileWriter {
public:
    FileWriter(std::string& out, const RegFileSink* sink, std::size_t bufferSize)
        : m_out(out)
        , m_sink(sink)
        , m_bufferSize(std::max<std::size_t>(bufferSize, 1)) { }

    std::string& out() { return m_out; }
    [[nodiscard]] std::uint64_t position() const { return m_passed + m_out.size(); }
    [[nodiscard]] bool ok() const { return m_ok; }
    bool fail() { return m_ok = false; }

    // Appends text taken from a file, which may lack the LF of a file's last line: it is added only
    // when more follows, so that a file written with nothing changed is the file that was read.
    void appendTaken(std::string_view text, bool cutShort) {
        if (m_sink && text.size() >= m_bufferSize) {
            // A piece this large goes on as it is rather than through the buffer.
            passOn();
            if (m_ok && !(*m_sink)(text)) m_ok = false;
            m_passed += text.size();
        } else {
            m_out.append(text);
        }
        m_lineOpen = !text.empty() && text.back() != '\n';
        m_cutShort = cutShort;
    }
    // The empty line that stands before a block: wineserver's own, or the one the file had there
    // (a CR LF, or none) for a block copied from it. What the file had between two blocks it held
    // (copied) already ends the line before: the file was written with it.
    void startBlock(std::string_view emptyLine = "\n", bool copied = false) {
        if (m_lineOpen && !copied) m_out.push_back('\n');
        if (m_cutShort) m_out += kCutShortEnd;
        m_lineOpen = m_cutShort = false;
        m_out.append(emptyLine);
    }
    // Where in the original file the text copied last ended (0: what was written last was not copied).
    [[nodiscard]] std::uint64_t copiedUpTo() const { return m_copiedUpTo; }
    void setCopiedUpTo(std::uint64_t end) { m_copiedUpTo = end; }
    // Between blocks: a full buffer goes to the sink.
    void passOnIfFull() {
        if (m_out.size() >= m_bufferSize) passOn();
    }
    void passOn() {
        if (!m_sink || m_out.empty()) return;
        if (m_ok && !(*m_sink)(m_out)) m_ok = false;
        m_passed += m_out.size();
        m_out.clear();
    }

private:
    std::string& m_out;
    const RegFileSink* m_sink;
    std::size_t m_bufferSize;
    std::uint64_t m_passed = 0; // what went to the sink before out
    bool m_ok = true;
    bool m_lineOpen = false; // the text ends without its LF
    bool m_cutShort = false; // the text ends inside hex data that the file cut short
    std::uint64_t m_copiedUpTo = 0;
};

// The whole original in memory.
class OriginalInMemory final : public RegFileOriginal {
public:
    explicit OriginalInMemory(std::string_view text)
        : m_text(text) { }
    [[nodiscard]] std::uint64_t size() const override { return m_text.size(); }
    std::optional<std::string_view> read(std::uint64_t offset, std::uint64_t length) override {
        if (offset > m_text.size() || length > m_text.size() - offset) return std::nullopt;
        return m_text.substr(offset, length);
    }

private:
    std::string_view m_text;
};

// The header: the file's own as it was read, or a new one as wineserver writes it.
void appendHeader(
    FileWriter& writer, RegFileOriginal& original, std::uint64_t prefixLength, std::string_view relativeTo) {
    if (original.size() > 0 && prefixLength > 0 && prefixLength <= original.size()) {
        const auto text = original.read(0, prefixLength);
        if (!text) {
            writer.fail();
            return;
        }
        writer.appendTaken(*text, false);
        writer.setCopiedUpTo(prefixLength);
        return;
    }
    std::string& out = writer.out();
    out += kRegFileMagic;
    out += "\n;; All keys relative to ";
    out += relativeTo;
    out += "\n\n#arch=win64\n";
}

// The blocks whose key line Wine cannot read, in the order of the keys they followed.
std::vector<const UnreadBlock*> unreadInOrder(const Key& root) {
    std::vector<const UnreadBlock*> unread;
    if (root.extra)
        for (const auto& block : root.extra->unreadBlocks)
            unread.push_back(&block);
    std::stable_sort(unread.begin(), unread.end(), [](const UnreadBlock* a, const UnreadBlock* b) {
        return std::lexicographical_compare(a->after.begin(), a->after.end(), b->after.begin(), b->after.end(),
            [](const std::u16string& x, const std::u16string& y) { return compareNames(x, y) < 0; });
    });
    return unread;
}

// How far apart two blocks may stand in the file for the lines between them to be copied.
constexpr std::uint64_t kMaxGap = 4096;

// The empty line a file has before a block, given the bytes that end the line before it: "\r\n"
// in a file with CR LF line ends, and nothing where the block followed a line of text directly (a
// kept line that Wine cannot read, say). Wine reads them all alike; the file keeps its bytes.
std::string_view emptyLineBefore(std::string_view lineBefore) {
    if (lineBefore.ends_with("\n\r\n") || lineBefore == "\r\n") return "\r\n";
    if (lineBefore.ends_with("\n\n") || lineBefore == "\n") return "\n";
    return lineBefore.empty() ? "\n" : "";
}

// Starts a block whose text stood in the file after lead (what stood before it there, wasInFile):
// behind the text it followed in the file (follows), the very lines between the two, even none;
// elsewhere an empty line, CR LF where the file has them. (After anything but the text it
// followed, the line before might be one Wine reads on into the key line: an empty line at least;
// the place a changed key had may be that of a file older than the one on disk, after an Undo.)
void startBlockAfter(FileWriter& writer, std::string_view lead, bool follows, bool wasInFile) {
    const bool copied = follows && lead.find_first_not_of(" \t\r\n") == std::string_view::npos;
    std::string_view emptyLine = lead;
    if (!copied) {
        emptyLine
            = wasInFile ? emptyLineBefore(lead.substr(lead.size() - std::min<std::size_t>(lead.size(), 3))) : "\n";
        if (emptyLine.empty()) emptyLine = "\n";
    }
    writer.startBlock(emptyLine, copied);
}

// Writes the key's block, if it has one, and says where it went (nowhere: length 0).
BlockPlacement writeKeyBlock(FileWriter& writer, const Key& key, const Key& root, RegFileOriginal& original) {
    const SourceRange& src = key.source;
    // A key nobody changed keeps its block as it was, even one wineserver would not write.
    const bool copy = !key.dirty && !key.merged && src.length > 0 && src.offset <= original.size()
        && src.length <= original.size() - src.offset;
    // An empty hive is written as its header alone: a block for the hive's own key only when it
    // holds something.
    const bool block = copy
        || (&key == &root ? !key.values.empty() || key.hasClass || key.isLink || key.hasKeptLines() : key.needsBlock());
    // Values still only in the file are written by copying the block; anew, they would be lost.
    if (!copy && key.valuesInFile) {
        writer.fail();
        return { const_cast<Key*>(&key), { 0, 0 } };
    }
    if (!block) return { const_cast<Key*>(&key), { 0, 0 } };
    // A block that was in the file is read with what stood before it there: behind the block it
    // followed in the file, the very lines between the two (empty lines, CR LF or not, spaces);
    // elsewhere the end of the line before it, which tells CR LF from LF.
    const bool wasInFile
        = src.length > 0 && src.offset <= original.size() && src.length <= original.size() - src.offset;
    const std::uint64_t copiedUpTo = writer.copiedUpTo();
    const bool follows = copy && copiedUpTo > 0 && copiedUpTo <= src.offset && src.offset - copiedUpTo <= kMaxGap;
    const std::uint64_t before
        = follows ? src.offset - copiedUpTo : (wasInFile ? std::min<std::uint64_t>(src.offset, 3) : 0);
    std::optional<std::string_view> withLineBefore;
    if (wasInFile) {
        withLineBefore = original.read(src.offset - before, copy ? src.length + before : before);
        if (!withLineBefore) {
            writer.fail();
            return { const_cast<Key*>(&key), { 0, 0 } };
        }
    }
    startBlockAfter(writer, wasInFile ? withLineBefore->substr(0, before) : std::string_view(), follows, wasInFile);
    const std::uint64_t start = writer.position();
    if (copy) {
        const std::optional<std::string_view> text = withLineBefore->substr(before);
        // Only a block that still ends with the line the file cut short, as it was read; once
        // written anew, the line was ended there.
        const bool cutShort
            = key.hasKeptLines() && key.extra->kept.back().cutShort && text->ends_with(key.extra->kept.back().text);
        writer.appendTaken(*text, cutShort);
        writer.setCopiedUpTo(src.offset + src.length);
    } else {
        appendKeyBlock(writer.out(), key, root);
        writer.setCopiedUpTo(0);
    }
    return { const_cast<Key*>(&key), { start, writer.position() - start } };
}

// Copies the blocks below a key that are still only in the file, as they stand there, a buffer's
// worth at a time; they follow the key's own block, as in the file.
BlockPlacement writeBlocksBelow(
    FileWriter& writer, const Key& key, RegFileOriginal& original, const BlocksInFile* inFile) {
    BlockPlacement placement { const_cast<Key*>(&key), { 0, 0 }, true };
    const BlocksInFile::Range below = inFile ? inFile->blocksBelow(key) : BlocksInFile::Range {};
    const SourceRange& src = below.range;
    if (src.length == 0 || src.offset > original.size() || src.length > original.size() - src.offset) {
        writer.fail();
        return placement;
    }
    const std::uint64_t copiedUpTo = writer.copiedUpTo();
    const bool follows = copiedUpTo > 0 && copiedUpTo <= src.offset && src.offset - copiedUpTo <= kMaxGap;
    const std::uint64_t before = follows ? src.offset - copiedUpTo : std::min<std::uint64_t>(src.offset, 3);
    const std::optional<std::string_view> lead = original.read(src.offset - before, before);
    if (!lead) {
        writer.fail();
        return placement;
    }
    startBlockAfter(writer, *lead, follows, true);
    const std::uint64_t start = writer.position();
    const std::uint64_t end = src.offset + src.length;
    for (std::uint64_t at = src.offset; at < end && writer.ok();) {
        const std::uint64_t take = std::min<std::uint64_t>(end - at, kRegFileWriteBuffer);
        const std::optional<std::string_view> piece = original.read(at, take);
        if (!piece) {
            writer.fail();
            return placement;
        }
        at += take;
        writer.appendTaken(*piece, at == end && below.cutShort);
        writer.passOnIfFull();
    }
    writer.setCopiedUpTo(end);
    placement.range = { start, writer.position() - start };
    return placement;
}

std::uint64_t writeFile(FileWriter& writer, const Key& root, RegFileOriginal& original, std::uint64_t prefixLength,
    std::string_view relativeTo, std::vector<BlockPlacement>& placements, const BlocksInFile* inFile) {
    placements.clear();
    appendHeader(writer, original, prefixLength, relativeTo);
    const std::uint64_t headerLength = writer.position();

    // Blocks whose key line Wine cannot read stand after the key they followed, before anything
    // that sorts after it, whether or not that key is still there.
    const std::vector<const UnreadBlock*> unread = unreadInOrder(root);
    std::vector<std::u16string_view> scratch;
    std::size_t nextUnread = 0;
    auto writeUnreadBefore = [&](const Key* key) {
        while (
            nextUnread < unread.size() && (!key || comparePath(unread[nextUnread]->after, *key, root, scratch) < 0)) {
            writer.startBlock();
            writer.appendTaken(unread[nextUnread]->text, false);
            writer.setCopiedUpTo(0);
            ++nextUnread;
        }
    };

    // Depth first, siblings in the registry's order: the order wineserver writes.
    std::vector<const Key*> stack { &root };
    while (!stack.empty() && writer.ok()) {
        const Key* key = stack.back();
        stack.pop_back();
        if (nextUnread < unread.size()) writeUnreadBefore(key);
        placements.push_back(writeKeyBlock(writer, *key, root, original));
        if (key->subkeysInFile) placements.push_back(writeBlocksBelow(writer, *key, original, inFile));
        writer.passOnIfFull();
        // A hive file mounted below HKEY_LOCAL_MACHINE is kept in its own file, not in this one.
        for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it)
            if ((*it)->hive == root.hive) stack.push_back(it->get());
    }
    writeUnreadBefore(nullptr);
    writer.passOn();
    return headerLength;
}

} // namespace

std::uint64_t serializeRegFile(const Key& root, std::string_view original, std::uint64_t prefixLength,
    std::string_view relativeTo, std::string& out, std::vector<BlockPlacement>& placements,
    const BlocksInFile* inFile) {
    out.clear();
    // The new file is about as long as the old one: room for it at once, instead of growing by
    // doubling.
    out.reserve(original.size() + original.size() / 8 + 4096);
    OriginalInMemory source(original);
    FileWriter writer(out, nullptr, 0);
    return writeFile(writer, root, source, prefixLength, relativeTo, placements, inFile);
}

bool serializeRegFile(const Key& root, RegFileOriginal& original, std::uint64_t prefixLength,
    std::string_view relativeTo, const RegFileSink& sink, std::vector<BlockPlacement>& placements,
    std::uint64_t& headerLength, std::uint64_t& length, std::size_t bufferSize, const BlocksInFile* inFile) {
    std::string buffer;
    buffer.reserve(std::max<std::size_t>(bufferSize, 1) + 4096);
    FileWriter writer(buffer, &sink, bufferSize);
    headerLength = writeFile(writer, root, original, prefixLength, relativeTo, placements, inFile);
    length = writer.position();
    return writer.ok();
}

} // namespace quern::reg
