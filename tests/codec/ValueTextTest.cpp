#include "codec/ValueText.h"

#include "TestSupport.h"
#include "codec/RegData.h"
#include "codec/Utf.h"
#include "registry/RegU.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

using namespace quern;

TEST(ValueText, DwordRenderings) {
    EXPECT_EQ(formatDword(255, kDwordHex), "FFh");
    EXPECT_EQ(formatDword(-1, kDwordHex), "FFFFFFFFh");
    EXPECT_EQ(formatDword(0, kDwordHex), "0h");
    EXPECT_EQ(formatDword(-1, kDwordDecimal), "-1");
    EXPECT_EQ(formatDword(static_cast<std::int32_t>(0x80000000u), kDwordDecimal), "-2147483648");
    EXPECT_EQ(formatDword(2147483647, kDwordDecimal), "2147483647");
    EXPECT_EQ(formatDword(5, kDwordBinary), "101b");
    EXPECT_EQ(formatDword(0, kDwordBinary), "0b");
    EXPECT_EQ(formatDword(-1, kDwordBinary), std::string(32, '1') + "b");
    EXPECT_EQ(formatDword(5, 3), "") << "a mode outside 0..2 shows nothing";
}

TEST(ValueText, ByteRenderings) {
    const std::vector<std::uint8_t> bytes { 10, 255, 0 };
    EXPECT_EQ(formatBytes(bytes, kBytesHex), "0A FF 00 ");
    EXPECT_EQ(formatBytes(bytes, kBytesDecimal), "010 255 000 ");
    EXPECT_EQ(formatBytes(bytes, kBytesCharacters), "\u25e6\u00ff\u25e6");
    EXPECT_EQ(formatBytes({}, kBytesHex), "");
    EXPECT_EQ(formatBytes(bytes, -1), "");
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    const std::string hex = formatBytes(all, kBytesHex);
    const std::string dec = formatBytes(all, kBytesDecimal);
    ASSERT_EQ(hex.size(), 256u * 3);
    ASSERT_EQ(dec.size(), 256u * 4);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(std::stoi(hex.substr(static_cast<std::size_t>(i) * 3, 2), nullptr, 16), i);
        EXPECT_EQ(std::stoi(dec.substr(static_cast<std::size_t>(i) * 4, 3)), i);
    }
}

// The characters view draws one visible character per byte, so the text lines up with the bytes:
// every byte decodes to exactly one character, none of them a control, a blank that hides which
// byte it was, or the replacement character, and the printable ones are themselves.
TEST(ValueText, CharactersViewGivesEveryByteOneVisibleCharacter) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    const std::u16string shown = reg::toUtf16(formatBytes(all, kBytesCharacters));
    ASSERT_EQ(shown.size(), 256u);
    std::set<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        const char16_t c = shown[static_cast<std::size_t>(b)];
        EXPECT_EQ(c, byteGlyph(static_cast<std::uint8_t>(b)));
        EXPECT_FALSE(c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xA0 || c == 0xAD || c == 0xFFFD) << b;
        if ((b > 0x20 && b < 0x7F) || b >= 0xAE) {
            EXPECT_EQ(c, b) << "printable ASCII, and Latin-1 above the soft hyphen, are themselves";
        }
        seen.insert(c);
    }
    // Only the 33 controls and the five codes Windows-1252 leaves unused share the placeholder.
    EXPECT_EQ(seen.size(), 256u - 38 + 1);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), u'\u25e6'), 38);
    EXPECT_EQ(shown.substr(0x80, 1), u"\u20ac") << "the euro sign of Windows-1252";
}

TEST(ValueText, NamesSortWithoutRegardToCaseDefaultFirst) {
    std::vector<std::string> names { "beta", "", "Alpha", "_x", "ALPHA2", "alpha", "\xc3\x89t\xc3\xa9",
        "\xc3\xa9"
        "a",
        "z" };
    std::sort(names.begin(), names.end(), nameLess);
    EXPECT_EQ(names,
        (std::vector<std::string> { "", "_x", "Alpha", "alpha", "ALPHA2", "beta", "z",
            "\xc3\xa9"
            "a",
            "\xc3\x89t\xc3\xa9" }));
}

namespace {

std::vector<std::string> splitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + separator.size())
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

reg::HKey openSampleKey(reg::RegStore& store, std::string path) {
    const std::string rootName = takeFirstComponent(path);
    const auto root
        = std::find_if(kRootKeys.begin(), kRootKeys.end(), [&](const RootKey& r) { return r.name == rootName; });
    reg::HKey key = reg::kNoKey;
    if (root != kRootKeys.end())
        (void)store.openKey(root->handle, reg::toUtf16(path), reg::Access::Read, reg::kOptionNone, key);
    return key;
}

// The forms agree where they show the same thing: a string's text, a DWORD's number, the bytes.
void expectFormsAgree(std::uint32_t type, const std::vector<std::uint8_t>& raw, const std::string& query) {
    if (type == reg::kRegSz || type == reg::kRegExpandSz) {
        EXPECT_EQ(gridText(type, raw, kBytesHex, kDwordHex), "\"" + query + "\"");
        EXPECT_EQ(searchText(type, raw), query);
    } else if (type == reg::kRegDword) {
        const auto number = static_cast<std::uint32_t>(std::stoul(query.substr(2), nullptr, 16));
        std::string hex = query.substr(2);
        std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) { return std::toupper(c); });
        EXPECT_EQ(gridText(type, raw, kBytesHex, kDwordHex), hex + "h");
        EXPECT_EQ(searchText(type, raw), std::to_string(static_cast<std::int32_t>(number)));
    } else if (type != reg::kRegMultiSz) {
        std::string grid = gridText(type, raw, kBytesHex, kDwordHex);
        std::erase(grid, ' ');
        EXPECT_EQ(grid, query);
    }
}

} // namespace

// The export and reg query of the sample prefix, as they were written before the text forms met
// in one place, are the oracle: keys holding every type the prefix has, and its odd values (empty
// strings and bytes, quotes and backslashes, long binary data, types without a name).
TEST(ValueText, SamplePrefixValuesKeepTheirTextInEveryForm) {
    test::TempDir dir;
    test::copySamplePrefix(dir.path());
    const auto store = test::openTestRegistry(dir.path(), false);
    const std::string data = std::string(QUERN_CODEC_TEST_DATA_DIR) + "/";
    const auto sections = splitAt(test::readFile(data + "sample-values.reg"), "\r\n\r\n");
    const auto listings = splitAt(test::readFile(data + "sample-values-query.txt"), "\n\n");
    ASSERT_EQ(sections.size(), listings.size() + 1) << "REGEDIT4 heads one, an empty end closes each";
    ASSERT_GT(listings.size(), 30u);
    for (std::size_t i = 0; i + 2 < sections.size(); ++i) {
        const auto exported = splitAt(sections[i + 1], "\r\n");
        const auto queried = splitAt(listings[i], "\n");
        const std::string path = exported[0].substr(1, exported[0].size() - 2);
        ASSERT_EQ(queried[0], path);
        const reg::HKey key = openSampleKey(*store, path);
        ASSERT_NE(key, reg::kNoKey) << path;
        std::u16string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> raw;
        std::uint32_t index = 0;
        for (; store->enumValue(key, index, name, &type, &raw) == reg::Status::Ok; ++index) {
            ASSERT_LT(index + 1, exported.size()) << path;
            std::string line;
            appendRegFileValue(line, reg::toUtf8(name), type, raw);
            EXPECT_EQ(line, exported[index + 1]);
            const std::string query = queryText(type, raw);
            EXPECT_TRUE(queried[index + 1].ends_with("    " + codec::typeName(type) + "    " + query))
                << queried[index + 1];
            expectFormsAgree(type, raw, query);
        }
        EXPECT_EQ(index + 1, exported.size()) << path;
        (void)store->closeKey(key);
    }
}

// Where the places differ on purpose: each shows what it can read back or act on, so odd data
// (a DWORD of the wrong size, a string with a line break, a multi-string) reads differently in each.
TEST(ValueText, EachPlaceShowsOddDataItsOwnWay) {
    struct Case {
        std::uint32_t type;
        std::vector<std::uint8_t> raw;
        std::string grid; // bytes in hex, DWORDs in decimal
        std::string search;
        std::string exported;
        std::string query;
    };
    const std::vector<Case> cases {
        { reg::kRegDword, { 0xFF, 0xFF }, "65535", "65535", "\"v\"=hex(4):FF,FF", "FFFF" },
        { reg::kRegDword, { 1, 2, 3, 4, 5 }, "[Invalid Integer Data]", "", "\"v\"=hex(4):1,2,3,4,5", "0102030405" },
        { reg::kRegDword, { 0xFF, 0xFF, 0xFF, 0xFF }, "-1", "-1", "\"v\"=dword:FFFFFFFF", "0xffffffff" },
        { reg::kRegMultiSz, { 'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0 }, "61 00 62 00 00 ", "", "\"v\"=hex:61,0,62,0,0",
            "a\\0b" },
        { reg::kRegSz, { 'a', 0, '\r', 0, '\n', 0, 'b', 0, 0, 0 }, "\"a\r\nb\"", "a\r\nb", "\"v\"=hex(1):61,D,A,62,0",
            "a\r\nb" },
        { reg::kRegExpandSz, { '"', 0, '\\', 0, 0, 0, 'x', 0 }, "\"\"\\\"", "\"\\", "\"v\"=\"\\\"\\\\\"", "\"\\" },
        { reg::kRegQword, { 1, 0, 0, 0, 0, 0, 0, 0 }, "01 00 00 00 00 00 00 00 ", "", "\"v\"=hex:1,0,0,0,0,0,0,0",
            "0x1" },
        { reg::kRegBinary, { 0, 0x41 }, "00 41 ", std::string("\0A", 2), "\"v\"=hex:0,41", "0041" },
        { reg::kRegNone, {}, "", "", "\"v\"=hex:", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(gridText(c.type, c.raw, kBytesHex, kDwordDecimal), c.grid);
        EXPECT_EQ(searchText(c.type, c.raw), c.search);
        std::string line;
        appendRegFileValue(line, "v", c.type, c.raw);
        EXPECT_EQ(line, c.exported);
        EXPECT_EQ(queryText(c.type, c.raw), c.query);
    }
    std::string line;
    appendRegFileValue(line, "a\"b\\c\r\nd", reg::kRegSz, {});
    EXPECT_EQ(line, "\"a\\\"b\\\\c\\r\\nd\"=\"\"") << "a name's line break as the escape readers take back";
}
