// Feeds arbitrary bytes to the matcher. Input layout: one flag byte (bit 0: case-sensitive), one
// byte giving the expression's length, the expression, then the text; missing bytes read as empty.
// Beyond crashes, it checks JollyMatch against a plain dynamic-programming model of its rule.

#include "search/JollyCheckU.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    }
    return out;
}

// Classic glob matching of the whole text, with `?` also matching itself and no escapes.
bool globMatches(std::string_view text, std::string_view pattern) {
    std::vector<char> row(text.size() + 1, 0);
    row[0] = 1;
    for (char p : pattern) {
        std::vector<char> next(text.size() + 1, 0);
        for (std::size_t t = 0; t <= text.size(); ++t) {
            if (p == '*')
                next[t] = row[t] || (t > 0 && next[t - 1]);
            else if (t > 0)
                next[t] = row[t - 1] && (p == '?' || p == text[t - 1]);
        }
        row.swap(next);
    }
    return row[text.size()] != 0;
}

// The head must match some prefix of the text and the tail the end of the text, independently.
bool modelMatches(std::string_view text, std::string_view pattern) {
    const std::size_t lastStar = pattern.rfind('*');
    if (lastStar == std::string_view::npos) return globMatches(text, pattern);
    const std::string_view tail = pattern.substr(lastStar + 1);
    return tail.size() <= text.size() && globMatches(text, pattern.substr(0, lastStar + 1))
        && globMatches(text.substr(text.size() - tail.size()), tail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool caseSensitive = !input.empty() && (input[0] & 1) != 0;
    const std::string_view rest = input.substr(input.empty() ? 0 : 1);
    const std::size_t expressionLength = rest.empty() ? 0 : static_cast<unsigned char>(rest[0]);
    const std::string_view body = rest.substr(rest.empty() ? 0 : 1);
    const std::string_view expression = body.substr(0, expressionLength);
    const std::string_view text = body.substr(expression.size());

    const bool checked = quern::JollyCheck(text, expression, caseSensitive);
    if (!caseSensitive && checked != quern::JollyCheck(folded(text), folded(expression), true)) std::abort();

    const bool matched = quern::JollyMatch(text, expression, caseSensitive);
    const bool modelled
        = caseSensitive ? modelMatches(text, expression) : modelMatches(folded(text), folded(expression));
    if (matched != modelled) std::abort();
    return 0;
}
