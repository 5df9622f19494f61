#include "registry/RegU.h"

#include "registry/GridOrder.h"

#include "codec/Utf.h"
#include "codec/ValueText.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quern {

std::string shownKeyPath(std::string_view path) {
    std::string shown;
    shown.reserve(path.size());
    for (char c : reg::escapeLoneSurrogates(path)) {
        if (c == '\r')
            shown += "\xE2\x90\x8D"; // U+240D
        else if (c == '\n')
            shown += "\xE2\x90\x8A"; // U+240A
        else
            shown.push_back(c);
    }
    return shown;
}

bool selectRootByName(reg::RegAccessor& registry, std::string_view name) {
    for (const auto& root : kRootKeys) {
        if (root.name == name) {
            registry.selectRoot(root.handle);
            return true;
        }
    }
    return false;
}

void splitNodePath(const TreeNode* node, std::string& rootName, std::string& subkeyPath) {
    rootName.clear();
    subkeyPath.clear();
    if (!node || node->level() == 0) return;
    std::vector<const TreeNode*> chain;
    for (const TreeNode* n = node; n && n->level() >= 1; n = n->parentNode())
        chain.push_back(n);
    rootName = chain.back()->nodeText();
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        subkeyPath += '\\';
        subkeyPath += (*it)->nodeText();
    }
}

std::string keyPathOfNode(const TreeNode* node) {
    std::string rootName;
    std::string subkeyPath;
    splitNodePath(node, rootName, subkeyPath);
    return rootName + subkeyPath;
}

bool openKeyPath(reg::RegAccessor& registry, std::string_view path, reg::Access access) {
    const auto slash = path.find('\\');
    // The rest of the path would otherwise be opened below whichever root was current: an entry
    // naming HKLM\Software would export HKEY_CURRENT_USER\Software under the wrong name.
    if (!selectRootByName(registry, path.substr(0, slash))) return false;
    const std::string_view subkey = slash == std::string_view::npos ? std::string_view("\\") : path.substr(slash);
    return access == reg::Access::Full ? registry.openKey(subkey) : registry.openKeyReadOnly(subkey);
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

bool readChildKeys(reg::RegAccessor& registry, const TreeNode& node, std::vector<ChildKey>& children) {
    children.clear();
    if (node.level() == 0) {
        for (const auto& root : kRootKeys)
            children.push_back({ std::string(root.name), true });
        return true;
    }
    std::string rootName;
    std::string subkeyPath;
    splitNodePath(&node, rootName, subkeyPath);
    if (!selectRootByName(registry, rootName)) return false;
    if (!registry.openKeyReadOnly(subkeyPath.empty() ? std::string("\\") : subkeyPath)) return false;
    std::vector<std::string> names;
    registry.getKeyNames(names);
    std::sort(names.begin(), names.end(), nameLess);
    children.reserve(names.size());
    std::string childPath = subkeyPath + "\\";
    const std::size_t base = childPath.size();
    for (auto& name : names) {
        childPath.resize(base);
        childPath += name;
        // A subkey that does not open for reading is left out of the tree.
        if (!registry.openKeyReadOnly(childPath)) continue;
        children.push_back({ std::move(name), registry.hasSubKeys() });
    }
    return true;
}

void goToPath(TreeNavigator& tree, std::string text) {
    TreeNode* cursor = tree.topNode();
    if (!cursor) return;
    if (cursor->childNodeCount() == 0) tree.expandNode(cursor);
    if (!text.empty() && text.back() != '\\') text += '\\';
    while (!text.empty()) {
        const std::string component = reg::upperAscii(takeFirstComponent(text));
        TreeNode* match = nullptr;
        for (std::size_t i = 0; i < cursor->childNodeCount() && !match; ++i)
            if (reg::upperAscii(cursor->childNode(i)->nodeText()) == component) match = cursor->childNode(i);
        if (!match) break;
        cursor = match;
        if (!cursor->nodeExpanded()) tree.expandNode(cursor);
    }
    if (tree.selectedNode() != cursor) tree.selectNode(cursor);
}

char kindLetter(reg::ValueKind kind) {
    switch (kind) {
    case reg::ValueKind::String:
    case reg::ValueKind::ExpandString:
        return 's';
    case reg::ValueKind::Integer:
        return 'n';
    default:
        return 'b';
    }
}

void renderRow(ValueRow& row, int binaryMode, int dwordMode, GridTexts texts) {
    row.kind = kindLetter(reg::kindOfType(row.type));
    row.text = texts == GridTexts::Readable ? readableGridText(row.type, row.data, binaryMode, dwordMode)
                                            : gridText(row.type, row.data, binaryMode, dwordMode);
}

void fillGridRows(reg::RegAccessor& registry, const TreeNode* node, int binaryMode, int dwordMode,
    std::vector<ValueRow>& rows, GridTexts texts, RowOrder order) {
    rows.clear();
    if (!node || node->level() == 0) return;
    std::string rootName;
    std::string subkeyPath;
    splitNodePath(node, rootName, subkeyPath);
    if (!selectRootByName(registry, rootName)) return;
    const std::string path = subkeyPath.empty() ? std::string("\\") : subkeyPath;
    if (!registry.openKey(path) && !registry.openKeyReadOnly(path)) return;
    // One pass over the values reads each name, type and bytes together, so a row's letter and
    // text always describe the same data.
    std::u16string name;
    for (std::uint32_t index = 0;; ++index) {
        ValueRow row;
        if (!registry.store().enumValue(registry.currentKey(), index, name, &row.type, &row.data).ok()) break;
        row.name = reg::toUtf8(name);
        renderRow(row, binaryMode, dwordMode, texts);
        rows.push_back(std::move(row));
    }
    // By name, the default value first: the grid's own order, sorted through an index so that a key
    // of 100,000 values moves each row once.
    if (order == RowOrder::ByName) sortValueRows(rows, GridSort {}, dwordMode);
}

ValueRow renderValue(reg::RegAccessor& registry, const std::string& name, int binaryMode, int dwordMode) {
    ValueRow row;
    if (!registry.store().queryValue(registry.currentKey(), reg::toUtf16(name), row.type, row.data).ok()) {
        row.type = reg::kRegNone;
        row.data.clear();
    }
    row.name = name;
    renderRow(row, binaryMode, dwordMode);
    return row;
}

} // namespace quern
