#include "search/JollyCheckU.h"

#include <gtest/gtest.h>

#include <fnmatch.h>
#include <random>
#include <string>
#include <vector>

using namespace quern;
using namespace std::string_literals;

namespace {

struct Case {
    std::string pattern;
    std::string text;
    bool matches;
};

// Every search in the program ignores letter case, so the tables are checked that way.
void expectMatches(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(JollyMatch(c.text, c.pattern, false), c.matches) << "«" << c.pattern << "» on «" << c.text << "»";
}

void expectChecks(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(JollyCheck(c.text, c.pattern, false), c.matches) << "«" << c.pattern << "» on «" << c.text << "»";
}

} // namespace

TEST(JollyCheck, WildcardsMatchRunsAndSingleCharacters) {
    expectMatches({ { "", "", true }, { "", "a", false }, { "*", "", true }, { "*", "abc", true }, { "**", "", true },
        { "?", "a", true }, { "?", "", false }, { "?", "ab", false }, { "??", "a", false }, { "a*", "a", true },
        { "a*", "abc", true }, { "a*", "ba", false }, { "*a", "ba", true }, { "*a", "ab", false },
        { "*b*", "abc", true }, { "*b*", "ac", false }, { "a*c", "ac", true }, { "a*c", "abbc", true },
        { "a*c", "ab", false }, { "a*c", "acb", false }, { "*a?c*", "xxabcyy", true }, { "*a?c*", "azc", true },
        { "*a?c*", "ac", false }, { "a**b", "axb", true }, { "a**b", "ab", true }, { "a**b", "abc", false },
        { "*ab*ab*", "aabab", true }, { "*ab*ab*", "abba", false }, { "abc", "abcd", false }, { "abc", "xabc", false },
        { "?", "?", true }, { "a?c", "a*c", true }, { "*", "*", true }, { "a*", "*a", false } });
}

TEST(JollyCheck, FoldingCoversAsciiLettersOnly) {
    EXPECT_TRUE(JollyMatch("ABC", "abc", false));
    EXPECT_TRUE(JollyMatch("aBc", "abc", false));
    EXPECT_FALSE(JollyMatch("ABC", "abc", true));
    EXPECT_TRUE(JollyMatch("abc", "abc", true));
    EXPECT_TRUE(JollyMatch("xABCx", "*abc*", false));
    EXPECT_TRUE(JollyCheck(std::string(300, 'x') + "Ab", "*aB", false));
    EXPECT_FALSE(JollyMatch("xAc", std::string(300, '*') + "aB", false));
    // Pairs that differ only in the 0x20 bit but are not a to z must stay apart, in short texts
    // and in long ones alike.
    EXPECT_FALSE(JollyMatch("\xC9", "\xE9", false));
    EXPECT_FALSE(JollyMatch("abcdefgh\xC9", "ABCDEFGH\xE9", false));
    EXPECT_FALSE(JollyMatch("[", "{", false));
    EXPECT_FALSE(JollyMatch("@", "`", false));
    EXPECT_FALSE(JollyMatch("\x7F", "_", false));
}

TEST(JollyCheck, TailIsComparedApartFromHead) {
    expectMatches({ { "ab*b", "ab", true }, { "ab*b", "abb", true }, { "a*a", "a", true }, { "ab*b", "a", false },
        { "abc*c", "abc", true }, { "*ab*ab", "ab", true }, { "ab*ab", "a", false }, { "ab*?", "ab", true },
        { "ab*??", "ab", true }, { "ab*???", "ab", false } });
}

TEST(JollyCheck, ZeroBytesAreOrdinaryCharacters) {
    const std::string text = "A\0B"s;
    EXPECT_TRUE(JollyMatch(text, "*B", false));
    EXPECT_TRUE(JollyMatch(text, "a?b", false));
    EXPECT_TRUE(JollyMatch(text, "a\0b"s, false));
    EXPECT_FALSE(JollyMatch(text, "a", false));
    EXPECT_FALSE(JollyMatch("A\0C"s, "a\0b"s, false));
    EXPECT_TRUE(JollyMatch("x\0\0y"s, "*\0y"s, true));
    EXPECT_TRUE(JollyCheck(text, "x OR *\0*"s, false));
    EXPECT_FALSE(JollyCheck(text, "NOT ?\0?"s, true));
    // The matcher's copies end in zero bytes; they must not be found as part of the text.
    EXPECT_FALSE(JollyMatch("abc", "*\0*"s, false));
    EXPECT_FALSE(JollyMatch(std::string(13, 'a'), "*\0"s, true));
}

TEST(JollyCheck, ReadClauseStopsAtTheSecondOperator) {
    const std::string_view expression = "ab AND c d OR e";
    std::size_t position = 1;
    Clause clause = ReadClause(expression, position);
    EXPECT_EQ(clause.left, "ab");
    EXPECT_EQ(clause.right, "c d");
    EXPECT_EQ(clause.op, ClauseOperator::And);
    EXPECT_EQ(position, 11u);
    clause = ReadClause(expression, position);
    EXPECT_EQ(clause.left, "");
    EXPECT_EQ(clause.right, "e");
    EXPECT_EQ(clause.op, ClauseOperator::Or);
    EXPECT_EQ(position, 16u);
    position = 0;
    EXPECT_EQ(ReadClause(expression, position).left, "ab");
    position = 40;
    clause = ReadClause(expression, position);
    EXPECT_TRUE(clause.left.empty() && clause.op == ClauseOperator::None);
}

TEST(JollyCheck, OperatorsNeedOneSpaceOnEitherSideInAnyCase) {
    expectChecks({ { "x or y", "y", true }, { "x Or y", "x", true }, { "x aNd y", "x", false },
        { "x ORANGE", "x ORANGE", true }, { "x ORANGE", "x", false }, { "x ANDY", "x andy", true },
        { "a AND", "a and", true }, { "a AND", "a", false }, { "a  AND b", "a", false }, { "a  OR b", "a ", true },
        { "a  OR b", "a", false }, { "a OR  b", " b", true }, { "a OR  b", "b", false } });
    EXPECT_TRUE(JollyCheck("y", "x or y", true));
    EXPECT_FALSE(JollyCheck("Y", "x or y", true));
}

TEST(JollyCheck, ClausesAreEvaluatedLeftToRightWithoutPrecedence) {
    expectChecks(
        { { "", "anything", true }, { "", "", true }, { "foo AND bar", "foo", false }, { "f* AND *o", "foo", true },
            { "foo OR bar", "bar", true }, { "foo OR bar", "baz", false }, { "a OR b AND c", "a", false },
            { "c AND b OR a", "a", true }, { "a AND b OR a", "a", true }, { " AND x", "x", true },
            { " AND x", "y", false }, { " OR x", "y", true }, { "x AND ", "x", false }, { "x AND ", "", false },
            { "x OR ", "x", true }, { "x OR ", "", true }, { "x OR ", "y", false }, { "a OR  OR b", "b", true } });
    // Operators at every offset within a word, and an expression longer than any name.
    std::string expression;
    for (int k = 0; k < 40; ++k)
        expression += "term" + std::to_string(k) + " OR ";
    expression += "*needle*";
    EXPECT_TRUE(JollyCheck("a NEEDLE here", expression, false));
    EXPECT_TRUE(JollyCheck("term7", expression, false));
    EXPECT_FALSE(JollyCheck("term7 ", expression, false));
    EXPECT_FALSE(JollyCheck("a haystack", expression, false));
}

TEST(JollyCheck, NotNegatesOneTermWhenFollowedBySpace) {
    expectChecks({ { "NOT foo", "foo", false }, { "NOT foo", "bar", true }, { "not foo", "foo", false },
        { "Not foo", "bar", true }, { "NOTfoo", "notfoo", true }, { "NOTfoo", "bar", false }, { "NOT", "not", true },
        { "NOT ", "x", true }, { "NOT ", "", false }, { "NOT NOT x", "not x", false }, { "NOT NOT x", "x", true },
        { "NOT NOT x", "y", true }, { "*shell* AND NOT *open*", "ShellEx", true },
        { "*shell* AND NOT *open*", "shell\\open", false }, { "x AND NOT ", "x", true } });
}

TEST(JollyCheck, SupportingOperationsRejectPositionsOutsideTheirStrings) {
    EXPECT_FALSE(CharMatches("a", "?", 0, 1));
    EXPECT_FALSE(CharMatches("a", "?", 1, 0));
    EXPECT_FALSE(CharMatches("a", "?", 2, 1));
    EXPECT_FALSE(CharMatches("a", "?", 1, 2));
    EXPECT_TRUE(CharMatches("ab", "?b", 2, 2));
    EXPECT_FALSE(CharMatches("a", "*", 1, 1));
    EXPECT_TRUE(OperatorAt("x or ", 2, " OR "));
    EXPECT_FALSE(OperatorAt("x or", 2, " OR "));
    EXPECT_FALSE(OperatorAt(" OR ", 0, " OR "));
    EXPECT_FALSE(OperatorAt(" OR ", 9, " OR "));
    EXPECT_EQ(SegmentFrom("*ab*c", 2), "ab");
    EXPECT_EQ(SegmentFrom("*ab", 2), "ab");
    EXPECT_EQ(SegmentFrom("*ab", 0), "");
    EXPECT_EQ(SegmentFrom("*ab", 4), "");
    EXPECT_EQ(FindSegment("xabab", "ab", 3), 4u);
    EXPECT_EQ(FindSegment("xabab", "a?", 1), 2u);
    EXPECT_EQ(FindSegment("xabab", "??", 5), 0u);
    EXPECT_EQ(FindSegment("xabab", "", 9), 9u);
    EXPECT_EQ(FindSegment("xabab", "b", 0), 3u);
    EXPECT_EQ(FindSegment("ab", "abc", 1), 0u);
}

// Random short texts and patterns over a small alphabet, long enough to cross eight-byte words. fnmatch places the part
// after the last
// `*` strictly after the part before it, while JollyMatch compares it with the end of the text on
// its own; so the two must agree except where the head matches only by reaching into the
// characters the tail also claims (then JollyMatch says yes and fnmatch no), and nowhere else.
TEST(JollyCheck, AgreesWithFnmatchExceptWhereTailOverlapsHead) {
    std::mt19937 random(20240607);
    const auto draw = [&random](std::string_view alphabet, int maxLength) {
        std::string s(std::uniform_int_distribution<int>(0, maxLength)(random), ' ');
        for (char& c : s)
            c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
        return s;
    };
    int overlaps = 0;
    for (int round = 0; round < 200000; ++round) {
        const std::string text = draw("abAB?*", 12);
        const std::string pattern = draw("aAbB**??", 9);
        const bool caseSensitive = round % 4 == 0;
        const int flags = FNM_NOESCAPE | (caseSensitive ? 0 : FNM_CASEFOLD);
        const auto fn
            = [flags](const std::string& p, const std::string& t) { return fnmatch(p.c_str(), t.c_str(), flags) == 0; };

        bool overlap = false;
        const std::size_t lastStar = pattern.rfind('*');
        if (lastStar != std::string::npos && pattern.size() - lastStar - 1 <= text.size()) {
            const std::string head = pattern.substr(0, lastStar + 1);
            const std::size_t tailLength = pattern.size() - lastStar - 1;
            const std::string before = text.substr(0, text.size() - tailLength);
            overlap
                = fn(head, text) && fn(pattern.substr(lastStar + 1), text.substr(before.size())) && !fn(head, before);
        }
        overlaps += overlap;
        const bool jolly = JollyMatch(text, pattern, caseSensitive);
        ASSERT_EQ(jolly, fn(pattern, text) || overlap) << "«" << pattern << "» on «" << text << "» " << caseSensitive;
        if (!pattern.empty()) {
            ASSERT_EQ(JollyCheck(text, pattern, caseSensitive), jolly) << "«" << pattern << "» on «" << text << "»";
        }
    }
    EXPECT_GT(overlaps, 100);
}
