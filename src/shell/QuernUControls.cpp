#include "shell/QuernU.h"
#include "transfer/ClipboardCommands.h"
#include "transfer/CompareCommands.h"
#include "transfer/TreeDragDrop.h"

#include "codec/ValueText.h"
#include "editor/UndoCommands.h"
#include "import/ImportCommand.h"
#include "search/SearchCommands.h"
#include "search/SearchHitsPane.h"
#include "shell/GridViewOptions.h"
#include "shell/HiveCommands.h"
#include "shell/KeyDetailsPart.h"
#include "shell/PaneViews.h"
#include "shell/RegistryNotice.h"
#include "shell/ValueGridModel.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

// The main window's controls and menus, made once when it is created: the table of its widgets,
// their properties, and which handler each event and menu item runs.

namespace quern {

namespace {

constexpr int kRowHeight = 17;
constexpr int kDefaultColumnWidth = 150;

} // namespace

void TMainForm::buildControls() {
    const QString title = QStringLiteral("Quern - THE registry editor & backupper");
    setWindowTitle(m_options.registryName.isEmpty() ? title : m_options.registryName + QStringLiteral(" - ") + title);
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
    Splitter->setObjectName(QStringLiteral("Splitter"));
    Splitter->setHandleWidth(3);
    Splitter->setOpaqueResize(true);
    TreeView = new QTreeWidget(Splitter);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    new TreeDragDrop(*this, *TreeView); // owned by the tree
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
        if (section != 1) applyDataColumnRule(); // the name or the type column
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
    m_hitsPane = new SearchHitsPane(central);
    m_hitsPane->setMinimumHeight(120);
    layout->addWidget(m_hitsPane);

    Memo = new QPlainTextEdit(central);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setReadOnly(true);
    Memo->setTabChangesFocus(true);
    Memo->setFixedHeight(63);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setStatusTip(QStringLiteral("This is the list of selected keys"));
    layout->addWidget(Memo);
    setCentralWidget(central);
    m_gridView = new GridViewOptions(*this, KeyGrid, m_gridModel, TreeView, Memo);

    // The hints keep the status bar's stretch; which registry is open, and whether it is
    // read-only, sit at its right end.
    m_readOnlyLabel = new QLabel(this);
    m_readOnlyLabel->setObjectName(QStringLiteral("ReadOnlyLabel"));
    statusBar()->addPermanentWidget(m_readOnlyLabel);
    m_locationLabel = new ElidedLabel(this);
    m_locationLabel->setObjectName(QStringLiteral("LocationLabel"));
    m_locationLabel->setMaximumWidth(320);
    statusBar()->addPermanentWidget(m_locationLabel);
    m_keyDetails = new KeyDetailsPart(m_store, statusBar(), KeyGrid, m_gridModel);

    setTabOrder(TreeView, KeyGrid);
    setTabOrder(KeyGrid, PathEdit);
    setTabOrder(PathEdit, Memo);

    m_changeTimer = new QTimer(this);
    m_changeTimer->setObjectName(QStringLiteral("TreeChangeTimer")); // what tests wait on to rest
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

void TMainForm::buildCompareItems() {
    FileMNU->addSeparator();
    QAction* compare = addItem(FileMNU, QStringLiteral("Co&mpare..."), QKeySequence(),
        QStringLiteral("Compare two keys, of any open registry or of .reg files, and save or apply the difference"));
    compare->setObjectName(QStringLiteral("CompareMNU"));
    connect(compare, &QAction::triggered, this, [this] { runCompare(*this, compareHost()); });
    QAction* snapshot = addItem(FileMNU, QStringLiteral("Take s&napshot of the registry..."), QKeySequence(),
        QStringLiteral("Save the whole registry as a lossless .reg file named by the time"));
    snapshot->setObjectName(QStringLiteral("SnapshotMNU"));
    connect(snapshot, &QAction::triggered, this, [this] { takeSnapshot(*this, false); });
    QAction* keySnapshot = addItem(FileMNU, QStringLiteral("Take snapshot of the selected &key..."), QKeySequence(),
        QStringLiteral("Save the selected key with all below it as a lossless .reg file named by the time"));
    keySnapshot->setObjectName(QStringLiteral("KeySnapshotMNU"));
    connect(keySnapshot, &QAction::triggered, this, [this] { takeSnapshot(*this, true); });
    QAction* withSnapshot = addItem(FileMNU, QStringLiteral("Compare &with snapshot..."), QKeySequence(),
        QStringLiteral("See what changed in the registry since a snapshot was taken"));
    withSnapshot->setObjectName(QStringLiteral("CompareSnapshotMNU"));
    connect(withSnapshot, &QAction::triggered, this, [this] { compareWithSnapshot(*this, compareHost()); });
}

CompareHost TMainForm::compareHost() {
    CompareHost host = m_options.tabs;
    if (!host.registries)
        host.registries = [this] {
            return std::vector<CompareSource> { { QStringLiteral("This registry"), &m_store, nullptr } };
        };
    // A key of this registry is shown here; another's in its tab, when the window has tabs.
    host.showKey = [this, other = m_options.tabs.showKey](reg::RegStore& store, const std::string& path) {
        if (&store == &m_store)
            goToKeyPath(path);
        else if (other)
            other(store, path);
    };
    host.changed = [this, other = m_options.tabs.changed](reg::RegStore& store) {
        if (&store == &m_store)
            RefreshMNUClick();
        else if (other)
            other(store);
    };
    return host;
}

void TMainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    FileMNU = bar->addMenu(QStringLiteral("&File"));
    REGExportMNU = addItem(FileMNU, QStringLiteral("&Export to .REG file..."), QKeySequence(Qt::CTRL | Qt::Key_R),
        QStringLiteral("Export selected keys to a .REG file"));
    QAction* importItem = addItem(FileMNU, QStringLiteral("&Import .REG file..."), QKeySequence(Qt::CTRL | Qt::Key_I),
        QStringLiteral("Import a .REG file, after a list of what it changes"));
    importItem->setObjectName(QStringLiteral("ImportMNU"));
    connect(importItem, &QAction::triggered, this, [this] { runRegImport(*this); });
    buildCompareItems();
    FileMNU->addSeparator();
    LoadSelMNU = addItem(FileMNU, QStringLiteral("&Load key selection..."), QKeySequence(Qt::CTRL | Qt::Key_L),
        QStringLiteral("Load key selection from a .QKS file"));
    SaveSelMNU = addItem(FileMNU, QStringLiteral("&Save key selection..."), QKeySequence(Qt::CTRL | Qt::Key_S),
        QStringLiteral("Save key selection to a .QKS file"));
    FileMNU->addSeparator();
    LoadHiveMNU = addItem(FileMNU, QStringLiteral("Load &hive..."), QKeySequence(),
        QStringLiteral("Load a Windows hive file (SYSTEM, NTUSER.DAT, ...) as a key"));
    UnloadHiveMNU = addItem(FileMNU, QStringLiteral("&Unload hive"), QKeySequence(),
        QStringLiteral("Unload the hive the selected key is in"));
    connect(LoadHiveMNU, &QAction::triggered, this, [this] { loadHiveFile(*this); });
    connect(UnloadHiveMNU, &QAction::triggered, this, [this] { unloadSelectedHive(*this); });
    FileMNU->addSeparator();
    ExitMNU = addItem(FileMNU, QStringLiteral("E&xit"), QKeySequence(Qt::ALT | Qt::Key_F4),
        QStringLiteral("Bye bye, see you soon !"));
    connect(REGExportMNU, &QAction::triggered, this, &TMainForm::REGExportMNUClick);
    connect(LoadSelMNU, &QAction::triggered, this, &TMainForm::LoadSelMNUClick);
    connect(SaveSelMNU, &QAction::triggered, this, &TMainForm::SaveSelMNUClick);
    connect(ExitMNU, &QAction::triggered, this, [this] { window()->close(); });

    EditMNU = bar->addMenu(QStringLiteral("&Edit"));
    UndoMNU = EditMNU->addAction(QString());
    UndoMNU->setStatusTip(QStringLiteral("Take back the last change"));
    RedoMNU = EditMNU->addAction(QString());
    RedoMNU->setStatusTip(QStringLiteral("Make the last change taken back again"));
    EditMNU->addSeparator();
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
    EditMNU->addSeparator();
    CutMNU = EditMNU->addAction(QString());
    CutMNU->setObjectName(QStringLiteral("CutMNU"));
    CutMNU->setStatusTip(QStringLiteral("Cut the selected key or values, to move them where you paste them"));
    CopyMNU = EditMNU->addAction(QString());
    CopyMNU->setObjectName(QStringLiteral("CopyMNU"));
    CopyMNU->setStatusTip(QStringLiteral("Copy the selected key with all below it, or the highlighted values"));
    PasteMNU = EditMNU->addAction(QString());
    PasteMNU->setObjectName(QStringLiteral("PasteMNU"));
    PasteMNU->setStatusTip(QStringLiteral("Paste what was copied into the selected key, after a list of the changes"));
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
    // The path line keeps these keys for its own text while it has the focus.
    editShortcut(CutMNU, QStringLiteral("Cu&t"), QStringLiteral("Ctrl+X"), { QKeySequence(Qt::CTRL | Qt::Key_X) },
        [this] { copyToClipboard(*this, true); });
    editShortcut(CopyMNU, QStringLiteral("&Copy"), QStringLiteral("Ctrl+C"), { QKeySequence(Qt::CTRL | Qt::Key_C) },
        [this] { copyToClipboard(*this, false); });
    editShortcut(PasteMNU, QStringLiteral("&Paste"), QStringLiteral("Ctrl+V"), { QKeySequence(Qt::CTRL | Qt::Key_V) },
        [this] { pasteFromClipboard(*this); });
    editShortcut(UndoMNU, QStringLiteral("&Undo"), QStringLiteral("Ctrl+Z"), { QKeySequence(Qt::CTRL | Qt::Key_Z) },
        [this] { runUndo(*this); });
    editShortcut(RedoMNU, QStringLiteral("&Redo"), QStringLiteral("Ctrl+Y"),
        { QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z) },
        [this] { runRedo(*this); });
    // The items name what they would do when the menu opens, whatever changed the history since.
    connect(EditMNU, &QMenu::aboutToShow, this, [this] { showUndoItems(*this, UndoMNU, RedoMNU); });

    FindMNU = bar->addMenu(QStringLiteral("&Find"));
    SearchMNU = addItem(FindMNU, QStringLiteral("&Search from here..."), QKeySequence(Qt::CTRL | Qt::Key_F),
        QStringLiteral("Start search new search from current key/value"));
    SearchAgainMNU = addItem(FindMNU, QStringLiteral("Search &again"), QKeySequence(Qt::Key_F3),
        QStringLiteral("Continue the previous search from current key/value"));
    connect(SearchMNU, &QAction::triggered, this, &TMainForm::SearchMNUClick);
    connect(SearchAgainMNU, &QAction::triggered, this, &TMainForm::SearchAgainMNUClick);
    addFindItems(*FindMNU, *this, m_searchState, *m_hitsPane, [this]() -> TTreeSel& { return *m_selection; });

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
    m_gridView->addItems(ViewMNU);

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
    buildTreePopup();
    buildGridPopup();
    buildNavigationItems();
    nameMenus();
    EnableShortcut();
    showUndoItems(*this, UndoMNU, RedoMNU);
}

void TMainForm::nameMenus() {
    // Menus and items carry their names as object names, so that tests and accessibility tools
    // find them as they find the panes.
    const std::pair<QObject*, const char*> named[]
        = { { FileMNU, "FileMNU" }, { REGExportMNU, "REGExportMNU" }, { LoadSelMNU, "LoadSelMNU" },
              { SaveSelMNU, "SaveSelMNU" }, { LoadHiveMNU, "LoadHiveMNU" }, { UnloadHiveMNU, "UnloadHiveMNU" },
              { ExitMNU, "ExitMNU" }, { EditMNU, "EditMNU" }, { SelRecurseMNU, "SelRecurseMNU" }, { SelMNU, "SelMNU" },
              { ValueSelMNU, "ValueSelMNU" }, { N2, "N2" }, { NewMNU, "NewMNU" }, { ModifyMNU, "ModifyMNU" },
              { DeleteMNU, "DeleteMNU" }, { UndoMNU, "UndoMNU" }, { RedoMNU, "RedoMNU" }, { FindMNU, "FindMNU" },
              { SearchMNU, "SearchMNU" }, { SearchAgainMNU, "SearchAgainMNU" }, { ViewMNU, "ViewMNU" },
              { DWORDviewas1, "DWORDviewas1" }, { DWBinMNU, "DWBinMNU" }, { DWDecMNU, "DWDecMNU" },
              { DWHexMNU, "DWHexMNU" }, { BinaryviewasMNU, "BinaryviewasMNU" }, { DecMNU, "DecMNU" },
              { HexMNU, "HexMNU" }, { CharMNU, "CharMNU" }, { RefreshMNU, "RefreshMNU" }, { HelpMNU, "HelpMNU" },
              { Contents1, "Contents1" }, { AboutMNU, "AboutMNU" }, { TreePopupMenu, "TreePopupMenu" },
              { GridPopupMenu, "GridPopupMenu" }, { NewkeyPMNU, "NewkeyPMNU" }, { NewValuePMNU, "NewValuePMNU" } };
    for (const auto& [object, name] : named)
        object->setObjectName(QLatin1String(name));
}

// The captions of the two selection items follow the state of the key the tree stands on.
void TMainForm::SelMenu(bool selected) {
    setEditCaption(SelRecurseMNU,
        selected ? QStringLiteral("De&select current with subkey") : QStringLiteral("Select current with subkey"));
    SelRecurseMNU->setStatusTip(selected ? QStringLiteral("Deselect current key and all child keys (bold marked)")
                                         : QStringLiteral("Select current key and all child keys (bold marked)"));
    setEditCaption(SelMNU, selected ? QStringLiteral("Deselect current") : QStringLiteral("Select current"));
    SelMNU->setStatusTip(selected ? QStringLiteral("Deselect only current key (blue marked)")
                                  : QStringLiteral("Select only current key (blue marked)"));
}

const std::vector<ValueRow>& TMainForm::valueRows() const {
    return m_gridModel->rows();
}

TMainForm::Pane TMainForm::focusedPane() const {
    if (KeyGrid->hasFocus()) return Pane::Grid;
    if (TreeView->hasFocus()) return Pane::Tree;
    return Pane::Other;
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

int TMainForm::focusedGridRow() const {
    return KeyGrid->hasFocus() ? KeyGrid->currentIndex().row() : -1;
}

std::vector<std::size_t> TMainForm::highlightedValueRows() const {
    std::vector<std::size_t> rows;
    for (const QItemSelectionRange& range : KeyGrid->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            if (row >= 0 && static_cast<std::size_t>(row) < valueRows().size())
                rows.push_back(static_cast<std::size_t>(row));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TMainForm::repaintPanes() {
    TreeView->viewport()->update();
    KeyGrid->viewport()->update();
}

void TMainForm::focusTree() {
    TreeView->setFocus();
}

void TMainForm::focusValueRow(std::size_t row) {
    const int at = static_cast<int>(row);
    KeyGrid->setCurrentIndex(KeyGrid->model()->index(at, 0));
    KeyGrid->selectRow(at);
    KeyGrid->setFocus();
}

} // namespace quern
