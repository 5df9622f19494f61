#include "codec/RegData.h"

#include "TestSupport.h"
#include "base/RegTypes.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"

#include <gtest/gtest.h>

using namespace quern;
using namespace quern::codec;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The bytes for text, or a one-byte marker when the text is refused.
Bytes encoded(std::uint32_t type, std::string_view text, std::optional<char16_t> separator = std::nullopt) {
    Bytes bytes;
    const reg::Status encoded = encodeData(type, text, separator, bytes);
    if (encoded == reg::Status::InvalidData) {
        EXPECT_TRUE(bytes.empty()) << "bytes are left alone";
        return { 0xEE };
    }
    EXPECT_EQ(encoded, reg::Status::Ok);
    return bytes;
}

const Bytes kRefused { 0xEE };

} // namespace

TEST(RegData, TypeNamesIgnoreLetterCaseAndRefuseTheRest) {
    EXPECT_EQ(typeFromName("REG_SZ"), reg::kRegSz);
    EXPECT_EQ(typeFromName("reg_multi_sz"), reg::kRegMultiSz);
    EXPECT_EQ(typeFromName("Reg_Expand_Sz"), reg::kRegExpandSz);
    EXPECT_EQ(typeFromName("REG_DWORD_LITTLE_ENDIAN"), reg::kRegDword);
    EXPECT_EQ(typeFromName("REG_QWORD"), reg::kRegQword);
    EXPECT_EQ(typeFromName("REG_BINARY"), reg::kRegBinary);
    EXPECT_EQ(typeFromName("REG_NONE"), reg::kRegNone);
    for (auto name : { "REG_FOO", "REG_LINK", "REG_SZ ", "SZ", "" })
        EXPECT_FALSE(typeFromName(name)) << name;

    EXPECT_EQ(typeName(reg::kRegQword), "REG_QWORD");
    EXPECT_EQ(typeName(reg::kRegLink), "REG_LINK");
    EXPECT_EQ(typeName(10), "REG_RESOURCE_REQUIREMENTS_LIST");
    EXPECT_EQ(typeName(12), "0xc");
    EXPECT_EQ(typeName(0xffff0012u), "0xffff0012");
}

TEST(RegData, NumbersAreDecimalOrHexAndMustFitTheirSize) {
    EXPECT_EQ(encoded(reg::kRegDword, "42"), (Bytes { 0x2a, 0, 0, 0 }));
    EXPECT_EQ(encoded(reg::kRegDword, "0x2A"), (Bytes { 0x2a, 0, 0, 0 }));
    EXPECT_EQ(encoded(reg::kRegDword, "0Xdeadbeef"), (Bytes { 0xef, 0xbe, 0xad, 0xde }));
    EXPECT_EQ(encoded(reg::kRegDword, "010"), (Bytes { 10, 0, 0, 0 })) << "a leading zero is not octal";
    EXPECT_EQ(encoded(reg::kRegDword, "4294967295"), (Bytes { 0xff, 0xff, 0xff, 0xff }));
    EXPECT_EQ(encoded(reg::kRegQword, "18446744073709551615"), Bytes(8, 0xff));
    EXPECT_EQ(encoded(reg::kRegQword, "0x123456789"), (Bytes { 0x89, 0x67, 0x45, 0x23, 0x01, 0, 0, 0 }));
    for (auto text : { "4294967296", "0x100000000", "-1", "+1", "12abc", " 1", "1 ", "", "0x", "1x5", "0b1" })
        EXPECT_EQ(encoded(reg::kRegDword, text), kRefused) << text;
    for (auto text : { "18446744073709551616", "0x10000000000000000", "99999999999999999999" })
        EXPECT_EQ(encoded(reg::kRegQword, text), kRefused) << text;
}

TEST(RegData, BinaryIsHexDigitsWithAnOddFirstDigitAsAByte) {
    EXPECT_EQ(encoded(reg::kRegBinary, "deadBEEF"), (Bytes { 0xde, 0xad, 0xbe, 0xef }));
    EXPECT_EQ(encoded(reg::kRegBinary, "deadBEEF1"), (Bytes { 0x0d, 0xea, 0xdb, 0xee, 0xf1 }));
    EXPECT_EQ(encoded(reg::kRegBinary, "F"), (Bytes { 0x0f }));
    EXPECT_EQ(encoded(reg::kRegBinary, ""), Bytes {});
    for (auto text : { "xyz", "0g", "g", "de ad", "0xde" })
        EXPECT_EQ(encoded(reg::kRegBinary, text), kRefused) << text;
}

TEST(RegData, MultiStringsSplitAtBackslashZeroOrAtTheSeparator) {
    auto list = [](std::u16string_view units) { return test::utf16Bytes(units); };
    EXPECT_EQ(encoded(reg::kRegMultiSz, "a\\0b\\0c"), list(std::u16string_view(u"a\0b\0c\0\0", 7)));
    EXPECT_EQ(encoded(reg::kRegMultiSz, "a\\0"), list(std::u16string_view(u"a\0\0", 3))) << "a closing separator";
    EXPECT_EQ(encoded(reg::kRegMultiSz, "a#b", u'#'), list(std::u16string_view(u"a\0b\0\0", 5)));
    EXPECT_EQ(encoded(reg::kRegMultiSz, "a\\0b", u'#'), list(std::u16string_view(u"a\\0b\0\0", 6)))
        << "with a separator, \\0 is plain text";
    EXPECT_EQ(encoded(reg::kRegMultiSz, ""), (Bytes { 0, 0 })) << "the empty list";
    for (auto text : { "a\\0\\0b", "\\0a", "\\0", "a\\0\\0" })
        EXPECT_EQ(encoded(reg::kRegMultiSz, text), kRefused) << text << ": an empty string would end the list";
    EXPECT_EQ(encoded(reg::kRegMultiSz, "a##b", u'#'), kRefused);
}

// What quern-reg add prints when /d does not fit /t: one sentence for each way it can be wrong.
TEST(RegData, RefusedDataIsToldInTheUsersWords) {
    const auto refusal = [](std::uint32_t type, std::string_view text) {
        Bytes bytes;
        return encodeData(type, text, std::nullopt, bytes).message();
    };
    const std::string number = " value must be a number from 0 to ";
    EXPECT_EQ(refusal(reg::kRegDword, "x"),
        "The data of a REG_DWORD" + number + "4294967295 (0xffffffff), in decimal or with 0x in hex.");
    EXPECT_EQ(refusal(reg::kRegQword, "-1"),
        "The data of a REG_QWORD" + number + "0xffffffffffffffff, in decimal or with 0x in hex.");
    EXPECT_EQ(refusal(reg::kRegBinary, "0g"),
        "The data of a REG_BINARY value must be hex digits (0-9, A-F), two for each byte.");
    EXPECT_EQ(refusal(reg::kRegMultiSz, "\\0a"), "The data of a REG_MULTI_SZ value cannot hold an empty string.");
    EXPECT_EQ(refusal(reg::kRegLink, "x"), "Values of type REG_LINK cannot be written from the command line.");
}

TEST(RegData, QueryShowsStringsUpToTheirFirstNul) {
    EXPECT_EQ(queryText(reg::kRegSz, test::utf16Bytes(std::u16string_view(u"ab\0cd\0", 6))), "ab");
    EXPECT_EQ(queryText(reg::kRegSz, Bytes { 'a', 0, 'b' }), "a") << "an odd last byte is no character";
    EXPECT_EQ(queryText(reg::kRegSz, test::utf16Bytes(u"no terminator")), "no terminator");
    EXPECT_EQ(reg::toUtf16(queryText(reg::kRegSz, Bytes { 0x00, 0xd8, 0, 0 })), u"\xd800")
        << "a lone surrogate keeps its unit; the listing shows its escape";
    EXPECT_EQ(queryText(reg::kRegExpandSz, test::utf16Bytes(std::u16string_view(u"%A%\u00e9\0", 5))), "%A%\xc3\xa9");
    EXPECT_EQ(queryText(reg::kRegSz, Bytes {}), "");
}

TEST(RegData, QueryShowsMultiStringsWithBackslashZeroBetween) {
    EXPECT_EQ(queryText(reg::kRegMultiSz, test::utf16Bytes(std::u16string_view(u"a\0b\0c\0\0", 7))), "a\\0b\\0c");
    EXPECT_EQ(queryText(reg::kRegMultiSz, test::utf16Bytes(std::u16string_view(u"a\0\0b\0\0", 6))), "a\\0\\0b");
    EXPECT_EQ(queryText(reg::kRegMultiSz, test::utf16Bytes(std::u16string_view(u"a\0", 2))), "a") << "one NUL missing";
    EXPECT_EQ(queryText(reg::kRegMultiSz, Bytes { 0, 0 }), "");
    EXPECT_EQ(queryText(reg::kRegMultiSz, Bytes {}), "");
}

TEST(RegData, QueryShowsNumbersOfTheirSizeInHexAndAllElseAsBytes) {
    EXPECT_EQ(queryText(reg::kRegDword, Bytes { 0x2a, 0, 0, 0 }), "0x2a");
    EXPECT_EQ(queryText(reg::kRegDword, Bytes { 0, 0, 0, 0 }), "0x0");
    EXPECT_EQ(queryText(reg::kRegDword, Bytes { 0xef, 0xbe, 0xad, 0xde }), "0xdeadbeef");
    EXPECT_EQ(queryText(reg::kRegDwordBigEndian, Bytes { 0xde, 0xad, 0xbe, 0xef }), "0xdeadbeef");
    EXPECT_EQ(queryText(reg::kRegDword, Bytes { 1, 2, 3 }), "010203") << "a DWORD of the wrong size";
    EXPECT_EQ(queryText(reg::kRegQword, Bytes { 0x89, 0x67, 0x45, 0x23, 0x01, 0, 0, 0 }), "0x123456789");
    EXPECT_EQ(queryText(reg::kRegQword, Bytes { 1, 0, 0, 0 }), "01000000");
    EXPECT_EQ(queryText(reg::kRegBinary, Bytes { 0x0d, 0xea, 0xdb, 0xee, 0xf1 }), "0DEADBEEF1");
    EXPECT_EQ(queryText(reg::kRegBinary, Bytes {}), "");
    EXPECT_EQ(queryText(reg::kRegNone, test::utf16Bytes(std::u16string_view(u"abc\0", 4))), "6100620063000000");
    EXPECT_EQ(queryText(reg::kRegLink, test::utf16Bytes(u"\\R")), "5C005200");
    EXPECT_EQ(queryText(0xffff0012u, Bytes { 0xff, 0 }), "FF00");
}
