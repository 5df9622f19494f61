#pragma once

namespace quern {

class CommandWindow;

// New (Ins and the two popup items): with the grid focused a value of the selected key, otherwise
// a subkey of it, through the editor dialog; afterwards the grid shows the new value's row, or the
// tree the new key, selected, once. Nothing on the top node.
void runNew(CommandWindow& window);

// Modify with the tree focused: renames the selected key (not a root key) through the editor
// dialog; the node then carries the new name among its sorted siblings.
void runRenameKey(CommandWindow& window);

// Delete (Del): with the tree focused the selected key with everything below it, after a question;
// with the grid focused the highlighted values, one question each (All and No to All on all but
// the last). Each command writes once, at its end, and a failure changes nothing on disk: a key
// that could not be deleted keeps its node, and the user is told why.
void runDelete(CommandWindow& window);

} // namespace quern
