#include "codec/NumberText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <random>
#include <vector>

using namespace quern::codec;

namespace {

struct ParseCase {
    std::string_view text;
    int base;
    int bits;
    std::optional<std::uint64_t> expected;
};

// std::from_chars, bounded by the width: the standard library's reading of the same digits.
std::optional<std::uint64_t> referenceParse(std::string_view text, int base, int bits) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (bits < 64 && value >> bits != 0) return std::nullopt;
    return value;
}

} // namespace

TEST(NumberText, ParseRefusesExactlyWhatDoesNotFit) {
    const std::vector<ParseCase> cases {
        { "4294967295", 10, 32, 4294967295u },
        { "4294967296", 10, 32, std::nullopt },
        { "FFFFFFFF", 16, 32, 0xFFFFFFFFu },
        { "ffffffff", 16, 32, 0xFFFFFFFFu },
        { "100000000", 16, 32, std::nullopt }, // nine hex digits
        { "0FFFFFFFF", 16, 32, 0xFFFFFFFFu }, // nine digits, but a leading zero
        { std::string_view("11111111111111111111111111111111"), 2, 32, 0xFFFFFFFFu },
        { std::string_view("100000000000000000000000000000000"), 2, 32, std::nullopt }, // 33 binary digits
        { "18446744073709551615", 10, 64, ~std::uint64_t { 0 } },
        { "18446744073709551616", 10, 64, std::nullopt },
        { "99999999999999999999", 10, 64, std::nullopt }, // wraps round 64 bits if unchecked
        { "FFFFFFFFFFFFFFFF", 16, 64, ~std::uint64_t { 0 } },
        { "10000000000000000", 16, 64, std::nullopt },
        { "0", 2, 32, 0u },
        { "0000000000000000000000000000000000000001", 2, 32, 1u },
        { "", 10, 32, std::nullopt },
        { "-1", 10, 32, std::nullopt },
        { "+1", 10, 32, std::nullopt },
        { " 1", 10, 32, std::nullopt },
        { "1 ", 10, 32, std::nullopt },
        { "0x10", 16, 32, std::nullopt },
        { "12", 2, 32, std::nullopt },
        { "1A", 10, 32, std::nullopt },
        { "G", 16, 32, std::nullopt },
        { "255", 10, 8, 255u },
        { "256", 10, 8, std::nullopt },
        { "1", 10, 0, std::nullopt },
        { "1", 17, 32, std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseUnsigned(c.text, c.base, c.bits), c.expected) << c.text << " in base " << c.base;
}

TEST(NumberText, ParseAndFormatAgreeWithTheStandardLibrary) {
    std::mt19937_64 random(14);
    const std::string alphabet = "0123456789abcdefABCDEFxg -";
    for (int round = 0; round < 20000; ++round) {
        const int base = std::array { 2, 10, 16 }[round % 3];
        const int bits = std::array { 8, 32, 64 }[round / 3 % 3];
        // Random texts, mostly digits, of lengths around every width's edge.
        std::string text(random() % 70, '0');
        for (char& c : text)
            c = alphabet[random() % (random() % 8 == 0 ? alphabet.size() : static_cast<std::size_t>(base))];
        ASSERT_EQ(parseUnsigned(text, base, bits), referenceParse(text, base, bits)) << text << " base " << base;

        const std::uint64_t value = random() >> (random() % 64);
        char buffer[70];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, base);
        ASSERT_EQ(error, std::errc());
        std::string expected(buffer, end);
        ASSERT_EQ(formatUnsigned(value, base, LetterCase::Lower), expected);
        std::transform(expected.begin(), expected.end(), expected.begin(), [](char c) { return std::toupper(c); });
        ASSERT_EQ(formatUnsigned(value, base), expected);
        ASSERT_EQ(parseUnsigned(expected, base), value);
    }
    EXPECT_EQ(formatUnsigned(5, 1), "");
}

TEST(NumberText, LittleEndianBytesIncludingShortAndLongData) {
    const std::vector<std::uint8_t> bytes { 0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A, 0x55 };
    const std::span<const std::uint8_t> all(bytes);
    EXPECT_EQ(dwordFromBytes(all), 0x12345678u);
    EXPECT_EQ(dwordFromBytes(all.first(2)), 0x5678u);
    EXPECT_EQ(dwordFromBytes({}), 0u);
    EXPECT_EQ(qwordFromBytes(all), 0x9ABCDEF012345678u);
    EXPECT_EQ(qwordFromBytes(all.first(5)), 0xF012345678u);
    EXPECT_EQ(dwordBytes(0x12345678u), (std::array<std::uint8_t, 4> { 0x78, 0x56, 0x34, 0x12 }));
    const auto eight = qwordBytes(0x9ABCDEF012345678u);
    EXPECT_TRUE(std::equal(eight.begin(), eight.end(), bytes.begin()));
}
