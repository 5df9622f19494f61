#pragma once

// The search expression matcher: wildcard terms (`*`, `?`) joined by " AND " and " OR ", each
// optionally negated by a leading "NOT ". Texts are byte strings that may hold zero bytes; every
// position below counts from 1, and 0 stands for "no position".

#include <cstddef>
#include <string_view>

namespace quern {

enum class ClauseOperator { None, And, Or };

// One step of an expression: a left term, then optionally an operator and the term after it. The
// terms are views into the expression that was read, so they live only as long as it does.
struct Clause {
    std::string_view left;
    std::string_view right;
    ClauseOperator op = ClauseOperator::None;
};

// True when the text satisfies the whole expression, evaluated left to right without precedence;
// an empty expression is satisfied by every text. With caseSensitive false, ASCII letters match
// regardless of case.
[[nodiscard]] bool JollyCheck(std::string_view text, std::string_view expression, bool caseSensitive);

// True when one wildcard term (no operators, no "NOT ") matches the whole text; an empty pattern
// matches only the empty text. The part after the last `*` is compared with the end of the text
// on its own, so it may reuse characters the part before it matched: "ab*b" matches "ab".
[[nodiscard]] bool JollyMatch(std::string_view text, std::string_view pattern, bool caseSensitive);

// Reads the clause that starts at position and leaves position on the leading space of the next
// operator, or just past the end of the expression. A position of 0 is read as 1.
[[nodiscard]] Clause ReadClause(std::string_view expression, std::size_t& position);

// True when op stands in text at position, ASCII letters compared regardless of case; false when
// position is 0 or op would run past the end of the text.
[[nodiscard]] bool OperatorAt(std::string_view text, std::size_t position, std::string_view op);

// The characters of pattern from start up to, not including, the next `*` or the end; empty when
// start is 0 or past the end.
[[nodiscard]] std::string_view SegmentFrom(std::string_view pattern, std::size_t start);

// True when both positions lie inside their strings and the pattern character is `?` or the same
// byte as the text character; false otherwise.
[[nodiscard]] bool CharMatches(
    std::string_view text, std::string_view pattern, std::size_t textPos, std::size_t patternPos);

// The first position at or after start where the whole segment matches the text (`?` matching any
// byte), 0 when there is none; start itself when the segment is empty.
[[nodiscard]] std::size_t FindSegment(std::string_view text, std::string_view segment, std::size_t start);

} // namespace quern
