#pragma once

#include "TestSupport.h"
#include "registry/RegU.h"
#include "selection/TreeSelection.h"
#include "wine/WinePrefixStore.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quern::test {

// A registry in a temporary folder and a plain tree of all of it, every node loaded, as the
// window's tree would be with every key expanded.
class SelectionWorld {
    // Declared first, so that they go last: the accessor and the set below use the store.
    TempDir m_dir;
    std::unique_ptr<reg::WinePrefixStore> m_store;

public:
    SelectionWorld() {
        m_store = openTestRegistry(m_dir / "registry");
        registry = std::make_unique<reg::RegAccessor>(*m_store);
        selection = std::make_unique<TTreeSel>(registry->store());
    }

    // Makes keys (paths below HKEY_CURRENT_USER) and values ("Key\\Name") in one write.
    void make(const std::vector<std::string>& paths) {
        reg::WriteBatch batch(*m_store);
        registry->selectRoot(reg::kCurrentUser);
        for (const auto& path : paths) {
            std::string key;
            std::string value;
            SplitValuePath(path, key, value);
            registry->createKey("\\" + key);
            if (IsValuePath(path)) {
                registry->openKey("\\" + key);
                registry->writeString(value, "x");
            }
        }
        (void)batch.finish();
    }

    // Reads the whole tree again from the registry.
    void load() {
        top = std::make_unique<PlainTreeNode>("Local Registry");
        std::function<void(PlainTreeNode*)> fill = [&](PlainTreeNode* node) {
            std::vector<ChildKey> children;
            if (!readChildKeys(*registry, *node, children)) return;
            for (const auto& child : children) {
                PlainTreeNode* added = node->add(child.name);
                added->setHasChildren(child.hasSubkeys);
                // The roots other than the current user hold the base keys only; reading them is enough.
                if (child.hasSubkeys) fill(added);
            }
            node->setExpanded(true);
        };
        fill(top.get());
    }

    // The node of a key path ("" is the top node), or null.
    [[nodiscard]] const TreeNode* node(const std::string& path) const {
        const TreeNode* at = top.get();
        std::string rest = path;
        while (!rest.empty()) {
            const std::string name = takeFirstComponent(rest);
            const TreeNode* next = nullptr;
            for (std::size_t i = 0; i < at->childNodeCount() && !next; ++i)
                if (at->childNode(i)->nodeText() == name) next = at->childNode(i);
            if (!next) return nullptr;
            at = next;
        }
        return at;
    }

    [[nodiscard]] SelState state(const std::string& path) const { return selection->StateOfPath(path); }
    [[nodiscard]] const std::vector<std::string>& entries() const { return selection->Entries(); }

    std::unique_ptr<reg::RegAccessor> registry;
    std::unique_ptr<TTreeSel> selection;
    std::unique_ptr<PlainTreeNode> top;
};

} // namespace quern::test
