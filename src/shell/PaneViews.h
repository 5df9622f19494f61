#pragma once

#include "registry/RegAccessor.h"

#include <QHeaderView>
#include <QStyledItemDelegate>

#include <string>

class QPainter;
class QTreeWidget;

namespace quern {

class KeyTreeItem;
class TMainForm;
struct PaneColours;

// How the key tree and the value grid of the main window look; the window keeps their state.

// --- The key tree ---

// The tree's top node, "Local Registry", with its computer icon and an expand button.
[[nodiscard]] KeyTreeItem* newTopNode();

// Reads the node's children anew, as an expansion does; with expanding false (a collapse) it only
// drops them and keeps the expand button. A key that cannot be read keeps the children it had.
void fillTreeNode(reg::RegAccessor& registry, KeyTreeItem& node, bool expanding);

// The tree's items take their font and colours from the window's TreeViewCustomDrawItem.
class KeyTreeDelegate final : public QStyledItemDelegate {
public:
    KeyTreeDelegate(const TMainForm* form, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_form(form) { }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    const TMainForm* m_form;
};

// --- The value grid ---

// A raised header cell: dark lines bottom and right, white top and left, silver inside, bold text
// (in the classic colours). sortMark: a small triangle at the right end, pointing up (1) or down
// (-1), for the column the user sorted by; 0 for none.
void drawGridHeaderCell(
    QPainter& painter, const QRect& rect, const QString& text, const PaneColours& colours, int sortMark = 0);

// A value cell. Column 0 gets the name (bold when selected) after the icon of the kind letter
// that text starts with; column 1 the data, or "[ Empty binary data ]" for none; column 2 the
// type. No name: the blank row of a key without values, only its background. marked: drawn
// highlighted.
void drawGridValueCell(QPainter& painter, const QRect& rect, int column, const QString& text, const std::string* name,
    bool marked, bool bold, const PaneColours& colours);

// The grid draws every cell itself, through the window's KeyGridDrawCell.
class KeyGridDelegate final : public QStyledItemDelegate {
public:
    KeyGridDelegate(TMainForm* form, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_form(form) { }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    TMainForm* m_form;
};

// The header row is the grid's row 0, drawn by the same rule as every other cell.
class KeyGridHeader final : public QHeaderView {
public:
    KeyGridHeader(TMainForm* form, QWidget* parent)
        : QHeaderView(Qt::Horizontal, parent)
        , m_form(form) { }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    TMainForm* m_form;
};

} // namespace quern
