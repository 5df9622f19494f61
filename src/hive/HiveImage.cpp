#include "hive/HiveImage.h"

#include "hive/HiveFormat.h"

#include "codec/Utf.h"

#include <algorithm>
#include <array>
#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>

namespace quern::reg {

namespace {

using namespace hiveformat;

// What only the writer needs of the format: the bins it adds, and the big-data record it makes.
constexpr std::size_t kBinUnit = 0x1000;
constexpr std::size_t kDbRecord = 12; // "db", segment count, segment list, a spare word
// Deeper than any registry allows: a subtree walk that goes further is on a damaged list.
constexpr std::size_t kMaxDepth = 512;

std::uint16_t get16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(
        static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

std::uint32_t get32(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(get16(bytes, at)) | static_cast<std::uint32_t>(get16(bytes, at + 2)) << 16;
}

// The size of an allocated cell that holds a record of at least length bytes, else 0.
std::size_t usedCell(std::string_view bytes, std::size_t cell, std::size_t length) {
    if (cell < kBinsStart || cell % 8 != 0 || cell + kCellHeader > bytes.size()) return 0;
    const auto size = static_cast<std::int32_t>(get32(bytes, cell));
    if (size >= 0) return 0;
    const auto whole = static_cast<std::size_t>(-static_cast<std::int64_t>(size));
    if (whole < kCellHeader + length || whole > bytes.size() - cell) return 0;
    return whole;
}

bool isRecord(std::string_view bytes, std::size_t cell, std::size_t length, std::string_view signature) {
    return usedCell(bytes, cell, length) && bytes.substr(cell + kCellHeader, 2) == signature;
}

std::size_t roundUp(std::size_t n, std::size_t unit) {
    return (n + unit - 1) / unit * unit;
}

int compareUpper(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = windowsUpperUnit(a[i]);
        const char16_t y = windowsUpperUnit(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The subkey lists of a key: one leaf (lf, lh, li), or the leaves an ri list names. Empty when
// the key has none or the list is not one.
std::vector<std::size_t> leavesOf(std::string_view bytes, std::size_t node) {
    const std::size_t record = node + kCellHeader;
    if (get32(bytes, record + kNkSubkeyCount) == 0) return {};
    const std::size_t list = kBinsStart + get32(bytes, record + kNkSubkeyList);
    if (!usedCell(bytes, list, 4)) return {};
    const std::string_view kind = bytes.substr(list + kCellHeader, 2);
    if (kind != "ri") return { list };
    const std::size_t count = get16(bytes, list + kCellHeader + 2);
    if (!usedCell(bytes, list, 4 + 4 * count)) return {};
    std::vector<std::size_t> leaves;
    for (std::size_t i = 0; i < count; ++i)
        leaves.push_back(kBinsStart + get32(bytes, list + kCellHeader + 4 + 4 * i));
    return leaves;
}

// The step between the entries of a leaf (8 with a hash or hint, 4 without), 0 when it is none.
std::size_t leafStep(std::string_view bytes, std::size_t leaf) {
    if (!usedCell(bytes, leaf, 4)) return 0;
    const std::string_view kind = bytes.substr(leaf + kCellHeader, 2);
    const std::size_t step = kind == "lf" || kind == "lh" ? 8 : (kind == "li" ? 4 : 0);
    if (step && !usedCell(bytes, leaf, 4 + step * get16(bytes, leaf + kCellHeader + 2))) return 0;
    return step;
}

} // namespace

char16_t windowsUpperUnit(char16_t unit) {
    if (unit < 0x80) return unit >= 'a' && unit <= 'z' ? static_cast<char16_t>(unit - 32) : unit;
    // Every unit's simple upper case from the C library's Unicode tables, once; the registry's own
    // narrower table stands in where those cannot be had.
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> upper(0x10000);
        const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        for (std::uint32_t u = 0; u < 0x10000; ++u) {
            const auto c = static_cast<char16_t>(u);
            if (u >= 0xd800 && u <= 0xdfff) {
                upper[u] = c;
                continue;
            }
            if (!utf8) {
                upper[u] = upperUnit(c);
                continue;
            }
            const std::wint_t up = ::towupper_l(static_cast<std::wint_t>(u), utf8);
            upper[u] = up < 0x10000 ? static_cast<char16_t>(up) : c;
        }
        if (utf8) ::freelocale(utf8);
        return upper;
    }();
    return table[unit];
}

std::uint32_t subkeyNameHash(std::u16string_view name) {
    std::uint32_t hash = 0;
    for (const char16_t unit : name)
        hash = hash * 37 + windowsUpperUnit(unit);
    return hash;
}

std::uint32_t subkeyNameHint(std::u16string_view name) {
    std::uint32_t hint = 0;
    for (std::size_t i = 0; i < name.size() && i < 4; ++i) {
        if (name[i] > 0xff) return 0;
        hint |= static_cast<std::uint32_t>(name[i]) << (8 * i);
    }
    return hint;
}

std::uint32_t baseBlockChecksum(std::string_view hive) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kChecksum; at += 4)
        sum ^= get32(hive, at);
    if (sum == 0xffffffffu) return 0xfffffffeu;
    if (sum == 0) return 1;
    return sum;
}

void collectCellsLeftInUse(std::string_view hive, std::size_t node, bool subtree, std::vector<std::size_t>& cells) {
    std::vector<std::pair<std::size_t, std::size_t>> stack { { node, 0 } };
    std::unordered_set<std::size_t> seen;
    while (!stack.empty()) {
        const auto [key, depth] = stack.back();
        stack.pop_back();
        if (!isRecord(hive, key, kNkName, "nk") || !seen.insert(key).second) continue;
        const std::size_t record = key + kCellHeader;
        const std::size_t count = get32(hive, record + kNkValueCount);
        const std::size_t list = kBinsStart + get32(hive, record + kNkValueList);
        if (count && usedCell(hive, list, 4 * count)) {
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t value = kBinsStart + get32(hive, list + kCellHeader + 4 * i);
                if (!isRecord(hive, value, kVkName, "vk")) continue;
                const std::uint32_t length = get32(hive, value + kCellHeader + kVkDataLength);
                if (length & kInlineData || length <= kBigDataSegment) continue;
                // A cell that could hold the data itself is one (as a hive of version 1.3 keeps it).
                const std::size_t db = kBinsStart + get32(hive, value + kCellHeader + kVkData);
                const std::size_t dbSize = usedCell(hive, db, kDbRecord - 4);
                if (!dbSize || dbSize >= length + kCellHeader || hive.substr(db + kCellHeader, 2) != "db") continue;
                const std::size_t segments = get16(hive, db + kCellHeader + 2);
                const std::size_t segmentList = kBinsStart + get32(hive, db + kCellHeader + 4);
                if (!usedCell(hive, segmentList, 4 * segments)) continue;
                cells.push_back(segmentList);
                for (std::size_t s = 0; s < segments; ++s)
                    cells.push_back(kBinsStart + get32(hive, segmentList + kCellHeader + 4 * s));
            }
        }
        if (!subtree || depth >= kMaxDepth) continue;
        if (get32(hive, record + kNkSubkeyCount) == 0) collectSubkeyListCells(hive, key, cells);
        for (const std::size_t leaf : leavesOf(hive, key)) {
            const std::size_t step = leafStep(hive, leaf);
            if (!step) continue;
            const std::size_t entries = get16(hive, leaf + kCellHeader + 2);
            for (std::size_t i = 0; i < entries; ++i)
                stack.emplace_back(kBinsStart + get32(hive, leaf + kCellHeader + 4 + i * step), depth + 1);
        }
    }
}

void collectSubkeyListCells(std::string_view hive, std::size_t node, std::vector<std::size_t>& cells) {
    if (!isRecord(hive, node, kNkName, "nk")) return;
    const std::uint32_t offset = get32(hive, node + kCellHeader + kNkSubkeyList);
    if (offset == 0xffffffffu) return;
    const std::size_t list = kBinsStart + offset;
    if (!usedCell(hive, list, 4)) return;
    cells.push_back(list);
    if (hive.substr(list + kCellHeader, 2) != "ri") return;
    const std::size_t count = get16(hive, list + kCellHeader + 2);
    if (!usedCell(hive, list, 4 + 4 * count)) return;
    for (std::size_t i = 0; i < count; ++i)
        cells.push_back(kBinsStart + get32(hive, list + kCellHeader + 4 + 4 * i));
}

HiveImage::HiveImage(std::string bytes)
    : m_bytes(std::move(bytes))
    , m_originalSize(m_bytes.size()) {
}

bool HiveImage::allocated(std::size_t cell, std::size_t recordLength) const {
    return usedCell(m_bytes, cell, recordLength) != 0;
}

bool HiveImage::fail(std::string what) {
    error = std::move(what);
    return false;
}

void HiveImage::touched(std::size_t at, std::size_t length) {
    if (at < m_originalSize) m_changes.emplace_back(at, at + length);
}

void HiveImage::put16(std::size_t at, std::uint16_t value) {
    m_bytes[at] = static_cast<char>(value & 0xff);
    m_bytes[at + 1] = static_cast<char>(value >> 8);
    touched(at, 2);
}

void HiveImage::put32(std::size_t at, std::uint32_t value) {
    put16(at, static_cast<std::uint16_t>(value & 0xffff));
    put16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

void HiveImage::put64(std::size_t at, std::uint64_t value) {
    put32(at, static_cast<std::uint32_t>(value));
    put32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

// A new cell at the end of the bin being appended, zeroed and marked in use; the bin starts where
// the base block says the bins end (any slack hivex left after them goes).
std::size_t HiveImage::allocate(std::size_t recordLength) {
    if (!m_binStart) {
        m_binStart = kBinsStart + get32(m_bytes, kBinsSize);
        if (!m_appendedFrom) m_appendedFrom = m_binStart;
        m_bytes.resize(m_binStart + kBinHeader, '\0');
    }
    const std::size_t size = roundUp(kCellHeader + recordLength, 8);
    const std::size_t cell = m_bytes.size();
    m_bytes.resize(cell + size, '\0');
    put32(cell, static_cast<std::uint32_t>(-static_cast<std::int64_t>(size)));
    return cell;
}

std::u16string HiveImage::keyName(std::size_t node) const {
    const std::size_t record = node + kCellHeader;
    const std::size_t length = get16(m_bytes, record + kNkNameLength);
    if (!allocated(node, kNkName + length)) return {};
    std::u16string name;
    if (get16(m_bytes, record + kNkFlags) & kNkCompressedName) {
        for (std::size_t i = 0; i < length; ++i)
            name.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(m_bytes[record + kNkName + i])));
    } else {
        for (std::size_t i = 0; i + 1 < length; i += 2)
            name.push_back(static_cast<char16_t>(get16(m_bytes, record + kNkName + i)));
    }
    return name;
}

bool HiveImage::markLink(std::size_t node) {
    if (!isRecord(m_bytes, node, kNkName, "nk")) return fail("a link key is not where it was written");
    put16(node + kCellHeader + kNkFlags, get16(m_bytes, node + kCellHeader + kNkFlags) | kNkLink);
    return true;
}

bool HiveImage::putName(std::size_t at, std::size_t length, bool compressed, std::u16string_view name) {
    if (compressed || length != 2 * name.size()) return fail("a name is not as it was written");
    for (std::size_t i = 0; i < name.size(); ++i)
        put16(at + 2 * i, name[i]);
    return true;
}

bool HiveImage::setKeyName(std::size_t node, std::u16string_view name) {
    const std::size_t record = node + kCellHeader;
    if (!isRecord(m_bytes, node, kNkName + 2 * name.size(), "nk")) return fail("a key is not where it was written");
    return putName(record + kNkName, get16(m_bytes, record + kNkNameLength),
        get16(m_bytes, record + kNkFlags) & kNkCompressedName, name);
}

bool HiveImage::valueAt(std::size_t node, std::size_t index, std::size_t recordLength, std::size_t& value) {
    if (!isRecord(m_bytes, node, kNkName, "nk")) return fail("a key is not where it was written");
    const std::size_t record = node + kCellHeader;
    const std::size_t count = get32(m_bytes, record + kNkValueCount);
    const std::size_t list = kBinsStart + get32(m_bytes, record + kNkValueList);
    if (index >= count || !allocated(list, 4 * count)) return fail("a value list is not as it was written");
    value = kBinsStart + get32(m_bytes, list + kCellHeader + 4 * index);
    if (!isRecord(m_bytes, value, recordLength, "vk")) return fail("a value is not as it was written");
    return true;
}

bool HiveImage::setValueName(std::size_t node, std::size_t index, std::u16string_view name) {
    std::size_t value = 0;
    if (!valueAt(node, index, kVkName + 2 * name.size(), value)) return false;
    return putName(value + kCellHeader + kVkName, get16(m_bytes, value + kCellHeader + kVkNameLength),
        get16(m_bytes, value + kCellHeader + kVkFlags) & kVkCompressedName, name);
}

bool HiveImage::setKeyTime(std::size_t node, std::uint64_t fileTime) {
    if (!isRecord(m_bytes, node, kNkName, "nk")) return fail("a key is not where it was written");
    put64(node + kCellHeader + kNkTime, fileTime);
    return true;
}

bool HiveImage::setClassName(std::size_t node, std::u16string_view className) {
    if (!isRecord(m_bytes, node, kNkName, "nk")) return fail("a key is not where it was written");
    const std::size_t length = className.size() * 2;
    if (length > 0xffff) return fail("a class name is longer than a hive can hold");
    const std::size_t cell = allocate(length);
    for (std::size_t i = 0; i < className.size(); ++i)
        put16(cell + kCellHeader + 2 * i, className[i]);
    const std::size_t record = node + kCellHeader;
    put32(record + kNkClass, static_cast<std::uint32_t>(cell - kBinsStart));
    put16(record + kNkClassLength, static_cast<std::uint16_t>(length));
    const std::size_t parent = kBinsStart + get32(m_bytes, record + kNkParent);
    if (isRecord(m_bytes, parent, kNkName, "nk") && get32(m_bytes, parent + kCellHeader + kNkMaxClassLength) < length)
        put32(parent + kCellHeader + kNkMaxClassLength, static_cast<std::uint32_t>(length));
    return true;
}

bool HiveImage::setBigData(std::size_t node, std::size_t index, std::span<const std::uint8_t> data) {
    std::size_t value = 0;
    if (!valueAt(node, index, kVkName, value)) return false;
    if (get32(m_bytes, value + kCellHeader + kVkDataLength) != kInlineData)
        return fail("a value is not as it was written");
    const std::size_t record = node + kCellHeader;
    if (data.size() <= kBigDataSegment || data.size() > kMaxBigData)
        return fail("a value does not fit a big-data record");

    const std::size_t segments = (data.size() + kBigDataSegment - 1) / kBigDataSegment;
    const std::size_t db = allocate(kDbRecord);
    const std::size_t segmentList = allocate(4 * segments);
    m_bytes.replace(db + kCellHeader, 2, "db");
    put16(db + kCellHeader + 2, static_cast<std::uint16_t>(segments));
    put32(db + kCellHeader + 4, static_cast<std::uint32_t>(segmentList - kBinsStart));
    for (std::size_t s = 0; s < segments; ++s) {
        const std::size_t from = s * kBigDataSegment;
        const std::size_t length = std::min(kBigDataSegment, data.size() - from);
        // Four bytes spare after the data, as Windows' full segments have them (16,344 bytes in a
        // cell of 16,352): readers take a segment's data as its cell less eight bytes.
        const std::size_t segment = allocate(length + 4);
        std::memcpy(m_bytes.data() + segment + kCellHeader, data.data() + from, length);
        put32(segmentList + kCellHeader + 4 * s, static_cast<std::uint32_t>(segment - kBinsStart));
    }
    put32(value + kCellHeader + kVkDataLength, static_cast<std::uint32_t>(data.size()));
    put32(value + kCellHeader + kVkData, static_cast<std::uint32_t>(db - kBinsStart));
    if (get32(m_bytes, record + kNkMaxDataLength) < data.size())
        put32(record + kNkMaxDataLength, static_cast<std::uint32_t>(data.size()));
    return true;
}

bool HiveImage::sortSubkeys(std::size_t node, const std::unordered_set<std::size_t>& fresh) {
    if (!isRecord(m_bytes, node, kNkName, "nk")) return fail("a key is not where it was written");
    struct Slot {
        std::size_t at; // of the entry in its leaf
        std::size_t step;
        bool hashed; // lh, else lf (with step 8)
    };
    struct Entry {
        std::size_t node;
        std::uint32_t kept; // hash or hint as the list held it
        std::size_t step;
        bool hashed;
        std::u16string name;
    };
    std::vector<Slot> slots;
    std::vector<Entry> entries;
    for (const std::size_t leaf : leavesOf(m_bytes, node)) {
        const std::size_t step = leafStep(m_bytes, leaf);
        if (!step) return fail("a subkey list is not one");
        const bool hashed = m_bytes.compare(leaf + kCellHeader, 2, "lh") == 0;
        const std::size_t count = get16(m_bytes, leaf + kCellHeader + 2);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = leaf + kCellHeader + 4 + i * step;
            const std::size_t child = kBinsStart + get32(m_bytes, at);
            if (!isRecord(m_bytes, child, kNkName, "nk")) return fail("a subkey list names no key");
            slots.push_back({ at, step, hashed });
            entries.push_back({ child, step == 8 ? get32(m_bytes, at + 4) : 0, step, hashed, keyName(child) });
        }
    }
    if (entries.size() != get32(m_bytes, node + kCellHeader + kNkSubkeyCount))
        return fail("a subkey list does not hold as many keys as its key counts");
    std::stable_sort(entries.begin(), entries.end(),
        [](const Entry& a, const Entry& b) { return compareUpper(a.name, b.name) < 0; });
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const Slot& slot = slots[i];
        const Entry& entry = entries[i];
        put32(slot.at, static_cast<std::uint32_t>(entry.node - kBinsStart));
        if (slot.step != 8) continue;
        const bool keep = !fresh.count(entry.node) && entry.step == 8 && entry.hashed == slot.hashed;
        put32(slot.at + 4, keep ? entry.kept : (slot.hashed ? subkeyNameHash(entry.name) : subkeyNameHint(entry.name)));
    }
    return true;
}

void HiveImage::dropEmptySubkeyList(std::size_t node) {
    const std::size_t record = node + kCellHeader;
    if (!isRecord(m_bytes, node, kNkName, "nk") || get32(m_bytes, record + kNkSubkeyCount) != 0
        || get32(m_bytes, record + kNkSubkeyList) == 0xffffffffu)
        return;
    std::vector<std::size_t> cells;
    collectSubkeyListCells(m_bytes, node, cells);
    freeCells(cells);
    put32(record + kNkSubkeyList, 0xffffffffu);
}

void HiveImage::freeCells(const std::vector<std::size_t>& cells) {
    for (const std::size_t cell : cells) {
        const std::size_t size = usedCell(m_bytes, cell, 0);
        if (size) put32(cell, static_cast<std::uint32_t>(size));
    }
}

void HiveImage::finish() {
    if (!m_binStart) return;
    const std::size_t end = m_bytes.size();
    const std::size_t binSize = roundUp(end - m_binStart, kBinUnit);
    m_bytes.resize(m_binStart + binSize, '\0');
    m_bytes.replace(m_binStart, 4, "hbin");
    put32(m_binStart + 4, static_cast<std::uint32_t>(m_binStart - kBinsStart));
    put32(m_binStart + 8, static_cast<std::uint32_t>(binSize));
    if (m_bytes.size() > end) put32(end, static_cast<std::uint32_t>(m_bytes.size() - end));
    put32(kBinsSize, static_cast<std::uint32_t>(m_bytes.size() - kBinsStart));
    put32(kChecksum, baseBlockChecksum(m_bytes));
    m_binStart = 0;
}

std::vector<std::pair<std::size_t, std::size_t>> HiveImage::changedRanges() const {
    std::vector<std::pair<std::size_t, std::size_t>> ranges = m_changes;
    // The bin appended (over any slack after the old bins) was all written here.
    if (m_appendedFrom) ranges.emplace_back(m_appendedFrom, m_bytes.size());
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::size_t, std::size_t>> merged;
    for (const auto& range : ranges) {
        if (!merged.empty() && range.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, range.second);
        else
            merged.push_back(range);
    }
    return merged;
}

} // namespace quern::reg
