#include "wine/RegFileIndex.h"

#include "base/Names.h"
#include "store/KeyArena.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <thread>

namespace quern::reg {

namespace {

// C's isspace without the LF, which ends a line.
bool isBlankInLine(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The parts of the path a key line names; false when wineserver could not read it.
bool readKeyPath(std::string_view text, std::size_t at, std::u16string& path, std::vector<std::u16string_view>& parts) {
    const char* begin = text.data() + at + 1;
    const void* lf = std::memchr(begin, '\n', text.size() - at - 1);
    const std::string_view line(begin, lf ? static_cast<const char*>(lf) - begin : text.data() + text.size() - begin);
    std::size_t pos = 0;
    path.clear();
    return parseEscaped(line, pos, ']', path) && splitKeyPath(path, parts);
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
            if constexpr (std::endian::native == std::endian::little)
                return i + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
            break;
        }
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
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

// Whether eight bytes are printable ASCII other than ']' and '\\': for those, adding 0x60 sets the
// high bit, which none of them has, and neither special byte is zero once xor-ed away.
bool plainWord(const char* bytes) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, 8);
    auto hasZero = [](std::uint64_t v) { return ((v - kOnes) & ~v & kHigh) != 0; };
    return (word & kHigh) == 0 && ((word + 0x6060606060606060ull) & kHigh) == kHigh && !hasZero(word ^ (kOnes * ']'))
        && !hasZero(word ^ (kOnes * '\\'));
}

// Key lines read one after the other while their paths are plain, as nearly all are: printable
// ASCII, the parts split by escaped backslashes, none of them empty or long. Each byte is then one
// unit of a name, paths compare as they stand, and the parts a path repeats from the one before
// are not read again.
class PlainPaths {
public:
    [[nodiscard]] bool hasPath() const { return m_count > 0; }
    // The path before was not plain: the next one is read whole.
    void forget() {
        m_path = {};
        m_count = 0;
    }
    // Reads the path of the key line at at; false when it is not plain. depth gets how many parts
    // it has, and shared how many of them the path before has as well, or -1 when it may not
    // follow that path in the registry's order.
    bool next(std::string_view text, std::size_t at, std::size_t& depth, long& shared) {
        constexpr std::size_t kLongPart = 255;
        const char* line = text.data() + at + 1;
        const std::size_t length = text.size() - at - 1;
        const std::size_t same = commonLength(m_path, std::string_view(line, std::min(length, m_path.size())));
        // The parts before the one the first difference falls in are the same, read already.
        const std::size_t before = m_count;
        std::size_t part = 0;
        while (part + 1 < before && m_starts[part + 1] <= same)
            ++part;
        const std::string_view oldPart = before > 0 ? partOf(m_path, part) : std::string_view();
        std::size_t start = before > 0 ? m_starts[part] : 0;
        m_count = part;
        std::size_t i = start;
        for (;; ++i) {
            // Eight plain letters at a time, none of them a bracket or a backslash.
            while (i + 8 <= length && plainWord(line + i))
                i += 8;
            if (i >= length) return fail();
            const auto c = static_cast<unsigned char>(line[i]);
            if (c == ']' || c == '\\') {
                if (i == start || i - start > kLongPart || m_count >= kMaxKeyDepth) return fail();
                m_starts[m_count++] = static_cast<std::uint32_t>(start);
                if (c == ']') break;
                if (i + 1 >= length || line[i + 1] != '\\') return fail();
                start = ++i + 1;
            } else if (c < 0x20 || c >= 0x80) {
                return fail();
            }
        }
        m_path = std::string_view(line, i);
        const std::size_t now = m_count;
        const std::string_view newPart = partOf(m_path, part);
        // The first difference lies in this part or just after it: past it one path ends.
        const std::size_t k = part < before && oldPart == newPart ? part + 1 : part;
        if (before == 0)
            shared = 0;
        else if (k == before || k == now)
            shared = now > before && k == before ? static_cast<long>(k) : -1; // a key below the one before
        else if (k == part)
            shared = compareAscii(oldPart, newPart) < 0 ? static_cast<long>(k) : -1;
        else
            return fail();
        depth = now;
        return true;
    }

private:
    bool fail() {
        forget();
        return false;
    }
    [[nodiscard]] std::string_view partOf(std::string_view path, std::size_t i) const {
        const std::size_t end = i + 1 < m_count ? m_starts[i + 1] - 2 : path.size();
        return path.substr(m_starts[i], end - m_starts[i]);
    }
    std::string_view m_path; // the path before
    std::array<std::uint32_t, kMaxKeyDepth> m_starts {}; // where its parts start in it
    std::size_t m_count = 0;
};

} // namespace

namespace {

// How many parts of its path a key line shares with the one before, compared as names: for paths
// that are not plain. -1 when it may not follow that one in the registry's order, or a path
// cannot be read.
long sharedParts(std::string_view text, std::size_t before, std::size_t at, std::size_t& depth) {
    std::u16string paths[2];
    std::vector<std::u16string_view> previous;
    std::vector<std::u16string_view> path;
    if (!readKeyPath(text, at, paths[0], path) || path.empty() || !readKeyPath(text, before, paths[1], previous))
        return -1;
    depth = path.size();
    const std::size_t common = std::min(previous.size(), path.size());
    std::size_t same = 0;
    while (same < common && previous[same] == path[same])
        ++same;
    const bool ordered = same < common ? compareNames(previous[same], path[same]) < 0 : path.size() > previous.size();
    return ordered ? static_cast<long>(same) : -1;
}

} // namespace

// The key lines that start in [from, to): false when one of them is not as wineserver writes
// them. The first one's shared parts are left for the caller, who knows the line before it.
bool RegFileIndex::scan(std::string_view text, std::size_t from, std::size_t to, std::vector<Block>& blocks) {
    if (std::memchr(text.data() + from, '\0', to - from)) return false;
    PlainPaths plain;
    // About one block in every 200 bytes, as wineserver writes them: few regrowths of the list.
    blocks.reserve((to - from) / 192);
    while (from < to) {
        const void* hit = std::memchr(text.data() + from, '[', to - from);
        if (!hit) break;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        from = at + 1; // past the line's own bracket: the next search finds none at a line's start there
        std::size_t lineStart = at;
        while (lineStart > 0 && isBlankInLine(text[lineStart - 1]))
            --lineStart;
        if (lineStart > 0 && text[lineStart - 1] != '\n') continue; // a bracket inside a line
        if (lineStart != at || at == 0) return false;
        // The line before must end there: after a backslash, hex data would go on over this one.
        std::size_t last = at - 1;
        while (last > 0 && isBlankInLine(text[last - 1]))
            --last;
        if (last > 0 && text[last - 1] == '\\') return false;

        // The registry's order, each key once, spelled one way: else the file is read whole.
        std::size_t depth = 0;
        long shared = 0;
        if (!((blocks.empty() || plain.hasPath()) && plain.next(text, at, depth, shared))) {
            // Escapes or other letters: compared as names, the block before read again as well.
            std::u16string path;
            std::vector<std::u16string_view> parts;
            if (!readKeyPath(text, at, path, parts) || parts.empty()) return false;
            depth = parts.size();
            shared = blocks.empty() ? 0 : sharedParts(text, blocks.back().offset, at, depth);
            // The next line compares with this one as it stands, if it is plain.
            plain.forget();
            std::size_t ignoredDepth = 0;
            long ignoredShared = 0;
            (void)plain.next(text, at, ignoredDepth, ignoredShared);
        }
        if (shared < 0) return false;
        blocks.push_back(
            { static_cast<std::uint32_t>(at), static_cast<std::uint16_t>(depth), static_cast<std::uint16_t>(shared) });
    }
    return true;
}

std::unique_ptr<RegFileIndex> RegFileIndex::build(std::string_view text, std::string_view prefixArch,
    ParsedFile& header, const std::function<void(std::size_t, std::size_t)>& alongside) {
    header = ParsedFile {};
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    auto index = std::unique_ptr<RegFileIndex>(new RegFileIndex);
    index->m_text = text;
    // A large file is read in two halves at once, one on a thread of its own; they meet on a
    // megabyte's bound, so that what goes alongside can take whole chunks of either.
    const std::size_t half
        = text.size() >= kTwoHalves ? (text.size() / 2) & ~((std::size_t(1) << 20) - 1) : text.size();
    std::vector<Block> second;
    bool secondRead = true;
    std::thread other;
    if (half < text.size())
        other = std::thread([&] {
            secondRead = scan(text, half, text.size(), second);
            if (alongside) alongside(half, text.size());
        });
    const bool firstRead = scan(text, 0, half, index->m_blocks);
    if (alongside) alongside(0, half);
    if (other.joinable()) other.join();
    if (!firstRead || !secondRead) return nullptr;
    if (!second.empty()) {
        if (!index->m_blocks.empty()) {
            std::size_t depth = 0;
            const long shared = sharedParts(text, index->m_blocks.back().offset, second.front().offset, depth);
            if (shared < 0) return nullptr;
            second.front().shared = static_cast<std::uint16_t>(shared);
        }
        index->m_blocks.insert(index->m_blocks.end(), second.begin(), second.end());
    }
    if (index->m_blocks.empty()) return nullptr;
    index->m_blocks.shrink_to_fit();

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
    std::vector<LoadProblem>& problems, std::size_t& bytesRead) const {
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
            const std::size_t limit = limitOf(block);
            BlockRead read = parseRegBlock(m_text.substr(0, limit), at, *sub);
            if (!read.keyLine || read.hasNul) return Status::ChangedOnDisk;
            bytesRead += limit - at;
            // Its values are served from the file until one changes: a walk over a big registry
            // keeps only its keys. A block with lines Quern keeps keeps its values too.
            if (!sub->values.empty() && !sub->hasKeptLines()) {
                sub->values = ValueList();
                sub->valuesInFile = true;
            }
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
    return limitAt(m_blocks[block].offset);
}

std::size_t RegFileIndex::limitAt(std::size_t offset) const {
    // Every line of the text that starts with a bracket is a key line: the file's own were all
    // indexed, and Quern writes none other. (The next block of the index may be one a write has
    // moved elsewhere.)
    for (std::size_t from = offset + 1; from < m_text.size();) {
        const void* hit = std::memchr(m_text.data() + from, '[', m_text.size() - from);
        if (!hit) break;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - m_text.data());
        if (m_text[at - 1] == '\n') return at;
        from = at + 1;
    }
    return m_text.size();
}

Status RegFileIndex::readValues(const Key& key, Key& into) const {
    const std::size_t at = key.source.offset;
    if (key.source.length == 0 || at >= m_text.size() || m_text[at] != '[') return Status::ChangedOnDisk;
    const BlockRead read = parseRegBlock(m_text.substr(0, limitAt(at)), at, into);
    // The block must still be the one the key was read from: where a file ended without a line
    // end, a write that put something after it added one.
    if (!read.keyLine || read.hasNul || read.source.length < key.source.length
        || read.source.length > key.source.length + 1)
        return Status::ChangedOnDisk;
    return Status::Ok;
}

std::uint64_t RegFileIndex::timeOf(std::size_t block) const {
    if (block >= m_blocks.size() || m_blocks[block].offset >= m_text.size()) return 0;
    Key scratch(u"", nullptr, nullptr);
    const BlockRead read = parseRegBlock(m_text.substr(0, limitOf(block)), m_blocks[block].offset, scratch);
    return read.hasNul ? 0 : scratch.modified;
}

std::size_t RegFileIndex::lineOf(std::size_t offset) const {
    return 1
        + static_cast<std::size_t>(
            std::count(m_text.begin(), m_text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

BlocksInFile::Range RegFileIndex::blocksBelow(const Key& key) const {
    const std::size_t first = firstBelow(key, depthOf(key));
    const std::size_t end = std::min<std::size_t>(key.fileBlockEnd, m_blocks.size());
    if (first >= end || m_blocks[end - 1].offset >= m_text.size()) return {};
    Key scratch(u"", nullptr, nullptr);
    const BlockRead last = parseRegBlock(m_text.substr(0, limitOf(end - 1)), m_blocks[end - 1].offset, scratch);
    if (!last.keyLine || last.hasNul) return {};
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
