#include "codec/ValueData.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes unitBytes(std::u16string_view units) {
    Bytes bytes;
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// The lines of a multi-string worked out another way: the units with their closing NULs (at
// most two) taken off, every NUL left a line break.
std::u16string modelLines(const Bytes& data) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(static_cast<char16_t>(data[i] + 256 * data[i + 1]));
    for (int i = 0; i < 2 && !units.empty() && units.back() == 0; ++i)
        units.pop_back();
    std::replace(units.begin(), units.end(), u'\0', u'\n');
    return units;
}

// The data of lines worked out another way: the line breaks at the end gone, each other one a
// NUL, and two NULs to end it; one NUL alone for no text.
Bytes modelData(std::u16string text) {
    while (!text.empty() && text.back() == u'\n')
        text.pop_back();
    if (text.empty()) return { 0, 0 };
    std::replace(text.begin(), text.end(), u'\n', u'\0');
    text.append(2, u'\0');
    return unitBytes(text);
}

} // namespace

// Every shape a multi-string's data can take: the lines, the data they give back and what they
// cannot hold, against the model above. Data whose lines do not give it back must say why, so
// the editor can keep it as it is.
TEST(ValueData, MultiStringLinesGiveBackTheDataOrSayWhatTheyCannotHold) {
    using S = std::u16string_view;
    struct Shape {
        const char* name;
        Bytes data;
        unsigned losses;
    };
    const Shape shapes[] = {
        { "two strings", unitBytes(S(u"a\0b\0\0", 5)), kMultiStringExact },
        { "no strings", unitBytes(S(u"\0", 1)), kMultiStringExact },
        { "an empty string inside", unitBytes(S(u"a\0\0b\0\0", 6)), kMultiStringExact },
        { "an empty string first", unitBytes(S(u"\0a\0\0", 4)), kMultiStringExact },
        { "non-ASCII", unitBytes(S(u"\u00e9\u20ac\0\u00fc\0\0", 6)), kMultiStringExact },
        { "a surrogate pair", unitBytes(S(u"\U0001F600\0\0", 4)), kMultiStringExact },
        { "unpaired surrogates", unitBytes(S(u"\xD800x\0\xDC00\0\0", 6)), kMultiStringExact },
        { "a carriage return", unitBytes(S(u"a\rb\0\0", 5)), kMultiStringExact },
        { "no data", {}, kMultiStringNoEnd },
        { "no final NUL", unitBytes(S(u"a\0b", 3)), kMultiStringNoEnd },
        { "a lone trailing NUL", unitBytes(S(u"a\0b\0", 4)), kMultiStringNoEnd },
        { "two NULs only", unitBytes(S(u"\0\0", 2)), kMultiStringExtraEnd },
        { "NULs only", unitBytes(S(u"\0\0\0\0", 4)), kMultiStringExtraEnd },
        { "an empty string last", unitBytes(S(u"a\0\0\0", 4)), kMultiStringExtraEnd },
        { "a line break in a string", unitBytes(S(u"a\nb\0\0", 5)), kMultiStringLineBreak },
        { "an odd byte count", Bytes { 'a', 0, 0, 0, 0, 0, 7 }, kMultiStringOddByte },
        { "one byte", Bytes { 'a' }, kMultiStringOddByte | kMultiStringNoEnd },
    };
    for (const Shape& shape : shapes) {
        const MultiStringLines lines = multiStringLines(shape.data);
        EXPECT_EQ(lines.text, modelLines(shape.data)) << shape.name;
        EXPECT_EQ(multiStringFromLines(lines.text), modelData(lines.text)) << shape.name;
        EXPECT_EQ(lines.losses, shape.losses) << shape.name;
        EXPECT_EQ(lines.losses == kMultiStringExact, multiStringFromLines(lines.text) == shape.data) << shape.name;
    }

    // Every short sequence of a few telling units, and each with an odd byte after it.
    const char16_t alphabet[] = { u'\0', u'a', u'\n', 0xE9, 0xD800, 0xDC00 };
    for (int length = 0; length <= 5; ++length) {
        int combinations = 1;
        for (int i = 0; i < length; ++i)
            combinations *= 6;
        for (int n = 0; n < combinations; ++n) {
            std::u16string units;
            for (int i = 0, rest = n; i < length; ++i, rest /= 6)
                units.push_back(alphabet[rest % 6]);
            for (const bool odd : { false, true }) {
                Bytes data = unitBytes(units);
                if (odd) data.push_back(0x41);
                const MultiStringLines lines = multiStringLines(data);
                ASSERT_EQ(lines.text, modelLines(data));
                ASSERT_EQ(multiStringFromLines(lines.text), modelData(lines.text));
                ASSERT_EQ(lines.losses == kMultiStringExact, modelData(lines.text) == data);
            }
        }
    }
}
