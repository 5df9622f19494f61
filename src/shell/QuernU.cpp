#include "shell/QuernU.h"

#include "export/RegExport.h"
#include "registry/KeyTreeItem.h"
#include "registry/ValueFormat.h"
#include "registry/ValueGridModel.h"
#include "selection/SelectionFile.h"
#include "shell/AboutU.h"
#include "shell/HelpU.h"
#include "shell/QuernIcons.h"
#include "shell/QuernSettings.h"
#include "shell/RegistryNotice.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
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
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace quern {

namespace {

constexpr int kRowHeight = 17;
constexpr int kDefaultColumnWidth = 150;

// The grid draws every cell itself, through the window's KeyGridDrawCell.
class KeyGridDelegate final : public QStyledItemDelegate {
public:
    KeyGridDelegate(TMainForm* form, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_form(form) { }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        m_form->KeyGridDrawCell(
            *painter, index.column(), index.row() + 1, option.rect, (option.state & QStyle::State_Selected) != 0);
    }

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
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        m_form->KeyGridDrawCell(*painter, logicalIndex, 0, rect, false);
    }

private:
    TMainForm* m_form;
};

// The tree's items take their font and colours from the selection before they are drawn.
class KeyTreeDelegate final : public QStyledItemDelegate {
public:
    KeyTreeDelegate(const TMainForm* form, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_form(form) { }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const auto* tree = static_cast<const QTreeWidget*>(option->widget);
        m_form->TreeViewCustomDrawItem(*option, static_cast<const KeyTreeItem*>(itemFor(tree, index)));
    }

private:
    static const QTreeWidgetItem* itemFor(const QTreeWidget* tree, const QModelIndex& index) {
        // QTreeWidget keeps its index-to-item mapping to itself; walk the rows from the top.
        std::vector<int> rows;
        for (QModelIndex at = index; at.isValid(); at = at.parent())
            rows.push_back(at.row());
        const QTreeWidgetItem* item = tree->topLevelItem(rows.back());
        for (auto it = rows.rbegin() + 1; item && it != rows.rend(); ++it)
            item = item->child(*it);
        return item;
    }
    const TMainForm* m_form;
};

bool within(const QWidget* widget, const QWidget* container) {
    return widget && container && (widget == container || container->isAncestorOf(widget));
}

// The menu bar takes the keyboard while the user walks the menus (Alt, or Alt with a letter); it
// borrows the focus, and the keys it gets are the menus' own.
bool isMenuWidget(const QObject* widget) {
    return qobject_cast<const QMenuBar*>(widget) || qobject_cast<const QMenu*>(widget);
}

} // namespace

TMainForm::TMainForm(reg::RegStore& store, QWidget* parent)
    : QMainWindow(parent)
    , m_store(store) {
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

void TMainForm::buildControls() {
    setWindowTitle(QStringLiteral("Quern - THE registry editor & backupper"));
    resize(780, 540);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    ButtonPanel = new QFrame(central);
    ButtonPanel->setObjectName(QStringLiteral("ButtonPanel"));
    ButtonPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ButtonPanel->setFixedHeight(26);
    PathEdit = new QLineEdit(ButtonPanel);
    PathEdit->setObjectName(QStringLiteral("PathEdit"));
    PathEdit->setGeometry(0, 2, 100, 21);
    PathEdit->setStatusTip(
        QStringLiteral("This is the current key. Change it using the tree on the left or typing it here"));
    ButtonPanel->installEventFilter(this); // its resize sets the edit's width
    layout->addWidget(ButtonPanel);
    m_readOnlyBar = new ReadOnlyBar(central);
    layout->addWidget(m_readOnlyBar);

    Splitter = new QSplitter(Qt::Horizontal, central);
    Splitter->setHandleWidth(3);
    Splitter->setOpaqueResize(true);
    TreeView = new QTreeWidget(Splitter);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setHeaderHidden(true);
    TreeView->setIndentation(19);
    TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView->setUniformRowHeights(true);
    // Long names scroll sideways rather than being cut short.
    TreeView->setTextElideMode(Qt::ElideNone);
    TreeView->header()->setStretchLastSection(false);
    TreeView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    TreeView->setMinimumWidth(1);
    TreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    TreeView->setStatusTip(
        QStringLiteral("This is the registry tree, choose a key to see the values inside of it on the right"));
    TreeView->setItemDelegate(new KeyTreeDelegate(this, TreeView));

    KeyGrid = new QTableView(Splitter);
    KeyGrid->setObjectName(QStringLiteral("KeyGrid"));
    m_gridModel = new ValueGridModel(KeyGrid);
    KeyGrid->setHorizontalHeader(new KeyGridHeader(this, KeyGrid));
    KeyGrid->setModel(m_gridModel);
    KeyGrid->setItemDelegate(new KeyGridDelegate(this, KeyGrid));
    KeyGrid->verticalHeader()->hide();
    KeyGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    KeyGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    KeyGrid->horizontalHeader()->setFixedHeight(kRowHeight);
    KeyGrid->horizontalHeader()->setDefaultSectionSize(kDefaultColumnWidth);
    KeyGrid->horizontalHeader()->setMinimumSectionSize(0);
    KeyGrid->horizontalHeader()->setHighlightSections(false);
    KeyGrid->setShowGrid(false);
    KeyGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    // One range of rows, as Shift extends it: a command on the selected values never reaches a row
    // between two the user picked apart.
    KeyGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    KeyGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    KeyGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    KeyGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    KeyGrid->setTabKeyNavigation(false);
    KeyGrid->setWordWrap(false);
    KeyGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    KeyGrid->setStatusTip(QStringLiteral("This is the window containg all the value of the current key"));
    KeyGrid->installEventFilter(this);
    KeyGrid->viewport()->installEventFilter(this);
    connect(KeyGrid->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section) {
        if (section == 0) applyDataColumnRule();
    });
    connect(KeyGrid, &QTableView::doubleClicked, this, [this] { ModifyMNUClick(); });

    Splitter->addWidget(TreeView);
    Splitter->addWidget(KeyGrid);
    Splitter->setCollapsible(0, false);
    Splitter->setCollapsible(1, false);
    Splitter->setStretchFactor(1, 1);
    Splitter->setSizes({ 201, 560 });
    connect(Splitter, &QSplitter::splitterMoved, this, [this] { SplitterMoved(); });
    layout->addWidget(Splitter, 1);

    Memo = new QPlainTextEdit(central);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setReadOnly(true);
    Memo->setTabChangesFocus(true);
    Memo->setFixedHeight(63);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setStatusTip(QStringLiteral("This is the list of selected keys"));
    layout->addWidget(Memo);
    setCentralWidget(central);

    // The hints keep the status bar's stretch; which registry is open, and whether it is
    // read-only, sit at its right end.
    m_readOnlyLabel = new QLabel(this);
    m_readOnlyLabel->setObjectName(QStringLiteral("ReadOnlyLabel"));
    statusBar()->addPermanentWidget(m_readOnlyLabel);
    m_locationLabel = new ElidedLabel(this);
    m_locationLabel->setObjectName(QStringLiteral("LocationLabel"));
    m_locationLabel->setMaximumWidth(320);
    statusBar()->addPermanentWidget(m_locationLabel);

    setTabOrder(TreeView, KeyGrid);
    setTabOrder(KeyGrid, PathEdit);
    setTabOrder(PathEdit, Memo);

    m_changeTimer = new QTimer(this);
    m_changeTimer->setSingleShot(true);
    m_changeTimer->setInterval(50);
    connect(m_changeTimer, &QTimer::timeout, this, [this] { TreeViewChange(TreeView->currentItem()); });
    connect(TreeView, &QTreeWidget::currentItemChanged, this, [this] { m_changeTimer->start(); });
    connect(TreeView, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { TreeViewExpanding(item); });
    connect(TreeView, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) { TreeViewCollapsing(item); });
    connect(PathEdit, &QLineEdit::textChanged, this, [this] { PathEditChange(); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) { focusChanged(old, now); });
    qApp->installEventFilter(this); // the window sees keys before its controls do
}

QAction* TMainForm::addItem(QMenu* menu, const QString& caption, const QKeySequence& key, const QString& hint) {
    QAction* action = menu->addAction(caption);
    if (!key.isEmpty()) action->setShortcut(key);
    action->setStatusTip(hint);
    return action;
}

void TMainForm::editShortcut(QAction* action, const QString& caption, const QString& keyText,
    const std::vector<QKeySequence>& keys, const std::function<void()>& handler) {
    // These keys live apart from their menu items: a hidden item keeps its key working, and the
    // path edit takes the keys back from them while the user types.
    EditShortcut entry { action, caption, keyText, {} };
    for (const auto& key : keys) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
        connect(shortcut, &QShortcut::activatedAmbiguously, this, handler);
        entry.keys.push_back(shortcut);
    }
    connect(action, &QAction::triggered, this, handler);
    m_editShortcuts.push_back(entry);
}

void TMainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    FileMNU = bar->addMenu(QStringLiteral("&File"));
    REGExportMNU = addItem(FileMNU, QStringLiteral("&Export to .REG file..."), QKeySequence(Qt::CTRL | Qt::Key_R),
        QStringLiteral("Export selected keys to a .REG file"));
    FileMNU->addSeparator();
    LoadSelMNU = addItem(FileMNU, QStringLiteral("&Load key selection..."), QKeySequence(Qt::CTRL | Qt::Key_L),
        QStringLiteral("Load key selection from a .QKS file"));
    SaveSelMNU = addItem(FileMNU, QStringLiteral("&Save key selection..."), QKeySequence(Qt::CTRL | Qt::Key_S),
        QStringLiteral("Save key selection to a .QKS file"));
    FileMNU->addSeparator();
    ExitMNU = addItem(FileMNU, QStringLiteral("E&xit"), QKeySequence(Qt::ALT | Qt::Key_F4),
        QStringLiteral("Bye bye, see you soon !"));
    connect(REGExportMNU, &QAction::triggered, this, &TMainForm::REGExportMNUClick);
    connect(LoadSelMNU, &QAction::triggered, this, &TMainForm::LoadSelMNUClick);
    connect(SaveSelMNU, &QAction::triggered, this, &TMainForm::SaveSelMNUClick);
    connect(ExitMNU, &QAction::triggered, this, &TMainForm::close);

    EditMNU = bar->addMenu(QStringLiteral("&Edit"));
    SelRecurseMNU = EditMNU->addAction(QString());
    SelMNU = EditMNU->addAction(QString());
    ValueSelMNU = EditMNU->addAction(QString());
    N2 = EditMNU->addSeparator();
    NewMNU = EditMNU->addAction(QString());
    NewMNU->setStatusTip(QStringLiteral("Create a new value or key in the current key"));
    ModifyMNU = EditMNU->addAction(QString());
    ModifyMNU->setStatusTip(QStringLiteral("Change value/key properties like name, type and contents"));
    DeleteMNU = EditMNU->addAction(QString());
    DeleteMNU->setStatusTip(QStringLiteral("Delete selected key/value"));
    // Both Space items run the one selection command, which acts on whichever pane has the focus.
    editShortcut(SelRecurseMNU, QStringLiteral("&Select current with subkey"), QStringLiteral("Space"),
        { QKeySequence(Qt::Key_Space) }, [this] { SelMNUClick(SelRecurseMNU); });
    editShortcut(SelMNU, QStringLiteral("Select &current"), QStringLiteral("Shift+Space"),
        { QKeySequence(Qt::SHIFT | Qt::Key_Space) }, [this] { SelMNUClick(SelMNU); });
    editShortcut(ValueSelMNU, QStringLiteral("Toggle selection in these &values"), QStringLiteral("Space"), {},
        [this] { ValueSelMNUClick(); });
    editShortcut(NewMNU, QStringLiteral("&New ..."), QStringLiteral("Ins"), { QKeySequence(Qt::Key_Insert) },
        [this] { NewMNUClick(); });
    editShortcut(ModifyMNU, QStringLiteral("&Modify value..."), QStringLiteral("Enter"),
        { QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter) }, [this] { ModifyMNUClick(); });
    editShortcut(DeleteMNU, QStringLiteral("&Delete"), QStringLiteral("Del"), { QKeySequence(Qt::Key_Delete) },
        [this] { DeleteMNUClick(); });

    FindMNU = bar->addMenu(QStringLiteral("&Find"));
    SearchMNU = addItem(FindMNU, QStringLiteral("&Search from here..."), QKeySequence(Qt::CTRL | Qt::Key_F),
        QStringLiteral("Start search new search from current key/value"));
    SearchAgainMNU = addItem(FindMNU, QStringLiteral("Search &again"), QKeySequence(Qt::Key_F3),
        QStringLiteral("Continue the previous search from current key/value"));
    connect(SearchMNU, &QAction::triggered, this, &TMainForm::SearchMNUClick);
    connect(SearchAgainMNU, &QAction::triggered, this, &TMainForm::SearchAgainMNUClick);

    ViewMNU = bar->addMenu(QStringLiteral("&View"));
    DWORDviewas1 = ViewMNU->addMenu(QStringLiteral("&DWORD view as"));
    DWORDviewas1->menuAction()->setStatusTip(QStringLiteral("Choose how you want to see DWORD values"));
    // Shift with a digit gives another key on most layouts, so the shifted character counts too.
    auto shifted = [](Qt::Key digit, Qt::Key character) {
        return QList<QKeySequence> { QKeySequence(Qt::CTRL | Qt::SHIFT | digit),
            QKeySequence(Qt::CTRL | Qt::SHIFT | character) };
    };
    DWBinMNU = addItem(DWORDviewas1, QStringLiteral("&Binary"), {}, QStringLiteral("Binary format (Base 2)"));
    DWBinMNU->setShortcuts(shifted(Qt::Key_1, Qt::Key_Exclam));
    DWDecMNU = addItem(DWORDviewas1, QStringLiteral("&Decimal"), {}, QStringLiteral("Decimal format (Base 10)"));
    DWDecMNU->setShortcuts(shifted(Qt::Key_2, Qt::Key_At));
    DWHexMNU = addItem(DWORDviewas1, QStringLiteral("&Hex"), {}, QStringLiteral("Hex format (Base 16)"));
    DWHexMNU->setShortcuts(shifted(Qt::Key_3, Qt::Key_NumberSign));
    BinaryviewasMNU = ViewMNU->addMenu(QStringLiteral("&Binary view as"));
    BinaryviewasMNU->menuAction()->setStatusTip(QStringLiteral("Choose how you want to see binary values"));
    DecMNU = addItem(BinaryviewasMNU, QStringLiteral("&Decimal"), QKeySequence(Qt::CTRL | Qt::Key_1),
        QStringLiteral("Decimal format (base 10)"));
    HexMNU = addItem(BinaryviewasMNU, QStringLiteral("&Hex"), QKeySequence(Qt::CTRL | Qt::Key_2),
        QStringLiteral("Hex format (base 16)"));
    CharMNU = addItem(BinaryviewasMNU, QStringLiteral("&Characters"), QKeySequence(Qt::CTRL | Qt::Key_3),
        QStringLiteral("Character format (base 256)"));
    for (QAction* item : { DWBinMNU, DWDecMNU, DWHexMNU, DecMNU, HexMNU, CharMNU })
        item->setCheckable(true);
    connect(HexMNU, &QAction::triggered, this, [this] { BinViewMode = kBytesHex, SelectBvm(); });
    connect(DecMNU, &QAction::triggered, this, [this] { BinViewMode = kBytesDecimal, SelectBvm(); });
    connect(CharMNU, &QAction::triggered, this, [this] { BinViewMode = kBytesCharacters, SelectBvm(); });
    connect(DWHexMNU, &QAction::triggered, this, [this] { DWViewMode = kDwordHex, SelectIvm(); });
    connect(DWDecMNU, &QAction::triggered, this, [this] { DWViewMode = kDwordDecimal, SelectIvm(); });
    connect(DWBinMNU, &QAction::triggered, this, [this] { DWViewMode = kDwordBinary, SelectIvm(); });
    RefreshMNU = addItem(
        ViewMNU, QStringLiteral("&Refresh view"), QKeySequence(Qt::Key_F5), QStringLiteral("Refresh registry view"));
    connect(RefreshMNU, &QAction::triggered, this, &TMainForm::RefreshMNUClick);

    HelpMNU = bar->addMenu(QStringLiteral("&Help"));
    Contents1 = addItem(HelpMNU, QStringLiteral("Contents..."), QKeySequence(Qt::Key_F1), {});
    AboutMNU = addItem(HelpMNU, QStringLiteral("&About..."), {}, {});
    connect(Contents1, &QAction::triggered, this, &TMainForm::Contents1Click);
    connect(AboutMNU, &QAction::triggered, this, &TMainForm::AboutMNUClick);

    TreePopupMenu = new QMenu(this);
    NewkeyPMNU = TreePopupMenu->addAction(QStringLiteral("&New key"));
    GridPopupMenu = new QMenu(this);
    NewValuePMNU = GridPopupMenu->addAction(QStringLiteral("&New Value"));
    connect(NewkeyPMNU, &QAction::triggered, this, &TMainForm::NewMNUClick);
    connect(NewValuePMNU, &QAction::triggered, this, &TMainForm::NewMNUClick);
    ValueSelMNU->setVisible(false); // only while the grid has the focus
    connect(TreeView, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& at) { TreePopupMenu->popup(TreeView->viewport()->mapToGlobal(at)); });
    connect(KeyGrid, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& at) { GridPopupMenu->popup(KeyGrid->viewport()->mapToGlobal(at)); });
    EnableShortcut();
}

void TMainForm::FormCreate() {
    (void)checkHelpFile(this);
    BinViewMode = kBytesCharacters;
    DWViewMode = kDwordDecimal;
    {
        QuernIniFile settings(quernSettingsFileName());
        readSettings(*this, settings);
    }
    SelectBvm();
    SelectIvm();
    m_registry = std::make_unique<reg::RegAccessor>(m_store);
    m_selection = std::make_unique<TTreeSel>(*m_registry);
    m_selection->repaintTree = [this] { TreeView->viewport()->update(); };
    m_valueNames.clear();
    initialiseTree();
    m_gridModel->setHeaderText(0, QStringLiteral("Name"));
    m_gridModel->setHeaderText(1, QStringLiteral("Data"));
    // TODO(#9): reset the search state.
    m_startupNavigation = true;
    PathEditChange();
    m_startupNavigation = false;
    TreeView->setFocus();
    updateReadOnlyNotice();
}

bool TMainForm::FormCloseQuery() {
    if (Memo->toPlainText().isEmpty()) return true;
    return QMessageBox::question(this, QStringLiteral("Confirm"), QStringLiteral("Exit program, are you sure ?"),
               QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

void TMainForm::FormClose() {
    m_changeTimer->stop();
    m_gridModel->setRows(nullptr, nullptr);
    m_registry.reset();
    {
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
    applyDataColumnRule();
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) PathEditChange();
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
    if (!widget || widget->window() != this || QApplication::activeModalWidget()) return false;
    if (isMenuWidget(widget) || QApplication::activePopupWidget()) return false; // Esc leaves the menu
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        close();
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

void TMainForm::seam(const char* handler) {
    for (auto& [name, count] : m_seamCalls)
        if (name == handler) {
            ++count;
            return;
        }
    m_seamCalls.emplace_back(handler, 1);
}

int TMainForm::seamCalls(const char* handler) const {
    for (const auto& [name, count] : m_seamCalls)
        if (name == handler) return count;
    return 0;
}

void TMainForm::updateReadOnlyNotice() {
    const QString reason = QString::fromStdString(m_store.readOnlyReason());
    m_readOnlyBar->setReason(reason);
    m_readOnlyLabel->setText(reason.isEmpty() ? QString() : QStringLiteral("Read-only"));
    m_readOnlyLabel->setToolTip(reason);
    m_readOnlyLabel->setVisible(!reason.isEmpty());
    const QString location = QString::fromStdString(m_store.location());
    m_locationLabel->setFullText(QStringLiteral("Registry: ") + location);
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
    auto* top = new KeyTreeItem("Local Registry");
    top->setIcon(0, quernIcon(QuernIcon::Computer));
    top->markHasChildren(true);
    TreeView->addTopLevelItem(top);
    top->setExpanded(true);
}

void TMainForm::fillNode(KeyTreeItem* node, bool expanding) {
    std::vector<ChildKey> children;
    if (node->level() == 0) {
        (void)readChildKeys(*m_registry, *node, children);
    } else if (!readChildKeys(*m_registry, *node, children)) {
        return; // a key that cannot be read keeps its old children
    }
    qDeleteAll(node->takeChildren());
    if (!expanding) {
        node->markHasChildren(true);
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
    node->addChildren(items);
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
    updateReadOnlyNotice();
    initialiseTree();
    goToPath(*this, path);
    if (KeyTreeItem* now = currentNode()) now->setExpanded(expanded);
    FillGrid(currentNode());
}

// --- The value grid ---

void TMainForm::FillGrid(KeyTreeItem* node) {
    if (!node) {
        m_valueNames.clear();
        m_gridModel->setRows(&m_valueNames, nullptr);
        return;
    }
    fillGridRows(*m_registry, node, BinViewMode, DWViewMode, m_valueNames, m_valueRows);
    m_gridModel->setRows(&m_valueNames, &m_valueRows);
    applyDataColumnRule();
    KeyGrid->viewport()->update();
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
    const int width = KeyGrid->viewport()->width() - KeyGrid->columnWidth(0) - 2;
    KeyGrid->setColumnWidth(1, std::max(0, width));
}

void TMainForm::KeyGridDrawCell(QPainter& painter, int column, int row, const QRect& rect, bool selected) {
    painter.save();
    painter.setClipRect(rect);
    const QString text = cellText(column, row);
    if (row == 0) {
        // A raised header: dark lines bottom and right, white top and left, silver inside.
        const int left = rect.left();
        const int top = rect.top();
        const int right = rect.left() + rect.width();
        const int bottom = rect.top() + rect.height();
        painter.setPen(QColor(0x80, 0x80, 0x80));
        painter.drawLine(left, bottom - 1, right - 1, bottom - 1);
        painter.drawLine(right - 1, top, right - 1, bottom - 1);
        painter.setPen(Qt::white);
        painter.drawLine(left, top, right - 2, top);
        painter.drawLine(left, top, left, bottom - 2);
        const QRect inner(left + 1, top + 1, rect.width() - 2, rect.height() - 2);
        painter.fillRect(inner, QColor(0xc0, 0xc0, 0xc0));
        QFont bold = painter.font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(Qt::black);
        painter.drawText(inner.adjusted(4, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        painter.restore();
        return;
    }
    // The selection shows only while the grid has the focus.
    const bool marked = selected && KeyGrid->hasFocus();
    const QColor background = marked ? palette().color(QPalette::Active, QPalette::Highlight) : QColor(Qt::white);
    painter.fillRect(rect, background);
    const bool hasValue = row - 1 < static_cast<int>(m_valueNames.size()) && row >= 1;
    if (hasValue) {
        painter.setPen(marked ? Qt::white : Qt::black);
        if (column == 0) {
            const std::string& name = m_valueNames[static_cast<std::size_t>(row - 1)];
            QFont font = painter.font();
            font.setBold(m_selection->StateOfPath(keyPathOfNode(currentNode()) + std::string(kValueSeparator) + name)
                != selNone);
            painter.setFont(font);
            painter.drawText(rect.adjusted(20, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                shownText(m_valueNames[static_cast<std::size_t>(row - 1)]));
            if (!text.isEmpty()) {
                static const QIcon strings = quernIcon(QuernIcon::Strings);
                static const QIcon binary = quernIcon(QuernIcon::Binary);
                static const QIcon dword = quernIcon(QuernIcon::Dword);
                const QChar kind = text.front();
                const QIcon& icon = kind == QLatin1Char('s') ? strings : kind == QLatin1Char('n') ? dword : binary;
                icon.paint(&painter, QRect(rect.left() + 2, rect.top(), 16, 16));
            }
        } else {
            painter.drawText(rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                text.isEmpty() ? QStringLiteral("[ Empty binary data ]") : text);
        }
    }
    painter.restore();
}

// --- The selection ---

void TMainForm::SelMNUClick(QObject* sender) {
    if (KeyGrid->hasFocus()) {
        KeyGrid->viewport()->update();
        KeyTreeItem* node = currentNode();
        if (!node) return;
        const std::string key = keyPathOfNode(node);
        // The rows the user highlighted, top to bottom; the blank row of a key without values has
        // no value behind it and is passed over.
        std::vector<int> rows;
        for (const QItemSelectionRange& range : KeyGrid->selectionModel()->selection())
            for (int row = range.top(); row <= range.bottom(); ++row)
                if (row < static_cast<int>(m_valueNames.size())) rows.push_back(row);
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        std::vector<std::string> paths;
        paths.reserve(rows.size());
        for (int row : rows)
            paths.push_back(key + std::string(kValueSeparator) + m_valueNames[static_cast<std::size_t>(row)]);
        const bool anyUnselected = std::any_of(paths.begin(), paths.end(),
            [&](const std::string& path) { return m_selection->StateOfPath(path) == selNone; });
        for (const auto& path : paths) {
            if (anyUnselected)
                m_selection->SelectValue(*node, path);
            else
                m_selection->DeselectValue(*node, path);
        }
        TreeView->viewport()->update();
    } else if (TreeView->hasFocus() && currentNode()) {
        m_selection->ToggleNode(*currentNode(), sender == SelRecurseMNU);
        SelMenu(m_selection->StateOfNode(currentNode()) >= selAlone);
    } else {
        return;
    }
    KeyGrid->viewport()->update();
    showSelectionInMemo();
}

void TMainForm::ValueSelMNUClick() {
    SelMNUClick(this);
}

void TMainForm::SelMenu(bool selected) {
    setEditCaption(SelRecurseMNU,
        selected ? QStringLiteral("De&select current with subkey") : QStringLiteral("Select current with subkey"));
    SelRecurseMNU->setStatusTip(selected ? QStringLiteral("Deselect current key and all child keys (bold marked)")
                                         : QStringLiteral("Select current key and all child keys (bold marked)"));
    setEditCaption(SelMNU, selected ? QStringLiteral("Deselect current") : QStringLiteral("Select current"));
    SelMNU->setStatusTip(selected ? QStringLiteral("Deselect only current key (blue marked)")
                                  : QStringLiteral("Select only current key (blue marked)"));
}

void TMainForm::TreeViewCustomDrawItem(QStyleOptionViewItem& option, const KeyTreeItem* item) const {
    if (!item || !m_selection) return;
    const SelState state = m_selection->StateOfNode(item);
    const QColor grey(0x80, 0x80, 0x80); // the classic grey of text that is not available
    QColor normal = Qt::black;
    QColor highlighted = Qt::white;
    switch (state) {
    case selNone:
        break;
    case selBelow:
        normal = highlighted = grey;
        break;
    case selAlone:
        normal = QColor(0, 0, 255), highlighted = QColor(255, 255, 0);
        break;
    case selWithSubkeys:
        highlighted = QColor(255, 255, 0);
        break;
    }
    option.font.setBold(state == selBelow || state == selWithSubkeys);
    option.palette.setColor(QPalette::Text, normal);
    option.palette.setColor(QPalette::HighlightedText, highlighted);
}

void TMainForm::showSelectionInMemo() {
    QStringList lines;
    for (const auto& entry : m_selection->Entries())
        lines.push_back(shownText(entry));
    Memo->setPlainText(lines.join(QLatin1Char('\n')));
}

QString TMainForm::execFileDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

QString TMainForm::chooseSaveFile(const QString& title, const QString& filter, const QString& extension) {
    // The save dialog is shared by the export and the selection file; a name left over from the
    // other one is not offered.
    if (!m_saveDialogFile.endsWith(QLatin1Char('.') + extension)) m_saveDialogFile.clear();
    QFileDialog dialog(this, title, m_saveDialogFile, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(extension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite); // the question below is the program's own
    const QString file = runFileDialog(dialog);
    if (file.isEmpty()) return {};
    m_saveDialogFile = file;
    if (QFileInfo::exists(file)
        && QMessageBox::warning(this, QStringLiteral("Warning"), QStringLiteral("File already exists, overwrite ?"),
               QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return {};
    return file;
}

void TMainForm::SaveSelMNUClick() {
    const QString file = chooseSaveFile(QStringLiteral("Save key selection as ..."),
        QStringLiteral("Quern key selection (*.qks)"), QStringLiteral("qks"));
    if (file.isEmpty()) return;
    std::string error;
    if (!writeSelectionFile(QFile::encodeName(file).toStdString(), m_selection->Entries(), error))
        QMessageBox::warning(this, QStringLiteral("Quern"), QStringLiteral("Cannot create file %1").arg(file));
}

void TMainForm::LoadSelMNUClick() {
    QFileDialog dialog(this, QStringLiteral("Load key selection from ..."), m_openDialogFile,
        QStringLiteral("Quern key selection (*.qks)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("qks"));
    const QString file = runFileDialog(dialog);
    if (file.isEmpty()) return;
    m_openDialogFile = file;
    std::vector<std::string> entries;
    std::string error;
    if (!readSelectionFile(QFile::encodeName(file).toStdString(), entries, error)) {
        QMessageBox::warning(this, QStringLiteral("Quern"), QStringLiteral("Cannot open file %1").arg(file));
        return;
    }
    m_selection->setEntries(std::move(entries));
    RefreshMNUClick();
    showSelectionInMemo();
}

// --- Help ---

void TMainForm::Contents1Click() {
    (void)showHelpContents(this);
}

void TMainForm::AboutMNUClick() {
    showAbout(this);
}

// --- The export ---

void TMainForm::REGExportMNUClick() {
    // What to export follows the focus the command was given in, before any dialog takes it.
    const bool gridFocused = KeyGrid->hasFocus();
    const int row = KeyGrid->currentIndex().row();
    const QString file = chooseSaveFile(QStringLiteral("Save selected keys as .REG..."),
        QStringLiteral("Registry file (*.reg)"), QStringLiteral("reg"));
    if (file.isEmpty()) return;

    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    RegFileExport exporter(*m_registry);
    bool ok = exporter.OpenRegFile(QFile::encodeName(file).toStdString());
    if (ok) {
        KeyTreeItem* node = currentNode();
        if (!m_selection->Entries().empty() || !node) {
            for (const auto& entry : collectExportEntries(m_selection->Entries()))
                exporter.ExportEntry(entry, m_selection.get());
        } else {
            const std::string key = keyPathOfNode(node);
            if (gridFocused && row >= 0 && row < static_cast<int>(m_valueNames.size()))
                exporter.ExportTree(key + std::string(kValueSeparator) + m_valueNames[static_cast<std::size_t>(row)]);
            else if (gridFocused)
                exporter.ExportTree(key); // the blank row of a key without values: the key alone
            else
                exporter.ExportTree(key + "\\");
        }
        ok = exporter.CloseRegFile();
    }
    QApplication::restoreOverrideCursor();
    // Nothing of a failed export is left behind, and an earlier file of that name is as it was.
    if (!ok) QMessageBox::critical(this, QStringLiteral("Quern"), QString::fromStdString(exporter.error()));
    // The file holds all but these keys: the user must know the backup lacks them.
    if (ok && !exporter.leftOutKeys().empty()) {
        constexpr std::size_t kShown = 20; // a box taller than the screen helps nobody
        const auto& leftOut = exporter.leftOutKeys();
        QString list;
        for (std::size_t i = 0; i < leftOut.size() && i < kShown; ++i)
            list += QLatin1Char('\n') + QString::fromStdString(shownKeyPath(leftOut[i]));
        if (leftOut.size() > kShown) list += QStringLiteral("\n... and %1 more").arg(leftOut.size() - kShown);
        QMessageBox::warning(this, QStringLiteral("Quern"),
            QStringLiteral("These keys hold a line break in their names, which a REGEDIT4 file cannot hold, and were "
                           "left out of the file with all below them:\n%1")
                .arg(list));
    }
}

} // namespace quern
