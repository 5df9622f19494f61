#include "cli/PrefixList.h"

#include <ostream>

namespace quern::cli {

std::string listField(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string field;
    field.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            field += "\\\\";
        else if (c == '\t')
            field += "\\t";
        else if (c == '\n')
            field += "\\n";
        else if (c == '\r')
            field += "\\r";
        else if (byte < 0x20 || byte == 0x7f)
            field += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        else
            field += c;
    }
    return field;
}

void writePrefixList(const discover::Discovery& found, std::ostream& out, std::ostream& err) {
    for (const auto& registry : found.registries)
        out << listField(registry.name) << '\t' << discover::kindName(registry.kind) << '\t'
            << listField(registry.folder) << '\n';
    for (const auto& note : found.notes)
        err << "quern-reg: note: " << listField(note.path) << ": " << listField(note.problem) << '\n';
}

int runPrefixes(std::ostream& out, std::ostream& err) {
    // Who holds each registry is not part of the list, and would cost a look at every process.
    discover::DiscoveryOptions options;
    options.lookForServers = false;
    writePrefixList(
        discover::discoverRegistries(discover::processHome(), discover::processEnvironment(), options), out, err);
    return 0;
}

} // namespace quern::cli
