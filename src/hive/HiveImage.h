#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quern::reg {

// Data longer than this is kept by a hive of version 1.4 or later as a big-data record: a "db"
// cell, a list of segment cells, and segments of this many bytes each (the last one shorter).
inline constexpr std::size_t kBigDataSegment = 16344;
// No more segments fit the record's 16-bit count.
inline constexpr std::size_t kMaxBigData = kBigDataSegment * 0xffff;

// One UTF-16 unit upper-cased as Windows compares key names (its simple upper case; surrogates
// and units without one stay as they are).
[[nodiscard]] char16_t windowsUpperUnit(char16_t unit);
// The hash an "lh" subkey list holds beside each key: over the upper-cased UTF-16 units of its
// name, hash * 37 + unit. Windows compares it before the names, so a wrong one hides the key.
[[nodiscard]] std::uint32_t subkeyNameHash(std::u16string_view name);
// The hint an "lf" subkey list holds instead: the first four units of the name as bytes, left as
// typed; all zeros (no hint) when one of them is above 0xFF.
[[nodiscard]] std::uint32_t subkeyNameHint(std::u16string_view name);

// The cells hivex leaves in use, unreferenced, when it replaces a key's values or deletes a key,
// from the hive image as it was before: the segment lists and segments of the values' big-data
// records (hivex frees the "db" cells itself), and with subtree the same for every key below,
// with the emptied subkey lists (count 0) of those keys. Appended to cells; what is not where the
// format says is passed over.
void collectCellsLeftInUse(std::string_view hive, std::size_t node, bool subtree, std::vector<std::size_t>& cells);
// The cells of a key's subkey list (an ri list with its leaves), which hivex leaves in use when the
// key's count of subkeys is 0 as it adds one.
void collectSubkeyListCells(std::string_view hive, std::size_t node, std::vector<std::size_t>& cells);

// A hive file in memory as hivex has just written it, and what hivex cannot write put in place:
// big-data records, subkey lists in Windows' order with Windows' hashes, link flags, key times
// and class names. New cells go into one bin appended after the last one; finish() then sets the
// base block's size of the bins and its checksum. Cells are addressed from the start of the file.
// Each edit returns false, with error set and the image left partly edited, when a record is not
// where hivex should have put it: the image must then not be written.
class HiveImage {
public:
    explicit HiveImage(std::string bytes);

    bool markLink(std::size_t node);
    // The name of a key, or of value number index of a key, as units: hivex wrote a stand-in of
    // as many units in UTF-16 (it cannot write a lone surrogate).
    bool setKeyName(std::size_t node, std::u16string_view name);
    bool setValueName(std::size_t node, std::size_t index, std::u16string_view name);
    bool setKeyTime(std::size_t node, std::uint64_t fileTime);
    // A class name for a key hivex added (which has none yet); its parent's largest class length follows.
    bool setClassName(std::size_t node, std::u16string_view className);
    // The data of value number index of a key, which hivex wrote with none, as a big-data record.
    bool setBigData(std::size_t node, std::size_t index, std::span<const std::uint8_t> data);
    // Orders a key's subkey list as Windows does (by upper-cased name) and gives the keys in
    // fresh (added since the hive was read) their hash or hint; the others keep theirs.
    bool sortSubkeys(std::size_t node, const std::unordered_set<std::size_t>& fresh);
    // A key whose last subkey went keeps the emptied list from hivex, which would lose it (still in
    // use) the next time the key gains a subkey or goes: the list is freed and the key named none.
    void dropEmptySubkeyList(std::size_t node);
    // Marks allocated cells free; cells that are not allocated are left alone.
    void freeCells(const std::vector<std::size_t>& cells);
    // Closes the appended bin and sets the base block's size of the bins and checksum.
    void finish();

    [[nodiscard]] const std::string& bytes() const { return m_bytes; }
    [[nodiscard]] bool changed() const { return !m_changes.empty() || m_appendedFrom; }
    // The ranges [begin, end) changed since the image was made, merged and in order.
    [[nodiscard]] std::vector<std::pair<std::size_t, std::size_t>> changedRanges() const;

    std::string error;

private:
    [[nodiscard]] bool allocated(std::size_t cell, std::size_t recordLength) const;
    bool fail(std::string what);
    // The cell of the value at index of the key at node, when the key's list holds it and it is a
    // value record of at least recordLength bytes; false, with error set, otherwise.
    bool valueAt(std::size_t node, std::size_t index, std::size_t recordLength, std::size_t& value);
    std::size_t allocate(std::size_t recordLength);
    void put16(std::size_t at, std::uint16_t value);
    void put32(std::size_t at, std::uint32_t value);
    void put64(std::size_t at, std::uint64_t value);
    void touched(std::size_t at, std::size_t length);
    [[nodiscard]] std::u16string keyName(std::size_t node) const;
    bool putName(std::size_t at, std::size_t length, bool compressed, std::u16string_view name);

    std::string m_bytes;
    std::size_t m_originalSize = 0;
    std::size_t m_binStart = 0; // the bin being appended, or 0
    std::size_t m_appendedFrom = 0; // where the first appended bin starts, or 0
    std::vector<std::pair<std::size_t, std::size_t>> m_changes;
};

// The checksum of a base block: the XOR of its first 127 double words, never 0 or all ones.
[[nodiscard]] std::uint32_t baseBlockChecksum(std::string_view hive);

} // namespace quern::reg
