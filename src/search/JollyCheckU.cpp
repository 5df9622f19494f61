#include "search/JollyCheckU.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quern {

// The search calls JollyCheck for every name and data text it visits, so the work is done by the
// small helpers below on 0-based indices, which the compiler can inline into the callers; the
// public operations, which count positions from 1 and guard them, are thin wrappers over them.
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kAndOperator = " AND ";
constexpr std::string_view kOrOperator = " OR ";
constexpr std::string_view kNotPrefix = "NOT ";

// Only a to z fold: the bytes above 0x7F belong to whatever code page the registry uses, and
// folding them would make the matcher depend on it.
constexpr char foldByte(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

// foldByte on eight bytes at once: folding every text is a large share of a search's work.
constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t foldWord(std::uint64_t word) {
    // With the top bit of each byte cleared, adding these constants sets it exactly where the byte
    // is at least 'a', or above 'z', and never carries into the next byte.
    const std::uint64_t low = word & (kEveryByte * 0x7F);
    const std::uint64_t fromA = low + kEveryByte * (0x80 - 'a');
    const std::uint64_t pastZ = low + kEveryByte * (0x80 - 'z' - 1);
    const std::uint64_t isLower = fromA & ~pastZ & ~word & (kEveryByte * 0x80);
    return word ^ (isLower >> 2);
}

void foldInto(std::string_view source, char* out) {
    constexpr std::size_t kWord = sizeof(std::uint64_t);
    const std::size_t size = source.size();
    if (size < kWord) {
        for (std::size_t k = 0; k < size; ++k)
            out[k] = foldByte(source[k]);
        return;
    }
    const auto foldWordAt = [&](std::size_t k) {
        std::uint64_t word;
        std::memcpy(&word, source.data() + k, kWord);
        word = foldWord(word);
        std::memcpy(out + k, &word, kWord);
    };
    for (std::size_t k = 0; k + kWord <= size; k += kWord)
        foldWordAt(k);
    // The last word may overlap the one before; folding is idempotent, so that costs nothing and
    // spares a byte loop whose length changes with every name.
    foldWordAt(size - kWord);
}

// An upper-cased copy of a byte string, made once per call so that no comparison has to fold.
// Nearly every registry name fits the inline buffer, which keeps the search free of heap traffic.
class FoldedBytes {
public:
    explicit FoldedBytes(std::string_view source) {
        char* out = m_inline.data();
        if (source.size() > m_inline.size()) {
            m_heap = std::make_unique_for_overwrite<char[]>(source.size());
            out = m_heap.get();
        }
        foldInto(source, out);
        m_view = std::string_view(out, source.size());
    }
    FoldedBytes(const FoldedBytes&) = delete;
    FoldedBytes& operator=(const FoldedBytes&) = delete;

    [[nodiscard]] std::string_view view() const { return m_view; }

private:
    std::array<char, 256> m_inline;
    std::unique_ptr<char[]> m_heap;
    std::string_view m_view;
};

// string_view::find without the call to memchr, which costs more than it saves on strings as
// short as registry names; eight bytes are tested at a time.
inline std::size_t findByte(std::string_view s, char wanted, std::size_t from) {
    constexpr std::size_t kWord = sizeof(std::uint64_t);
    const std::uint64_t spread = kEveryByte * static_cast<unsigned char>(wanted);
    std::size_t k = from;
    for (; k + kWord <= s.size(); k += kWord) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + k, kWord);
        // The top bit of a byte of hits is set exactly where the byte of word equals wanted; no
        // carry crosses a byte, so the first such byte is found in either byte order.
        constexpr std::uint64_t kLow = kEveryByte * 0x7F;
        const std::uint64_t diff = word ^ spread;
        const std::uint64_t hits = ~(((diff & kLow) + kLow) | diff | kLow);
        if (hits != 0) {
            if constexpr (std::endian::native == std::endian::little)
                return k + static_cast<std::size_t>(std::countr_zero(hits)) / 8;
            else
                return k + static_cast<std::size_t>(std::countl_zero(hits)) / 8;
        }
    }
    for (; k < s.size(); ++k) {
        if (s[k] == wanted) return k;
    }
    return kNone;
}

inline bool bytesMatch(char textByte, char patternByte) {
    return patternByte == '?' || patternByte == textByte;
}

// Whether op, given in upper case, stands at index of text in any letter case.
inline bool operatorStandsAt(std::string_view text, std::size_t index, std::string_view op) {
    if (index > text.size() || op.size() > text.size() - index) return false;
    for (std::size_t k = 0; k < op.size(); ++k) {
        if (foldByte(text[index + k]) != op[k]) return false;
    }
    return true;
}

inline std::string_view segmentAt(std::string_view pattern, std::size_t index) {
    if (index >= pattern.size()) return {};
    const std::size_t star = findByte(pattern, '*', index);
    return pattern.substr(index, star == kNone ? kNone : star - index);
}

std::size_t findSegment(std::string_view text, std::string_view segment, std::size_t from) {
    if (segment.size() > text.size()) return kNone;
    const std::size_t lastCandidate = text.size() - segment.size();
    // A `?` matches anything, so candidates are screened by the first byte that is not one.
    std::size_t anchor = 0;
    while (anchor < segment.size() && segment[anchor] == '?')
        ++anchor;
    if (anchor == segment.size()) return from <= lastCandidate ? from : kNone;
    const char anchorByte = segment[anchor];
    for (std::size_t candidate = from; candidate <= lastCandidate; ++candidate) {
        const std::size_t hit = findByte(text, anchorByte, candidate + anchor);
        if (hit == kNone || hit - anchor > lastCandidate) return kNone;
        candidate = hit - anchor;
        std::size_t k = 0;
        while (k < segment.size() && bytesMatch(text[candidate + k], segment[k]))
            ++k;
        if (k == segment.size()) return candidate;
    }
    return kNone;
}

Clause readClause(std::string_view expression, std::size_t& index) {
    Clause clause;
    const std::size_t begin = index;
    std::size_t leftEnd = 0;
    std::size_t rightBegin = 0;
    while (index < expression.size()) {
        // Every operator begins with a space, so the bytes up to the next space are term bytes.
        index = findByte(expression, ' ', index);
        if (index == kNone) {
            index = expression.size();
            break;
        }
        // The byte after the space tells which operator could stand here, if any; " OR " and
        // " AND " can never both stand at one index.
        ClauseOperator found = ClauseOperator::None;
        std::size_t width = 0;
        const char next = index + 1 < expression.size() ? foldByte(expression[index + 1]) : ' ';
        if (next == 'O' && operatorStandsAt(expression, index, kOrOperator)) {
            found = ClauseOperator::Or;
            width = kOrOperator.size();
        } else if (next == 'A' && operatorStandsAt(expression, index, kAndOperator)) {
            found = ClauseOperator::And;
            width = kAndOperator.size();
        }
        if (found == ClauseOperator::None) {
            ++index;
            continue;
        }
        // The second operator begins the next clause.
        if (clause.op != ClauseOperator::None) break;
        clause.op = found;
        leftEnd = index;
        index += width;
        rightBegin = index;
    }
    if (begin >= expression.size()) return clause;
    if (clause.op == ClauseOperator::None) {
        clause.left = expression.substr(begin, index - begin);
    } else {
        clause.left = expression.substr(begin, leftEnd - begin);
        clause.right = expression.substr(rightBegin, index - rightBegin);
    }
    return clause;
}

// The prefix of the head is anchored at the start of the text and every later segment is placed
// at its leftmost occurrence; since each segment is followed by a `*`, a leftmost placement never
// spoils the next one, so there is nothing to backtrack.
bool headMatches(std::string_view text, std::string_view head) {
    std::size_t p = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '*') {
            const std::string_view segment = segmentAt(head, i + 1);
            if (segment.empty()) continue;
            p = findSegment(text, segment, p);
            if (p == kNone) return false;
            p += segment.size();
            i += segment.size();
        } else {
            if (p >= text.size() || !bytesMatch(text[p], head[i])) return false;
            ++p;
        }
    }
    return true;
}

// JollyMatch on bytes that are compared exactly, any folding having been done by the caller.
bool matchBytes(std::string_view text, std::string_view pattern) {
    if (pattern.empty()) return text.empty();
    std::size_t tailBegin = pattern.size();
    while (tailBegin > 0 && pattern[tailBegin - 1] != '*')
        --tailBegin;
    const bool hasStar = tailBegin > 0;
    const std::string_view head = pattern.substr(0, tailBegin);
    const std::string_view tail = pattern.substr(tailBegin);

    // The tail is compared with the end of the text on its own, wherever the head stops; it is
    // checked first because it is the cheaper test and rejects most names ("*.dll" against
    // anything that does not end in ".DLL").
    if (tail.size() > text.size() || (!hasStar && tail.size() != text.size())) return false;
    const std::size_t offset = text.size() - tail.size();
    for (std::size_t k = tail.size(); k > 0; --k) {
        if (!bytesMatch(text[offset + k - 1], tail[k - 1])) return false;
    }
    return headMatches(text, head);
}

bool termValue(std::string_view text, std::string_view term) {
    // Only one "NOT " comes off: "NOT NOT x" negates the pattern "NOT x".
    if (operatorStandsAt(term, 0, kNotPrefix)) return !matchBytes(text, term.substr(kNotPrefix.size()));
    return matchBytes(text, term);
}

// Strictly left to right: every clause after the first has an empty left term and combines the
// running result with its right term, so "a OR b AND c" is (a OR b) AND c.
bool evaluate(std::string_view text, std::string_view expression) {
    bool result = true;
    std::size_t index = 0;
    while (index < expression.size()) {
        const Clause clause = readClause(expression, index);
        if (!clause.left.empty()) result = termValue(text, clause.left);
        if (clause.op == ClauseOperator::And && result)
            result = termValue(text, clause.right);
        else if (clause.op == ClauseOperator::Or && !result)
            result = termValue(text, clause.right);
    }
    return result;
}

} // namespace

bool JollyCheck(std::string_view text, std::string_view expression, bool caseSensitive) {
    if (caseSensitive) return evaluate(text, expression);
    // Operators and "NOT " are found regardless of case, so folding the whole expression once up
    // front changes only the terms, which every term match would otherwise fold on its own.
    const FoldedBytes foldedText(text);
    const FoldedBytes foldedExpression(expression);
    return evaluate(foldedText.view(), foldedExpression.view());
}

bool JollyMatch(std::string_view text, std::string_view pattern, bool caseSensitive) {
    if (caseSensitive) return matchBytes(text, pattern);
    const FoldedBytes foldedText(text);
    const FoldedBytes foldedPattern(pattern);
    return matchBytes(foldedText.view(), foldedPattern.view());
}

Clause ReadClause(std::string_view expression, std::size_t& position) {
    std::size_t index = position == 0 ? 0 : position - 1;
    const Clause clause = readClause(expression, index);
    position = index + 1;
    return clause;
}

bool OperatorAt(std::string_view text, std::size_t position, std::string_view op) {
    return position != 0 && operatorStandsAt(text, position - 1, FoldedBytes(op).view());
}

std::string_view SegmentFrom(std::string_view pattern, std::size_t start) {
    return start == 0 ? std::string_view() : segmentAt(pattern, start - 1);
}

bool CharMatches(std::string_view text, std::string_view pattern, std::size_t textPos, std::size_t patternPos) {
    if (textPos == 0 || patternPos == 0 || textPos > text.size() || patternPos > pattern.size()) return false;
    return bytesMatch(text[textPos - 1], pattern[patternPos - 1]);
}

std::size_t FindSegment(std::string_view text, std::string_view segment, std::size_t start) {
    if (segment.empty()) return start;
    // Position 0 never matches, so a search from it finds what a search from 1 finds.
    const std::size_t found = findSegment(text, segment, start == 0 ? 0 : start - 1);
    return found == kNone ? 0 : found + 1;
}

} // namespace quern
