#include "registry/GridOrder.h"

#include "base/RegTypes.h"
#include "codec/NumberText.h"
#include "codec/RegData.h"
#include "codec/Utf.h"
#include "codec/ValueData.h"
#include "codec/ValueText.h"

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
#include <numeric>
#include <span>
#include <string>

namespace quern {

namespace {

constexpr std::uint32_t kNamedTypes = 12; // REG_NONE to REG_QWORD have names of their own

// Where each named type's name stands among the others in the order of their texts.
const std::array<int, kNamedTypes>& typeNameRanks() {
    static const std::array<int, kNamedTypes> ranks = [] {
        std::array<std::uint32_t, kNamedTypes> types {};
        std::iota(types.begin(), types.end(), 0u);
        std::sort(types.begin(), types.end(),
            [](std::uint32_t a, std::uint32_t b) { return codec::typeColumnName(a) < codec::typeColumnName(b); });
        std::array<int, kNamedTypes> rank {};
        for (std::size_t i = 0; i < types.size(); ++i)
            rank[types[i]] = static_cast<int>(i);
        return rank;
    }();
    return ranks;
}

// What a row is compared by, worked out once per row: a 100,000-row key sorts by decoding each
// value once, not once per comparison.
struct RowKey {
    int group = 0; // Data: 0 numbers, 1 strings, 2 other; Type: 0 0x names, 1 REG_ names
    bool nonNegative = true; // numbers: a negative one before every other
    std::uint64_t number = 0; // numbers: the value (two's complement when negative); Type: rank or type
    std::string text; // strings
    std::string foldedText; // the text lower-cased, where it is ASCII: compared as bytes
    bool asciiText = true;
};

// A text lower-cased, and whether it is ASCII, where nameLess's order is that of the lower-cased
// bytes (then of the bytes themselves): compared that way, each comparison is one memcmp. Beyond
// ASCII, nameLess decides.
bool foldAscii(const std::string& text, std::string& folded) {
    folded = text;
    for (char& c : folded) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return true;
}

int compareFolded(const std::string& a, const std::string& foldedA, bool asciiA, const std::string& b,
    const std::string& foldedB, bool asciiB) {
    if (a == b) return 0;
    if (asciiA && asciiB) {
        if (const int order = foldedA.compare(foldedB); order != 0) return order < 0 ? -1 : 1;
        return a < b ? -1 : 1;
    }
    return nameLess(a, b) ? -1 : 1;
}

void numberKey(RowKey& key, std::uint32_t value, bool asSigned) {
    key.group = 0;
    const std::int64_t number = asSigned ? std::int64_t(static_cast<std::int32_t>(value)) : std::int64_t(value);
    key.nonNegative = number >= 0;
    key.number = static_cast<std::uint64_t>(number);
}

RowKey dataKey(const ValueRow& row, int dwordMode) {
    RowKey key;
    const std::span<const std::uint8_t> raw = row.data;
    const bool asSigned = dwordMode == kDwordDecimal;
    if (row.type == reg::kRegDword && raw.size() <= 4) {
        numberKey(key, codec::dwordFromBytes(raw), asSigned);
    } else if (row.type == reg::kRegDwordBigEndian && raw.size() == 4) {
        numberKey(key, std::uint32_t(raw[0]) << 24 | std::uint32_t(raw[1]) << 16 | std::uint32_t(raw[2]) << 8 | raw[3],
            asSigned);
    } else if (row.type == reg::kRegQword && raw.size() == 8) {
        key.number = codec::qwordFromBytes(raw);
    } else if (row.type == reg::kRegSz || row.type == reg::kRegExpandSz) {
        key.group = 1;
        key.text = codec::stringUpToNul(raw);
    } else if (row.type == reg::kRegMultiSz) {
        key.group = 1;
        const std::u16string units = reg::unitsFromUtf16LE(raw);
        // A line break sorts before every character a string shows, so strings compare one by one.
        for (const std::u16string_view string : codec::splitMultiString(units))
            key.text += reg::toUtf8(string) + '\n';
    } else {
        key.group = 2;
    }
    if (key.group == 1) key.asciiText = foldAscii(key.text, key.foldedText);
    return key;
}

RowKey typeKey(const ValueRow& row) {
    RowKey key;
    key.group = row.type < kNamedTypes ? 1 : 0;
    key.number = row.type < kNamedTypes ? static_cast<std::uint64_t>(typeNameRanks()[row.type]) : row.type;
    return key;
}

int compareBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    const auto order = std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int compareKeys(const RowKey& a, const RowKey& b, const ValueRow& rowA, const ValueRow& rowB) {
    if (a.group != b.group) return a.group < b.group ? -1 : 1;
    if (a.nonNegative != b.nonNegative) return a.nonNegative ? 1 : -1;
    if (a.number != b.number) return a.number < b.number ? -1 : 1;
    if (a.group == 1)
        if (const int text = compareFolded(a.text, a.foldedText, a.asciiText, b.text, b.foldedText, b.asciiText);
            text != 0)
            return text;
    return a.group == 2 ? compareBytes(rowA.data, rowB.data) : 0;
}

} // namespace

GridSort clickedGridSort(GridSort current, GridColumn clicked) {
    if (current.column == clicked) return { clicked, !current.descending };
    return { clicked, false };
}

GridSort gridSortFrom(int column, bool descending) {
    if (column < 0 || column > static_cast<int>(GridColumn::Type)) return {};
    return { static_cast<GridColumn>(column), descending };
}

void sortValueRows(std::vector<ValueRow>& rows, GridSort sort, int dwordMode) {
    std::vector<RowKey> keys;
    if (sort.column != GridColumn::Name) {
        keys.reserve(rows.size());
        for (const ValueRow& row : rows)
            keys.push_back(sort.column == GridColumn::Data ? dataKey(row, dwordMode) : typeKey(row));
    }
    std::vector<std::string> folded(rows.size());
    std::vector<char> ascii(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        ascii[i] = foldAscii(rows[i].name, folded[i]);
    auto less = [&](std::size_t a, std::size_t b) {
        if (!keys.empty())
            if (const int order = compareKeys(keys[a], keys[b], rows[a], rows[b]); order != 0) return order < 0;
        return compareFolded(rows[a].name, folded[a], ascii[a], rows[b].name, folded[b], ascii[b]) < 0;
    };
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t { 0 });
    // Names are unique, so every two rows differ and the order is total: reversing the comparison
    // reverses the list exactly.
    if (sort.descending)
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return less(b, a); });
    else
        std::sort(order.begin(), order.end(), less);
    std::vector<ValueRow> sorted;
    sorted.reserve(rows.size());
    for (const std::size_t index : order)
        sorted.push_back(std::move(rows[index]));
    rows = std::move(sorted);
}

} // namespace quern
