#pragma once

#include "base/RegTypes.h"
#include "registry/RegAccessor.h"
#include "registry/TreeNode.h"

#include <array>
#include <string>
#include <string_view>

namespace quern {

// Key paths: the root key's name, then a backslash and a key name for every further level
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes). A root key's path is its name; the top node's is empty;
// a key path never ends in a backslash. The subkey path is what follows the root's name, with its
// leading backslash (\SOFTWARE\Classes), empty for a root key.

struct RootKey {
    std::string_view name;
    reg::HKey handle;
};

// The root keys in the order the tree shows them.
inline constexpr std::array<RootKey, 6> kRootKeys { {
    { "HKEY_CLASSES_ROOT", reg::kClassesRoot },
    { "HKEY_CURRENT_USER", reg::kCurrentUser },
    { "HKEY_LOCAL_MACHINE", reg::kLocalMachine },
    { "HKEY_USERS", reg::kUsers },
    { "HKEY_CURRENT_CONFIG", reg::kCurrentConfig },
    { "HKEY_DYN_DATA", reg::kDynData },
} };

// Selects the root of that exact name (case counts) and returns true; any other text leaves the
// root as it was and returns false.
bool selectRootByName(reg::RegAccessor& registry, std::string_view name);

// The node's key path; empty for no node and for the top node.
[[nodiscard]] std::string keyPathOfNode(const TreeNode* node);

// The root key's name and the subkey path of the node; both empty for no node or the top node.
void splitNodePath(const TreeNode* node, std::string& rootName, std::string& subkeyPath);

// Opens the key at a key path with full access (or for reading only) and leaves it as the current
// key, its root as the current root. True when it opened. A path whose root name is none of the six
// opens nothing and changes nothing.
bool openKeyPath(reg::RegAccessor& registry, std::string_view path, reg::Access access = reg::Access::Full);

// A\B\C gives A\B; a text without a backslash gives the empty text.
[[nodiscard]] std::string parentPath(std::string_view path);

// HKEY_USERS\A\B gives A\B; a root name alone gives the empty text.
[[nodiscard]] std::string pathBelowRoot(std::string_view path);

// Returns the text before the first backslash and removes it, with that backslash, from text:
// A\B\ gives A and leaves B\; a text without a backslash is returned whole and leaves it empty.
std::string takeFirstComponent(std::string& text);

// The key path as a list shows it: each CR and LF drawn as its control picture (U+240D, U+240A),
// so that a name holding a line break stays on its line and can be told from a path separator, and
// a lone surrogate as its escape, so that the text is UTF-8.
[[nodiscard]] std::string shownKeyPath(std::string_view path);

// --- The key tree ---

struct ChildKey {
    std::string name;
    bool hasSubkeys = false; // the node gets an expand button
};

// The children a node gets when it is expanded, sorted without regard to case: the six roots
// under the top node; under a key, its subkeys that open for reading. False, with children
// empty, when the node's own key cannot be opened for reading: the node then stays as it is.
bool readChildKeys(reg::RegAccessor& registry, const TreeNode& node, std::vector<ChildKey>& children);

// What go to path needs of a tree: the window's tree, or a plain tree in the tests.
class TreeNavigator {
public:
    virtual ~TreeNavigator() = default;
    [[nodiscard]] virtual TreeNode* topNode() = 0; // null when the tree has no nodes
    virtual void expandNode(TreeNode* node) = 0; // reads the node's children as an expansion does
    [[nodiscard]] virtual TreeNode* selectedNode() = 0;
    virtual void selectNode(TreeNode* node) = 0;
};

// Walks from the top node along the path's components, comparing names without regard to ASCII
// case and expanding each key on the way, and selects the deepest key the path matches.
void goToPath(TreeNavigator& tree, std::string text);

// --- The value grid ---

// The kind letter of a grid row: s strings, n DWORDs, b binary and everything else.
[[nodiscard]] char kindLetter(reg::ValueKind kind);

// One value as the grid holds it: what the registry stores, and the text the view modes make of
// it. Commands that act on a row (select, export, edit) take its name, type and bytes from here.
struct ValueRow {
    std::string name; // UTF-8; the default value's is empty
    std::uint32_t type = reg::kRegNone;
    std::vector<std::uint8_t> data; // the bytes as stored
    char kind = 'b';
    std::string text; // the data as the view modes show it
};

// How the data cells read: as the view modes show bytes (gridText), or, while the grid's Type
// column names each value's type, with multi-strings and the other numbers readable
// (readableGridText).
enum class GridTexts { Bytes, Readable };

// The row's letter and text, from its type and bytes, by the view modes.
void renderRow(ValueRow& row, int binaryMode, int dwordMode, GridTexts texts = GridTexts::Bytes);

// The grid's content for a node: a row for each value, sorted by name (the default value first)
// unless byName is false (the caller sorts them its own way next, ties by name). The key is opened
// with full access and stays the current key; a key that refuses full access is opened for
// reading, so that a read-only registry still shows its values.
enum class RowOrder { ByName, AsRead };
void fillGridRows(reg::RegAccessor& registry, const TreeNode* node, int binaryMode, int dwordMode,
    std::vector<ValueRow>& rows, GridTexts texts = GridTexts::Bytes, RowOrder order = RowOrder::ByName);

// One value of the accessor's current key as the grid shows it, by the view modes; a value that
// is missing gives a row of empty binary data.
[[nodiscard]] ValueRow renderValue(reg::RegAccessor& registry, const std::string& name, int binaryMode, int dwordMode);

} // namespace quern
