#include "codec/ValueData.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

using namespace quern;
using namespace quern::codec;

// Every byte value survives each hex form and comes back from the digits the form wrote.
TEST(ValueData, HexBytesRoundTripEveryByte) {
    std::vector<std::uint8_t> all(256);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(i);
    std::string plain;
    appendHexBytes(plain, all, {});
    ASSERT_EQ(plain.size(), 512u);
    EXPECT_EQ(parseHexBytes(plain), all);
    std::string fewest = "hex:";
    appendHexBytes(fewest, all, ",", ByteDigits::Fewest);
    EXPECT_EQ(fewest.substr(0, 24), "hex:0,1,2,3,4,5,6,7,8,9,");
    EXPECT_EQ(fewest.substr(fewest.size() - 6), ",FE,FF");
    std::size_t start = 4;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::size_t comma = std::min(fewest.find(',', start), fewest.size());
        EXPECT_EQ(parseHexBytes(fewest.substr(start, comma - start)), std::vector<std::uint8_t> { all[i] });
        start = comma + 1;
    }
    std::string spaced;
    appendHexBytes(spaced, std::vector<std::uint8_t> { 0x0A, 0xFF }, " ");
    EXPECT_EQ(spaced, "0A FF");
}

TEST(ValueData, HexDigitsParseOddCountsAndRefuseAnythingElse) {
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_EQ(parseHexBytes(""), Bytes {});
    EXPECT_EQ(parseHexBytes("abc"), (Bytes { 0x0A, 0xBC })) << "an odd count: the first digit is a byte alone";
    EXPECT_EQ(parseHexBytes("0DeadBeef1"), (Bytes { 0x0D, 0xEA, 0xDB, 0xEE, 0xF1 }));
    for (const char* bad : { "0x12", "12 34", "1,2", "g0", "+1", "-1", "12\n" })
        EXPECT_FALSE(parseHexBytes(bad)) << bad;
}

// Lists of strings go through the stored units and back unchanged, and the stored form is what
// the registry keeps: each string with its NUL, then one more NUL.
TEST(ValueData, MultiStringsSplitWhatTheyJoin) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::u16string> strings(random() % 5);
        for (auto& string : strings)
            string = std::u16string(1 + random() % 4, static_cast<char16_t>(u'a' + random() % 3));
        const std::vector<std::u16string_view> views(strings.begin(), strings.end());
        const std::u16string units = joinMultiString(views);
        ASSERT_EQ(units.size(),
            std::accumulate(strings.begin(), strings.end(), std::size_t { 1 },
                [](std::size_t n, const std::u16string& s) { return n + s.size() + 1; }));
        const auto split = splitMultiString(units);
        if (strings.empty()) {
            EXPECT_EQ(split, std::vector<std::u16string_view> { u"" }) << "no strings show as one empty text";
        } else {
            EXPECT_EQ(split, views);
        }
    }
    EXPECT_EQ(
        splitMultiString(std::u16string_view(u"a\0\0b\0\0", 6)), (std::vector<std::u16string_view> { u"a", u"", u"b" }))
        << "an empty string inside the list stays visible";
    EXPECT_EQ(splitMultiString(std::u16string_view(u"a\0", 2)), std::vector<std::u16string_view> { u"a" })
        << "the closing NUL missing";
    EXPECT_EQ(splitMultiString(u"a"), std::vector<std::u16string_view> { u"a" }) << "no NUL at all";
}

TEST(ValueData, StringDataEndsAtItsFirstNulUnit) {
    EXPECT_EQ(stringUpToNul(test::utf16Bytes(std::u16string_view(u"ab\0cd\0", 6))), "ab");
    EXPECT_EQ(stringUpToNul(test::utf16Bytes(u"no terminator")), "no terminator");
    EXPECT_EQ(stringUpToNul(std::vector<std::uint8_t> { 'a', 0, 0 }), "a") << "an odd last byte is no character";
    EXPECT_EQ(stringUpToNul(std::vector<std::uint8_t> { 0, 1, 0, 0 }), "\xc4\x80") << "a zero low byte alone is no NUL";
    EXPECT_EQ(stringUpToNul({}), "");
}
