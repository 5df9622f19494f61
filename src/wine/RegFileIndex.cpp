#include "wine/RegFileIndex.h"

#include "base/Names.h"
#include "store/KeyArena.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace quern::reg {

namespace {

// C's isspace without the LF, which ends a line.
bool isBlankInLine(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The parts of the path a key line names; false when wineserver could not read it.
bool readKeyPath(
    std::string_view text, std::size_t at, std::u16string& path, std::vector<std::u16string_view>& parts) {
    const char* begin = text.data() + at + 1;
    const void* lf = std::memchr(begin, '\n', text.size() - at - 1);
    const std::string_view line(begin, lf ? static_cast<const char*>(lf) - begin : text.data() + text.size() - begin);
    std::size_t pos = 0;
    path.clear();
    return parseEscaped(line, pos, ']', path) && splitKeyPath(path, parts);
}

// Whether the bytes are all printable ASCII, taken eight at a time: for those, adding 0x60 sets
// the high bit, which none of them has.
bool printableAscii(const char* bytes, std::size_t length) {
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        if ((word & kHigh) || ((word + 0x6060606060606060ull) & kHigh) != kHigh) return false;
    }
    for (; i < length; ++i)
        if (static_cast<unsigned char>(bytes[i]) < 0x20 || static_cast<unsigned char>(bytes[i]) >= 0x80) return false;
    return true;
}

// How many bytes two texts have in common from their start, compared eight at a time.
std::size_t commonLength(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) {
            if constexpr (std::endian::native == std::endian::little) return i + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
            break;
        }
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// The path of the key line at at, when it is plain, as most are: printable ASCII, its parts split by
// escaped backslashes and none of them empty or long, so that each byte is one unit of a name and
// paths compare as they stand. parts gets how many it has.
bool plainPath(std::string_view text, std::size_t at, std::string_view& path, std::size_t& parts) {
    constexpr std::size_t kLongPart = 255;
    const char* begin = text.data() + at + 1;
    const void* close = std::memchr(begin, ']', text.size() - at - 1);
    if (!close) return false;
    const auto length = static_cast<std::size_t>(static_cast<const char*>(close) - begin);
    if (!printableAscii(begin, length)) return false;
    parts = 0;
    for (std::size_t partStart = 0;;) {
        const void* slash = std::memchr(begin + partStart, '\\', length - partStart);
        const std::size_t end = slash ? static_cast<std::size_t>(static_cast<const char*>(slash) - begin) : length;
        if (end == partStart || end - partStart > kLongPart || ++parts > kMaxKeyDepth) return false;
        if (!slash) break;
        if (end + 1 >= length || begin[end + 1] != '\\') return false;
        partStart = end + 2;
    }
    path = std::string_view(begin, length);
    return true;
}

// Compares two names of plain ASCII as the registry does: each letter lower-cased, then by length.
int compareAscii(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const auto x = static_cast<char16_t>(static_cast<unsigned char>(a[i]));
        const auto y = static_cast<char16_t>(static_cast<unsigned char>(b[i]));
        if (foldUnit(x) != foldUnit(y)) return foldUnit(x) < foldUnit(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// How many parts two plain paths have in common, when path may follow before in the registry's
// order, as a block follows the block before it; -1 when it may not.
long sharedPlainParts(std::string_view before, std::string_view path) {
    const std::size_t same = commonLength(before, path);
    long shared = 0;
    std::size_t partStart = 0;
    for (std::size_t i = 0; i < same;) {
        const void* slash = std::memchr(before.data() + i, '\\', same - i);
        if (!slash) break;
        i = static_cast<std::size_t>(static_cast<const char*>(slash) - before.data()) + 2;
        // Both paths go on with the same escaped backslash, which the common part may end inside of.
        ++shared;
        partStart = i;
    }
    if (same == before.size() && same == path.size()) return -1; // the same key twice
    // The part where the two differ, in each.
    auto partOf = [&](std::string_view p) {
        const std::size_t end = p.find('\\', partStart);
        return p.substr(partStart, end == std::string_view::npos ? std::string_view::npos : end - partStart);
    };
    if (same == before.size() && path[same] == '\\') return shared + 1; // a key below the one before
    if (same == path.size() && before[same] == '\\') return -1; // a key above it, after it
    const int order = compareAscii(partOf(before), partOf(path));
    return order < 0 ? shared : -1;
}

} // namespace

std::unique_ptr<RegFileIndex> RegFileIndex::build(
    std::string_view text, std::string_view prefixArch, ParsedFile& header) {
    header = ParsedFile {};
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    // A line holding a NUL is read in a way that depends on every line before it.
    if (std::memchr(text.data(), '\0', text.size())) return nullptr;
    auto index = std::unique_ptr<RegFileIndex>(new RegFileIndex);
    index->m_text = text;
    std::u16string paths[2];
    std::vector<std::u16string_view> parts[2];
    std::string_view before; // the path of the block before, when it is plain
    std::size_t from = 0;
    while (from < text.size()) {
        const void* hit = std::memchr(text.data() + from, '[', text.size() - from);
        if (!hit) break;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        from = at + 1;
        std::size_t lineStart = at;
        while (lineStart > 0 && isBlankInLine(text[lineStart - 1]))
            --lineStart;
        if (lineStart > 0 && text[lineStart - 1] != '\n') continue; // a bracket inside a line
        if (lineStart != at || at == 0) return nullptr;
        // The line before must end there: after a backslash, hex data would go on over this one.
        std::size_t last = at - 1;
        while (last > 0 && isBlankInLine(text[last - 1]))
            --last;
        if (last > 0 && text[last - 1] == '\\') return nullptr;

        // The registry's order, each key once, spelled one way: else the file is read whole.
        std::string_view plain;
        std::size_t depth = 0;
        long shared = 0;
        const bool isPlain = plainPath(text, at, plain, depth);
        if (isPlain && (index->m_blocks.empty() || !before.empty())) {
            if (!index->m_blocks.empty()) shared = sharedPlainParts(before, plain);
            before = plain;
        } else {
            // Escapes or other letters: compared as names, the block before read again as well.
            std::vector<std::u16string_view>& path = parts[0];
            if (!readKeyPath(text, at, paths[0], path) || path.empty()) return nullptr;
            if (!index->m_blocks.empty()) {
                const std::vector<std::u16string_view>& previous = parts[1];
                if (!readKeyPath(text, index->m_blocks.back().offset, paths[1], parts[1])) return nullptr;
                const std::size_t common = std::min(previous.size(), path.size());
                std::size_t same = 0;
                while (same < common && previous[same] == path[same])
                    ++same;
                const bool ordered
                    = same < common ? compareNames(previous[same], path[same]) < 0 : path.size() > previous.size();
                shared = ordered ? static_cast<long>(same) : -1;
            }
            depth = path.size();
            before = isPlain ? plain : std::string_view();
        }
        if (shared < 0) return nullptr;
        index->m_blocks.push_back(
            { static_cast<std::uint32_t>(at), static_cast<std::uint16_t>(depth), static_cast<std::uint16_t>(shared) });
        const void* lf = std::memchr(text.data() + at, '\n', text.size() - at);
        from = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1 : text.size();
    }
    if (index->m_blocks.empty()) return nullptr;

    // The lines before the first key: the header, and options of the file's own.
    Key root(u"", nullptr, nullptr);
    header = parseRegFile(text.substr(0, index->m_blocks.front().offset), root, prefixArch);
    if (!header.isRegistryFile || !header.writeRefused.empty()) return nullptr;
    header.blockCount = index->m_blocks.size();
    return index;
}

void RegFileIndex::prepareRoot(Key& root) const {
    root.fileBlock = 0;
    root.fileBlockEnd = static_cast<std::uint32_t>(m_blocks.size());
    root.subkeysInFile = true;
    root.modified = timeOf(0);
}

std::size_t RegFileIndex::firstBelow(const Key& key, std::size_t depth) const {
    const bool own = key.fileBlock < key.fileBlockEnd && m_blocks[key.fileBlock].depth == depth;
    return key.fileBlock + (own ? 1 : 0);
}

namespace {

// How deep the key stands below its hive's root: how many of the keys above it are of its hive.
std::size_t depthOf(const Key& key) {
    std::size_t depth = 0;
    for (const Key* k = &key; k->parent && k->parent->hive == k->hive; k = k->parent)
        ++depth;
    return depth;
}

} // namespace

Status RegFileIndex::readSubkeys(const Key& key, KeyArena& arena, std::vector<std::unique_ptr<Key>>& subkeys,
    std::vector<LoadProblem>& problems) const {
    const std::size_t depth = depthOf(key);
    const std::size_t end = std::min<std::size_t>(key.fileBlockEnd, m_blocks.size());
    std::u16string path;
    std::vector<std::u16string_view> parts;
    for (std::size_t block = firstBelow(key, depth); block < end;) {
        std::size_t next = block + 1;
        while (next < end && m_blocks[next].shared > depth)
            ++next;
        const std::size_t at = m_blocks[block].offset;
        // The text is checked against what was indexed wherever it is read.
        if (at >= m_text.size() || m_text[at] != '[' || !readKeyPath(m_text, at, path, parts)
            || parts.size() != m_blocks[block].depth || parts.size() <= depth)
            return Status::ChangedOnDisk;
        std::unique_ptr<Key> sub = arena.make(parts[depth], const_cast<Key*>(&key), key.hive);
        sub->fileBlock = static_cast<std::uint32_t>(block);
        sub->fileBlockEnd = static_cast<std::uint32_t>(next);
        const bool own = m_blocks[block].depth == depth + 1;
        sub->subkeysInFile = next - block > (own ? 1u : 0u);
        if (own) {
            BlockRead read = parseRegBlock(m_text.substr(0, limitOf(block)), at, *sub);
            if (!read.keyLine) return Status::ChangedOnDisk;
            if (!read.problems.empty()) {
                const std::size_t first = lineOf(at);
                for (LoadProblem& problem : read.problems) {
                    problem.line += first - 1;
                    problems.push_back(std::move(problem));
                }
            }
        } else {
            sub->modified = timeOf(block);
        }
        subkeys.push_back(std::move(sub));
        block = next;
    }
    return Status::Ok;
}

std::size_t RegFileIndex::limitOf(std::size_t block) const {
    // Every line of the text that starts with a bracket is a key line: the file's own were all
    // indexed, and Quern writes none other. (The next block of the index may be one a write has
    // moved elsewhere.)
    for (std::size_t from = m_blocks[block].offset + 1; from < m_text.size();) {
        const void* hit = std::memchr(m_text.data() + from, '[', m_text.size() - from);
        if (!hit) break;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - m_text.data());
        if (m_text[at - 1] == '\n') return at;
        from = at + 1;
    }
    return m_text.size();
}

std::uint64_t RegFileIndex::timeOf(std::size_t block) const {
    if (block >= m_blocks.size() || m_blocks[block].offset >= m_text.size()) return 0;
    Key scratch(u"", nullptr, nullptr);
    (void)parseRegBlock(m_text.substr(0, limitOf(block)), m_blocks[block].offset, scratch);
    return scratch.modified;
}

std::size_t RegFileIndex::lineOf(std::size_t offset) const {
    return 1 + static_cast<std::size_t>(std::count(m_text.begin(), m_text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

BlocksInFile::Range RegFileIndex::blocksBelow(const Key& key) const {
    const std::size_t first = firstBelow(key, depthOf(key));
    const std::size_t end = std::min<std::size_t>(key.fileBlockEnd, m_blocks.size());
    if (first >= end || m_blocks[end - 1].offset >= m_text.size()) return {};
    Key scratch(u"", nullptr, nullptr);
    const BlockRead last = parseRegBlock(m_text.substr(0, limitOf(end - 1)), m_blocks[end - 1].offset, scratch);
    if (!last.keyLine) return {};
    const std::uint64_t start = m_blocks[first].offset;
    return { { start, last.source.offset + last.source.length - start }, last.cutShort };
}

bool RegFileIndex::moveBlocksBelow(const Key& key, std::uint64_t offset) {
    const std::size_t first = firstBelow(key, depthOf(key));
    const std::size_t end = std::min<std::size_t>(key.fileBlockEnd, m_blocks.size());
    if (first >= end) return true;
    const std::uint64_t last = offset + (m_blocks[end - 1].offset - m_blocks[first].offset);
    if (last > std::numeric_limits<std::uint32_t>::max()) return false;
    const std::int64_t delta = static_cast<std::int64_t>(offset) - static_cast<std::int64_t>(m_blocks[first].offset);
    for (std::size_t block = first; block < end; ++block)
        m_blocks[block].offset = static_cast<std::uint32_t>(static_cast<std::int64_t>(m_blocks[block].offset) + delta);
    return true;
}

} // namespace quern::reg
