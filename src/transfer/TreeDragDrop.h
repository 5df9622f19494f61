#pragma once

#include <QObject>
#include <QPoint>

class QTreeWidget;
class QTreeWidgetItem;

namespace quern {

class CommandWindow;

// Drag and drop of keys in the tree: a key dragged onto another key, in this tree or in another
// tab's, is pasted there as Edit > Paste would (its list of changes first, one change for Undo);
// with Shift held it moves, within one registry (between two it copies, and says so). The drop
// takes what the drag carries: the same note of registry and key the clipboard gets, so a drag
// from another program's .reg text works as a paste of it too.
class TreeDragDrop final : public QObject {
    Q_OBJECT

public:
    TreeDragDrop(CommandWindow& window, QTreeWidget& tree);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    [[nodiscard]] QTreeWidgetItem* keyAt(const QPoint& position) const; // a key below a root, or null
    void startDrag();

    CommandWindow& m_window;
    QTreeWidget& m_tree;
    QPoint m_pressedAt;
    QTreeWidgetItem* m_pressed = nullptr;
};

} // namespace quern
