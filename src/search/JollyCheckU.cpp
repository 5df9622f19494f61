#include "search/JollyCheckU.h"

#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quern {

// The search calls JollyCheck for every name and data text it visits, and most of those are
// shorter than twenty bytes, so the fixed cost of a call matters more than the speed of any one
// loop: the work is done by the small helpers below on 0-based indices, with few branches that
// depend on the text, and the public operations, which count positions from 1 and guard them, are
// thin wrappers over them.
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::size_t kWord = sizeof(std::uint64_t);
constexpr std::size_t kBlock = 16;
constexpr std::uint64_t kEveryByte = 0x0101010101010101;

// Words are read and written with byte k of the string in bits 8k to 8k + 7 on any machine, so
// that the first byte of a word is its lowest.
template<typename Word> constexpr Word littleEndian(Word word) {
    if constexpr (std::endian::native == std::endian::big) {
        Word reversed = 0;
        for (std::size_t k = 0; k < sizeof(Word); ++k, word >>= CHAR_BIT)
            reversed = static_cast<Word>((reversed << CHAR_BIT) | (word & 0xFF));
        return reversed;
    }
    return word;
}

template<typename Word> inline Word load(const char* at) {
    Word word;
    std::memcpy(&word, at, sizeof word);
    return littleEndian(word);
}

inline void store(char* at, std::uint64_t word) {
    word = littleEndian(word);
    std::memcpy(at, &word, sizeof word);
}

// Only a to z fold: the bytes above 0x7F belong to whatever code page the registry uses, and
// folding them would make the matcher depend on it.
constexpr char foldByte(char c) {
    return static_cast<unsigned char>(c - 'a') < 26u ? static_cast<char>(c - ('a' - 'A')) : c;
}

// foldByte on the eight bytes of a word at once.
constexpr std::uint64_t foldWord(std::uint64_t word) {
    // With the top bit of each byte cleared, adding these constants sets it exactly where the byte
    // is at least 'a', or above 'z', and never carries into the next byte.
    const std::uint64_t low = word & (kEveryByte * 0x7F);
    const std::uint64_t fromA = low + kEveryByte * (0x80 - 'a');
    const std::uint64_t pastZ = low + kEveryByte * (0x80 - 'z' - 1);
    const std::uint64_t isLower = fromA & ~pastZ & ~word & (kEveryByte * 0x80);
    return word ^ (isLower >> 2);
}

// The top bit of each byte of word that equals wanted, and no other bit: no carry crosses a byte,
// so a hit never spills into its neighbour.
constexpr std::uint64_t bytesEqual(std::uint64_t word, char wanted) {
    constexpr std::uint64_t kLow = kEveryByte * 0x7F;
    const std::uint64_t diff = word ^ (kEveryByte * static_cast<unsigned char>(wanted));
    return ~(((diff & kLow) + kLow) | diff | kLow);
}

// A copy of a byte string made once per call, folded to upper case when the search ignores case,
// so that no comparison has to fold. It is written in aligned blocks and words, the last word
// filled up with zero bytes, and scans read it back in the same aligned words: each load then
// finds its bytes in one earlier store, which the processor hands over at once, where a load that
// straddled two stores would wait some twenty cycles for both to reach the cache. Nearly every
// registry name fits the inline buffer, which keeps the search free of heap traffic.
class WordBuffer {
public:
    WordBuffer(std::string_view source, bool fold) {
        char* out = m_inline.data();
        if (source.size() > m_inline.size()) {
            m_heap = std::make_unique_for_overwrite<std::uint64_t[]>(source.size() / kWord + 1);
            out = reinterpret_cast<char*>(m_heap.get());
        }
        if (fold)
            fill<true>(source, out);
        else
            fill<false>(source, out);
        m_bytes = std::string_view(out, source.size());
    }
    WordBuffer(const WordBuffer&) = delete;
    WordBuffer& operator=(const WordBuffer&) = delete;

    [[nodiscard]] std::string_view bytes() const { return m_bytes; }

private:
    template<bool Fold> static void fill(std::string_view source, char* out) {
        const char* in = source.data();
        const std::size_t size = source.size();
        // Whole blocks go through a loop of fixed length, which the compiler turns into a few
        // vector instructions.
        std::size_t k = 0;
        for (; k + kBlock <= size; k += kBlock) {
            std::array<char, kBlock> block;
            std::memcpy(block.data(), in + k, kBlock);
            if constexpr (Fold) {
                for (char& c : block)
                    c = foldByte(c);
            }
            std::memcpy(out + k, block.data(), kBlock);
        }
        const auto put = [out](std::size_t at, std::uint64_t word) { store(out + at, Fold ? foldWord(word) : word); };
        if (size - k >= kWord) {
            put(k, load<std::uint64_t>(in + k));
            k += kWord;
        }
        // The last bytes are gathered with loads that stay inside the source, shifted into place
        // so that the bytes after the end come out zero.
        const std::size_t rest = size - k;
        if (rest == 0) return;
        std::uint64_t last;
        if (size >= kWord) {
            last = load<std::uint64_t>(in + size - kWord) >> (CHAR_BIT * (kWord - rest));
        } else if (size >= 4) {
            last = load<std::uint32_t>(in)
                | std::uint64_t { load<std::uint32_t>(in + size - 4) } << CHAR_BIT * (size - 4);
        } else {
            // The first, middle and last bytes are all the bytes of a string of one to three.
            const auto byteAt = [in](std::size_t n) { return std::uint64_t { static_cast<unsigned char>(in[n]) }; };
            last = byteAt(0) | byteAt(size / 2) << CHAR_BIT * (size / 2) | byteAt(size - 1) << CHAR_BIT * (size - 1);
        }
        put(k, last);
    }

    alignas(kBlock) std::array<char, 256> m_inline;
    std::unique_ptr<std::uint64_t[]> m_heap;
    std::string_view m_bytes;
};

// The positions of one byte value in a WordBuffer's copy, or in a part of one such as a term, in
// increasing order from a start: each aligned word is loaded and tested once however many hits it
// holds, with no branch per byte and no loop over the last few bytes; hits past the end, in the
// zero padding or in the rest of the copy, are cut off there.
class ByteScanner {
public:
    ByteScanner(std::string_view copy, char wanted, std::size_t from)
        : m_skip(reinterpret_cast<std::uintptr_t>(copy.data()) % kWord)
        , m_words(copy.data() - m_skip)
        , m_end(m_skip + copy.size())
        , m_word(m_end)
        , m_wanted(wanted) {
        if (from >= copy.size()) return;
        const std::size_t at = m_skip + from;
        m_word = at - at % kWord;
        m_hits = bytesEqual(load<std::uint64_t>(m_words + m_word), wanted)
            & ~std::uint64_t { 0 } << CHAR_BIT * (at % kWord);
    }

    // The next position, or kNone when no hit is left.
    std::size_t next() {
        while (m_hits == 0) {
            m_word += kWord;
            if (m_word >= m_end) return kNone;
            m_hits = bytesEqual(load<std::uint64_t>(m_words + m_word), m_wanted);
        }
        const std::size_t hit = m_word + static_cast<std::size_t>(std::countr_zero(m_hits)) / CHAR_BIT;
        m_hits &= m_hits - 1;
        if (hit >= m_end) {
            m_hits = 0;
            return kNone;
        }
        return hit - m_skip;
    }

private:
    // Offsets count from the aligned word that holds the first byte, m_skip bytes before it.
    std::size_t m_skip;
    const char* m_words;
    std::size_t m_end;
    std::size_t m_word;
    std::uint64_t m_hits = 0;
    char m_wanted;
};

// Four bytes that must stand in a text, ASCII letters in either case, tested with one load and
// one comparison. Clearing bit 5 of a text byte turns "a" to "z" into "A" to "Z", leaves "A" to
// "Z" alone and makes no other byte equal to a letter, so the letters are compared under that
// mask and the spaces in full.
struct CaselessWord {
    std::uint32_t bits;
    std::uint32_t mask;
};

constexpr CaselessWord caselessWord(std::string_view upperCase) {
    CaselessWord word { 0, 0 };
    for (std::size_t k = 0; k < 4; ++k) {
        word.bits |= std::uint32_t { static_cast<unsigned char>(upperCase[k]) } << CHAR_BIT * k;
        word.mask |= std::uint32_t { upperCase[k] == ' ' ? 0xFFu : 0xDFu } << CHAR_BIT * k;
    }
    return word;
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
    return index + 4 <= text.size() && (load<std::uint32_t>(text.data() + index) & word.mask) == word.bits;
}

// The bytes of s from begin up to end, both inside s; unlike substr it has no check that throws.
inline std::string_view slice(std::string_view s, std::size_t begin, std::size_t end) {
    return { s.data() + begin, end - begin };
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
    const std::size_t star = ByteScanner(pattern, '*', index).next();
    return slice(pattern, index, star == kNone ? pattern.size() : star);
}

std::size_t findSegment(std::string_view text, std::string_view segment, std::size_t from) {
    if (segment.size() > text.size()) return kNone;
    const std::size_t lastCandidate = text.size() - segment.size();
    if (from > lastCandidate) return kNone;
    // A `?` matches anything, so candidates are the places of the first byte that is not one, and
    // each is checked from the byte after it, byte by byte: nearly every candidate fails on its
    // second byte.
    std::size_t anchor = 0;
    while (anchor < segment.size() && segment[anchor] == '?')
        ++anchor;
    if (anchor == segment.size()) return from;
    ByteScanner anchors(text, segment[anchor], from + anchor);
    for (std::size_t hit = anchors.next(); hit != kNone && hit - anchor <= lastCandidate; hit = anchors.next()) {
        const std::size_t candidate = hit - anchor;
        std::size_t k = anchor + 1;
        while (k < segment.size() && bytesMatch(text[candidate + k], segment[k]))
            ++k;
        if (k == segment.size()) return candidate;
    }
    return kNone;
}

// The index of the next operator at or after from, with its code and width; the expression's
// size and no operator when none is left. The spaces come from the scanner, which the caller
// keeps from one operator to the next so that no word is read twice.
inline std::size_t nextOperator(
    std::string_view expression, ByteScanner& spaces, std::size_t from, ClauseOperator& op, std::size_t& width) {
    // Every operator begins with a space, so the bytes up to the next space are term bytes.
    for (std::size_t index = spaces.next(); index != kNone; index = spaces.next()) {
        // A space inside the last operator read is not one that can begin an operator.
        if (index < from) continue;
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
Clause readClause(std::string_view expression, std::size_t& index) {
    Clause clause;
    if (index >= expression.size()) return clause;
    std::size_t width = 0;
    ByteScanner spaces(expression, ' ', index);
    const std::size_t leftEnd = nextOperator(expression, spaces, index, clause.op, width);
    clause.left = slice(expression, index, leftEnd);
    index = leftEnd;
    if (clause.op == ClauseOperator::None) return clause;
    const std::size_t rightBegin = leftEnd + width;
    ClauseOperator following;
    index = nextOperator(expression, spaces, rightBegin, following, width);
    clause.right = slice(expression, rightBegin, index);
    return clause;
}

// A non-empty head is a prefix, then segments each followed by a `*`. The prefix is anchored at
// the start of the text and every segment is placed at its leftmost occurrence after what came
// before; since a `*` follows each segment, a leftmost placement never spoils the next one, so
// there is nothing to backtrack.
bool headMatches(std::string_view text, std::string_view head) {
    ByteScanner stars(head, '*', 0);
    const std::size_t prefixEnd = stars.next();
    if (prefixEnd > text.size()) return false;
    for (std::size_t k = 0; k < prefixEnd; ++k) {
        if (!bytesMatch(text[k], head[k])) return false;
    }
    std::size_t p = prefixEnd;
    for (std::size_t star = prefixEnd, next = stars.next(); next != kNone; star = next, next = stars.next()) {
        const std::size_t length = next - star - 1;
        if (length == 0) continue;
        p = findSegment(text, slice(head, star + 1, next), p);
        if (p == kNone) return false;
        p += length;
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
    const std::string_view tail = slice(pattern, tailBegin, pattern.size());
    // The tail is compared with the end of the text on its own, wherever the head stops; it is
    // checked first because it is the cheaper test and rejects most names ("*.dll" against
    // anything that does not end in ".DLL").
    if (tail.size() > text.size() || (!hasStar && tail.size() != text.size())) return false;
    const std::size_t offset = text.size() - tail.size();
    for (std::size_t k = tail.size(); k > 0; --k) {
        if (!bytesMatch(text[offset + k - 1], tail[k - 1])) return false;
    }
    return !hasStar || headMatches(text, slice(pattern, 0, tailBegin));
}

bool termValue(std::string_view text, std::string_view term) {
    // Only one "NOT " comes off: "NOT NOT x" negates the pattern "NOT x".
    if (wordAt(term, 0, kNotPrefix)) return !matchBytes(text, slice(term, kNotWidth, term.size()));
    return matchBytes(text, term);
}

// Strictly left to right, term by term as readClause would hand them over: the first clause's
// left term sets the result unless it is empty, and every operator after it combines the running
// result with the term that follows, which is matched only when it can change the result. So
// "a OR b AND c" is (a OR b) AND c. One scanner serves the whole expression, so each of its words
// is read once.
bool evaluate(std::string_view text, std::string_view expression) {
    ClauseOperator op;
    std::size_t width;
    ByteScanner spaces(expression, ' ', 0);
    std::size_t termEnd = nextOperator(expression, spaces, 0, op, width);
    bool result = termEnd == 0 || termValue(text, slice(expression, 0, termEnd));
    while (op != ClauseOperator::None) {
        const std::size_t termBegin = termEnd + width;
        const ClauseOperator combine = op;
        termEnd = nextOperator(expression, spaces, termBegin, op, width);
        if ((combine == ClauseOperator::And && result) || (combine == ClauseOperator::Or && !result))
            result = termValue(text, slice(expression, termBegin, termEnd));
    }
    return result;
}

// The bytes of the original string at the place where view lies in its copy.
std::string_view sameBytesIn(std::string_view original, const WordBuffer& copy, std::string_view view) {
    if (view.empty()) return {};
    const auto begin = static_cast<std::size_t>(view.data() - copy.bytes().data());
    return slice(original, begin, begin + view.size());
}

} // namespace

// Every helper is inlined here: on names this short, the calls and the registers they save would
// cost as much as the matching itself.
[[gnu::flatten]] bool JollyCheck(std::string_view text, std::string_view expression, bool caseSensitive) {
    if (expression.empty()) return true;
    // Operators and "NOT " are found regardless of case, so folding the whole expression once up
    // front changes only the terms, which every term match would otherwise fold on its own. The
    // expression is copied first: its copy and the reading of its operators then go ahead while
    // the text, which is seldom in the nearest cache, is still being fetched.
    const WordBuffer expressionCopy(expression, !caseSensitive);
    const WordBuffer textCopy(text, !caseSensitive);
    return evaluate(textCopy.bytes(), expressionCopy.bytes());
}

bool JollyMatch(std::string_view text, std::string_view pattern, bool caseSensitive) {
    const WordBuffer textCopy(text, !caseSensitive);
    const WordBuffer patternCopy(pattern, !caseSensitive);
    return matchBytes(textCopy.bytes(), patternCopy.bytes());
}

Clause ReadClause(std::string_view expression, std::size_t& position) {
    // The scans read whole words, which only a copy laid out for them allows.
    const WordBuffer copy(expression, false);
    std::size_t index = position == 0 ? 0 : position - 1;
    const Clause clause = readClause(copy.bytes(), index);
    position = index + 1;
    return { sameBytesIn(expression, copy, clause.left), sameBytesIn(expression, copy, clause.right), clause.op };
}

bool OperatorAt(std::string_view text, std::size_t position, std::string_view op) {
    if (position == 0) return false;
    const WordBuffer foldedOp(op, true);
    return operatorStandsAt(text, position - 1, foldedOp.bytes());
}

std::string_view SegmentFrom(std::string_view pattern, std::size_t start) {
    if (start == 0) return {};
    // The scans read whole words, which only a copy laid out for them allows.
    const WordBuffer copy(pattern, false);
    return sameBytesIn(pattern, copy, segmentAt(copy.bytes(), start - 1));
}

bool CharMatches(std::string_view text, std::string_view pattern, std::size_t textPos, std::size_t patternPos) {
    if (textPos == 0 || patternPos == 0 || textPos > text.size() || patternPos > pattern.size()) return false;
    return bytesMatch(text[textPos - 1], pattern[patternPos - 1]);
}

std::size_t FindSegment(std::string_view text, std::string_view segment, std::size_t start) {
    if (segment.empty()) return start;
    const WordBuffer textCopy(text, false);
    // Position 0 never matches, so a search from it finds what a search from 1 finds.
    const std::size_t found = findSegment(textCopy.bytes(), segment, start == 0 ? 0 : start - 1);
    return found == kNone ? 0 : found + 1;
}

} // namespace quern
