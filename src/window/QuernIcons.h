#pragma once

#include <QIcon>

namespace quern {

// The pictures of the tree and the grid, drawn for Quern at 16 by 16 pixels and at 32 by 32 for
// screens of high density.
enum class QuernIcon {
    Folder, // a key
    Computer, // the top node of the tree
    Strings, // red letters ab: string and expand string values
    Binary, // blue binary digits: binary and every other kind
    Dword, // red digits 12: DWORD values
};

[[nodiscard]] QIcon quernIcon(QuernIcon which);

} // namespace quern
