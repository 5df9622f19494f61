#include "TestSupport.h"
#include "codec/RegData.h"
#include "codec/ValueText.h"
#include "registry/GridOrder.h"
#include "registry/KeyDetails.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <vector>

// The grid's Type column, the texts it lets the data cells read as, the orders a click on a
// header gives, and the status bar's details of a key: each checked against a table written out
// by hand.

using namespace quern;
using test::utf16zBytes;

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

ValueRow row(std::string name, std::uint32_t type, std::vector<std::uint8_t> data) {
    ValueRow value;
    value.name = std::move(name);
    value.type = type;
    value.data = std::move(data);
    return value;
}

// One of each kind the orders tell apart: numbers signed and not, strings of every kind that
// differ only in case or where one begins another, bytes of which one begins another, and
// types without a name.
std::vector<ValueRow> mixedRows() {
    return {
        row("", reg::kRegSz, utf16zBytes(u"zeta")),
        row("alpha", reg::kRegDword, bytes({ 5, 0, 0, 0 })),
        row("Beta", reg::kRegDword, bytes({ 0xff, 0xff, 0xff, 0xff })),
        row("gamma", reg::kRegSz, utf16zBytes(u"Apple")),
        row("delta", reg::kRegBinary, bytes({ 1, 2 })),
        row("Epsilon", reg::kRegBinary, bytes({ 1 })),
        row("eta", reg::kRegQword, bytes({ 3, 0, 0, 0, 0, 0, 0, 0 })),
        row("theta", reg::kRegMultiSz, utf16zBytes(std::u16string(u"apple\0b\0", 8))),
        row("iota", 0xffff0012u, bytes({ 0 })),
        row("kappa", reg::kRegDwordBigEndian, bytes({ 0, 0, 0, 7 })),
        row("lambda", reg::kRegDword, bytes({ 9, 0, 0, 0, 0, 0, 0, 0 })),
        row("mu", reg::kRegNone, {}),
        row("Nu", 12, {}),
        row("xi", reg::kRegExpandSz, utf16zBytes(u"apple")),
    };
}

std::vector<std::string> namesOf(const std::vector<ValueRow>& rows) {
    std::vector<std::string> names;
    for (const ValueRow& value : rows)
        names.push_back(value.name);
    return names;
}

} // namespace

TEST(GridView, TypeColumnNamesEveryTypeAndPadsTheOthers) {
    const std::vector<std::pair<std::uint32_t, std::string>> table { { 0, "REG_NONE" }, { 1, "REG_SZ" },
        { 2, "REG_EXPAND_SZ" }, { 3, "REG_BINARY" }, { 4, "REG_DWORD" }, { 5, "REG_DWORD_BIG_ENDIAN" },
        { 6, "REG_LINK" }, { 7, "REG_MULTI_SZ" }, { 8, "REG_RESOURCE_LIST" }, { 9, "REG_FULL_RESOURCE_DESCRIPTOR" },
        { 10, "REG_RESOURCE_REQUIREMENTS_LIST" }, { 11, "REG_QWORD" }, { 12, "0x0000000c" },
        { 0x12345678, "0x12345678" }, { 0xffff0012u, "0xffff0012" }, { 0xffffffffu, "0xffffffff" } };
    for (const auto& [type, name] : table)
        EXPECT_EQ(codec::typeColumnName(type), name) << type;
    EXPECT_EQ(codec::typeName(12), "0xc") << "reg query keeps its own spelling";
}

TEST(GridView, ReadableTextsOnlyInTheCharactersView) {
    const std::string nul(kMultiStringSeparator);
    EXPECT_EQ(nul, " \xC2\xB6 ");
    struct Case {
        std::uint32_t type;
        std::vector<std::uint8_t> raw;
        int dwordMode;
        std::string readable;
    };
    const std::vector<Case> table {
        { reg::kRegMultiSz, utf16zBytes(std::u16string(u"one\0 two \0\0three\0", 17)), kDwordDecimal,
            "one" + nul + " two " + nul + nul + "three" },
        { reg::kRegMultiSz, utf16zBytes(std::u16string(u"x\r\ny\0", 5)), kDwordDecimal, "x\xE2\x86\xB5\xE2\x86\xB5y" },
        { reg::kRegMultiSz, utf16zBytes(std::u16string(u"caf\u00e9\0", 5)), kDwordDecimal, "caf\xC3\xA9" },
        { reg::kRegQword, bytes({ 0, 0, 0, 0, 1, 0, 0, 0 }), kDwordDecimal, "4294967296" },
        { reg::kRegQword, bytes({ 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff }), kDwordDecimal,
            "18446744073709551615" },
        { reg::kRegQword, bytes({ 0, 0, 0, 0, 1, 0, 0, 0 }), kDwordHex, "100000000h" },
        { reg::kRegQword, bytes({ 5, 0, 0, 0, 0, 0, 0, 0 }), kDwordBinary, "101b" },
        { reg::kRegDwordBigEndian, bytes({ 0, 0, 1, 0 }), kDwordDecimal, "256" },
        { reg::kRegDwordBigEndian, bytes({ 0xff, 0xff, 0xff, 0xff }), kDwordDecimal, "-1" },
        { reg::kRegDwordBigEndian, bytes({ 0x12, 0x34, 0x56, 0x78 }), kDwordHex, "12345678h" },
    };
    for (const Case& c : table) {
        SCOPED_TRACE(codec::typeColumnName(c.type) + " " + c.readable);
        EXPECT_EQ(readableGridText(c.type, c.raw, kBytesCharacters, c.dwordMode), c.readable);
        // The other views show bytes whatever the Type column does.
        for (int mode : { kBytesHex, kBytesDecimal })
            EXPECT_EQ(readableGridText(c.type, c.raw, mode, c.dwordMode), gridText(c.type, c.raw, mode, c.dwordMode));
    }
    // Numbers of the wrong size, and every other kind, keep their bytes in the characters view too.
    for (const ValueRow& value :
        { row("", reg::kRegQword, bytes({ 1, 2, 3, 4 })), row("", reg::kRegDwordBigEndian, bytes({ 1, 2 })),
            row("", reg::kRegBinary, bytes({ 0x41, 0 })), row("", reg::kRegSz, utf16zBytes(u"text")),
            row("", reg::kRegDword, bytes({ 1, 0, 0, 0 })), row("", 0x12345678, bytes({ 0x41 })) })
        EXPECT_EQ(readableGridText(value.type, value.data, kBytesCharacters, kDwordHex),
            gridText(value.type, value.data, kBytesCharacters, kDwordHex));
}

TEST(GridView, EachColumnSortsAsItsTableSaysAndDescendingIsTheReverse) {
    struct Case {
        GridSort sort;
        int dwordMode;
        std::vector<std::string> ascending;
    };
    const std::vector<Case> table {
        { { GridColumn::Name, false }, kDwordDecimal,
            { "", "alpha", "Beta", "delta", "Epsilon", "eta", "gamma", "iota", "kappa", "lambda", "mu", "Nu", "theta",
                "xi" } },
        // Decimal shows all bits set as -1, so it sorts first; hex shows it as the largest number.
        { { GridColumn::Data, false }, kDwordDecimal,
            { "Beta", "eta", "alpha", "kappa", "gamma", "xi", "theta", "", "mu", "Nu", "iota", "Epsilon", "delta",
                "lambda" } },
        { { GridColumn::Data, false }, kDwordHex,
            { "eta", "alpha", "kappa", "Beta", "gamma", "xi", "theta", "", "mu", "Nu", "iota", "Epsilon", "delta",
                "lambda" } },
        { { GridColumn::Type, false }, kDwordDecimal,
            { "Nu", "iota", "delta", "Epsilon", "alpha", "Beta", "lambda", "kappa", "xi", "theta", "mu", "eta", "",
                "gamma" } },
    };
    std::mt19937 random(7);
    for (const Case& c : table) {
        SCOPED_TRACE("column " + std::to_string(static_cast<int>(c.sort.column)));
        for (const bool descending : { false, true }) {
            std::vector<ValueRow> rows = mixedRows();
            std::shuffle(rows.begin(), rows.end(), random);
            sortValueRows(rows, { c.sort.column, descending }, c.dwordMode);
            std::vector<std::string> expected = c.ascending;
            if (descending) std::reverse(expected.begin(), expected.end());
            EXPECT_EQ(namesOf(rows), expected) << (descending ? "descending" : "ascending");
        }
    }

    // A click on the sorted column reverses it; on another, that one ascending. A stored sort that
    // names no column is the default one.
    EXPECT_EQ(clickedGridSort({}, GridColumn::Name), (GridSort { GridColumn::Name, true }));
    EXPECT_EQ(clickedGridSort({ GridColumn::Name, true }, GridColumn::Name), GridSort {});
    EXPECT_EQ(clickedGridSort({ GridColumn::Data, true }, GridColumn::Type), (GridSort { GridColumn::Type, false }));
    EXPECT_EQ(gridSortFrom(2, true), (GridSort { GridColumn::Type, true }));
    EXPECT_TRUE(gridSortFrom(3, true).isDefault());
    EXPECT_TRUE(gridSortFrom(-1, false).isDefault());
}

TEST(GridView, KeyDetailsShowTheLocalTimeAndTheCounts) {
    const char* old = std::getenv("TZ");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    const std::uint64_t written = 134412121870000000ull; // 2026-12-08 14:03:07 UTC
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(localTimeText(written), "2026-12-08 14:03:07");
    EXPECT_EQ(localTimeText(0), "") << "a key without a time";
    EXPECT_EQ(localTimeText(written - 86400ull * 366 * 10000000), "2025-12-07 14:03:07");
    ::setenv("TZ", "QRN-2", 1); // two hours east of UTC
    ::tzset();
    EXPECT_EQ(localTimeText(written + 5 * 10000000ull), "2026-12-08 16:03:12");
    EXPECT_EQ(keyDetailsText({ written, 3, 1 }, std::nullopt),
        "Written 2026-12-08 16:03:07 \xC2\xB7 3 subkeys \xC2\xB7 1 value");
    EXPECT_EQ(keyDetailsText({ 0, 1, 0 }, 1), "1 subkey \xC2\xB7 0 values \xC2\xB7 value 1 byte");
    EXPECT_EQ(keyDetailsText({ 0, 0, 2 }, 0), "0 subkeys \xC2\xB7 2 values \xC2\xB7 value 0 bytes");
    if (saved)
        ::setenv("TZ", saved->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
