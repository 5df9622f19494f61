#pragma once

#include "codec/Utf.h"
#include "registry/TreeNode.h"

#include <QTreeWidgetItem>

#include <string>
#include <string_view>

namespace quern {

// Names and paths as the window shows them, and back: a lone surrogate in a name shows as <U+D800>.
[[nodiscard]] inline QString shownText(std::string_view raw) {
    return QString::fromStdString(reg::escapeLoneSurrogates(raw));
}
[[nodiscard]] inline std::string rawText(const QString& shown) {
    return reg::unescapeLoneSurrogates(shown.toStdString());
}

// An item of the key tree that the core's tree algorithms can walk. "Marked as having children"
// is the item's expand button, shown whether or not its children were read.
class KeyTreeItem final : public QTreeWidgetItem, public TreeNode {
public:
    // The item shows the name; every operation on its key uses the name as the registry lists it.
    explicit KeyTreeItem(std::string name)
        : QTreeWidgetItem(QStringList { shownText(name) })
        , m_name(std::move(name)) { }

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
    [[nodiscard]] std::string nodeText() const override { return m_name; }
    [[nodiscard]] bool markedHasChildren() const override {
        return childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator || childCount() > 0;
    }
    [[nodiscard]] bool nodeExpanded() const override { return isExpanded(); }

private:
    std::string m_name;
};

} // namespace quern
