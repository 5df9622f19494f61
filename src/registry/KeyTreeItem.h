#pragma once

#include "registry/TreeNode.h"

#include <QTreeWidgetItem>

namespace quern {

// An item of the key tree that the core's tree algorithms can walk. "Marked as having children"
// is the item's expand button, shown whether or not its children were read.
class KeyTreeItem final : public QTreeWidgetItem, public TreeNode {
public:
    explicit KeyTreeItem(const QString& name)
        : QTreeWidgetItem(QStringList { name }) { }

    void markHasChildren(bool mark) {
        setChildIndicatorPolicy(
            mark ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }

    [[nodiscard]] int level() const override {
        int depth = 0;
        for (const QTreeWidgetItem* item = QTreeWidgetItem::parent(); item; item = item->parent())
            ++depth;
        return depth;
    }
    [[nodiscard]] TreeNode* parentNode() const override { return static_cast<KeyTreeItem*>(QTreeWidgetItem::parent()); }
    [[nodiscard]] std::size_t childNodeCount() const override { return static_cast<std::size_t>(childCount()); }
    [[nodiscard]] TreeNode* childNode(std::size_t index) const override {
        return static_cast<KeyTreeItem*>(child(static_cast<int>(index)));
    }
    [[nodiscard]] std::string nodeText() const override { return text(0).toStdString(); }
    [[nodiscard]] bool markedHasChildren() const override {
        return childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator || childCount() > 0;
    }
    [[nodiscard]] bool nodeExpanded() const override { return isExpanded(); }
};

} // namespace quern
