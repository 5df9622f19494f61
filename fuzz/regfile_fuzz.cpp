// Feeds arbitrary bytes to the registry file reader. Whatever it reads must come back the same when
// written anew and read again, and a file written with nothing changed must be what was read.

#include "registry/WineRegFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace quern::reg;

namespace {

void markDirty(Key& key) {
    key.dirty = true;
    for (auto& sub : key.subkeys)
        markDirty(*sub);
}

bool sameTree(const Key& a, const Key& b) {
    if (a.name != b.name || a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()
        || a.isLink != b.isLink || a.hasClass != b.hasClass)
        return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const auto index = b.findValue(a.values[i].name);
        if (index < 0) return false;
        const RawValue& other = b.values[static_cast<std::size_t>(index)];
        if (other.type != a.values[i].type || other.data != a.values[i].data) return false;
    }
    for (std::size_t i = 0; i < a.subkeys.size(); ++i)
        if (!sameTree(*a.subkeys[i], *b.subkeys[i])) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Most inputs should get past the first line, where the interesting parsing is.
    if (size > 0 && (data[0] & 1)) text = std::string(kRegFileMagic) + "\n" + text.substr(1);

    Key first(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(text, first);
    if (!parsed.isRegistryFile) return 0;

    std::string copied;
    std::vector<BlockPlacement> placements;
    serializeRegFile(first, text, parsed.prefixLength, parsed.relativeTo, copied, placements);
    for (const auto& placed : placements)
        if (placed.range.offset + placed.range.length > copied.size()) std::abort();

    markDirty(first);
    std::string rewritten;
    serializeRegFile(first, text, parsed.prefixLength, parsed.relativeTo, rewritten, placements);
    Key second(u"", nullptr, nullptr);
    (void)parseRegFile(rewritten, second);
    if (!sameTree(first, second)) std::abort();
    return 0;
}
