#include "transfer/TreeDragDrop.h"

#include "registry/RegU.h"
#include "transfer/ClipboardCommands.h"
#include "transfer/ClipboardPayload.h"
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

namespace quern {

namespace {

bool carriesKeys(const QMimeData* data) {
    return data
        && (data->hasFormat(QString::fromLatin1(kClipboardMimeType)) || looksLikeRegFile(data->text().toStdString()));
}

} // namespace

TreeDragDrop::TreeDragDrop(CommandWindow& window, QTreeWidget& tree)
    : QObject(&tree)
    , m_window(window)
    , m_tree(tree) {
    tree.viewport()->setAcceptDrops(true);
    tree.viewport()->installEventFilter(this);
}

QTreeWidgetItem* TreeDragDrop::keyAt(const QPoint& position) const {
    QTreeWidgetItem* item = m_tree.itemAt(position);
    // The top node is the registry itself: nothing is pasted into it, nor dragged from it.
    return item && item->parent() ? item : nullptr;
}

void TreeDragDrop::startDrag() {
    const std::string path = keyPathOfNode(static_cast<KeyTreeItem*>(m_pressed));
    m_pressed = nullptr;
    if (path.find('\\') == std::string::npos) return; // a root key stays where it is
    auto* drag = new QDrag(&m_tree);
    drag->setMimeData(keyMimeData(m_window, path, false));
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool TreeDragDrop::eventFilter(QObject* /*watched*/, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        m_pressed = mouse->button() == Qt::LeftButton ? keyAt(mouse->position().toPoint()) : nullptr;
        m_pressedAt = mouse->position().toPoint();
        return false;
    }
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_pressed && (mouse->buttons() & Qt::LeftButton)
            && (mouse->position().toPoint() - m_pressedAt).manhattanLength() >= QApplication::startDragDistance()) {
            startDrag();
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease:
        m_pressed = nullptr;
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!carriesKeys(drag->mimeData()) || !keyAt(drag->position().toPoint())) {
            drag->ignore();
            return true;
        }
        drag->setDropAction(drag->modifiers() & Qt::ShiftModifier ? Qt::MoveAction : Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        QTreeWidgetItem* target = keyAt(drop->position().toPoint());
        if (!target || !carriesKeys(drop->mimeData())) return true;
        // What the drop carries is kept, and the paste runs once the drag has ended: its list of
        // changes is a dialog of its own, which must not run inside the drag.
        auto data = std::make_shared<QMimeData>();
        for (const QString& format : drop->mimeData()->formats())
            data->setData(format, drop->mimeData()->data(format));
        const bool move = drop->modifiers() & Qt::ShiftModifier;
        const std::string path = keyPathOfNode(static_cast<KeyTreeItem*>(target));
        drop->setDropAction(Qt::CopyAction); // the paste moves, if it does, not the drag
        drop->accept();
        QTimer::singleShot(0, &m_tree, [this, data, move, path] {
            m_window.goToKeyPath(path);
            m_window.flushTreeChange();
            pasteData(m_window, *data, move);
        });
        return true;
    }
    default:
        return false;
    }
}

} // namespace quern
