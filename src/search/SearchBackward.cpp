// The registry search backwards (Find previous): the forward walk's order reversed, step for step,
// so that Find previous from a match finds the match Search again came from.

#include "search/SearchEngine.h"

#include "codec/Utf.h"
#include "registry/RegU.h"
#include "search/JollyCheckU.h"
#include "selection/TreeSelection.h"

#include <algorithm>

namespace quern {

namespace {

using reg::HKey;
using reg::Status;

// The last component of a key path: the name its parent lists it by.
std::string_view lastName(std::string_view keyPath) {
    const std::size_t cut = keyPath.rfind('\\');
    return cut == std::string_view::npos ? keyPath : keyPath.substr(cut + 1);
}

} // namespace

bool RegistrySearch::valuesBackward(
    HKey key, const std::string& keyPath, const std::string* beforeValue, std::string& position) {
    const std::vector<std::string> names = sortedValueNames(key);
    std::size_t end = names.size();
    // A value no longer there starts the key again from its last value, as forwards from its first.
    if (beforeValue) {
        if (const std::size_t at = positionAfter(names, *beforeValue); at > 0) end = at - 1;
    }
    for (std::size_t i = end; i-- > 0;) {
        if (!MatchValue(key, names[i])) continue;
        position = keyPath + std::string(kValueSeparator) + names[i];
        if (found(position)) return true;
    }
    return false;
}

// A key's own name, which forwards is met just before its values. A root's name is never tested.
bool RegistrySearch::keyNameBackward(const std::string& keyPath, std::string& position) {
    if (parentPath(keyPath).empty() || !m_state.SearchKeys || !matchesName(lastName(keyPath))) return false;
    position = keyPath;
    return found(position);
}

bool RegistrySearch::searchSubtreeBackward(
    const std::string& keyPath, const std::string* beforeValue, std::string& position) {
    reg::KeyHandle start(m_store);
    if (!openPath(keyPath, start.out())) {
        m_opened = false;
        return false;
    }
    m_opened = true;
    // The keys above count as on the walk's way, as forwards: a link back up is not entered.
    const std::vector<std::uint64_t> above = identitiesAbove(keyPath);
    reg::KeyInfo info;
    if (m_store.queryInfo(start.get(), info) == Status::Ok
        && std::find(above.begin(), above.end(), info.identity) != above.end())
        return false;
    // Each key is met on the way down, where the forward walk yields, and again on the way back
    // up, after everything below it: there its values come, last to first, and then its name.
    reg::KeyWalk walk(m_store, start.get(), keyPath, reg::KeyWalk::Links::Follow, true);
    walk.goBackwards();
    for (const std::uint64_t identity : above)
        walk.addAbove(identity);
    while (walk.next()) {
        const bool inside = walk.depth() > 0;
        if (inside && leftOut(walk)) {
            walk.skipSubkeys();
            continue;
        }
        if (!walk.leaving()) {
            if (!inside) continue;
            if (walk.status() == Status::Ok) {
                if (!yield(walk.path(), nullptr)) return false;
                continue;
            }
            // A key that cannot be opened, or a link back up, is met once: its name is all it has.
            if (keyNameBackward(walk.path(), position)) return true;
            continue;
        }
        if (valuesBackward(walk.key(), walk.path(), inside ? nullptr : beforeValue, position)) return true;
        if (inside && keyNameBackward(walk.path(), position)) return true;
    }
    return false;
}

// From a key up to its root: each ancestor's subkeys before the one the walk came from, last to
// first, each with everything below it and then its name; then the ancestor's values and name.
bool RegistrySearch::upwardBackward(const std::string& key, std::string& position, const Progress* progress) {
    position = key;
    for (std::string parent = parentPath(key); !parent.empty(); parent = parentPath(parent)) {
        std::vector<std::string> siblings;
        reg::KeyHandle parentKey(m_store);
        if (openPath(parent, parentKey.out())) siblings = subkeyNames(parentKey.get());
        const std::size_t at = positionAfter(siblings, position.substr(parent.size() + 1));
        for (std::size_t i = at > 0 ? at - 1 : siblings.size(); i-- > 0;) {
            const std::string sibling = parent + "\\" + siblings[i];
            position = sibling;
            if (!yield(position, progress)) return false;
            if (searchSubtreeBackward(sibling, nullptr, position)) return true;
            if (m_state.SearchCancelled) return false;
            if (keyNameBackward(sibling, position)) return true;
        }
        if (parentKey.get() != reg::kNoKey && valuesBackward(parentKey.get(), parent, nullptr, position)) return true;
        if (keyNameBackward(parent, position)) return true;
        position = parent;
    }
    return false;
}

bool RegistrySearch::rootBackward(const std::string& root, std::string& position, const Progress* progress) {
    position = root;
    if (!yield(position, progress)) return false;
    return searchSubtreeBackward(root, nullptr, position);
}

bool RegistrySearch::SearchBackward(std::string& position, const Progress* progress) {
    if (!yield(position, progress)) return false;
    m_state.SearchClasses = position != "HKEY_CLASSES_ROOT";
    const bool valuePart = IsValuePath(position);
    if (!valuePart && !position.empty() && position.back() == '\\') position.pop_back();
    const std::string key = valuePart ? KeyOfPath(position) : position;
    if (key.empty()) {
        // The top node: from the end of what Search again from it walks.
        if (rootBackward("HKEY_USERS", position, progress)) return true;
        return !m_state.SearchCancelled && rootBackward("HKEY_LOCAL_MACHINE", position, progress);
    }

    {
        reg::KeyHandle start(m_store);
        if (!openPath(key, start.out())) return false;
        if (valuePart) {
            const std::string beforeValue = position.substr(key.size() + kValueSeparator.size());
            if (valuesBackward(start.get(), key, &beforeValue, position)) return true;
            if (keyNameBackward(key, position)) return true;
        }
    }
    if (upwardBackward(key, position, progress)) return true;
    if (m_state.SearchCancelled) return false;
    // Only HKEY_LOCAL_MACHINE comes before a root, and only before HKEY_USERS.
    if (position == "HKEY_USERS") return rootBackward("HKEY_LOCAL_MACHINE", position, progress);
    return false;
}

} // namespace quern
