#include "registry/ValueFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(formatBytes(bytes, kBytesCharacters), std::string("\n\xff\0", 3));
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
