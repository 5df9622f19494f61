#include "selection/TreeSelection.h"

#include "registry/RegU.h"

#include <algorithm>

namespace quern {

namespace {

bool isRecursive(std::string_view entry) {
    return !IsValuePath(entry) && !entry.empty() && entry.back() == '\\';
}

// The key part: a recursive entry less its last backslash; any other entry as it is.
std::string_view keyPart(std::string_view entry) {
    return isRecursive(entry) ? entry.substr(0, entry.size() - 1) : entry;
}

// Whether key part k lies below path p: p is the top node's empty path and k is not empty, or k
// continues p with a backslash (so A\Software never lies below A\Soft).
bool liesBelow(std::string_view k, std::string_view p) {
    if (p.empty()) return !k.empty();
    return k.size() > p.size() && k[p.size()] == '\\' && k.substr(0, p.size()) == p;
}

// Whether the recursive key part k covers p: everything, p itself, or a key above p.
bool covers(std::string_view k, std::string_view p) {
    return k.empty() || k == p || liesBelow(p, k);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

std::string joinKey(std::string_view parent, std::string_view name) {
    std::string path(parent);
    if (!path.empty()) path += '\\';
    path += name;
    return path;
}

} // namespace

bool IsValuePath(std::string_view text) {
    return text.find(kValueSeparator) != std::string_view::npos;
}

std::string KeyOfPath(std::string_view text) {
    const auto pair = text.find(kValueSeparator);
    return std::string(pair == std::string_view::npos ? text : text.substr(0, pair));
}

void SplitValuePath(std::string_view text, std::string& key, std::string& valueName) {
    const auto pair = text.find(kValueSeparator);
    key = std::string(pair == std::string_view::npos ? text : text.substr(0, pair));
    valueName = pair == std::string_view::npos ? std::string() : std::string(text.substr(pair + 2));
}

TTreeSel::TTreeSel(reg::RegStore& store)
    : m_registry(store) {
}

void TTreeSel::setEntries(std::vector<std::string> entries) {
    m_entries = std::move(entries);
    changed();
}

void TTreeSel::append(std::string entry) {
    m_entries.push_back(std::move(entry));
    changed();
}

void TTreeSel::removeAt(std::size_t position) {
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(position));
    changed();
}

void TTreeSel::removeAtOrBelow(std::string_view path) {
    const std::string p(path); // path may point into an entry that goes
    const auto end = std::remove_if(m_entries.begin(), m_entries.end(), [&](const std::string& entry) {
        const std::string_view k = keyPart(entry);
        return k == p || liesBelow(k, p);
    });
    if (end != m_entries.end()) {
        m_entries.erase(end, m_entries.end());
        changed();
    }
}

void TTreeSel::buildIndex() const {
    m_index.clear();
    m_index.reserve(m_entries.size() * 2);
    m_anyNonEmptyKey = false;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const std::string_view entry = m_entries[i];
        const bool recursive = isRecursive(entry);
        const std::string_view k = keyPart(entry);
        KeyInfo& info = m_index[k];
        if (info.firstAt == SIZE_MAX) {
            info.firstAt = i;
            info.firstAtRecursive = recursive;
        }
        if (recursive && info.firstRecursive == SIZE_MAX) info.firstRecursive = i;
        if (!k.empty()) m_anyNonEmptyKey = true;
        for (std::size_t slash = k.find('\\'); slash != std::string_view::npos; slash = k.find('\\', slash + 1))
            ++m_index[k.substr(0, slash)].below;
    }
    m_indexValid = true;
}

SelState TTreeSel::StateOfPath(std::string_view path) const {
    if (IsValuePath(path) && StateOfPath(KeyOfPath(path)) >= selAlone) return selWithSubkeys;
    if (!m_indexValid) buildIndex();
    // The first entry in list order that is at the path or covers it decides.
    std::size_t first = SIZE_MAX;
    SelState state = selNone;
    auto consider = [&](std::size_t position, SelState result) {
        if (position < first) first = position, state = result;
    };
    const auto at = m_index.find(path);
    if (at != m_index.end() && at->second.firstAt != SIZE_MAX)
        consider(at->second.firstAt, at->second.firstAtRecursive ? selWithSubkeys : selAlone);
    auto coveringAt = [&](std::string_view k) {
        const auto it = m_index.find(k);
        if (it != m_index.end()) consider(it->second.firstRecursive, selWithSubkeys);
    };
    coveringAt({});
    for (std::size_t slash = path.find('\\'); slash != std::string_view::npos; slash = path.find('\\', slash + 1))
        coveringAt(path.substr(0, slash));
    if (first != SIZE_MAX) return state;
    if (path.empty()) return m_anyNonEmptyKey ? selBelow : selNone;
    return at != m_index.end() && at->second.below > 0 ? selBelow : selNone;
}

SelState TTreeSel::StateOfPathByScan(std::string_view path) const {
    if (IsValuePath(path) && StateOfPathByScan(KeyOfPath(path)) >= selAlone) return selWithSubkeys;
    SelState state = selNone;
    for (const auto& entry : m_entries) {
        const std::string_view k = keyPart(entry);
        const bool recursive = isRecursive(entry);
        if (k == path) return recursive ? selWithSubkeys : selAlone;
        if (recursive && covers(k, path)) return selWithSubkeys;
        if (liesBelow(k, path)) state = selBelow;
    }
    return state;
}

SelState TTreeSel::StateOfNode(const TreeNode* node) const {
    return StateOfPath(keyPathOfNode(node));
}

bool TTreeSel::listSubkeys(std::string_view keyPath, std::vector<std::string>& names) {
    names.clear();
    // Reading is all a selection needs, so a registry that cannot be written selects as well.
    if (!openKeyPath(m_registry, keyPath, reg::Access::Read)) return false;
    m_registry.getKeyNames(names);
    return true;
}

bool TTreeSel::listValues(std::string_view keyPath, std::vector<std::string>& names) {
    names.clear();
    if (!openKeyPath(m_registry, keyPath, reg::Access::Read)) return false;
    m_registry.getValueNames(names);
    return true;
}

void TTreeSel::SelectNode(const TreeNode& node, bool withSubkeys) {
    if (withSubkeys && node.level() == 0) {
        m_entries.clear();
        append("\\");
        return;
    }
    std::string p = keyPathOfNode(&node);
    if (!node.markedHasChildren()) withSubkeys = true;
    std::string n;
    if (withSubkeys) {
        removeAtOrBelow(p);
        n = p + "\\";
    } else {
        std::vector<std::string> subkeys;
        bool allSelected = listSubkeys(p, subkeys);
        for (const auto& s : subkeys) {
            if (StateOfPath(joinKey(p, s)) != selWithSubkeys) {
                allSelected = false;
                break;
            }
        }
        if (allSelected) {
            withSubkeys = true;
            removeAtOrBelow(p);
            n = p + "\\";
        } else {
            n = p;
        }
    }
    if (withSubkeys) {
        // A key whose siblings are all selected with subkeys is absorbed into its parent's entry,
        // as long as the parent is selected itself.
        const TreeNode* c = &node;
        for (;;) {
            const TreeNode* parent = c->parentNode();
            if (!parent) break;
            bool siblingsSelected = true;
            for (std::size_t i = 0; i < parent->childNodeCount() && siblingsSelected; ++i) {
                const TreeNode* sibling = parent->childNode(i);
                if (sibling != c && StateOfNode(sibling) != selWithSubkeys) siblingsSelected = false;
            }
            if (!siblingsSelected) break;
            if (c->level() != 1 && StateOfNode(parent) < selAlone) break;
            c = parent;
            p = parentPath(p);
            removeAtOrBelow(p);
            n = p + "\\";
            if (c->level() == 0) break;
        }
    }
    append(std::move(n));
}

void TTreeSel::DeselectNode(const TreeNode& node, bool withSubkeys) {
    if (node.level() == 0) {
        m_entries.clear();
        changed();
        return;
    }
    const std::string p = keyPathOfNode(&node);
    if (!withSubkeys && StateOfPath(p) == selAlone) {
        const auto it = std::find_if(
            m_entries.begin(), m_entries.end(), [&](const std::string& entry) { return equalsIgnoringCase(entry, p); });
        if (it != m_entries.end()) removeAt(static_cast<std::size_t>(it - m_entries.begin()));
        return;
    }
    // Entries appended while splitting are scanned too: the length is read again at every step.
    for (std::size_t i = 0; i < m_entries.size();) {
        std::string k(keyPart(m_entries[i]));
        if (isRecursive(m_entries[i]) && covers(k, p)) {
            // Split the covering entry: what it selected around the deselected key stays selected.
            if (!k.empty() && k != p) append(k);
            const TreeNode* c = &node;
            std::string a = parentPath(p);
            while (c->level() != 0 && (k.empty() || a == k || liesBelow(a, k))) {
                const TreeNode* parent = c->parentNode();
                for (std::size_t j = 0; j < parent->childNodeCount(); ++j) {
                    const TreeNode* d = parent->childNode(j);
                    if (d != c) append(joinKey(a, d->nodeText()) + "\\");
                }
                c = parent;
                a = parentPath(a);
            }
            k = p;
        }
        if (k == p || liesBelow(k, p))
            removeAt(i);
        else
            ++i;
    }
    if (!withSubkeys) {
        // The key's own values are deselected; its subkeys stay selected.
        std::vector<std::string> subkeys;
        (void)listSubkeys(p, subkeys);
        for (const auto& s : subkeys)
            append(joinKey(p, s) + "\\");
    }
}

std::size_t TTreeSel::MarkPaths(const std::vector<std::string>& paths) {
    const std::size_t before = m_entries.size();
    // Keys first, so that a value of a key marked here is not marked again on its own; the index
    // is built once for each of the two passes, not once per path.
    for (const bool values : { false, true }) {
        std::vector<std::string> added;
        std::unordered_map<std::string_view, bool> seen;
        for (const std::string& path : paths) {
            if (path.empty() || IsValuePath(path) != values || seen.contains(path)) continue;
            seen.emplace(path, true);
            const SelState state = StateOfPath(path);
            if (values ? state == selNone : state < selAlone) added.push_back(path);
        }
        if (added.empty()) continue;
        m_entries.insert(m_entries.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
        changed();
    }
    return m_entries.size() - before;
}

void TTreeSel::ToggleNode(const TreeNode& node, bool withSubkeys) {
    if (node.level() == 0 && !withSubkeys) return;
    if (StateOfNode(&node) < selAlone)
        SelectNode(node, withSubkeys);
    else
        DeselectNode(node, withSubkeys);
    if (repaintTree) repaintTree();
}

void TTreeSel::SelectValue(const TreeNode& node, std::string_view valuePath) {
    if (StateOfPath(valuePath) != selNone) return;
    std::string k;
    std::string n;
    SplitValuePath(valuePath, k, n);
    std::vector<std::string> values;
    if (!listValues(k, values)) return;
    const std::string v(valuePath);
    for (const auto& name : values) {
        if (name == n) continue;
        if (StateOfPath(k + std::string(kValueSeparator) + name) == selNone) {
            append(v);
            return;
        }
    }
    // The last unselected value: the key's own entry takes the place of its value entries.
    const std::string prefix = k + std::string(kValueSeparator);
    const auto end = std::remove_if(
        m_entries.begin(), m_entries.end(), [&](const std::string& entry) { return entry.starts_with(prefix); });
    m_entries.erase(end, m_entries.end());
    changed();
    SelectNode(node, false);
}

void TTreeSel::DeselectValue(const TreeNode& node, std::string_view valuePath) {
    if (StateOfPath(valuePath) == selNone) return;
    std::string k;
    std::string n;
    SplitValuePath(valuePath, k, n);
    std::vector<std::string> values;
    if (!listValues(k, values)) return;
    if (StateOfPath(k) >= selAlone) {
        // Selected through its key: the key goes, and every other value gets an entry of its own.
        DeselectNode(node, false);
        for (const auto& name : values)
            if (name != n) append(k + std::string(kValueSeparator) + name);
        return;
    }
    const auto it = std::find(m_entries.begin(), m_entries.end(), valuePath);
    if (it != m_entries.end()) removeAt(static_cast<std::size_t>(it - m_entries.begin()));
}

} // namespace quern
