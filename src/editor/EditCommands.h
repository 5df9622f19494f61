#pragma once

#include <cstdint>
#include <optional>

namespace quern {

class CommandWindow;
struct EditRequest;

namespace reg {
class RegAccessor;
}

// Modify (Enter, F2, a double click on the grid): with the grid focused, the value of its current
// row in the editor dialog; OK writes it, and the grid then shows the key's values again with the
// value's row current. A key that cannot be opened says "Cannot Open key" and shows no dialog.
// With the tree focused, it renames the selected key instead (KeyCommands.h).
void runModify(CommandWindow& window);

// Modify binary data (the grid's popup): as Modify, with the value's stored bytes on the binary
// page whatever its type, which it keeps.
void runModifyBinary(CommandWindow& window);

// New ... value of a given type (REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY,
// REG_MULTI_SZ): as New with the grid focused, a value of the selected key through the editor
// dialog, which opens on the page of that type and names the type it will have; afterwards the
// grid shows the new value's row. Nothing on the top node; whatever pane has the focus.
void newValueOfType(CommandWindow& window, std::uint32_t type);

// Shows the editor dialog for a request over the command's accessor (its key already open), with
// the window's DWORD mode and preferences, for a new value made as newType when given; true
// after OK.
enum class EditStart { AsStored, BinaryBytes };
bool runEditForm(CommandWindow& window, reg::RegAccessor& registry, EditRequest& request,
    std::optional<std::uint32_t> newType = std::nullopt, EditStart start = EditStart::AsStored);

} // namespace quern
