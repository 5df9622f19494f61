#pragma once

#include <string>

class QMimeData;

namespace quern {

class CommandWindow;

// Edit > Copy (Ctrl+C) and Cut (Ctrl+X): with the tree focused, the selected key with everything
// below it; with the grid focused, the highlighted values (or the one under the cursor). The
// clipboard gets the lossless .reg text of it, for any other program, and Quern's own note of
// where it came from. A cut takes nothing away until it is pasted.
void copyToClipboard(CommandWindow& window, bool cut);

// Edit > Paste (Ctrl+V) into the key selected in the tree: a copied key goes below it, under its
// own name (a name taken there asks: merge into that key, or paste as "Name (2)"); copied values go
// into it. The changes are listed first, as an import's are, then written as one batch that Undo
// takes back at once. A cut in the same registry moves: the copy and the deletion in that one
// batch; from another registry it copies and says so. Text from another program that is a
// registry file is imported, through the import's preview.
void pasteFromClipboard(CommandWindow& window);

// What a copy of the key at keyPath puts on the clipboard, for a drag to carry as well.
[[nodiscard]] QMimeData* keyMimeData(CommandWindow& window, const std::string& keyPath, bool cut);

// A paste of data (the clipboard's, or a drop's) into the key selected in the tree; move, for a
// drop with Shift held, moves what the data copied as a cut does.
void pasteData(CommandWindow& window, const QMimeData& data, bool move = false);

} // namespace quern
