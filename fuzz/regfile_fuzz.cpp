// Feeds arbitrary bytes to the registry file reader. A file Quern may write must read back the
// same, as wineserver would read it, whether its blocks are copied as they stood or all written
// anew: the same keys and values, the same values left empty by kept lines, the same blocks that
// belong to no key. A copy of a copy is the copy.

#include "codec/Utf.h"
#include "wine/WineRegFile.h"

#include <algorithm>
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

std::vector<std::u16string> emptiedNames(const Key& key) {
    std::vector<std::u16string> names;
    if (key.extra)
        for (const KeptLine& line : key.extra->kept)
            if (line.namesValue && !line.overridden) {
                std::u16string folded = line.valueName;
                for (auto& unit : folded)
                    unit = foldUnit(unit);
                names.push_back(folded);
            }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> unreadBlocks(const Key& root) {
    std::vector<std::string> blocks;
    if (root.extra)
        for (const auto& block : root.extra->unreadBlocks) {
            std::string text = block.text;
            if (!text.empty() && text.back() != '\n') text.push_back('\n');
            blocks.push_back(std::move(text));
        }
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

bool sameTree(const Key& a, const Key& b) {
    if (a.name != b.name || a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()
        || a.isLink != b.isLink || a.hasClass != b.hasClass || emptiedNames(a) != emptiedNames(b))
        return false;
    if (a.hasClass && a.extra->className != b.extra->className) return false;
    for (const RawValue& value : a.values) {
        const auto index = b.findValue(value.name);
        if (index < 0) return false;
        const RawValue& other = b.values[static_cast<std::size_t>(index)];
        if (other.type != value.type || other.data != value.data) return false;
    }
    for (std::size_t i = 0; i < a.subkeys.size(); ++i)
        if (!sameTree(*a.subkeys[i], *b.subkeys[i])) return false;
    return true;
}

bool readsBackTheSame(const Key& root, const std::string& written) {
    Key again(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(written, again);
    if (!parsed.isRegistryFile || !parsed.writeRefused.empty() || !sameTree(root, again)) return false;
    // A block that belongs to no key may come first, before any key Wine reads: it is read back as
    // part of the header then, which Wine reads alike.
    std::vector<std::string> found = unreadBlocks(again);
    const std::string_view header = std::string_view(written).substr(0, parsed.prefixLength);
    for (const std::string& block : unreadBlocks(root)) {
        const auto at = std::find(found.begin(), found.end(), block);
        if (at != found.end())
            found.erase(at);
        else if (header.find(std::string_view(block).substr(0, block.size() - 1)) == std::string_view::npos)
            return false;
    }
    return found.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Most inputs should get past the first line, where the interesting parsing is.
    if (size > 0 && (data[0] & 1)) text = std::string(kRegFileMagic) + "\n" + text.substr(1);

    Key first(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(text, first);
    // A file Wine would read differently once written is never written.
    if (!parsed.isRegistryFile || !parsed.writeRefused.empty()) return 0;

    std::string copied;
    std::vector<BlockPlacement> placements;
    const std::uint64_t header
        = serializeRegFile(first, text, parsed.prefixLength, parsed.relativeTo, copied, placements);
    if (header > copied.size()) std::abort();
    for (const auto& placed : placements)
        if (placed.range.offset + placed.range.length > copied.size()) std::abort();
    if (!readsBackTheSame(first, copied)) std::abort();

    // Written again from the copy, as a running store does: nothing moves.
    for (const auto& placed : placements) {
        placed.key->source = placed.range;
        placed.key->merged = false;
    }
    std::string again;
    (void)serializeRegFile(first, copied, header, parsed.relativeTo, again, placements);
    if (again != copied) std::abort();

    markDirty(first);
    std::string rewritten;
    (void)serializeRegFile(first, text, parsed.prefixLength, parsed.relativeTo, rewritten, placements);
    if (!readsBackTheSame(first, rewritten)) std::abort();
    return 0;
}
