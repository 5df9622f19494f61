#include "codec/Utf.h"

#include <gtest/gtest.h>

using namespace quern::reg;

TEST(Utf, RoundTripsEveryPlane) {
    const std::u16string text = u"ascii \u00e9 \u20ac \U0001F30E \uffff";
    EXPECT_EQ(toUtf16(toUtf8(text)), text);
    EXPECT_EQ(toUtf8(u"\u00e9"), "\xc3\xa9");
    EXPECT_EQ(toUtf8(u"\U0001F30E"), "\xf0\x9f\x8c\x8e");
    EXPECT_EQ(toUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3)) << "NULs pass through";
}

TEST(Utf, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(toUtf16("\xff"), u"\ufffd");
    EXPECT_EQ(toUtf16("\xc3"), u"\ufffd") << "cut short";
    EXPECT_EQ(toUtf16("\xc0\xaf"), u"\ufffd\ufffd") << "overlong";
    EXPECT_EQ(toUtf16("\xf4\x90\x80\x80"), u"\ufffd\ufffd\ufffd\ufffd") << "past U+10FFFF";
}

// Wine's files can hold names with a lone surrogate; each must come back to the units it had, or
// the key or value of that name could not be opened again.
TEST(Utf, LoneSurrogatesRoundTripAndShowAsEscapes) {
    const std::u16string names[] = { u"\xd800", u"x\xdc00", u"a\xdbff\xdbff" u"b", u"\xdfff\xd800",
        u"pair \U0001F30E then lone \xd83c", std::u16string(u"\0\xd800", 2) };
    for (const auto& name : names) {
        const std::string utf8 = toUtf8(name);
        EXPECT_EQ(toUtf16(utf8), name);
        const std::string shown = escapeLoneSurrogates(utf8);
        const std::u16string units = toUtf16(shown);
        for (std::size_t i = 0; i < units.size(); ++i) {
            const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
            const bool pair = high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
            EXPECT_TRUE(pair || (units[i] < 0xD800 || units[i] > 0xDFFF)) << "shown text is valid UTF-8";
            i += pair ? 1 : 0;
        }
        EXPECT_EQ(unescapeLoneSurrogates(shown), utf8);
    }
    EXPECT_EQ(toUtf8(u"\xd800x"), "\xed\xa0\x80x");
    EXPECT_EQ(escapeLoneSurrogates(toUtf8(u"Key\xd800\xdc00\xdc01")), "Key\xf0\x90\x80\x80<U+DC01>");
    // Escapes that name no surrogate, and text that only looks like one, stay as typed.
    for (const char* typed : { "<U+0041>", "<U+D80>", "<U+D800", "<U+DG00>", "U+D800>", "<u+D800>" })
        EXPECT_EQ(unescapeLoneSurrogates(typed), typed);
    EXPECT_EQ(unescapeLoneSurrogates("a<U+dc01>b"), toUtf8(u"a\xdc01" u"b")) << "lower-case digits";
}

TEST(Utf, NamesCompareAfterFoldingAsWineDoes) {
    EXPECT_EQ(compareNames(u"Software", u"SOFTWARE"), 0);
    EXPECT_LT(compareNames(u"_x", u"A"), 0) << "letters fold to lower case, which sorts after the underscore";
    EXPECT_LT(compareNames(u"Soft", u"Software"), 0);
    EXPECT_EQ(compareNames(u"\u00c9T\u00c9", u"\u00e9t\u00e9"), 0);
    EXPECT_EQ(compareNames(u"\u0416", u"\u0436"), 0) << "Cyrillic";
    EXPECT_EQ(compareNames(u"\u0394", u"\u03b4"), 0) << "Greek";
    EXPECT_EQ(compareNames(u"\u0100\u0139", u"\u0101\u013a"), 0) << "Latin Extended-A pairs";
    EXPECT_NE(compareNames(u"\u00d7", u"\u00f7"), 0) << "the multiplication sign has no lower case";
    EXPECT_TRUE(sameName(u"Key", u"kEY"));
    EXPECT_FALSE(sameName(u"Key", u"Keys"));
}
