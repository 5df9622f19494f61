#include "transfer/ClipboardPayload.h"

namespace quern {

namespace {

constexpr std::string_view kHeader = "quern-clipboard 1";

std::string escaped(std::string_view field) {
    std::string out;
    for (char c : field) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::optional<std::string> unescaped(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out.push_back(field[i]);
            continue;
        }
        if (++i == field.size()) return std::nullopt;
        switch (field[i]) {
        case '\\':
            out.push_back('\\');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace

std::string clipboardText(const ClipboardPayload& payload) {
    std::string text(kHeader);
    text += "\nregistry\t" + escaped(payload.registry) + "\nkey\t" + escaped(payload.keyPath) + "\ncut\t"
        + (payload.cut ? "1" : "0") + "\n";
    if (payload.valuesOnly)
        for (const std::string& name : payload.valueNames)
            text += "value\t" + escaped(name) + "\n";
    return text;
}

std::optional<ClipboardPayload> readClipboardText(std::string_view text) {
    ClipboardPayload payload;
    bool first = true;
    bool haveRegistry = false;
    bool haveKey = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (first) {
            if (line != kHeader) return std::nullopt;
            first = false;
            continue;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return std::nullopt;
        const std::string_view word = line.substr(0, tab);
        const std::optional<std::string> field = unescaped(line.substr(tab + 1));
        if (!field) return std::nullopt;
        if (word == "registry") {
            payload.registry = *field;
            haveRegistry = true;
        } else if (word == "key") {
            payload.keyPath = *field;
            haveKey = !field->empty();
        } else if (word == "cut") {
            payload.cut = *field == "1";
        } else if (word == "value") {
            payload.valuesOnly = true;
            payload.valueNames.push_back(*field);
        } else {
            return std::nullopt;
        }
    }
    if (first || !haveRegistry || !haveKey) return std::nullopt;
    return payload;
}

bool looksLikeRegFile(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n' || text.front() == ' '))
        text.remove_prefix(1);
    for (std::string_view header :
        { std::string_view("Windows Registry Editor Version 5.00"), std::string_view("REGEDIT4") })
        if (text.starts_with(header)) {
            const std::string_view rest = text.substr(header.size());
            return rest.empty() || rest.front() == '\r' || rest.front() == '\n';
        }
    return false;
}

} // namespace quern
