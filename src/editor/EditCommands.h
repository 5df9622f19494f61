#pragma once

namespace quern {

class CommandWindow;

// Modify (Enter, F2, a double click on the grid): with the grid focused, the value of its current
// row in the editor dialog; OK writes it, and the grid then shows the key's values again with the
// value's row current. A key that cannot be opened says "Cannot Open key" and shows no dialog.
// With the tree focused, it renames the selected key instead (KeyCommands.h).
void runModify(CommandWindow& window);

} // namespace quern
