#include "discover/ConfigTree.h"

namespace quern::discover {

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

const ConfigNode* ConfigNode::child(std::string_view name, bool ignoreCase) const {
    if (kind != Kind::Map) return nullptr;
    for (const auto& node : children)
        if (ignoreCase ? equalIgnoringAsciiCase(node.key, name) : node.key == name) return &node;
    return nullptr;
}

std::string ConfigNode::textOf(std::string_view name, bool ignoreCase) const {
    const ConfigNode* node = child(name, ignoreCase);
    return node && node->isText() ? node->text : std::string();
}

} // namespace quern::discover
