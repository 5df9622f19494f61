#include "search/SearchEngine.h"

#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "registry/RegU.h"
#include "search/JollyCheckU.h"
#include "selection/TreeSelection.h"
#include "store/KeyWalk.h"

#include <algorithm>

namespace quern {

namespace {

using reg::HKey;
using reg::Status;

// The one subkey the CLASSES rule is about, compared with letter case as it is written.
constexpr std::string_view kClassesPath = "HKEY_LOCAL_MACHINE\\Software\\CLASSES";

enum class Walked { Found, Done, Unopened };

} // namespace

std::size_t RegistrySearch::positionAfter(const std::vector<std::string>& names, std::string_view name) {
    const std::u16string wanted = reg::toUtf16(name);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (reg::sameName(reg::toUtf16(names[i]), wanted)) return i + 1;
    return 0;
}

bool RegistrySearch::leftOut(const reg::KeyWalk& walk) const {
    if (m_leaveOut != 0 && walk.identity() == m_leaveOut) return true;
    return !m_state.SearchClasses && walk.path() == kClassesPath;
}

RegistrySearch::RegistrySearch(reg::RegStore& store, SearchState& state, std::function<void()> pump)
    : m_store(store)
    , m_registry(store)
    , m_state(state)
    , m_pump(std::move(pump)) {
}

bool RegistrySearch::matchesName(std::string_view name) const {
    return JollyCheck(name, m_state.expression, false);
}

bool RegistrySearch::MatchValue(HKey key, std::string_view name) {
    ++m_values;
    if (m_state.SearchValueNames && matchesName(name)) return true;
    if (!m_state.SearchData) return false;
    std::string text;
    if (m_store.queryValue(key, reg::toUtf16(name), m_type, m_data) == Status::Ok) text = searchText(m_type, m_data);
    return JollyCheck(text, m_state.expression, false);
}

bool RegistrySearch::found(const std::string& position) {
    if (!m_hit) return true;
    // Search again would start after this match, so never exactly at HKEY_CLASSES_ROOT.
    m_state.SearchClasses = true;
    return !(*m_hit)(position);
}

std::size_t RegistrySearch::FindAll(std::string position, const Hit& hit, const Progress* progress) {
    std::size_t count = 0;
    const Hit counting = [&](const std::string& match) {
        ++count;
        return hit(match);
    };
    m_hit = &counting;
    (void)SearchRegistry(position, true, progress);
    m_hit = nullptr;
    return count;
}

std::size_t RegistrySearch::FindEverywhere(const Hit& hit, const Progress* progress) {
    std::size_t count = 0;
    const Hit counting = [&](const std::string& match) {
        ++count;
        return hit(match);
    };
    m_hit = &counting;
    // HKEY_CURRENT_USER is a key of HKEY_USERS under its user's name: met first by the name the
    // user knows, and left out when HKEY_USERS comes to it.
    reg::KeyInfo user;
    const std::uint64_t currentUser
        = m_store.queryInfo(reg::kCurrentUser, user) == Status::Ok ? user.identity : std::uint64_t { 0 };
    for (const std::string_view root : { "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_DYN_DATA" }) {
        if (m_state.SearchCancelled) break;
        m_state.SearchClasses = true;
        m_leaveOut = root == "HKEY_USERS" ? currentUser : 0;
        std::string position(root);
        (void)SearchRegistry(position, false, progress);
    }
    m_leaveOut = 0;
    m_hit = nullptr;
    return count;
}

bool RegistrySearch::yield(const std::string& position, const Progress* progress) {
    ++m_keys;
    if (progress && *progress) (*progress)(position);
    if (m_pump) {
        m_visiting = &position;
        m_pump();
        m_visiting = nullptr;
    }
    return !m_state.SearchCancelled;
}

bool RegistrySearch::openPath(const std::string& keyPath, HKey& key) {
    std::string rest = keyPath;
    const std::string rootName = takeFirstComponent(rest);
    const auto root = std::find_if(
        kRootKeys.begin(), kRootKeys.end(), [&](const RootKey& candidate) { return candidate.name == rootName; });
    if (root == kRootKeys.end()) return false;
    return m_store.openKey(root->handle, reg::toUtf16(rest), reg::Access::Read, reg::kOptionNone, key) == Status::Ok;
}

std::vector<std::uint64_t> RegistrySearch::identitiesAbove(const std::string& keyPath) {
    std::vector<std::uint64_t> identities;
    for (std::string above = parentPath(keyPath); !above.empty(); above = parentPath(above)) {
        reg::KeyHandle key(m_store);
        reg::KeyInfo info;
        if (openPath(above, key.out()) && m_store.queryInfo(key.get(), info) == Status::Ok)
            identities.push_back(info.identity);
    }
    return identities;
}

std::vector<std::string> RegistrySearch::sortedValueNames(HKey key) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; m_store.enumValue(key, i, m_name16, nullptr, nullptr) == Status::Ok; ++i)
        names.push_back(reg::toUtf8(m_name16));
    std::sort(names.begin(), names.end(), nameLess);
    return names;
}

// In the registry's own order, the one the walk below a key goes in: a loaded hive keeps its
// subkeys in upper-case order, where '_' comes after the letters, so sorting them here would
// send the way up past siblings the way down never reached.
std::vector<std::string> RegistrySearch::subkeyNames(HKey key) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; m_store.enumKey(key, i, m_name16) == Status::Ok; ++i)
        names.push_back(reg::toUtf8(m_name16));
    return names;
}

bool RegistrySearch::searchSubtree(const std::string& keyPath, const std::string* afterValue, std::string& position) {
    reg::KeyHandle start(m_store);
    if (!openPath(keyPath, start.out())) {
        m_opened = false;
        return false;
    }
    m_opened = true;
    // The subkeys come in the registry's order, which is the same case-insensitive order the
    // value names are sorted in. The keys on the path above the start count as on the walk's way:
    // a start reached through a link would otherwise lead round its loop once more, and Search
    // again from each match one level deeper, without end.
    reg::KeyWalk walk(m_store, start.get(), keyPath);
    const std::vector<std::uint64_t> above = identitiesAbove(keyPath);
    reg::KeyInfo info;
    if (m_store.queryInfo(start.get(), info) == Status::Ok
        && std::find(above.begin(), above.end(), info.identity) != above.end())
        return false; // the start is a key above it again, searched already
    for (const std::uint64_t identity : above)
        walk.addAbove(identity);
    while (walk.next()) {
        if (walk.depth() > 0) {
            if (leftOut(walk)) {
                walk.skipSubkeys();
                continue;
            }
            if (m_state.SearchKeys && matchesName(reg::toUtf8(walk.name()))) {
                position = walk.path();
                if (found(position)) return true;
            }
            if (walk.status() != Status::Ok) continue; // passed over with everything below it
            if (!yield(walk.path(), nullptr)) return false;
        }
        const std::vector<std::string> names = sortedValueNames(walk.key());
        const std::size_t first = walk.depth() == 0 && afterValue ? positionAfter(names, *afterValue) : 0;
        for (std::size_t i = first; i < names.size(); ++i) {
            if (MatchValue(walk.key(), names[i])) {
                position = walk.path() + std::string(kValueSeparator) + names[i];
                if (found(position)) return true;
            }
        }
    }
    return false;
}

bool RegistrySearch::SearchRegistry(std::string& position, bool topLevel, const Progress* progress) {
    if (!yield(position, progress)) return false;
    if (topLevel) m_state.SearchClasses = position != "HKEY_CLASSES_ROOT";
    const bool valuePart = IsValuePath(position);
    if (!valuePart && !position.empty() && position.back() == '\\') position.pop_back();
    const std::string key = valuePart ? KeyOfPath(position) : position;

    if (!key.empty()) {
        const std::string afterValue = valuePart ? position.substr(key.size() + kValueSeparator.size()) : std::string();
        if (searchSubtree(key, valuePart ? &afterValue : nullptr, position)) return true;
        if (!topLevel || !m_opened || m_state.SearchCancelled) return false;

        // Up: the following siblings of the key, then of its parent, and so on up to its root.
        position = key;
        for (std::string parent = parentPath(key); !parent.empty(); parent = parentPath(parent)) {
            std::vector<std::string> siblings;
            reg::KeyHandle parentKey(m_store);
            if (openPath(parent, parentKey.out())) siblings = subkeyNames(parentKey.get());
            parentKey.reset();
            const std::string from = position.substr(parent.size() + 1);
            for (std::size_t i = positionAfter(siblings, from); i < siblings.size(); ++i) {
                position = parent + "\\" + siblings[i];
                if (m_state.SearchKeys && matchesName(siblings[i]) && found(position)) return true;
                if (SearchRegistry(position, false, progress)) return true;
                if (m_state.SearchCancelled) return false;
            }
            position = parent;
        }
    }

    // Further roots, by the root the search started in.
    if (position == "HKEY_CLASSES_ROOT" || position == "HKEY_CURRENT_USER") position.clear();
    if (position.empty()) {
        position = "HKEY_LOCAL_MACHINE";
        if (SearchRegistry(position, false, progress)) return true;
        if (m_state.SearchCancelled) return false;
        position = "HKEY_LOCAL_MACHINE";
    }
    if (position == "HKEY_LOCAL_MACHINE") {
        position = "HKEY_USERS";
        return SearchRegistry(position, false, progress);
    }
    return false;
}

} // namespace quern
