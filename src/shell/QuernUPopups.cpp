// The panes' popup menus and the items that get around: Copy key path, Go to path, Favourites.
// The popups' first items are the panes' New commands; what follows runs the same commands as the
// menu bar, on the node or value the user clicked.
#include "shell/QuernU.h"

#include "editor/EditCommands.h"
#include "editor/KeyCommands.h"
#include "navigate/FavouriteCommands.h"
#include "navigate/PathCommands.h"
#include "window/KeyTreeItem.h"

#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTreeWidget>

namespace quern {

namespace {

QAction* popupItem(
    QMenu* menu, const QString& caption, const char* name, QObject* context, const std::function<void()>& handler) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    QObject::connect(action, &QAction::triggered, context, handler);
    return action;
}

} // namespace

void TMainForm::buildNavigationItems() {
    EditMNU->addSeparator();
    QAction* copyPath
        = addItem(EditMNU, QStringLiteral("Copy key &path"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
            QStringLiteral("Copy the path of the selected key (and value) to the clipboard"));
    copyPath->setObjectName(QStringLiteral("CopyKeyPathMNU"));
    connect(copyPath, &QAction::triggered, this, [this] { runCopyKeyPath(*this); });
    QAction* goTo = addItem(EditMNU, QStringLiteral("&Go to path..."), QKeySequence(Qt::CTRL | Qt::Key_G),
        QStringLiteral("Go to a key path typed or pasted in any common form"));
    goTo->setObjectName(QStringLiteral("GoToPathMNU"));
    connect(goTo, &QAction::triggered, this, [this] { runGoToPath(*this); });

    QMenu* favourites = new QMenu(QStringLiteral("F&avourites"), this);
    favourites->setObjectName(QStringLiteral("FavouritesMNU"));
    menuBar()->insertMenu(HelpMNU->menuAction(), favourites);
    connect(favourites, &QMenu::aboutToShow, this, [this, favourites] { fillFavouritesMenu(*this, *favourites); });
    fillFavouritesMenu(*this, *favourites);
}

void TMainForm::buildTreePopup() {
    TreePopupMenu->addSeparator();
    QAction* expand = popupItem(TreePopupMenu, QStringLiteral("E&xpand"), "ExpandPMNU", this, [this] {
        if (QTreeWidgetItem* item = TreeView->currentItem()) item->setExpanded(!item->isExpanded());
    });
    popupItem(TreePopupMenu, QStringLiteral("&Find..."), "FindPMNU", this, [this] { SearchMNUClick(); });
    TreePopupMenu->addSeparator();
    QAction* rename = popupItem(TreePopupMenu, QStringLiteral("&Rename"), "RenameKeyPMNU", this, [this] {
        TreeView->setFocus();
        runRenameKey(*this);
    });
    QAction* remove = popupItem(TreePopupMenu, QStringLiteral("&Delete"), "DeleteKeyPMNU", this, [this] {
        TreeView->setFocus();
        DeleteMNUClick();
    });
    QAction* exportItem
        = popupItem(TreePopupMenu, QStringLiteral("&Export..."), "ExportPMNU", this, [this] { REGExportMNUClick(); });
    TreePopupMenu->addSeparator();
    QAction* copyPath = popupItem(
        TreePopupMenu, QStringLiteral("Copy key &path"), "CopyKeyPathPMNU", this, [this] { runCopyKeyPath(*this); });
    QAction* favourite = popupItem(TreePopupMenu, QStringLiteral("Add to f&avourites..."), "AddFavouritePMNU", this,
        [this] { runAddFavourite(*this); });
    connect(TreePopupMenu, &QMenu::aboutToShow, this, [=, this] {
        const QTreeWidgetItem* item = TreeView->currentItem();
        const int level = item ? static_cast<const KeyTreeItem*>(item)->level() : 0;
        expand->setText(item && item->isExpanded() ? QStringLiteral("Colla&pse") : QStringLiteral("E&xpand"));
        expand->setEnabled(
            item && (item->childCount() > 0 || item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator));
        rename->setEnabled(level >= 2); // a root key keeps its name
        remove->setEnabled(level >= 2);
        for (QAction* action : { exportItem, copyPath, favourite })
            action->setEnabled(level >= 1);
    });
    connect(TreeView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // The popup acts on the key clicked, as the user sees it: that key is selected first.
        if (QTreeWidgetItem* item = TreeView->itemAt(at)) {
            TreeView->setCurrentItem(item);
            flushTreeChange();
        }
        TreeView->setFocus();
        TreePopupMenu->popup(TreeView->viewport()->mapToGlobal(at));
    });
}

void TMainForm::buildGridPopup() {
    QMenu* newOfType = GridPopupMenu->addMenu(QStringLiteral("New &of type"));
    newOfType->setObjectName(QStringLiteral("NewOfTypePMNU"));
    const std::pair<const char*, std::uint32_t> types[]
        = { { "&String value", reg::kRegSz }, { "&DWORD (32-bit) value", reg::kRegDword },
              { "&QWORD (64-bit) value", reg::kRegQword }, { "&Binary value", reg::kRegBinary },
              { "&Multi-string value", reg::kRegMultiSz }, { "&Expandable string value", reg::kRegExpandSz } };
    for (const auto& [caption, type] : types)
        connect(newOfType->addAction(QString::fromLatin1(caption)), &QAction::triggered, this,
            [this, type] { newValueOfType(*this, type); });
    GridPopupMenu->addSeparator();
    QAction* modify
        = popupItem(GridPopupMenu, QStringLiteral("&Modify..."), "ModifyPMNU", this, [this] { ModifyMNUClick(); });
    QAction* modifyBinary = popupItem(GridPopupMenu, QStringLiteral("Modify &binary data..."), "ModifyBinaryPMNU", this,
        [this] { runModifyBinary(*this); });
    QAction* rename
        = popupItem(GridPopupMenu, QStringLiteral("&Rename..."), "RenameValuePMNU", this, [this] { ModifyMNUClick(); });
    QAction* remove
        = popupItem(GridPopupMenu, QStringLiteral("&Delete"), "DeleteValuePMNU", this, [this] { DeleteMNUClick(); });
    GridPopupMenu->addSeparator();
    QAction* copyName = popupItem(GridPopupMenu, QStringLiteral("Copy value &name"), "CopyValueNamePMNU", this,
        [this] { runCopyValueName(*this); });
    QAction* copyData = popupItem(GridPopupMenu, QStringLiteral("Copy value d&ata"), "CopyValueDataPMNU", this,
        [this] { runCopyValueData(*this); });
    connect(GridPopupMenu, &QMenu::aboutToShow, this, [=, this] {
        const int row = KeyGrid->currentIndex().row();
        const bool onValue = row >= 0 && static_cast<std::size_t>(row) < valueRows().size();
        for (QAction* action : { modify, modifyBinary, rename, remove, copyName, copyData })
            action->setEnabled(onValue);
    });
    connect(KeyGrid, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // A click on a row outside the highlighted ones makes it the one the popup acts on; within
        // them, the highlight stays, so that Delete takes them all.
        const QModelIndex index = KeyGrid->indexAt(at);
        if (index.isValid() && !KeyGrid->selectionModel()->isRowSelected(index.row(), {})) {
            KeyGrid->setCurrentIndex(index);
            KeyGrid->selectRow(index.row());
        } else if (index.isValid()) {
            KeyGrid->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        }
        KeyGrid->setFocus();
        GridPopupMenu->popup(KeyGrid->viewport()->mapToGlobal(at));
    });
}

} // namespace quern
