#include "codec/ValueText.h"

#include <gtest/gtest.h>

#include "codec/Utf.h"

#include <algorithm>
#include <set>
#include <vector>

using namespace quern;

TEST(ValueFormat, DwordRenderings) {
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

TEST(ValueFormat, ByteRenderings) {
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
TEST(ValueFormat, CharactersViewGivesEveryByteOneVisibleCharacter) {
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

TEST(ValueFormat, NamesSortWithoutRegardToCaseDefaultFirst) {
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
