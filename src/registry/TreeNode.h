#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quern {

// A node of the key tree as the core sees it. The window adapts its tree items to this, and tests
// build plain trees of PlainTreeNode, so that everything that works on tree nodes is tested
// without a display.
class TreeNode {
public:
    virtual ~TreeNode() = default;
    [[nodiscard]] virtual int level() const = 0; // the top node is 0, the root keys 1
    [[nodiscard]] virtual TreeNode* parent() const = 0;
    [[nodiscard]] virtual std::size_t childCount() const = 0;
    [[nodiscard]] virtual TreeNode* child(std::size_t index) const = 0;
    [[nodiscard]] virtual std::string text() const = 0; // the key's name as the registry lists it
    [[nodiscard]] virtual bool hasChildren() const = 0; // marked as having children, loaded or not
    [[nodiscard]] virtual bool expanded() const = 0;
};

// A tree node that owns its children.
class PlainTreeNode final : public TreeNode {
public:
    explicit PlainTreeNode(std::string text, PlainTreeNode* parent = nullptr)
        : m_text(std::move(text))
        , m_parent(parent) { }

    PlainTreeNode* add(std::string text) {
        m_children.push_back(std::make_unique<PlainTreeNode>(std::move(text), this));
        return m_children.back().get();
    }
    void setExpanded(bool expanded) { m_expanded = expanded; }
    void setHasChildren(bool hasChildren) { m_hasChildren = hasChildren; }

    [[nodiscard]] int level() const override { return m_parent ? m_parent->level() + 1 : 0; }
    [[nodiscard]] TreeNode* parent() const override { return m_parent; }
    [[nodiscard]] std::size_t childCount() const override { return m_children.size(); }
    [[nodiscard]] TreeNode* child(std::size_t index) const override { return m_children.at(index).get(); }
    [[nodiscard]] std::string text() const override { return m_text; }
    [[nodiscard]] bool hasChildren() const override { return m_hasChildren || !m_children.empty(); }
    [[nodiscard]] bool expanded() const override { return m_expanded; }

private:
    std::string m_text;
    PlainTreeNode* m_parent;
    std::vector<std::unique_ptr<PlainTreeNode>> m_children;
    bool m_expanded = false;
    bool m_hasChildren = false;
};

} // namespace quern
