#include "codec/Utf.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <vector>

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
    const std::u16string names[] = { u"\xd800", u"x\xdc00",
        u"a\xdbff\xdbff"
        u"b",
        u"\xdfff\xd800", u"pair \U0001F30E then lone \xd83c", std::u16string(u"\0\xd800", 2) };
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
    EXPECT_EQ(unescapeLoneSurrogates("a<U+dc01>b"),
        toUtf8(u"a\xdc01"
               u"b"))
        << "lower-case digits";
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

namespace {

// A plain model of the policy, code point by code point: a surrogate pair is one code point, any
// other unit (a lone surrogate included) is a code point of its own, written in the usual bytes.
std::string referenceUtf8(std::u16string_view units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        const int length = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        static constexpr unsigned char kLead[] = { 0, 0, 0xC0, 0xE0, 0xF0 };
        std::string bytes(static_cast<std::size_t>(length), '\0');
        for (int k = length - 1; k > 0; --k, cp >>= 6)
            bytes[static_cast<std::size_t>(k)] = static_cast<char>(0x80 | (cp & 0x3F));
        bytes[0] = static_cast<char>(kLead[length] | cp);
        out += bytes;
    }
    return out;
}

// Reads each sequence by its lead byte; one that is cut short, overlong or past U+10FFFF gives
// U+FFFD for its lead byte alone and reading goes on at the next byte. Encoded surrogates count.
std::u16string referenceUtf16(std::string_view bytes) {
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : lead >> 3 == 30 ? 4 : 0;
        static constexpr char32_t kMinimum[] = { 0, 0, 0x80, 0x800, 0x10000 };
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length > 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
            cp = cp << 6 | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        }
        if (!valid || cp < kMinimum[length] || cp > 0x10FFFF) {
            out.push_back(u'\xFFFD');
        } else if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            i += length - 1;
        } else {
            out.push_back(static_cast<char16_t>(cp));
            i += length - 1;
        }
    }
    return out;
}

char16_t randomUnit(std::mt19937& random) {
    // Mostly the units where the policy has edges: surrogates alone and in pairs, block limits.
    static constexpr char16_t kEdges[]
        = { 0, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF };
    switch (random() % 4) {
    case 0:
        return kEdges[random() % std::size(kEdges)];
    case 1:
        return static_cast<char16_t>(0xD800 + random() % 0x800);
    case 2:
        return static_cast<char16_t>(random() % 0x80);
    default:
        return static_cast<char16_t>(random() % 0x10000);
    }
}

} // namespace

TEST(Utf, ConversionsMatchAReferenceOverRandomAndEdgeInput) {
    std::mt19937 random(14);
    for (int round = 0; round < 20000; ++round) {
        std::u16string units(random() % 12, u'\0');
        for (char16_t& unit : units)
            unit = randomUnit(random);
        const std::string utf8 = toUtf8(units);
        ASSERT_EQ(utf8, referenceUtf8(units));
        ASSERT_EQ(toUtf16(utf8), units) << "every name comes back to its units";
        ASSERT_EQ(unescapeLoneSurrogates(escapeLoneSurrogates(utf8)), utf8);

        std::vector<std::uint8_t> le = utf16LEBytes(units);
        ASSERT_EQ(unitsFromUtf16LE(le), units);
        le.push_back(static_cast<std::uint8_t>(random()));
        std::string appended = "x";
        appendUtf8FromUtf16LE(appended, le.data(), le.size());
        ASSERT_EQ(appended, "x" + utf8) << "an odd last byte is left out";

        // Bytes: valid text cut at random places, with random bytes among it.
        std::string bytes = utf8.substr(0, random() % (utf8.size() + 1));
        for (int k = 0; k < 3; ++k)
            bytes.insert(
                random() % (bytes.size() + 1), 1, static_cast<char>(random() % 4 ? 0x80 + random() % 0x80 : random()));
        ASSERT_EQ(toUtf16(bytes), referenceUtf16(bytes));
    }
}
