#include "shell/PaneViews.h"

#include "registry/RegU.h"
#include "shell/QuernU.h"
#include "window/KeyTreeItem.h"
#include "window/PaneColours.h"
#include "window/QuernIcons.h"

#include <QPainter>
#include <QTreeWidget>

#include <vector>

namespace quern {

// --- The key tree ---

KeyTreeItem* newTopNode() {
    auto* top = new KeyTreeItem("Local Registry");
    top->setIcon(0, quernIcon(QuernIcon::Computer));
    top->markHasChildren(true);
    return top;
}

void fillTreeNode(reg::RegAccessor& registry, KeyTreeItem& node, bool expanding) {
    std::vector<ChildKey> children;
    if (node.level() == 0) {
        (void)readChildKeys(registry, node, children);
    } else if (!readChildKeys(registry, node, children)) {
        return; // a key that cannot be read keeps its old children
    }
    qDeleteAll(node.takeChildren());
    if (!expanding) {
        node.markHasChildren(!children.empty()); // read again when it is next expanded
        return;
    }
    static const QIcon folder = quernIcon(QuernIcon::Folder);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(children.size()));
    for (const auto& child : children) {
        auto* item = new KeyTreeItem(child.name);
        item->setIcon(0, folder);
        item->markHasChildren(child.hasSubkeys);
        items.push_back(item);
    }
    node.addChildren(items);
}

namespace {

const QTreeWidgetItem* itemFor(const QTreeWidget* tree, const QModelIndex& index) {
    // QTreeWidget keeps its index-to-item mapping to itself; walk the rows from the top.
    std::vector<int> rows;
    for (QModelIndex at = index; at.isValid(); at = at.parent())
        rows.push_back(at.row());
    const QTreeWidgetItem* item = tree->topLevelItem(rows.back());
    for (auto it = rows.rbegin() + 1; item && it != rows.rend(); ++it)
        item = item->child(*it);
    return item;
}

} // namespace

void KeyTreeDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const auto* tree = static_cast<const QTreeWidget*>(option->widget);
    m_form->TreeViewCustomDrawItem(*option, static_cast<const KeyTreeItem*>(itemFor(tree, index)));
}

// --- The value grid ---

void drawGridHeaderCell(
    QPainter& painter, const QRect& rect, const QString& text, const PaneColours& colours, int sortMark) {
    painter.save();
    painter.setClipRect(rect);
    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.left() + rect.width();
    const int bottom = rect.top() + rect.height();
    painter.setPen(colours.headerShadow);
    painter.drawLine(left, bottom - 1, right - 1, bottom - 1);
    painter.drawLine(right - 1, top, right - 1, bottom - 1);
    painter.setPen(colours.headerLight);
    painter.drawLine(left, top, right - 2, top);
    painter.drawLine(left, top, left, bottom - 2);
    const QRect inner(left + 1, top + 1, rect.width() - 2, rect.height() - 2);
    painter.fillRect(inner, colours.headerFace);
    QFont bold = painter.font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(colours.headerText);
    const int markRoom = sortMark != 0 ? 12 : 0;
    painter.drawText(inner.adjusted(4, 1, -markRoom, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    if (sortMark != 0 && inner.width() > 2 * markRoom) {
        // Up for ascending, down for descending, in the text's colour.
        const int x = inner.right() - 9;
        const int y = inner.center().y();
        const QPolygon triangle = sortMark > 0
            ? QPolygon({ QPoint(x, y + 2), QPoint(x + 7, y + 2), QPoint(x + 3, y - 2) })
            : QPolygon({ QPoint(x, y - 2), QPoint(x + 7, y - 2), QPoint(x + 3, y + 2) });
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(colours.headerText);
        painter.drawPolygon(triangle);
    }
    painter.restore();
}

void drawGridValueCell(QPainter& painter, const QRect& rect, int column, const QString& text, const std::string* name,
    bool marked, bool bold, const PaneColours& colours) {
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, marked ? colours.highlight : colours.base);
    if (name) {
        painter.setPen(marked ? colours.highlightedText : colours.text);
        if (column == 0) {
            QFont font = painter.font();
            font.setBold(bold);
            painter.setFont(font);
            painter.drawText(
                rect.adjusted(20, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shownText(*name));
            if (!text.isEmpty()) {
                static const QIcon strings = quernIcon(QuernIcon::Strings);
                static const QIcon binary = quernIcon(QuernIcon::Binary);
                static const QIcon dword = quernIcon(QuernIcon::Dword);
                const QChar kind = text.front();
                const QIcon& icon = kind == QLatin1Char('s') ? strings : kind == QLatin1Char('n') ? dword : binary;
                icon.paint(&painter, QRect(rect.left() + 2, rect.top(), 16, 16));
            }
        } else if (column == 2) {
            // A name cut short says so: 0x and REG_ names differ only at their ends.
            const QRect room = rect.adjusted(2, 1, 0, 0);
            painter.drawText(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                painter.fontMetrics().elidedText(text, Qt::ElideRight, room.width()));
        } else {
            painter.drawText(rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                text.isEmpty() ? QStringLiteral("[ Empty binary data ]") : text);
        }
    }
    painter.restore();
}

void KeyGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    m_form->KeyGridDrawCell(
        *painter, index.column(), index.row() + 1, option.rect, (option.state & QStyle::State_Selected) != 0);
}

void KeyGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    m_form->KeyGridDrawCell(*painter, logicalIndex, 0, rect, false);
}

} // namespace quern
