#pragma once

#include <QString>

class QStyleOptionViewItem;

namespace quern {

class KeyTreeItem;
struct PaneColours;
class CommandWindow;
class TTreeSel;

// The selection commands of the main window; its handlers of the same names call them with the
// window's selection.

// Space: with the grid focused, the highlighted values are selected (or, when every one of them
// is selected already, deselected); with the tree focused, the selected key is toggled, with its
// subkeys or alone. The marks and the memo follow.
void toggleSelection(CommandWindow& window, TTreeSel& selection, bool withSubkeys);

// The look of a tree item by its selection state: bold with its subkeys, blue alone, grey with
// something selected below it; in the colours the panes are drawn in.
void styleTreeItem(
    const TTreeSel& selection, QStyleOptionViewItem& option, const KeyTreeItem* item, const PaneColours& colours);

// The memo's text: every entry of the selection on a line of its own.
[[nodiscard]] QString selectionMemoText(const TTreeSel& selection);

// Save key selection and Load key selection, through the window's file dialogs. A load replaces
// the selection, then refreshes the tree so that it shows the marks.
void saveSelectionFile(CommandWindow& window, const TTreeSel& selection);
void loadSelectionFile(CommandWindow& window, TTreeSel& selection);

} // namespace quern
