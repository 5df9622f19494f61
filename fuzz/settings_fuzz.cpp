// Feeds arbitrary bytes to the three readers of the launchers' settings files: Valve's KeyValues,
// YAML and JSON. Beyond crashes and hangs, it checks what every caller relies on: a file that is
// read gives a tree within the depth limit, and one that is refused says why (KeyValues: on which
// line).

#include "discover/JsonReader.h"
#include "discover/KeyValues.h"
#include "discover/YamlReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace quern::discover;

namespace {

int depthOf(const ConfigNode& node) {
    int deepest = 0;
    for (const auto& child : node.children)
        deepest = std::max(deepest, depthOf(child));
    return node.children.empty() ? 0 : deepest + 1;
}

void check(const quern::reg::Status& read, const ConfigNode& root, bool namesLine) {
    if (read.ok() && depthOf(root) > kMaxConfigDepth + 1) std::abort();
    if (!read.ok() && (read.message().empty() || (namesLine && !read.message().starts_with("line ")))) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ConfigNode root;
    check(parseKeyValues(text, root), root, true);
    check(parseYaml(text, root), root, false);
    check(parseJson(text, root), root, false);
    return 0;
}
