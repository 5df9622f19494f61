#pragma once

namespace quern {

class CommandWindow;
class TTreeSel;

// Export to .REG file: asks for the file, then writes the window's selection, read live from the registry;
// with nothing selected, the value the grid's focus is on or the selected key with all below it.
// A failed write leaves no file behind and says why; keys the format cannot hold are named.
void runRegExport(CommandWindow& window, const TTreeSel& selection);

} // namespace quern
