#pragma once

#include "registry/RegU.h"
#include "store/RegStore.h"

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

class QAction;
class QWidget;

namespace quern {

class FileDialogs;
class KeyTreeItem;
class Preferences;

// The main window as the commands see it: which pane has the keyboard, the key and values it
// shows, the store, and the moves a command makes in it afterwards. The commands of editor/,
// search/, selection/, export/ and import/ take this, never the window's class, so that the window
// wires them and none of them depends on it. What belongs to one subsystem alone (the search's
// state, the selection) the window hands that subsystem's commands beside it.
class CommandWindow {
public:
    virtual ~CommandWindow() = default;

    // The window itself: the parent of a command's dialogs and message boxes.
    [[nodiscard]] virtual QWidget* widget() = 0;
    [[nodiscard]] virtual reg::RegStore& store() = 0;
    // The save and open dialogs the file commands share, each remembering its last file.
    [[nodiscard]] virtual FileDialogs& sharedFileDialogs() = 0;
    // What the user turned on or kept beyond settings.ini (preferences.ini beside it). A command
    // that changes them calls preferencesChanged(), which writes them at once, so a crash or a second
    // window does not lose them, and tells the user when they could not be written.
    [[nodiscard]] virtual Preferences& preferences() = 0;
    virtual void preferencesChanged() = 0;
    // Says something in the status bar until the next message (the empty text clears it).
    virtual void showStatusMessage(const QString& text) = 0;
    // The grid's view modes, by which a value's text is made.
    [[nodiscard]] virtual int binViewMode() const = 0;
    [[nodiscard]] virtual int dwordViewMode() const = 0;

    enum class Pane { Other, Tree, Grid };
    [[nodiscard]] virtual Pane focusedPane() const = 0;
    // The grid's cursor row while the grid has the focus: the row of a value, the blank row of a
    // key without values (past the names), or -1 where the grid has no cursor.
    [[nodiscard]] virtual int focusedGridRow() const = 0;
    // The rows the user highlighted in the grid that hold a value, top to bottom.
    [[nodiscard]] virtual std::vector<std::size_t> highlightedValueRows() const = 0;
    // The values the grid shows, in its order: name, type, bytes and text.
    [[nodiscard]] virtual const std::vector<ValueRow>& valueRows() const = 0;
    [[nodiscard]] virtual KeyTreeItem* currentNode() const = 0; // the tree's selected node

    // Shows the node's values in the grid again, read from the registry.
    virtual void FillGrid(KeyTreeItem* node) = 0;
    virtual void focusTree() = 0;
    virtual void focusValueRow(std::size_t row) = 0;
    virtual void repaintPanes() = 0;
    // Selects the key at a key path (as the registry names it) in the tree, as far as it exists.
    virtual void goToKeyPath(const std::string& path) = 0;
    // Reads the tree again from the registry after a change the tree did not follow, and selects
    // the key at path as far as it exists.
    virtual void showTreeAgain(const std::string& path) = 0;
    // Runs the tree's change now when it is still waiting for its delay: the grid and the path
    // line then show the selected key at once.
    virtual void flushTreeChange() = 0;
    // Refresh: the tree and the grid read again, the selected key kept where it still exists.
    virtual void RefreshMNUClick() = 0;

    // The registry an open window or tab shows at location (a store's location()), so that a paste
    // reads what was copied there; null when none is open. A window alone knows only its own.
    [[nodiscard]] virtual reg::RegStore* openRegistryAt(const std::string& location) {
        return location == store().location() ? &store() : nullptr;
    }

    // The captions of the two selection items, by whether the key the tree stands on is selected.
    virtual void SelMenu(bool selected) = 0;
    // The memo lists the selection's entries again.
    virtual void showSelectionInMemo() = 0;
    // Sets the caption of an edit item, with its key beside it while the edit keys are on.
    virtual void setEditCaption(QAction* action, const QString& caption) = 0;
};

} // namespace quern
