#include "registry/PastedPath.h"

#include "base/Names.h"
#include "registry/RegU.h"

#include <algorithm>
#include <array>

namespace quern {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && reg::upperAscii(text.substr(0, prefix.size())) == reg::upperAscii(prefix);
}

// Takes away one layer of what wraps the path: quotes of either kind, the brackets of a .reg
// file's key line (with its minus of a deletion), and trims again. False when nothing was taken.
bool unwrapOnce(std::string_view& text) {
    if (text.size() >= 2) {
        const char first = text.front();
        const char last = text.back();
        if ((first == '"' && last == '"') || (first == '\'' && last == '\'') || (first == '[' && last == ']')) {
            text = trimmed(text.substr(1, text.size() - 2));
            if (first == '[' && !text.empty() && text.front() == '-') text = trimmed(text.substr(1));
            return true;
        }
    }
    return false;
}

// Drops what other tools put before the root's name.
std::string_view withoutLeadIn(std::string_view text) {
    for (const std::string_view lead :
        { "Microsoft.PowerShell.Core\\Registry::", "Registry::", "My Computer\\", "Computer\\" }) {
        if (startsWithNoCase(text, lead)) return text.substr(lead.size());
    }
    return text;
}

struct RootName {
    std::string_view shortName;
    std::string_view longName;
};
constexpr std::array<RootName, 6> kShortNames { {
    { "HKCR", "HKEY_CLASSES_ROOT" },
    { "HKCU", "HKEY_CURRENT_USER" },
    { "HKLM", "HKEY_LOCAL_MACHINE" },
    { "HKU", "HKEY_USERS" },
    { "HKCC", "HKEY_CURRENT_CONFIG" },
    { "HKDD", "HKEY_DYN_DATA" },
} };

// The long name of a root written either way, in any case, with a shell drive's colon; empty when
// the text names no root.
std::string_view rootLongName(std::string_view name) {
    if (!name.empty() && name.back() == ':') name.remove_suffix(1);
    const std::string upper = reg::upperAscii(name);
    for (const RootName& root : kShortNames)
        if (upper == root.shortName || upper == root.longName) return root.longName;
    return {};
}

} // namespace

std::vector<std::string> pathComponents(std::string_view path) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) components.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

reg::Status parsePastedKeyPath(std::string_view text, std::string& path) {
    std::string_view rest = trimmed(text);
    while (unwrapOnce(rest)) { }
    rest = withoutLeadIn(rest);
    const std::vector<std::string> components = pathComponents(rest);
    const std::string_view root = components.empty() ? std::string_view() : rootLongName(components.front());
    if (root.empty())
        return { reg::Status::BadPath,
            "\"" + std::string(trimmed(text).substr(0, 80))
                + "\" is not a key path: it should begin with a root key such as HKEY_LOCAL_MACHINE or HKLM." };
    path = root;
    for (std::size_t i = 1; i < components.size(); ++i)
        path += "\\" + components[i];
    return {};
}

std::string missingPart(std::string_view wanted, std::string_view reached) {
    const std::vector<std::string> want = pathComponents(wanted);
    const std::vector<std::string> have = pathComponents(reached);
    std::size_t same = 0;
    while (same < want.size() && same < have.size() && reg::upperAscii(want[same]) == reg::upperAscii(have[same]))
        ++same;
    std::string missing;
    for (std::size_t i = same; i < want.size(); ++i)
        missing += (missing.empty() ? "" : "\\") + want[i];
    return missing;
}

} // namespace quern
