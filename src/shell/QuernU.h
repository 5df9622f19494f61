#pragma once

#include "registry/RegAccessor.h"
#include "registry/RegU.h"
#include "search/SearchEngine.h"
#include "selection/TreeSelection.h"
#include "store/RegStore.h"
#include "transfer/CompareWindow.h"
#include "window/CommandWindow.h"
#include "window/FileDialogs.h"
#include "window/Preferences.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class QAction;
class QStyleOptionViewItem;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QPlainTextEdit;
class QShortcut;
class QSplitter;
class QTableView;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace quern {

class ElidedLabel;
class GridViewOptions;
class KeyDetailsPart;
class QuernIniFile;
class KeyTreeItem;
class ReadOnlyBar;
class SearchHitsPane;
class ValueGridModel;

// How a form that is one tab of the tabbed window differs from a window of its own.
struct FormOptions {
    // Names the registry in the title and the status bar; empty for the registry chosen at start,
    // which they name as they always have.
    QString registryName;
    // The tabs share one set of preferences, so that what one tab keeps another does not write over.
    Preferences* sharedPreferences = nullptr;
    // Gives the window the placement settings.ini keeps (the first tab does, the later ones not).
    bool placesWindow = true;
    // The registry another tab shows at a location, for a paste of what was copied there.
    std::function<reg::RegStore*(const std::string& location)> findRegistry;
    // The open registries for the compare window, and how to show a key of one in its tab.
    CompareHost tabs;
};

// The main window: the path line above, the key tree on the left, the value grid on the right,
// the memo of the selection below, and every command in its menus.
class TMainForm : public QMainWindow, public CommandWindow, private TreeNavigator {
    Q_OBJECT

public:
    // With a parent the form is a widget inside it (a tab); without, a window of its own.
    explicit TMainForm(reg::RegStore& store, QWidget* parent = nullptr, FormOptions options = {});
    ~TMainForm() override;

    // The two view modes of the grid (one byte each, as the settings store them).
    int BinViewMode = 2;
    int DWViewMode = 1;

    // What commands need of the panes, without reaching into their widgets (CommandWindow).
    [[nodiscard]] QWidget* widget() override { return this; }
    [[nodiscard]] FileDialogs& sharedFileDialogs() override { return fileDialogs; }
    [[nodiscard]] Preferences& preferences() override { return *m_preferences; }
    void preferencesChanged() override;
    void showStatusMessage(const QString& text) override;
    [[nodiscard]] int binViewMode() const override { return BinViewMode; }
    [[nodiscard]] int dwordViewMode() const override { return DWViewMode; }
    [[nodiscard]] Pane focusedPane() const override;
    [[nodiscard]] int focusedGridRow() const override;
    [[nodiscard]] std::vector<std::size_t> highlightedValueRows() const override;
    void repaintPanes() override;
    void focusTree() override;
    void focusValueRow(std::size_t row) override;

    [[nodiscard]] reg::RegAccessor& registry() { return *m_registry; }
    [[nodiscard]] reg::RegStore& store() override { return m_store; }
    [[nodiscard]] reg::RegStore* openRegistryAt(const std::string& location) override;
    [[nodiscard]] TTreeSel& selection() { return *m_selection; }
    [[nodiscard]] SearchState& searchState() { return m_searchState; }
    [[nodiscard]] SearchHitsPane& hitsPane() { return *m_hitsPane; }
    [[nodiscard]] const std::vector<ValueRow>& valueRows() const override;
    [[nodiscard]] QString cellText(int column, int row) const; // row 0 is the header
    [[nodiscard]] KeyTreeItem* currentNode() const override;
    [[nodiscard]] QString readOnlyText() const; // the bar above the panes; empty while writable
    [[nodiscard]] QString locationText() const; // the registry's folder, as the status bar names it
    // What the tabbed window needs: the File menu it adds its items to, the exit question, and
    // whether this form writes settings.ini when it goes (only the tab in front does).
    [[nodiscard]] QMenu* fileMenu() const { return FileMNU; }
    [[nodiscard]] bool confirmExit() { return FormCloseQuery(); }
    [[nodiscard]] bool hasSelectionShown() const;
    void setKeepsSettings(bool keeps) { m_keepsSettings = keeps; }
    // How many times each command that a later part of the program fills has been asked for.
    [[nodiscard]] int seamCalls(const char* handler) const;

    // Key tree
    void TreeViewExpanding(QTreeWidgetItem* item);
    void TreeViewCollapsing(QTreeWidgetItem* item);
    void TreeViewChange(QTreeWidgetItem* item);
    void PathEditChange();
    void RefreshMNUClick() override;
    void goToKeyPath(const std::string& path) override;
    void showTreeAgain(const std::string& path) override;
    void flushTreeChange() override;
    // Tells the user, once each, what the store found wrong in the files as it read them.
    void showNewLoadMessages();
    void GoToPath(const QString& path);

    // Value grid
    void FillGrid(KeyTreeItem* node) override;
    void SelectBvm();
    void SelectIvm();
    void KeyGridDrawCell(QPainter& painter, int column, int row, const QRect& rect, bool selected);
    void applyDataColumnRule();

    // The selection
    void SelMNUClick(QObject* sender);
    void ValueSelMNUClick();
    void SelMenu(bool selected) override;
    void TreeViewCustomDrawItem(QStyleOptionViewItem& option, const KeyTreeItem* item) const;
    void SaveSelMNUClick();
    void REGExportMNUClick();
    void LoadSelMNUClick();
    void showSelectionInMemo() override;

    // The search
    void SearchMNUClick();
    void SearchAgainMNUClick();
    // The save and open dialogs the file commands share.
    FileDialogs fileDialogs { this };

    // Menu states by focus
    void setEditCaption(QAction* action, const QString& caption) override;
    void KeySelectable(bool selectable);
    void DisableShortcut();
    void EnableShortcut();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls. Other files reach the panes through the questions and moves above; tests find
    // the controls by these names as their object names.
    QFrame* ButtonPanel = nullptr;
    QLineEdit* PathEdit = nullptr;
    QTreeWidget* TreeView = nullptr;
    QSplitter* Splitter = nullptr;
    QTableView* KeyGrid = nullptr;
    QPlainTextEdit* Memo = nullptr;
    QMenu* TreePopupMenu = nullptr;
    QMenu* GridPopupMenu = nullptr;

    QMenu* FileMNU = nullptr;
    QAction* REGExportMNU = nullptr;
    QAction* LoadSelMNU = nullptr;
    QAction* SaveSelMNU = nullptr;
    QAction* LoadHiveMNU = nullptr;
    QAction* UnloadHiveMNU = nullptr;
    QAction* ExitMNU = nullptr;
    QMenu* EditMNU = nullptr;
    QAction* SelRecurseMNU = nullptr;
    QAction* SelMNU = nullptr;
    QAction* ValueSelMNU = nullptr;
    QAction* N2 = nullptr;
    QAction* NewMNU = nullptr;
    QAction* ModifyMNU = nullptr;
    QAction* DeleteMNU = nullptr;
    QAction* CutMNU = nullptr;
    QAction* CopyMNU = nullptr;
    QAction* PasteMNU = nullptr;
    QAction* UndoMNU = nullptr;
    QAction* RedoMNU = nullptr;
    QMenu* FindMNU = nullptr;
    QAction* SearchMNU = nullptr;
    QAction* SearchAgainMNU = nullptr;
    QMenu* ViewMNU = nullptr;
    QMenu* DWORDviewas1 = nullptr;
    QAction* DWBinMNU = nullptr;
    QAction* DWDecMNU = nullptr;
    QAction* DWHexMNU = nullptr;
    QMenu* BinaryviewasMNU = nullptr;
    QAction* DecMNU = nullptr;
    QAction* HexMNU = nullptr;
    QAction* CharMNU = nullptr;
    QAction* RefreshMNU = nullptr;
    QMenu* HelpMNU = nullptr;
    QAction* Contents1 = nullptr;
    QAction* AboutMNU = nullptr;
    QAction* NewkeyPMNU = nullptr;
    QAction* NewValuePMNU = nullptr;

    // The settings are the window's own layout: they read and set the controls themselves.
    friend void readSettings(TMainForm& form, QuernIniFile& settings);
    friend void writeSettings(TMainForm& form, QuernIniFile& settings);

    struct EditShortcut {
        QAction* action;
        QString caption;
        QString keyText;
        std::vector<QShortcut*> keys;
    };

    void FormCreate();
    bool FormCloseQuery();
    void FormClose();
    void buildControls();
    void buildMenus();
    void buildTreePopup(); // QuernUPopups.cpp
    void buildCompareItems();
    [[nodiscard]] CompareHost compareHost();
    void buildGridPopup();
    void buildNavigationItems();
    void nameMenus();
    void focusChanged(QWidget* old, QWidget* now);
    void TreeViewEnter();
    void TreeViewExit();
    void KeyGridEnter();
    void KeyGridExit();
    void ButtonPanelEnter();
    void ButtonPanelExit();
    void SplitterMoved();
    void initialiseTree();
    void fillNode(KeyTreeItem* node, bool expanding);
    void updateReadOnlyNotice();
    void seam(const char* handler);
    QAction* addItem(QMenu* menu, const QString& caption, const QKeySequence& key, const QString& hint);
    void editShortcut(QAction* action, const QString& caption, const QString& keyText,
        const std::vector<QKeySequence>& keys, const std::function<void()>& handler);

    // The commands that later parts of the program carry out.
    void NewMNUClick();
    void ModifyMNUClick();
    void DeleteMNUClick();
    void Contents1Click();
    void AboutMNUClick();

    // TreeNavigator, over the window's tree.
    TreeNode* topNode() override;
    void expandNode(TreeNode* node) override;
    TreeNode* selectedNode() override;
    void selectNode(TreeNode* node) override;

    reg::RegStore& m_store;
    FormOptions m_options;
    Preferences m_ownPreferences;
    Preferences* m_preferences = &m_ownPreferences;
    QString m_holdersFor; // the read-only reason the holders' sentence was found for
    QString m_holders;
    bool m_keepsSettings = true;
    std::unique_ptr<TTreeSel> m_selection;
    std::unique_ptr<reg::RegAccessor> m_registry;
    ValueGridModel* m_gridModel = nullptr;
    GridViewOptions* m_gridView = nullptr;
    KeyDetailsPart* m_keyDetails = nullptr;
    QTimer* m_changeTimer = nullptr;
    ReadOnlyBar* m_readOnlyBar = nullptr;
    SearchHitsPane* m_hitsPane = nullptr;
    SearchState m_searchState;
    QLabel* m_readOnlyLabel = nullptr;
    ElidedLabel* m_locationLabel = nullptr;
    QPointer<QWidget> m_paneFocus; // the last widget outside the menus that had the keyboard
    std::vector<EditShortcut> m_editShortcuts;
    std::unordered_set<std::string> m_messagesShown;
    bool m_shortcutsOn = true;
    bool m_startupNavigation = false;
    bool m_treeFilling = false;
    std::vector<std::pair<std::string, int>> m_seamCalls;
};

} // namespace quern
