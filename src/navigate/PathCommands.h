#pragma once

#include <string>

namespace quern {

class CommandWindow;

// Edit > Copy key path (Ctrl+Shift+C): puts the selected key's path on the clipboard
// (HKEY_LOCAL_MACHINE\Software\Wine). With the grid focused on a named value, the value's name
// follows the key's path after a backslash (...\Wine\Version), the form Go to path reads back; the
// status bar says which of the two was copied.
void runCopyKeyPath(CommandWindow& window);

// Edit > Go to path... (Ctrl+G): asks for a path, offering the one on the clipboard when it reads
// as one, in any form parsePastedKeyPath takes, and goes there.
void runGoToPath(CommandWindow& window);

// Goes to a key path the tree names as far as it exists. When exactly the last component is
// missing and names a value of the key reached, that value's row is focused instead; otherwise the
// status bar says which part is missing. True when the whole path was found.
bool goToFoundPath(CommandWindow& window, const std::string& path);

// The grid's popup: the focused value's name, and its data as reg query shows it, to the clipboard.
void runCopyValueName(CommandWindow& window);
void runCopyValueData(CommandWindow& window);

} // namespace quern
