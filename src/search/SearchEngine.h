#pragma once

#include "registry/RegAccessor.h"
#include "store/KeyWalk.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quern {

// What a search looks for, kept for the whole run: Search again reuses it, and the Find dialog
// shows it. The Find dialog stores an expression only together with at least one switch set.
struct SearchState {
    std::string expression;
    bool SearchKeys = true; // test key names
    bool SearchValueNames = true; // test value names
    bool SearchData = true; // test the text form of value data
    bool SearchCancelled = false; // the wait window was closed: the walk stops
    bool SearchClasses = true; // the running search enters HKEY_LOCAL_MACHINE\Software\CLASSES
};

// Finds the next key or value after a position whose name or data the expression accepts.
//
// A position is a key path (HKEY_CURRENT_USER\Software), a value path (the key path, two
// backslashes and the value name, empty for the default value), or the empty text for the top
// node. The walk goes: the start key's values after the start value, in case-insensitive order;
// each subkey, its name first and then everything below it; the start key's following siblings,
// and on up to its root; then further roots (from HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or the top
// node: HKEY_LOCAL_MACHINE, then HKEY_USERS; from HKEY_LOCAL_MACHINE: HKEY_USERS). A root's own
// name and the start key's own name are never tested.
//
// Keys are opened for reading, so a read-only registry is searched too, and a link that leads back
// to a key the walk is inside is not entered again, so the walk always ends. A key that cannot be
// opened is passed over with everything below it.
class RegistrySearch {
public:
    using Progress = std::function<void(const std::string& position)>;
    // Told each match of FindAll; false stops the walk there.
    using Hit = std::function<bool(const std::string& position)>;

    // pump runs once for every key the walk visits, before it reads the key: the window processes
    // its messages there, and may set state.SearchCancelled.
    RegistrySearch(reg::RegStore& store, SearchState& state, std::function<void()> pump = {});

    // True when a match was found; position then names it (a key path, or a value path). progress,
    // when given, is shown the start position, then each sibling subtree and further root as the
    // walk enters it. False when nothing more matches, when the start key cannot be opened, or when
    // the search was cancelled; position is then unspecified.
    bool SearchRegistry(std::string& position, bool topLevel, const Progress* progress = nullptr);

    // The same walk backwards, for Find previous: the match that Search again from it would
    // have found position at. Before a value come the values before it and then its key's own
    // name; before a key, its previous sibling's last descendant (each key's subkeys last to
    // first, then its values last to first, then its name), or its parent's last value and then
    // the parent's name; before a root's first key, nothing but, from HKEY_USERS, all of
    // HKEY_LOCAL_MACHINE. From the top node it starts at the end: HKEY_USERS, then
    // HKEY_LOCAL_MACHINE. So from the top node it meets exactly what Search again meets, in the
    // reverse order.
    bool SearchBackward(std::string& position, const Progress* progress = nullptr);

    // Every match from position on, in the order Search again from each match in turn would meet
    // them, in one walk; hit is told each. Returns how many there were.
    std::size_t FindAll(std::string position, const Hit& hit, const Progress* progress = nullptr);

    // Every match in the whole registry, wherever the search was started: HKEY_CURRENT_USER,
    // HKEY_LOCAL_MACHINE (with HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG inside it, and the hives
    // loaded there), HKEY_USERS without the user that HKEY_CURRENT_USER already showed, and
    // HKEY_DYN_DATA. Each key is met once, by the name a user knows it by.
    std::size_t FindEverywhere(const Hit& hit, const Progress* progress = nullptr);

    // True when the value name of key matches (with SearchValueNames), or else its data's text
    // (with SearchData). Data is read only when the name did not match.
    bool MatchValue(reg::HKey key, std::string_view name);

    // The path of the key the walk is at, while the pump runs: a window can show it now and then.
    [[nodiscard]] std::string_view visiting() const { return m_visiting ? *m_visiting : std::string_view(); }

    // How many keys and values the walks so far have visited, for the benchmark.
    [[nodiscard]] std::uint64_t keysVisited() const { return m_keys; }
    [[nodiscard]] std::uint64_t valuesTested() const { return m_values; }

private:
    // Shows the position, lets the window process its messages, and tells whether to go on.
    bool yield(const std::string& position, const Progress* progress);
    // A match at position: true when the walk stops there.
    bool found(const std::string& position);
    bool matchesName(std::string_view name) const;
    // Walks the key at keyPath with everything below it (its own name untested); with afterValue,
    // its values start after that one.
    bool searchSubtree(const std::string& keyPath, const std::string* afterValue, std::string& position);
    // The backward walk's steps (SearchBackward.cpp): a key's subtree last to first (its own name
    // untested; with beforeValue, only the values before it), a key's values before one and then
    // its name, the previous siblings and the ancestors up to the root, and the roots before.
    bool searchSubtreeBackward(const std::string& keyPath, const std::string* beforeValue, std::string& position);
    bool valuesBackward(
        reg::HKey key, const std::string& keyPath, const std::string* beforeValue, std::string& position);
    bool keyNameBackward(const std::string& keyPath, std::string& position);
    bool upwardBackward(const std::string& key, std::string& position, const Progress* progress);
    bool rootBackward(const std::string& root, std::string& position, const Progress* progress);
    // Whether the walk leaves the key out with everything below it.
    [[nodiscard]] bool leftOut(const reg::KeyWalk& walk) const;
    // Where name stands in names, letter case ignored, plus one; 0 when it is not there.
    [[nodiscard]] static std::size_t positionAfter(const std::vector<std::string>& names, std::string_view name);
    bool openPath(const std::string& keyPath, reg::HKey& key);
    // The keys the path passes through above its last one.
    [[nodiscard]] std::vector<std::uint64_t> identitiesAbove(const std::string& keyPath);
    [[nodiscard]] std::vector<std::string> sortedValueNames(reg::HKey key);
    [[nodiscard]] std::vector<std::string> subkeyNames(reg::HKey key);

    reg::RegStore& m_store;
    reg::RegAccessor m_registry; // its own, so a search moves no other command's key
    SearchState& m_state;
    std::function<void()> m_pump;
    const Hit* m_hit = nullptr; // set while FindAll runs
    const std::string* m_visiting = nullptr; // while the pump runs
    std::uint64_t m_leaveOut = 0; // a key met already under another name (FindEverywhere)
    bool m_opened = false; // whether the last subtree's own key could be opened
    std::uint64_t m_keys = 0;
    std::uint64_t m_values = 0;
    std::u16string m_name16;
    std::uint32_t m_type = 0;
    std::vector<std::uint8_t> m_data;
};

} // namespace quern
