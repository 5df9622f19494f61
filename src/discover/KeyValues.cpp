#include "discover/KeyValues.h"

#include <vector>

namespace quern::discover {

namespace {

enum class TokenKind { End, Open, Close, Text };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;
    int line = 0;
};

std::string at(int line) {
    return "line " + std::to_string(line) + ": ";
}

// A key as a message shows it: quoted, and cut short when long.
std::string shown(const std::string& key) {
    return "\"" + (key.size() > 40 ? key.substr(0, 40) + "..." : key) + "\"";
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

class Lexer {
public:
    explicit Lexer(std::string_view text)
        : m_text(text) {
        if (m_text.starts_with("\xEF\xBB\xBF")) m_pos = 3; // a byte order mark, as Windows editors write
    }
    bool next(Token& token, std::string& error);

private:
    bool skipSpaceAndComments(std::string& error);
    bool quoted(Token& token, std::string& error);
    bool bare(Token& token, std::string& error);

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
};

bool Lexer::skipSpaceAndComments(std::string& error) {
    while (m_pos < m_text.size()) {
        const char c = m_text[m_pos];
        if (c == '\n') ++m_line;
        if (c == '\0') {
            error = at(m_line) + "a NUL byte: this is no text file";
            return false;
        }
        if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '/') {
            const std::size_t end = m_text.find('\n', m_pos);
            m_pos = end == std::string_view::npos ? m_text.size() : end;
            continue;
        }
        if (!isSpace(c)) return true;
        ++m_pos;
    }
    return true;
}

bool Lexer::next(Token& token, std::string& error) {
    if (!skipSpaceAndComments(error)) return false;
    token = Token { TokenKind::End, {}, m_line };
    if (m_pos >= m_text.size()) return true;
    const char c = m_text[m_pos];
    if (c == '{' || c == '}') {
        token.kind = c == '{' ? TokenKind::Open : TokenKind::Close;
        ++m_pos;
        return true;
    }
    token.kind = TokenKind::Text;
    return c == '"' ? quoted(token, error) : bare(token, error);
}

char escaped(char c) {
    switch (c) {
    case '\\':
    case '"':
    case '\'':
    case '?':
        return c;
    case 'n':
        return '\n';
    case 't':
        return '\t';
    case 'r':
        return '\r';
    case 'v':
        return '\v';
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'a':
        return '\a';
    default:
        return '\0';
    }
}

bool Lexer::quoted(Token& token, std::string& error) {
    for (++m_pos; m_pos < m_text.size(); ++m_pos) {
        char c = m_text[m_pos];
        if (c == '"') {
            ++m_pos;
            return true;
        }
        if (c == '\0') {
            error = at(m_line) + "a NUL byte: this is no text file";
            return false;
        }
        if (c == '\n') ++m_line;
        if (c == '\\') {
            const char code = m_pos + 1 < m_text.size() ? m_text[m_pos + 1] : '\0';
            c = escaped(code);
            if (c == '\0') {
                error = at(m_line) + "\\" + (code == '\0' ? std::string() : std::string(1, code))
                    + " is not an escape of this format";
                return false;
            }
            ++m_pos;
        }
        token.text += c;
    }
    error = at(token.line) + "the quote opened here is never closed";
    return false;
}

bool Lexer::bare(Token& token, std::string& error) {
    const char first = m_text[m_pos];
    if (first == '[' || first == '#') {
        error = at(m_line)
            + (first == '[' ? "conditions such as [$WIN32] are not read" : "directives such as #include are not read");
        return false;
    }
    const std::size_t start = m_pos;
    while (m_pos < m_text.size() && !isSpace(m_text[m_pos]) && m_text[m_pos] != '"' && m_text[m_pos] != '{'
        && m_text[m_pos] != '}' && m_text[m_pos] != '\0')
        ++m_pos;
    token.text = std::string(m_text.substr(start, m_pos - start));
    return true;
}

} // namespace

namespace {

bool readKeyValues(std::string_view text, ConfigNode& root, std::string& error) {
    root = ConfigNode { ConfigNode::Kind::Map, {}, {}, {} };
    Lexer lexer(text);
    // The blocks open at this point, outermost first: each one the last child of the one before,
    // so adding to the innermost never moves the others.
    std::vector<ConfigNode*> open { &root };
    std::vector<int> openedOn { 0 };
    std::size_t nodes = 0;
    for (Token key;;) {
        if (!lexer.next(key, error)) return false;
        if (key.kind == TokenKind::End) {
            if (open.size() == 1) return true;
            error = at(key.line) + "the { of line " + std::to_string(openedOn.back()) + " is never closed";
            return false;
        }
        if (key.kind == TokenKind::Close) {
            if (open.size() == 1) {
                error = at(key.line) + "a } without its {";
                return false;
            }
            open.pop_back();
            openedOn.pop_back();
            continue;
        }
        if (key.kind == TokenKind::Open) {
            error = at(key.line) + "a { where a key should be";
            return false;
        }
        Token value;
        if (!lexer.next(value, error)) return false;
        if (value.kind == TokenKind::End || value.kind == TokenKind::Close) {
            error = at(key.line) + "the key " + shown(key.text) + " has no value";
            return false;
        }
        if (++nodes > kMaxConfigNodes) {
            error = at(key.line) + "more than " + std::to_string(kMaxConfigNodes) + " keys";
            return false;
        }
        ConfigNode& node = open.back()->children.emplace_back();
        node.key = std::move(key.text);
        if (value.kind == TokenKind::Text) {
            node.kind = ConfigNode::Kind::Text;
            node.text = std::move(value.text);
            continue;
        }
        node.kind = ConfigNode::Kind::Map;
        if (open.size() > static_cast<std::size_t>(kMaxConfigDepth)) {
            error = at(value.line) + "blocks nested more than " + std::to_string(kMaxConfigDepth) + " deep";
            return false;
        }
        open.push_back(&node);
        openedOn.push_back(value.line);
    }
}

} // namespace

reg::Status parseKeyValues(std::string_view text, ConfigNode& root) {
    std::string error;
    if (readKeyValues(text, root, error)) return {};
    return { reg::Status::InvalidData, std::move(error) };
}

} // namespace quern::discover
