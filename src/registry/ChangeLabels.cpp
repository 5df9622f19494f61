#include "registry/ChangeLabels.h"

namespace quern {

namespace {

std::string valueName(const std::string& name) {
    return name.empty() ? std::string("the default value") : "value \"" + name + "\"";
}

std::string below(const std::string& parentPath, const std::string& name) {
    return parentPath.empty() ? name : parentPath + "\\" + name;
}

} // namespace

reg::ChangeLabel valueEditLabel(
    const std::string& keyPath, const std::string& name, bool created, const std::string& oldName) {
    std::string what = created ? "new " + valueName(name) : "edit of " + valueName(oldName.empty() ? name : oldName);
    if (!created && !oldName.empty() && oldName != name)
        what = "rename of " + valueName(oldName) + " to \"" + name + "\"";
    return { what + " in " + keyPath, keyPath, keyPath };
}

reg::ChangeLabel newKeyLabel(const std::string& parentPath, const std::string& name) {
    // Undone, the key is gone and the window shows its parent; made again, the key itself.
    return { "new key " + below(parentPath, name), below(parentPath, name), parentPath };
}

reg::ChangeLabel renameKeyLabel(const std::string& parentPath, const std::string& oldName, const std::string& newName) {
    return { "rename of " + below(parentPath, oldName) + " to " + newName, below(parentPath, newName),
        below(parentPath, oldName) };
}

reg::ChangeLabel deleteKeyLabel(const std::string& keyPath) {
    const std::size_t slash = keyPath.rfind('\\');
    const std::string parent = slash == std::string::npos ? std::string() : keyPath.substr(0, slash);
    return { "delete of " + keyPath, parent, keyPath };
}

reg::ChangeLabel deleteValuesLabel(const std::string& keyPath, const std::vector<std::string>& names) {
    const std::string what = names.size() == 1 ? valueName(names.front()) : std::to_string(names.size()) + " values";
    return { "delete of " + what + " in " + keyPath, keyPath, keyPath };
}

reg::ChangeLabel pasteLabel(
    const std::string& targetPath, const std::string& what, bool moved, const std::string& sourcePath) {
    // Undone, a move shows where the key came from again; a copy shows where it went.
    return { (moved ? "move of " : "paste of ") + what + " into " + targetPath, targetPath,
        moved ? sourcePath : targetPath };
}

reg::ChangeLabel importLabel(const std::string& fileName, const std::string& keyPath) {
    return { "import of " + fileName, keyPath, keyPath };
}

} // namespace quern
