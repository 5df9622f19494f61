#include "registry/RegU.h"

#include <utility>
#include <vector>

namespace quern {

void selectRootByName(reg::RegAccessor& registry, std::string_view name) {
    for (const auto& root : kRootKeys) {
        if (root.name == name) {
            registry.selectRoot(root.handle);
            return;
        }
    }
}

void splitNodePath(const TreeNode* node, std::string& rootName, std::string& subkeyPath) {
    rootName.clear();
    subkeyPath.clear();
    if (!node || node->level() == 0) return;
    std::vector<const TreeNode*> chain;
    for (const TreeNode* n = node; n && n->level() >= 1; n = n->parent())
        chain.push_back(n);
    rootName = chain.back()->text();
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        subkeyPath += '\\';
        subkeyPath += (*it)->text();
    }
}

std::string keyPathOfNode(const TreeNode* node) {
    std::string rootName;
    std::string subkeyPath;
    splitNodePath(node, rootName, subkeyPath);
    return rootName + subkeyPath;
}

bool openKeyPath(reg::RegAccessor& registry, std::string_view path) {
    const auto slash = path.find('\\');
    selectRootByName(registry, path.substr(0, slash));
    const std::string_view subkey = slash == std::string_view::npos ? std::string_view("\\") : path.substr(slash);
    return registry.openKey(subkey);
}

std::string parentPath(std::string_view path) {
    const auto slash = path.rfind('\\');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string pathBelowRoot(std::string_view path) {
    const auto slash = path.find('\\');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(slash + 1));
}

std::string takeFirstComponent(std::string& text) {
    const auto slash = text.find('\\');
    if (slash == std::string::npos) return std::exchange(text, std::string());
    std::string first = text.substr(0, slash);
    text.erase(0, slash + 1);
    return first;
}

} // namespace quern
