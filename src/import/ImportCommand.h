#pragma once

#include <string>

class QString;

namespace quern {

class CommandWindow;

// File > Import...: asks for a registry file, reads it (a file that cannot be read, or that the
// reader refuses, is named with its line and what was expected there, and nothing is written),
// and shows the changes it would make before any is written. Import writes them as one batch,
// Cancel writes nothing; a read-only registry writes nothing and says why. Then the tree and the
// grid show the registry as it is, the selected key kept where it still exists. A file that would
// change nothing is said to, and nothing is asked.
void runRegImport(CommandWindow& window);

// The same for a file already chosen: quern FILE.reg, as the file manager opens a registry file.
void importRegFile(CommandWindow& window, const QString& file);

// The same for the bytes of a registry file that came from elsewhere (a paste), named name.
void importRegBytes(CommandWindow& window, const QString& name, const std::string& bytes);

} // namespace quern
