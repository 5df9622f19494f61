#pragma once

#include "store/RegStore.h"

#include <string>
#include <vector>

namespace quern {

// How the Undo and Redo items name the change each command makes, from key paths as the tree
// names them (HKEY_CURRENT_USER\Software\Example); each also says which key the window shows once
// the change is undone or made again.

// A value written through the editor dialog: created, or changed (and perhaps renamed from oldName).
[[nodiscard]] reg::ChangeLabel valueEditLabel(
    const std::string& keyPath, const std::string& name, bool created, const std::string& oldName = {});
[[nodiscard]] reg::ChangeLabel newKeyLabel(const std::string& parentPath, const std::string& name);
[[nodiscard]] reg::ChangeLabel renameKeyLabel(
    const std::string& parentPath, const std::string& oldName, const std::string& newName);
// A key with everything below it.
[[nodiscard]] reg::ChangeLabel deleteKeyLabel(const std::string& keyPath);
[[nodiscard]] reg::ChangeLabel deleteValuesLabel(const std::string& keyPath, const std::vector<std::string>& names);
// A key or values pasted into targetPath (what names them: the key's name, or "3 values"); moved
// when the paste takes them from where they were cut, sourcePath.
[[nodiscard]] reg::ChangeLabel pasteLabel(
    const std::string& targetPath, const std::string& what, bool moved, const std::string& sourcePath);
// A registry file read into the registry; keyPath is the first key it changed, if any.
[[nodiscard]] reg::ChangeLabel importLabel(const std::string& fileName, const std::string& keyPath);

} // namespace quern
