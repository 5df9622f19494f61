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
    // The names differ from those of the toolkit's tree items, so that one class can be both.
    [[nodiscard]] virtual int level() const = 0; // the top node is 0, the root keys 1
    [[nodiscard]] virtual TreeNode* parentNode() const = 0;
    [[nodiscard]] virtual std::size_t childNodeCount() const = 0;
    [[nodiscard]] virtual TreeNode* childNode(std::size_t index) const = 0;
    [[nodiscard]] virtual std::string nodeText() const = 0; // the key's name as the registry lists it
    [[nodiscard]] virtual bool markedHasChildren() const = 0; // shows an expand button, loaded or not
    [[nodiscard]] virtual bool nodeExpanded() const = 0;
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

    void clearChildren() { m_children.clear(); }

    [[nodiscard]] int level() const override { return m_parent ? m_parent->level() + 1 : 0; }
    [[nodiscard]] TreeNode* parentNode() const override { return m_parent; }
    [[nodiscard]] std::size_t childNodeCount() const override { return m_children.size(); }
    [[nodiscard]] TreeNode* childNode(std::size_t index) const override { return m_children.at(index).get(); }
    [[nodiscard]] std::string nodeText() const override { return m_text; }
    [[nodiscard]] bool markedHasChildren() const override { return m_hasChildren || !m_children.empty(); }
    [[nodiscard]] bool nodeExpanded() const override { return m_expanded; }
    [[nodiscard]] PlainTreeNode* plainChild(std::size_t index) const { return m_children.at(index).get(); }

private:
    std::string m_text;
    PlainTreeNode* m_parent;
    std::vector<std::unique_ptr<PlainTreeNode>> m_children;
    bool m_expanded = false;
    bool m_hasChildren = false;
};

} // namespace quern
