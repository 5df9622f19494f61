#include "registry/Utf.h"

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
    EXPECT_EQ(toUtf8(u"\xd800x"), "\xef\xbf\xbdx") << "a lone high surrogate";
    EXPECT_EQ(toUtf8(u"x\xdc00"), "x\xef\xbf\xbd") << "a lone low surrogate";
    EXPECT_EQ(toUtf16("\xff"), u"\ufffd");
    EXPECT_EQ(toUtf16("\xc3"), u"\ufffd") << "cut short";
    EXPECT_EQ(toUtf16("\xc0\xaf"), u"\ufffd\ufffd") << "overlong";
    EXPECT_EQ(toUtf16("\xed\xa0\x80"), u"\ufffd\ufffd\ufffd") << "an encoded surrogate";
    EXPECT_EQ(toUtf16("\xf4\x90\x80\x80"), u"\ufffd\ufffd\ufffd\ufffd") << "past U+10FFFF";
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
