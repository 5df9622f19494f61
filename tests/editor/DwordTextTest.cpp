#include "editor/DwordText.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quern;

namespace {

// The three forms of a number as the C library writes them: an oracle that shares no code with
// the page's own conversions.
std::string oracle(std::uint32_t value, DwordBase base) {
    char text[40];
    switch (base) {
    case DwordBase::Hex:
        std::snprintf(text, sizeof text, "%" PRIX32, value);
        return text;
    case DwordBase::Decimal:
        std::snprintf(text, sizeof text, "%" PRIu32, value);
        return text;
    case DwordBase::Binary:
        break;
    }
    std::string bits = std::bitset<32>(value).to_string();
    const auto first = bits.find('1');
    return first == std::string::npos ? "0" : bits.substr(first);
}

constexpr DwordBase kBases[] = { DwordBase::Binary, DwordBase::Decimal, DwordBase::Hex };

} // namespace

TEST(DwordText, EveryBaseWritesAndReadsBackAsTheCLibraryDoes) {
    for (std::uint32_t value : { 0u, 1u, 2u, 9u, 10u, 15u, 16u, 255u, 256u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu,
             0xFFFFFFFFu, 0xDEADBEEFu, 2147483648u }) {
        for (DwordBase base : kBases) {
            const std::string text = dwordText(value, base);
            EXPECT_EQ(text, oracle(value, base)) << value;
            EXPECT_EQ(parseDword(text, base), value) << text;
            const int radix = base == DwordBase::Hex ? 16 : base == DwordBase::Decimal ? 10 : 2;
            EXPECT_EQ(std::strtoull(text.c_str(), nullptr, radix), value) << text;
        }
    }
    EXPECT_EQ(dwordText(4294967295u, DwordBase::Decimal), "4294967295") << "unsigned, never a minus sign";
    EXPECT_EQ(parseDword("ff", DwordBase::Hex), 255u) << "lower-case hex digits read as upper-case";
}

TEST(DwordText, DigitsBeyondThirtyTwoBitsDoNotFit) {
    // Nine hex digits, 33 binary ones and 4294967296 are refused as a whole, so that the page
    // never cuts a number to its low bits behind the user's back.
    EXPECT_FALSE(parseDword("1FFFFFFFF", DwordBase::Hex));
    EXPECT_FALSE(parseDword(std::string(33, '1'), DwordBase::Binary));
    EXPECT_FALSE(parseDword("4294967296", DwordBase::Decimal));
    EXPECT_FALSE(parseDword("99999999999999999999999", DwordBase::Decimal));
    EXPECT_EQ(parseDword("4294967295", DwordBase::Decimal), 0xFFFFFFFFu);
    EXPECT_EQ(parseDword("0000000000FFFFFFFF", DwordBase::Hex), 0xFFFFFFFFu) << "leading zeros never overflow";
    EXPECT_EQ(parseDword("0" + std::string(32, '1'), DwordBase::Binary), 0xFFFFFFFFu);
    for (DwordBase base : kBases)
        EXPECT_EQ(parseDword("", base), 0u) << "an empty field is 0";
}

TEST(DwordText, KeepsOnlyTheDigitsOfTheBaseAndTheCaretWithThem) {
    std::size_t caret = 3; // after "1x2"
    EXPECT_EQ(keepDwordDigits("1x2", DwordBase::Decimal, &caret), "12");
    EXPECT_EQ(caret, 2u);
    caret = 1;
    EXPECT_EQ(keepDwordDigits("a1b2", DwordBase::Decimal, &caret), "12");
    EXPECT_EQ(caret, 0u);
    EXPECT_EQ(keepDwordDigits("12a", DwordBase::Decimal), "12");
    EXPECT_EQ(keepDwordDigits("0x1fG", DwordBase::Hex), "01f") << "lower case stays as typed";
    EXPECT_EQ(keepDwordDigits("1021 ", DwordBase::Binary), "101");
    for (char c = 0; c >= 0 && c < 127; ++c) {
        EXPECT_EQ(isDwordDigit(c, DwordBase::Binary), c == '0' || c == '1');
        EXPECT_EQ(isDwordDigit(c, DwordBase::Decimal), std::isdigit(static_cast<unsigned char>(c)) != 0);
        EXPECT_EQ(isDwordDigit(c, DwordBase::Hex), std::isxdigit(static_cast<unsigned char>(c)) != 0);
    }
}

// The QWORD page's numbers at their limits, in every base, against the C library; one digit more
// than 64 bits hold is refused, never cut to its low bits.
TEST(DwordText, QwordsReadAndWriteAllSixtyFourBits) {
    for (std::uint64_t value : { std::uint64_t { 0 }, std::uint64_t { 1 }, std::uint64_t { 0xFFFFFFFF },
             std::uint64_t { 1 } << 32, (std::uint64_t { 1 } << 32) + 1, std::uint64_t { 0x8000000000000000 },
             std::uint64_t { 0x0102030405060708 }, ~std::uint64_t { 0 } }) {
        char hex[24];
        char decimal[24];
        std::snprintf(hex, sizeof hex, "%" PRIX64, value);
        std::snprintf(decimal, sizeof decimal, "%" PRIu64, value);
        std::string bits = std::bitset<64>(value).to_string();
        bits = value == 0 ? "0" : bits.substr(bits.find('1'));
        const std::pair<DwordBase, std::string> forms[]
            = { { DwordBase::Hex, hex }, { DwordBase::Decimal, decimal }, { DwordBase::Binary, bits } };
        for (const auto& [base, text] : forms) {
            EXPECT_EQ(qwordText(value, base), text) << value;
            EXPECT_EQ(parseQword(text, base), value) << text;
        }
    }
    EXPECT_EQ(parseQword("4294967296", DwordBase::Decimal), std::uint64_t { 1 } << 32) << "2^32 needs no trick";
    EXPECT_EQ(parseQword("18446744073709551615", DwordBase::Decimal), ~std::uint64_t { 0 });
    EXPECT_FALSE(parseQword("18446744073709551616", DwordBase::Decimal));
    EXPECT_FALSE(parseQword("1" + std::string(16, '0'), DwordBase::Hex)) << "seventeen hex digits";
    EXPECT_EQ(parseQword(std::string(20, '0') + "FFFFFFFFFFFFFFFF", DwordBase::Hex), ~std::uint64_t { 0 });
    EXPECT_FALSE(parseQword(std::string(65, '1'), DwordBase::Binary));
    EXPECT_FALSE(parseQword("12x", DwordBase::Decimal)) << "digits only";
    EXPECT_FALSE(parseQword("2", DwordBase::Binary));
    for (DwordBase base : kBases)
        EXPECT_EQ(parseQword("", base), 0u) << "an empty field is 0";
}
