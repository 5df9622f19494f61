#pragma once

class QAction;

namespace quern {

class CommandWindow;

// Undo (Ctrl+Z): takes back the newest change a command made, as one write, and shows the key it
// changed in the tree and grid. When it cannot run (the registry cannot be written now, or the
// file was changed on disk and read again since) it says why and changes nothing.
void runUndo(CommandWindow& window);
// Redo (Ctrl+Y, Ctrl+Shift+Z): makes the newest undone change again, the same way.
void runRedo(CommandWindow& window);

// Names the change each item would take back or make again ("Undo delete of
// HKEY_CURRENT_USER\Software\Example"); an item with nothing to do is disabled and says only
// Undo or Redo.
void showUndoItems(CommandWindow& window, QAction* undo, QAction* redo);

} // namespace quern
