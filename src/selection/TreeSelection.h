#pragma once

#include "registry/RegAccessor.h"
#include "registry/TreeNode.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quern {

// The keys and values the user has marked for export, as an ordered list of entries whose form is
// external (the memo, the selection file and the export read them):
//   a value path (key path, "\\", value name)  that one value
//   a key path K                               K and its values
//   K followed by "\"                          K with everything below it
//   "\" alone                                  everything
enum SelState : int { selNone = 0, selBelow = 1, selAlone = 2, selWithSubkeys = 3 };

// The value separator: a key name never holds a backslash, so the first pair is always it.
inline constexpr std::string_view kValueSeparator = "\\\\";

[[nodiscard]] bool IsValuePath(std::string_view text);
// The text before the first pair of backslashes, or the whole text.
[[nodiscard]] std::string KeyOfPath(std::string_view text);
// The key part and the value name (the text after the first pair of backslashes; empty if none).
void SplitValuePath(std::string_view text, std::string& key, std::string& valueName);

class TTreeSel {
public:
    // The registry is asked for a key's subkeys and values when a change depends on them.
    explicit TTreeSel(reg::RegStore& store);

    [[nodiscard]] const std::vector<std::string>& Entries() const { return m_entries; }
    // Replaces every entry, as loading a selection file does: no entry is checked.
    void setEntries(std::vector<std::string> entries);

    // The state of a key path, a value path, or the empty path of the top node: the first entry, in
    // list order, that is at the path or covers it decides; otherwise selBelow when an entry lies
    // below it.
    [[nodiscard]] SelState StateOfPath(std::string_view path) const;
    [[nodiscard]] SelState StateOfNode(const TreeNode* node) const;
    // The same answer from a scan of every entry, without the index: the definition the index keeps.
    [[nodiscard]] SelState StateOfPathByScan(std::string_view path) const;

    void SelectNode(const TreeNode& node, bool withSubkeys);
    void DeselectNode(const TreeNode& node, bool withSubkeys);
    // Marks keys alone (a key path: the key and its values) and values (value paths) that the
    // selection does not hold yet, as the list of Find all's hits marks them: each becomes an
    // entry of its own, in the order given. Returns how many entries it added.
    std::size_t MarkPaths(const std::vector<std::string>& paths);
    // Selects or deselects by the node's state, then asks the tree to repaint.
    void ToggleNode(const TreeNode& node, bool withSubkeys);
    void SelectValue(const TreeNode& node, std::string_view valuePath);
    void DeselectValue(const TreeNode& node, std::string_view valuePath);

    // Called when the tree must be drawn again after a change.
    std::function<void()> repaintTree;

private:
    struct KeyInfo {
        std::size_t firstAt = SIZE_MAX; // first entry whose key part is this text
        bool firstAtRecursive = false;
        std::size_t firstRecursive = SIZE_MAX; // first recursive entry with this key part
        std::size_t below = 0; // entries whose key part continues with a backslash after it
    };
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
    };

    void append(std::string entry);
    void removeAt(std::size_t position);
    void removeAtOrBelow(std::string_view path);
    void changed() { m_indexValid = false; }
    void buildIndex() const;
    bool listSubkeys(std::string_view keyPath, std::vector<std::string>& names);
    bool listValues(std::string_view keyPath, std::vector<std::string>& names);

    // Its own way into the registry: what it opens never moves a key another command works in.
    reg::RegAccessor m_registry;
    std::vector<std::string> m_entries;
    // An index over the entries' key parts, rebuilt after a change when next asked: the tree asks
    // for the state of every item it paints.
    mutable std::unordered_map<std::string_view, KeyInfo, Hash, std::equal_to<>> m_index;
    mutable bool m_anyNonEmptyKey = false;
    mutable bool m_indexValid = false;
};

} // namespace quern
