#include "shell/QuernU.h"

#include "codec/ValueText.h"
#include "discover/RegistryPlace.h"
#include "editor/EditCommands.h"
#include "editor/KeyCommands.h"
#include "export/ExportCommand.h"
#include "search/SearchCommands.h"
#include "search/SearchHitsPane.h"
#include "selection/SelectionCommands.h"
#include "shell/AboutU.h"
#include "shell/GridViewOptions.h"
#include "shell/HelpU.h"
#include "shell/HiveCommands.h"
#include "shell/KeyDetailsPart.h"
#include "shell/PaneViews.h"
#include "shell/QuernSettings.h"
#include "shell/RegistryNotice.h"
#include "shell/ValueGridModel.h"
#include "window/KeyTreeItem.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>

namespace quern {

namespace {

bool within(const QWidget* widget, const QWidget* container) {
    return widget && container && (widget == container || container->isAncestorOf(widget));
}

// The menu bar takes the keyboard while the user walks the menus (Alt, or Alt with a letter); it
// borrows the focus, and the keys it gets are the menus' own.
bool isMenuWidget(const QObject* widget) {
    return qobject_cast<const QMenuBar*>(widget) || qobject_cast<const QMenu*>(widget);
}

// The widest the status bar's registry label grows: with hives loaded it names several files,
// and takes up to half the window for them.
int locationWidth(reg::RegStore& store, int windowWidth) {
    return hivesLoaded(store) ? std::max(320, windowWidth / 2) : 320;
}

// The programs that keep a prefix read-only, named so that the user knows what to close. Empty
// for a registry that is no prefix, or when none is found.
QString programsHolding(reg::RegStore& store) {
    const std::string folder = store.location();
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) return {};
    const discover::FoundRegistry found = discover::lookAtPrefix(folder, discover::processEnvironment());
    const std::string programs = discover::programsSentence(found);
    return programs.empty() ? QString()
                            : QStringLiteral("Running in it now: %1.").arg(QString::fromStdString(programs));
}

} // namespace

TMainForm::TMainForm(reg::RegStore& store, QWidget* parent, FormOptions options)
    : QMainWindow(parent)
    , m_store(store)
    , m_options(std::move(options)) {
    // A main window is a window of its own even with a parent; as a tab it is a widget in it.
    if (parent) setWindowFlags(Qt::Widget);
    if (m_options.sharedPreferences) m_preferences = m_options.sharedPreferences;
    buildControls();
    buildMenus();
    FormCreate();
}

TMainForm::~TMainForm() {
    // The base destructor still moves the focus; nothing of this class may hear of it by then.
    disconnect(qApp, nullptr, this, nullptr);
    qApp->removeEventFilter(this);
    if (m_registry) FormClose();
}

void TMainForm::FormCreate() {
    (void)checkHelpFile(this);
    BinViewMode = kBytesCharacters;
    DWViewMode = kDwordDecimal;
    {
        QuernIniFile settings(quernSettingsFileToRead());
        readSettings(*this, settings);
    }
    if (!m_options.sharedPreferences) {
        m_ownPreferences = Preferences(quernPreferencesFileName());
        if (const reg::Status loaded = m_ownPreferences.load(); !loaded.ok())
            statusBar()->showMessage(QString::fromStdString(loaded.message()));
    }
    m_gridView->load();
    SelectBvm();
    SelectIvm();
    m_registry = std::make_unique<reg::RegAccessor>(m_store);
    m_selection = std::make_unique<TTreeSel>(m_store);
    m_selection->repaintTree = [this] { TreeView->viewport()->update(); };
    initialiseTree();
    m_gridModel->setHeaderText(0, QStringLiteral("Name"));
    m_gridModel->setHeaderText(1, QStringLiteral("Data"));
    m_searchState = SearchState {}; // no expression; keys, value names and data all searched
    m_startupNavigation = true;
    PathEditChange();
    m_startupNavigation = false;
    TreeView->setFocus();
    updateReadOnlyNotice();
}

void TMainForm::preferencesChanged() {
    if (const reg::Status saved = m_preferences->save(); !saved.ok())
        statusBar()->showMessage(QString::fromStdString(saved.message()));
}

void TMainForm::showStatusMessage(const QString& text) {
    statusBar()->showMessage(text);
}

reg::RegStore* TMainForm::openRegistryAt(const std::string& location) {
    if (location == m_store.location()) return &m_store;
    return m_options.findRegistry ? m_options.findRegistry(location) : nullptr;
}

bool TMainForm::hasSelectionShown() const {
    return !Memo->toPlainText().isEmpty();
}

bool TMainForm::FormCloseQuery() {
    if (Memo->toPlainText().isEmpty()) return true;
    return QMessageBox::question(this, QStringLiteral("Confirm"), QStringLiteral("Exit program, are you sure ?"),
               QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

void TMainForm::FormClose() {
    m_changeTimer->stop();
    m_gridModel->setRows({});
    m_registry.reset();
    if (m_keepsSettings) {
        QuernIniFile settings(quernSettingsFileName());
        writeSettings(*this, settings);
    }
    m_selection.reset();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (m_locationLabel) m_locationLabel->setMaximumWidth(locationWidth(m_store, width()));
    applyDataColumnRule();
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isVisible()) PathEditChange();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ButtonPanel && event->type() == QEvent::Resize) {
        PathEdit->setGeometry(0, 1, ButtonPanel->width() - 5, 21);
        return false;
    }
    if ((watched == KeyGrid || watched == KeyGrid->viewport()) && event->type() == QEvent::MouseButtonRelease) {
        QTimer::singleShot(0, this, [this] { applyDataColumnRule(); });
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!within(widget, this) || QApplication::activeModalWidget()) return false;
    if (isMenuWidget(widget) || QApplication::activePopupWidget()) return false; // Esc leaves the menu
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        window()->close(); // the program's window, whether this form is it or one of its tabs
        return true;
    }
    if (key->key() == Qt::Key_F2 && key->modifiers() == Qt::NoModifier) {
        ModifyMNUClick();
        return true;
    }
    if (within(widget, KeyGrid) && key->key() == Qt::Key_Left && key->modifiers() == Qt::NoModifier) {
        TreeView->setFocus();
        return true;
    }
    return false;
}

// --- Focus and the menu states ---

void TMainForm::focusChanged(QWidget* old, QWidget* now) {
    // While the menus have the keyboard the pane that had it keeps its menu state: the Edit menu
    // must show what it will act on when the menu closes and the focus comes back.
    if (isMenuWidget(now)) return;
    if (isMenuWidget(old)) old = m_paneFocus;
    m_paneFocus = now;
    if (within(old, TreeView) && !within(now, TreeView)) TreeViewExit();
    if (within(old, KeyGrid) && !within(now, KeyGrid)) KeyGridExit();
    if (within(old, ButtonPanel) && !within(now, ButtonPanel)) ButtonPanelExit();
    if (within(now, TreeView) && !within(old, TreeView)) TreeViewEnter();
    if (within(now, KeyGrid) && !within(old, KeyGrid)) KeyGridEnter();
    if (within(now, ButtonPanel) && !within(old, ButtonPanel)) ButtonPanelEnter();
}

void TMainForm::setEditCaption(QAction* action, const QString& caption) {
    for (auto& entry : m_editShortcuts) {
        if (entry.action != action) continue;
        entry.caption = caption;
        action->setText(m_shortcutsOn ? caption + QLatin1Char('\t') + entry.keyText : caption);
    }
}

void TMainForm::TreeViewEnter() {
    setEditCaption(DeleteMNU, QStringLiteral("&Delete Key"));
    KeySelectable(true);
}

void TMainForm::TreeViewExit() {
    KeySelectable(false);
}

void TMainForm::KeyGridEnter() {
    setEditCaption(DeleteMNU, QStringLiteral("&Delete Value"));
    ValueSelMNU->setVisible(true);
    N2->setVisible(true);
}

void TMainForm::KeyGridExit() {
    ValueSelMNU->setVisible(false);
    N2->setVisible(TreeView->hasFocus());
}

void TMainForm::ButtonPanelEnter() {
    DisableShortcut();
}

void TMainForm::ButtonPanelExit() {
    EnableShortcut();
}

void TMainForm::KeySelectable(bool selectable) {
    SelRecurseMNU->setVisible(selectable);
    SelMNU->setVisible(selectable);
    N2->setVisible(selectable);
}

void TMainForm::DisableShortcut() {
    m_shortcutsOn = false;
    for (auto& entry : m_editShortcuts) {
        for (QShortcut* key : entry.keys)
            key->setEnabled(false);
        entry.action->setText(entry.caption);
    }
}

void TMainForm::EnableShortcut() {
    m_shortcutsOn = true;
    for (auto& entry : m_editShortcuts) {
        for (QShortcut* key : entry.keys)
            key->setEnabled(true);
        entry.action->setText(entry.caption + QLatin1Char('\t') + entry.keyText);
    }
}

void TMainForm::SplitterMoved() {
    if (TreeView->width() < 1) Splitter->setSizes({ 1, Splitter->width() - 1 });
    applyDataColumnRule();
}

void TMainForm::updateReadOnlyNotice() {
    const QString reason = QString::fromStdString(m_store.readOnlyReason());
    if (reason != m_holdersFor) {
        // Looked for once each time the reason changes: it is a walk of the process folder.
        m_holdersFor = reason;
        m_holders = reason.isEmpty() ? QString() : programsHolding(m_store);
    }
    m_readOnlyBar->setReason(m_holders.isEmpty() ? reason : reason + QLatin1Char(' ') + m_holders);
    m_readOnlyLabel->setText(reason.isEmpty() ? QString() : QStringLiteral("Read-only"));
    m_readOnlyLabel->setToolTip(reason);
    m_readOnlyLabel->setVisible(!reason.isEmpty());
    const QString location = QString::fromStdString(m_store.location());
    std::vector<ElidedLabel::Part> parts;
    if (m_options.registryName.isEmpty() || m_options.registryName == location)
        parts = { { QStringLiteral("Registry: "), false }, { location, true } };
    else if (!location.startsWith(QLatin1Char('/'))) // a registry kept in no folder: a hive file alone
        parts = { { QStringLiteral("Registry: ") + m_options.registryName, false } };
    else
        parts = { { QStringLiteral("Registry: ") + m_options.registryName + QStringLiteral(" ("), false },
            { location, true }, { QStringLiteral(")"), false } };
    for (ElidedLabel::Part& part : hiveStatusParts(m_store))
        parts.push_back(std::move(part));
    m_locationLabel->setParts(std::move(parts));
    // With hives loaded the label names several files, and takes more of the status bar for them.
    m_locationLabel->setMaximumWidth(locationWidth(m_store, width()));
    UnloadHiveMNU->setEnabled(hivesLoaded(m_store));
    m_locationLabel->setStatusTip(QStringLiteral("The registry Quern opened: ") + location);
}

QString TMainForm::readOnlyText() const {
    return m_readOnlyBar->text();
}

QString TMainForm::locationText() const {
    return m_locationLabel->fullText();
}

// --- The key tree ---

void TMainForm::initialiseTree() {
    m_changeTimer->stop();
    TreeView->clear();
    KeyTreeItem* top = newTopNode();
    TreeView->addTopLevelItem(top);
    top->setExpanded(true);
}

void TMainForm::fillNode(KeyTreeItem* node, bool expanding) {
    fillTreeNode(*m_registry, *node, expanding);
    updateReadOnlyNotice(); // a hive read key by key may have found it changed on disk
}

void TMainForm::TreeViewExpanding(QTreeWidgetItem* item) {
    if (m_treeFilling) return;
    m_treeFilling = true;
    fillNode(static_cast<KeyTreeItem*>(item), true);
    m_treeFilling = false;
}

void TMainForm::TreeViewCollapsing(QTreeWidgetItem* item) {
    if (m_treeFilling) return;
    m_treeFilling = true;
    // The collapsed key's subtree is dropped, so a selection inside it moves up to the key.
    for (QTreeWidgetItem* up = TreeView->currentItem(); up; up = up->parent())
        if (up->parent() == item) {
            TreeView->setCurrentItem(item);
            break;
        }
    fillNode(static_cast<KeyTreeItem*>(item), false);
    m_treeFilling = false;
}

void TMainForm::TreeViewChange(QTreeWidgetItem* item) {
    FillGrid(static_cast<KeyTreeItem*>(item));
    const QString path = shownText(keyPathOfNode(currentNode()));
    SelMenu(m_selection->StateOfNode(currentNode()) >= selAlone);
    if (!PathEdit->hasFocus()) PathEdit->setText(path);
}

void TMainForm::PathEditChange() {
    if (!PathEdit->hasFocus() && !m_startupNavigation) return;
    QTreeWidgetItem* before = TreeView->currentItem();
    GoToPath(PathEdit->text());
    QTreeWidgetItem* now = TreeView->currentItem();
    if (before && now && now != before && !now->isExpanded()) now->setExpanded(true);
}

void TMainForm::GoToPath(const QString& path) {
    goToPath(*this, rawText(path));
}

TreeNode* TMainForm::topNode() {
    return static_cast<KeyTreeItem*>(TreeView->topLevelItem(0));
}

void TMainForm::expandNode(TreeNode* node) {
    auto* item = static_cast<KeyTreeItem*>(node);
    if (item->isExpanded())
        TreeViewExpanding(item); // already open: read its children again
    else
        item->setExpanded(true);
}

TreeNode* TMainForm::selectedNode() {
    return static_cast<KeyTreeItem*>(TreeView->currentItem());
}

KeyTreeItem* TMainForm::currentNode() const {
    return static_cast<KeyTreeItem*>(TreeView->currentItem());
}

void TMainForm::selectNode(TreeNode* node) {
    TreeView->setCurrentItem(static_cast<KeyTreeItem*>(node));
}

void TMainForm::RefreshMNUClick() {
    KeyTreeItem* node = currentNode();
    const std::string path = keyPathOfNode(node);
    const bool expanded = node && node->isExpanded();
    (void)m_store.refresh(); // files changed on disk are read again
    showTreeAgain(path);
    if (KeyTreeItem* now = currentNode()) now->setExpanded(expanded);
    showNewLoadMessages(); // a file read again may hold lines that cannot be read
    m_hitsPane->recheck(); // hits whose key or value went show as gone
}

void TMainForm::showTreeAgain(const std::string& path) {
    updateReadOnlyNotice();
    initialiseTree();
    goToPath(*this, path);
    FillGrid(currentNode());
}

void TMainForm::goToKeyPath(const std::string& path) {
    goToPath(*this, path);
}

void TMainForm::flushTreeChange() {
    if (!m_changeTimer->isActive()) return;
    m_changeTimer->stop();
    TreeViewChange(TreeView->currentItem());
}

void TMainForm::showNewLoadMessages() {
    for (const std::string& message : m_store.loadMessages()) {
        // A file read again says the same again; the user has read it already.
        if (!m_messagesShown.insert(message).second) continue;
        // Not a blocking box: the window stays usable, and the user reads them in turn.
        auto* box = new QMessageBox(
            QMessageBox::Warning, QStringLiteral("Quern"), QString::fromStdString(message), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}

// --- The value grid ---

void TMainForm::FillGrid(KeyTreeItem* node) {
    std::vector<ValueRow> rows;
    if (node)
        fillGridRows(*m_registry, node, BinViewMode, DWViewMode, rows, m_gridView->texts(), m_gridView->readOrder());
    m_gridView->arrange(rows, DWViewMode);
    m_gridModel->setRows(std::move(rows));
    m_keyDetails->showKey(keyPathOfNode(node));
    if (!node) return;
    applyDataColumnRule();
    KeyGrid->viewport()->update();
    updateReadOnlyNotice(); // a command that wrote a hive may have kept its original, or found it read-only
}

QString TMainForm::cellText(int column, int row) const {
    if (row == 0) return m_gridModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    return m_gridModel->cellText(row - 1, column);
}

void TMainForm::SelectBvm() {
    HexMNU->setChecked(BinViewMode == kBytesHex);
    DecMNU->setChecked(BinViewMode == kBytesDecimal);
    CharMNU->setChecked(BinViewMode == kBytesCharacters);
    if (TreeView->currentItem()) FillGrid(currentNode());
}

void TMainForm::SelectIvm() {
    DWHexMNU->setChecked(DWViewMode == kDwordHex);
    DWDecMNU->setChecked(DWViewMode == kDwordDecimal);
    DWBinMNU->setChecked(DWViewMode == kDwordBinary);
    if (TreeView->currentItem()) FillGrid(currentNode());
}

void TMainForm::applyDataColumnRule() {
    if (!KeyGrid) return;
    // The Type column, while it shows, takes its width from the data column too (a hidden one has none).
    const int width = KeyGrid->viewport()->width() - KeyGrid->columnWidth(0) - KeyGrid->columnWidth(2) - 2;
    KeyGrid->setColumnWidth(1, std::max(0, width));
}

void TMainForm::KeyGridDrawCell(QPainter& painter, int column, int row, const QRect& rect, bool selected) {
    const QString text = cellText(column, row);
    if (row == 0) {
        drawGridHeaderCell(painter, rect, text, m_gridView->colours(), m_gridView->sortMark(column));
        return;
    }
    const std::vector<ValueRow>& rows = valueRows();
    const std::string* name
        = row >= 1 && row - 1 < static_cast<int>(rows.size()) ? &rows[static_cast<std::size_t>(row - 1)].name : nullptr;
    const bool bold = name && column == 0
        && m_selection->StateOfPath(keyPathOfNode(currentNode()) + std::string(kValueSeparator) + *name) != selNone;
    // The selection shows only while the grid has the focus.
    drawGridValueCell(painter, rect, column, text, name, selected && KeyGrid->hasFocus(), bold, m_gridView->colours());
}

// --- The selection ---

void TMainForm::SelMNUClick(QObject* sender) {
    toggleSelection(*this, *m_selection, sender == SelRecurseMNU);
}

void TMainForm::ValueSelMNUClick() {
    toggleSelection(*this, *m_selection, false);
}

void TMainForm::TreeViewCustomDrawItem(QStyleOptionViewItem& option, const KeyTreeItem* item) const {
    if (m_selection) styleTreeItem(*m_selection, option, item, m_gridView->colours());
}

void TMainForm::showSelectionInMemo() {
    Memo->setPlainText(selectionMemoText(*m_selection));
}

void TMainForm::SaveSelMNUClick() {
    saveSelectionFile(*this, *m_selection);
}

void TMainForm::LoadSelMNUClick() {
    loadSelectionFile(*this, *m_selection);
}

void TMainForm::SearchMNUClick() {
    runFindDialog(*this, m_searchState, *m_hitsPane);
}

void TMainForm::SearchAgainMNUClick() {
    runSearchAgain(*this, m_searchState, *m_hitsPane);
}

void TMainForm::NewMNUClick() {
    seam("NewMNUClick");
    runNew(*this);
}

void TMainForm::ModifyMNUClick() {
    seam("ModifyMNUClick");
    runModify(*this);
}

void TMainForm::DeleteMNUClick() {
    seam("DeleteMNUClick");
    runDelete(*this);
}

void TMainForm::REGExportMNUClick() {
    runRegExport(*this, *m_selection);
}

// --- Help ---

void TMainForm::Contents1Click() {
    (void)showHelpContents(this);
}

void TMainForm::AboutMNUClick() {
    showAbout(this);
}

} // namespace quern
