#include "search/JollyCheckU.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quern {

// The search calls JollyCheck for every name and data text it visits, and most of those are
// shorter than twenty bytes, so the fixed cost of a call matters more than the speed of any one
// loop. The work is done by the small helpers below on 0-based indices, which the compiler can
// inline into the callers; the public operations, which count positions from 1 and guard them,
// are thin wrappers over them.
namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Only a to z fold: the bytes above 0x7F belong to whatever code page the registry uses, and
// folding them would make the matcher depend on it.
constexpr char foldByte(char c) {
    return static_cast<unsigned char>(c - 'a') < 26u ? static_cast<char>(c - ('a' - 'A')) : c;
}

// Folds N bytes in a loop of fixed length, which the compiler turns into a few vector
// instructions and no branch.
template<std::size_t N> inline void foldBlock(const char* in, char* out) {
    std::array<char, N> block;
    std::memcpy(block.data(), in, N);
    for (char& c : block)
        c = foldByte(c);
    std::memcpy(out, block.data(), N);
}

// Any length is covered by two overlapping blocks, or a run of them: folding is idempotent, so a
// byte folded twice costs nothing, and the only branches are on the size class rather than one
// per byte, which the varying lengths of names would keep mispredicting.
void foldInto(std::string_view source, char* out) {
    const char* in = source.data();
    const std::size_t size = source.size();
    if (size >= 16) {
        for (std::size_t k = 0; k + 16 < size; k += 16)
            foldBlock<16>(in + k, out + k);
        foldBlock<16>(in + size - 16, out + size - 16);
    } else if (size >= 8) {
        foldBlock<8>(in, out);
        foldBlock<8>(in + size - 8, out + size - 8);
    } else if (size >= 4) {
        foldBlock<4>(in, out);
        foldBlock<4>(in + size - 4, out + size - 4);
    } else if (size > 0) {
        // The first, middle and last bytes are all the bytes of a text of one to three.
        out[0] = foldByte(in[0]);
        out[size / 2] = foldByte(in[size / 2]);
        out[size - 1] = foldByte(in[size - 1]);
    }
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

constexpr std::uint64_t kEveryByte = 0x0101010101010101;

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

// Four bytes that must stand in a text, ASCII letters in either case, tested with one load and
// one comparison. Clearing bit 5 of a text byte turns "a" to "z" into "A" to "Z" and leaves "A"
// to "Z" alone, and only ever makes other bytes equal to a letter if they are that letter's lower
// case, so the letters are compared under that mask and the spaces in full.
struct CaselessWord {
    std::uint32_t bits;
    std::uint32_t mask;
};

constexpr CaselessWord caselessWord(std::string_view upperCase) {
    std::array<unsigned char, 4> bits {};
    std::array<unsigned char, 4> mask {};
    for (std::size_t k = 0; k < 4; ++k) {
        bits[k] = static_cast<unsigned char>(upperCase[k]);
        mask[k] = upperCase[k] == ' ' ? 0xFF : 0xDF;
    }
    return { std::bit_cast<std::uint32_t>(bits), std::bit_cast<std::uint32_t>(mask) };
}

// " AND " is five bytes; the space before it is found first, so only the four after it are
// tested as a word.
constexpr CaselessWord kOrOperator = caselessWord(" OR ");
constexpr CaselessWord kAndAfterSpace = caselessWord("AND ");
constexpr CaselessWord kNotPrefix = caselessWord("NOT ");
constexpr std::size_t kOrWidth = 4;
constexpr std::size_t kAndWidth = 5;
constexpr std::size_t kNotWidth = 4;

inline bool wordAt(std::string_view text, std::size_t index, CaselessWord word) {
    if (index + 4 > text.size()) return false;
    std::uint32_t bytes;
    std::memcpy(&bytes, text.data() + index, 4);
    return (bytes & word.mask) == word.bits;
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
    // A `?` matches anything, so candidates are screened by the first byte that is not one, and
    // checked from the byte after it.
    std::size_t anchor = 0;
    while (anchor < segment.size() && segment[anchor] == '?')
        ++anchor;
    if (anchor == segment.size()) return from <= lastCandidate ? from : kNone;
    const char anchorByte = segment[anchor];
    for (std::size_t candidate = from; candidate <= lastCandidate; ++candidate) {
        const std::size_t hit = findByte(text, anchorByte, candidate + anchor);
        if (hit == kNone || hit - anchor > lastCandidate) return kNone;
        candidate = hit - anchor;
        std::size_t k = anchor + 1;
        while (k < segment.size() && bytesMatch(text[candidate + k], segment[k]))
            ++k;
        if (k == segment.size()) return candidate;
    }
    return kNone;
}

// The index of the next operator at or after from, with its code and width; the expression's
// size and no operator when none is left.
inline std::size_t nextOperator(
    std::string_view expression, std::size_t from, ClauseOperator& op, std::size_t& width) {
    // Every operator begins with a space, so the bytes up to the next space are term bytes.
    for (std::size_t index = findByte(expression, ' ', from); index != kNone;
         index = findByte(expression, ' ', index + 1)) {
        // " OR " and " AND " can never both stand at one index.
        if (wordAt(expression, index, kOrOperator)) {
            op = ClauseOperator::Or;
            width = kOrWidth;
            return index;
        }
        if (wordAt(expression, index + 1, kAndAfterSpace)) {
            op = ClauseOperator::And;
            width = kAndWidth;
            return index;
        }
    }
    op = ClauseOperator::None;
    width = 0;
    return expression.size();
}

// The clause's left term runs up to its operator and its right term up to the next one, where
// the following clause begins.
inline Clause readClause(std::string_view expression, std::size_t& index) {
    Clause clause;
    if (index >= expression.size()) return clause;
    std::size_t width = 0;
    const std::size_t leftEnd = nextOperator(expression, index, clause.op, width);
    clause.left = expression.substr(index, leftEnd - index);
    index = leftEnd;
    if (clause.op == ClauseOperator::None) return clause;
    const std::size_t rightBegin = leftEnd + width;
    ClauseOperator following;
    index = nextOperator(expression, rightBegin, following, width);
    clause.right = expression.substr(rightBegin, index - rightBegin);
    return clause;
}

// A non-empty head is a prefix, then segments each followed by a `*`. The prefix is anchored at
// the start of the text and every segment is placed at its leftmost occurrence after what came
// before; since a `*` follows each segment, a leftmost placement never spoils the next one, so
// there is nothing to backtrack.
bool headMatches(std::string_view text, std::string_view head) {
    const std::size_t prefixEnd = findByte(head, '*', 0);
    if (prefixEnd > text.size()) return false;
    for (std::size_t k = 0; k < prefixEnd; ++k) {
        if (!bytesMatch(text[k], head[k])) return false;
    }
    std::size_t p = prefixEnd;
    for (std::size_t i = prefixEnd + 1; i < head.size();) {
        const std::size_t star = findByte(head, '*', i);
        if (star > i) {
            p = findSegment(text, head.substr(i, star - i), p);
            if (p == kNone) return false;
            p += star - i;
        }
        i = star + 1;
    }
    return true;
}

// JollyMatch on bytes that are compared exactly, any folding having been done by the caller.
bool matchBytes(std::string_view text, std::string_view pattern) {
    if (pattern.empty()) return text.empty();
    const std::size_t lastStar = pattern.rfind('*');
    const std::size_t tailBegin = lastStar == kNone ? 0 : lastStar + 1;
    const std::string_view tail = pattern.substr(tailBegin);

    // The tail is compared with the end of the text on its own, wherever the head stops; it is
    // checked first because it is the cheaper test and rejects most names ("*.dll" against
    // anything that does not end in ".DLL").
    if (tail.size() > text.size() || (lastStar == kNone && tail.size() != text.size())) return false;
    const std::size_t offset = text.size() - tail.size();
    for (std::size_t k = tail.size(); k > 0; --k) {
        if (!bytesMatch(text[offset + k - 1], tail[k - 1])) return false;
    }
    return lastStar == kNone || headMatches(text, pattern.substr(0, tailBegin));
}

bool termValue(std::string_view text, std::string_view term) {
    // Only one "NOT " comes off: "NOT NOT x" negates the pattern "NOT x".
    if (wordAt(term, 0, kNotPrefix)) return !matchBytes(text, term.substr(kNotWidth));
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
    if (expression.empty()) return true;
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
