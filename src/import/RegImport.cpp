#include "import/RegImport.h"

#include "codec/RegData.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "export/RegExport.h"
#include "store/KeyWalk.h"
#include "store/MemoryRegistry.h"

#include <algorithm>
#include <map>
#include <optional>

namespace quern {

using reg::HKey;
using reg::KeyHandle;
using reg::RawValue;
using reg::RegStore;
using reg::Status;

namespace {

// A list line stays readable however large the value: longer data is cut with its size.
constexpr std::size_t kShownDataLength = 256;

std::string shownData(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    std::string text = shownKeyPath(queryText(type, data));
    if (text.size() > kShownDataLength) {
        text.resize(kShownDataLength);
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
            text.pop_back();
        if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) text.pop_back();
        text += "... (" + std::to_string(data.size()) + " bytes)";
    }
    return codec::typeName(type) + " " + text;
}

// Two data whose text is the same (strings that differ after their first NUL) are shown as bytes,
// so that a changed line never reads as no change.
void shownPair(const RegChange& change, std::string& oldText, std::string& newText) {
    oldText = shownData(change.oldType, change.oldData);
    newText = shownData(change.newType, change.newData);
    if (oldText != newText) return;
    oldText = codec::typeName(change.oldType) + " " + queryText(reg::kRegBinary, change.oldData);
    newText = codec::typeName(change.newType) + " " + queryText(reg::kRegBinary, change.newData);
}

std::string shownName(const std::u16string& name) {
    if (name.empty()) return "@";
    // Appended, not "..." + text, which GCC 12 at -O3 mistakes for an overlapping copy (so below).
    std::string shown(1, '"');
    shown += EscapeRegText(shownKeyPath(reg::toUtf8(name)));
    shown += '"';
    return shown;
}

std::string plural(std::size_t count, std::string_view what) {
    return std::to_string(count) + " " + std::string(what) + (count == 1 ? "" : "s");
}

std::u16string folded(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& unit : out)
        unit = reg::foldUnit(unit);
    return out;
}

} // namespace

void ImportPlan::add(RegChange change) {
    switch (change.kind) {
    case RegChange::Kind::KeyAdded:
        ++keysAdded;
        break;
    case RegChange::Kind::KeyDeleted:
        ++keysDeleted;
        break;
    case RegChange::Kind::ValueAdded:
        ++valuesAdded;
        break;
    case RegChange::Kind::ValueChanged:
        ++valuesChanged;
        break;
    case RegChange::Kind::ValueDeleted:
        ++valuesDeleted;
        break;
    }
    changes.push_back(std::move(change));
}

std::string changeLine(const RegChange& change) {
    const std::string key = shownKeyPath(change.keyPath);
    switch (change.kind) {
    case RegChange::Kind::KeyAdded:
        return "key added: " + key;
    case RegChange::Kind::KeyDeleted:
        return "key deleted: " + key + " (with everything below it)";
    case RegChange::Kind::ValueAdded:
        return "value added: " + key + " " + shownName(change.valueName) + " = "
            + shownData(change.newType, change.newData);
    case RegChange::Kind::ValueChanged: {
        std::string oldText;
        std::string newText;
        shownPair(change, oldText, newText);
        return "value changed: " + key + " " + shownName(change.valueName) + " = " + oldText + " -> " + newText;
    }
    case RegChange::Kind::ValueDeleted:
        return "value deleted: " + key + " " + shownName(change.valueName) + " (was "
            + shownData(change.oldType, change.oldData) + ")";
    }
    return {};
}

std::string planSummary(const ImportPlan& plan) {
    if (plan.empty()) return "No changes.";
    std::string text;
    const auto part = [&](std::size_t count, std::string_view what, std::string_view how) {
        if (count == 0) return;
        if (!text.empty()) text += ", ";
        text += plural(count, what) + " " + std::string(how);
    };
    part(plan.keysAdded, "key", "added");
    part(plan.keysDeleted, "key", "deleted");
    part(plan.valuesAdded, "value", "added");
    part(plan.valuesChanged, "value", "changed");
    part(plan.valuesDeleted, "value", "deleted");
    return text + ".";
}

// --- import -----------------------------------------------------------------------------------

namespace {

Status failedAt(const RegFileContent& content, std::size_t line, const std::string& what, const Status& status) {
    return { status.code(), content.fileName + ":" + std::to_string(line) + ": " + what + ": " + status.message() };
}

Status applyValues(RegStore& store, HKey key, const RegFileContent& content, const RegFileKey& section) {
    for (const RegFileValue& value : section.values) {
        Status status = value.remove ? store.deleteValue(key, value.name)
                                     : store.setValue(key, value.name, value.type, value.data);
        if (value.remove && status == Status::NotFound) status = Status::Ok;
        if (!status.ok()) {
            const std::string what = (value.remove ? "could not delete the value " : "could not set the value ")
                + shownName(value.name) + " of " + shownKeyPath(section.fullPath());
            return failedAt(content, value.line, what, status);
        }
    }
    return Status::Ok;
}

Status applySection(RegStore& store, const RegFileContent& content, const RegFileKey& section) {
    if (section.remove) {
        const Status status = reg::deleteKeyTree(store, section.root, section.path);
        if (status.ok() || status == Status::NotFound) return Status::Ok;
        return failedAt(content, section.line, "could not delete " + shownKeyPath(section.fullPath()), status);
    }
    // A root is there already; one that belongs to no file (HKEY_USERS) could not be "created",
    // and an export writes its line all the same.
    if (section.path.empty()) return applyValues(store, section.root, content, section);
    KeyHandle key(store);
    const Status status = store.createKey(section.root, section.path, reg::Access::Full, reg::kOptionNone, key.out());
    if (!status.ok())
        return failedAt(content, section.line, "could not create " + shownKeyPath(section.fullPath()), status);
    return applyValues(store, key.get(), content, section);
}

} // namespace

std::string importReadOnlyReason(RegStore& store, const RegFileContent& content) {
    for (const RegFileKey& section : content.keys)
        if (std::string reason = store.readOnlyReasonAt(section.root, section.path); !reason.empty()) return reason;
    return {};
}

namespace {

// Asks the progress every few hundred keys: often enough to stop at once, rarely enough to cost
// nothing. False when it says stop.
bool goOn(const ImportProgress& progress, std::size_t done, std::size_t keys) {
    constexpr std::size_t kEvery = 256;
    return !progress || done % kEvery != 0 || progress(done, keys);
}

} // namespace

Status applyImport(RegStore& store, const RegFileContent& content, const ImportProgress& progress) {
    if (const std::string reason = importReadOnlyReason(store, content); !reason.empty())
        return { Status::AccessDenied, content.fileName + " was not imported: " + reason };
    reg::WriteBatch batch(store);
    for (std::size_t i = 0; i < content.keys.size(); ++i) {
        Status status = goOn(progress, i, content.keys.size()) ? applySection(store, content, content.keys[i])
                                                               : Status(Status::WriteFailed, kImportCancelled);
        if (!status.ok()) {
            batch.abandon();
            return status;
        }
    }
    return batch.finish();
}

// --- the plan ---------------------------------------------------------------------------------

namespace {

// The registry as it would be after the lines read so far: what the plan changed, over what the
// store holds. Keys are found by their folded path below a common root, so that HKCR and
// HKLM\Software\Classes are one key.
class PlannedRegistry {
public:
    explicit PlannedRegistry(RegStore& store)
        : m_store(store) { }

    // Fails, with the store's code and words, when a key the section names cannot be read.
    Status section(const RegFileKey& key, ImportPlan& plan);
    // Nets out each key the file deletes and makes again, and counts the changes.
    void finish(ImportPlan& plan);

private:
    struct KeyState {
        bool exists = false;
        bool wiped = false; // deleted during the plan: what the store holds at or below it is gone
        std::map<std::u16string, std::optional<RawValue>> values; // by folded name; nothing: deleted
        std::string shown; // the path of a key the plan makes
    };
    struct Place {
        HKey root;
        std::u16string path; // as the file writes it, below root
        std::string shown; // with the root's long name
        std::u16string canonical; // folded, below the common root
    };

    static Place placeOf(const RegFileKey& key, std::size_t pathLength);
    Status exists(const Place& place, bool& there);
    [[nodiscard]] bool wipedAt(const std::u16string& canonical) const;
    std::optional<RawValue> valueOf(const Place& place, const std::u16string& name);
    void deleteTree(const Place& place);
    Status create(const RegFileKey& key, ImportPlan& plan);
    void value(const Place& place, const RegFileValue& value, ImportPlan& plan);
    void record(ImportPlan& plan, RegChange change, const std::u16string& canonical);
    [[nodiscard]] static bool within(const std::u16string& canonical, const std::u16string& top);
    void replaceRegion(ImportPlan& plan, const Place& place, std::size_t line);
    void regionDiff(const Place& place, std::size_t line, ImportPlan& diff, std::vector<std::u16string>& canonicals);
    void valuesDiff(HKey key, const std::string& path, const KeyState& now, std::size_t line, ImportPlan& diff);

    RegStore& m_store;
    std::map<std::u16string, KeyState> m_keys;
    std::vector<std::u16string> m_canonical; // of each change of the plan, in its order
    std::vector<std::pair<Place, std::size_t>> m_deleted; // keys the file deleted that were there, with the line
};

void PlannedRegistry::record(ImportPlan& plan, RegChange change, const std::u16string& canonical) {
    plan.changes.push_back(std::move(change));
    m_canonical.push_back(canonical);
}

bool PlannedRegistry::within(const std::u16string& canonical, const std::u16string& top) {
    return canonical.starts_with(top) && (canonical.size() == top.size() || canonical[top.size()] == u'\\');
}

PlannedRegistry::Place PlannedRegistry::placeOf(const RegFileKey& key, std::size_t pathLength) {
    Place place { key.root, key.path.substr(0, pathLength), key.rootName, {} };
    if (!place.path.empty()) (place.shown += '\\') += reg::toUtf8(place.path);
    std::u16string_view base = u"HKLM";
    if (key.root == reg::kClassesRoot) base = u"HKLM\\software\\classes";
    if (key.root == reg::kCurrentConfig) base = u"HKLM\\system\\currentcontrolset\\hardware profiles\\current";
    if (key.root == reg::kCurrentUser) base = u"HKCU";
    if (key.root == reg::kUsers) base = u"HKU";
    if (key.root == reg::kDynData) base = u"HKDD";
    place.canonical = std::u16string(base);
    if (!place.path.empty()) (place.canonical += u'\\') += folded(place.path);
    return place;
}

bool PlannedRegistry::wipedAt(const std::u16string& canonical) const {
    for (std::size_t end = canonical.find(u'\\');; end = canonical.find(u'\\', end + 1)) {
        const auto it = m_keys.find(canonical.substr(0, end));
        if (it != m_keys.end() && it->second.wiped) return true;
        if (end == std::u16string::npos) return false;
    }
}

// Whether the key is there, in the plan or else in the store; a key the store cannot read fails.
Status PlannedRegistry::exists(const Place& place, bool& there) {
    there = false;
    if (const auto it = m_keys.find(place.canonical); it != m_keys.end()) {
        there = it->second.exists;
        return Status::Ok;
    }
    if (wipedAt(place.canonical)) return Status::Ok;
    KeyHandle key(m_store);
    const Status status = m_store.openKey(place.root, place.path, reg::Access::Read, reg::kOptionNone, key.out());
    there = status.ok();
    if (status.ok() || status == Status::NotFound) return Status::Ok;
    return Status(status.code(), shownKeyPath(place.shown) + ": " + status.message());
}

std::optional<RawValue> PlannedRegistry::valueOf(const Place& place, const std::u16string& name) {
    const auto it = m_keys.find(place.canonical);
    if (it != m_keys.end()) {
        if (const auto v = it->second.values.find(folded(name)); v != it->second.values.end()) return v->second;
    }
    if (wipedAt(place.canonical)) return std::nullopt;
    KeyHandle key(m_store);
    RawValue value { name, reg::kRegNone, {} };
    if (!m_store.openKey(place.root, place.path, reg::Access::Read, reg::kOptionNone, key.out()).ok())
        return std::nullopt;
    if (!m_store.queryValue(key.get(), name, value.type, value.data).ok()) return std::nullopt;
    return value;
}

void PlannedRegistry::deleteTree(const Place& place) {
    const std::u16string below = place.canonical + u"\\";
    auto it = m_keys.lower_bound(below);
    while (it != m_keys.end() && it->first.starts_with(below))
        it = m_keys.erase(it);
    m_keys[place.canonical] = KeyState { false, true, {}, {} };
}

// Makes the key and each missing key above it, top down, as the store's create does.
Status PlannedRegistry::create(const RegFileKey& key, ImportPlan& plan) {
    std::vector<std::size_t> ends;
    for (std::size_t end = key.path.find(u'\\'); end != std::u16string::npos; end = key.path.find(u'\\', end + 1))
        ends.push_back(end);
    ends.push_back(key.path.size());
    for (std::size_t end : ends) {
        const Place place = placeOf(key, end);
        bool there = false;
        if (Status st = exists(place, there); !st.ok()) return st;
        if (there) continue;
        KeyState& state = m_keys[place.canonical];
        state.exists = true;
        state.shown = place.shown;
        record(plan, { RegChange::Kind::KeyAdded, place.shown, {}, 0, {}, 0, {}, key.line }, place.canonical);
    }
    return Status::Ok;
}

void PlannedRegistry::value(const Place& place, const RegFileValue& value, ImportPlan& plan) {
    const std::optional<RawValue> old = valueOf(place, value.name);
    RegChange change { RegChange::Kind::ValueAdded, place.shown, value.name, 0, {}, value.type, value.data,
        value.line };
    if (value.remove) {
        if (!old) return;
        change.kind = RegChange::Kind::ValueDeleted;
        change.newType = 0;
        change.newData.clear();
    } else if (old) {
        if (old->type == value.type && old->data == value.data) return;
        change.kind = RegChange::Kind::ValueChanged;
    }
    if (old) {
        change.oldType = old->type;
        change.oldData = old->data;
    }
    std::optional<RawValue> now;
    if (!value.remove) now = RawValue { value.name, value.type, value.data };
    // The section made or found the key before its values: an entry begun here must say it is
    // there, or a later section below it would list the key as added.
    KeyState& state = m_keys[place.canonical];
    state.exists = true;
    state.values[folded(value.name)] = std::move(now);
    record(plan, std::move(change), place.canonical);
}

Status PlannedRegistry::section(const RegFileKey& key, ImportPlan& plan) {
    const Place place = placeOf(key, key.path.size());
    if (key.remove) {
        bool there = false;
        if (Status st = exists(place, there); !st.ok()) return st;
        if (there) {
            record(plan, { RegChange::Kind::KeyDeleted, place.shown, {}, 0, {}, 0, {}, key.line }, place.canonical);
            m_deleted.emplace_back(place, key.line);
        }
        deleteTree(place);
        return Status::Ok;
    }
    if (Status st = create(key, plan); !st.ok()) return st;
    for (const RegFileValue& v : key.values)
        value(place, v, plan);
    return Status::Ok;
}

// The changes at or below a key the file deleted are replaced by what differs between the store's
// subtree and the one the file left there: a key deleted and made again with the same values is
// no change, so a backup that replaces a key whole compares equal once imported.
void PlannedRegistry::finish(ImportPlan& plan) {
    std::vector<std::u16string> done;
    for (const auto& deleted : m_deleted) {
        const std::u16string& canonical = deleted.first.canonical;
        const bool inside
            = std::any_of(done.begin(), done.end(), [&](const auto& top) { return within(canonical, top); });
        if (!m_keys.contains(canonical) || inside) continue; // a later deletion above it took it
        replaceRegion(plan, deleted.first, deleted.second);
        done.push_back(canonical);
    }
    ImportPlan counted;
    for (RegChange& change : plan.changes)
        counted.add(std::move(change));
    plan = std::move(counted);
}

void PlannedRegistry::replaceRegion(ImportPlan& plan, const Place& place, std::size_t line) {
    ImportPlan diff;
    std::vector<std::u16string> canonicals;
    regionDiff(place, line, diff, canonicals);
    std::vector<RegChange> changes;
    std::vector<std::u16string> kept;
    bool inserted = false;
    for (std::size_t i = 0; i < plan.changes.size(); ++i) {
        if (!within(m_canonical[i], place.canonical)) {
            changes.push_back(std::move(plan.changes[i]));
            kept.push_back(std::move(m_canonical[i]));
        } else if (!inserted) {
            inserted = true;
            std::move(diff.changes.begin(), diff.changes.end(), std::back_inserter(changes));
            std::move(canonicals.begin(), canonicals.end(), std::back_inserter(kept));
        }
    }
    plan.changes = std::move(changes);
    m_canonical = std::move(kept);
}

void PlannedRegistry::valuesDiff(
    HKey key, const std::string& path, const KeyState& now, std::size_t line, ImportPlan& diff) {
    std::vector<std::u16string> seen;
    std::u16string name;
    RawValue old;
    for (std::uint32_t i = 0; m_store.enumValue(key, i, name, &old.type, &old.data).ok(); ++i) {
        seen.push_back(folded(name));
        const auto it = now.values.find(seen.back());
        if (it == now.values.end() || !it->second)
            diff.changes.push_back({ RegChange::Kind::ValueDeleted, path, name, old.type, old.data, 0, {}, line });
        else if (it->second->type != old.type || it->second->data != old.data)
            diff.changes.push_back({ RegChange::Kind::ValueChanged, path, it->second->name, old.type, old.data,
                it->second->type, it->second->data, line });
    }
    for (const auto& [foldedName, value] : now.values)
        if (value && std::find(seen.begin(), seen.end(), foldedName) == seen.end())
            diff.changes.push_back(
                { RegChange::Kind::ValueAdded, path, value->name, 0, {}, value->type, value->data, line });
}

void PlannedRegistry::regionDiff(
    const Place& place, std::size_t line, ImportPlan& diff, std::vector<std::u16string>& canonicals) {
    std::vector<std::u16string> seen;
    KeyHandle start(m_store);
    if (m_store.openKey(place.root, place.path, reg::Access::Read, reg::kOpenLink, start.out()).ok()) {
        reg::KeyWalk walk(m_store, start.get(), place.shown, reg::KeyWalk::Links::AsKeys);
        while (walk.next()) {
            const std::u16string canonical
                = place.canonical + folded(reg::toUtf16(walk.path().substr(place.shown.size())));
            const auto now = m_keys.find(canonical);
            if (now == m_keys.end() || !now->second.exists) {
                diff.changes.push_back({ RegChange::Kind::KeyDeleted, walk.path(), {}, 0, {}, 0, {}, line });
                walk.skipSubkeys();
            } else {
                seen.push_back(canonical);
                valuesDiff(walk.key(), walk.path(), now->second, line, diff);
            }
            canonicals.resize(diff.changes.size(), canonical);
        }
    }
    for (auto it = m_keys.lower_bound(place.canonical); it != m_keys.end() && it->first.starts_with(place.canonical);
         ++it) {
        if (!within(it->first, place.canonical) || !it->second.exists) continue;
        if (std::find(seen.begin(), seen.end(), it->first) != seen.end()) continue;
        diff.changes.push_back({ RegChange::Kind::KeyAdded, it->second.shown, {}, 0, {}, 0, {}, line });
        for (const auto& [foldedName, value] : it->second.values)
            if (value)
                diff.changes.push_back({ RegChange::Kind::ValueAdded, it->second.shown, value->name, 0, {}, value->type,
                    value->data, line });
        canonicals.resize(diff.changes.size(), it->first);
    }
}

} // namespace

Status planImport(RegStore& store, const RegFileContent& content, ImportPlan& plan, const ImportProgress& progress) {
    plan = {};
    PlannedRegistry planned(store);
    for (std::size_t i = 0; i < content.keys.size(); ++i) {
        const RegFileKey& key = content.keys[i];
        if (!goOn(progress, i, content.keys.size())) {
            plan = {};
            return { Status::WriteFailed, kImportCancelled };
        }
        if (const Status st = planned.section(key, plan); !st.ok()) {
            plan = {};
            return Status(st.code(), content.fileName + ":" + std::to_string(key.line) + ": " + st.message());
        }
    }
    planned.finish(plan);
    return Status::Ok;
}

// --- comparing two registries ------------------------------------------------------------------

namespace {

class StoreDiff {
public:
    StoreDiff(RegStore& oldStore, RegStore& newStore, ImportPlan& plan)
        : m_old(oldStore)
        , m_new(newStore)
        , m_plan(plan) { }

    void root(HKey root, std::string_view name, std::uint64_t skipIdentity);
    [[nodiscard]] std::uint64_t identityOf(HKey root) const;
    // The key at oldKey against the key at newKey, each with everything below it, as path.
    void subtree(HKey oldKey, HKey newKey, const std::string& path) {
        if (oldKey == reg::kNoKey && newKey == reg::kNoKey) return;
        if (newKey == reg::kNoKey)
            m_plan.add({ RegChange::Kind::KeyDeleted, path, {}, 0, {}, 0, {}, 0 });
        else if (oldKey == reg::kNoKey)
            added(newKey, path);
        else
            keys(oldKey, newKey, path);
    }

private:
    void keys(HKey oldKey, HKey newKey, const std::string& path);
    void values(HKey oldKey, HKey newKey, const std::string& path);
    void added(HKey newKey, const std::string& path);
    void followLoneLink(
        HKey oldParent, KeyHandle& oldChild, HKey newParent, KeyHandle& newChild, const std::u16string& name);
    static std::vector<std::u16string> subkeys(RegStore& store, HKey key);

    RegStore& m_old;
    RegStore& m_new;
    ImportPlan& m_plan;
    std::uint64_t m_skipOld = 0; // a hive that another root shows already
    std::uint64_t m_skipNew = 0;
};

std::uint64_t StoreDiff::identityOf(HKey root) const {
    reg::KeyInfo info;
    return m_old.queryInfo(root, info).ok() ? info.identity : 0;
}

std::vector<std::u16string> StoreDiff::subkeys(RegStore& store, HKey key) {
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; store.enumKey(key, i, name).ok(); ++i)
        names.push_back(name);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return reg::compareNames(a, b) < 0; });
    return names;
}

void StoreDiff::values(HKey oldKey, HKey newKey, const std::string& path) {
    std::u16string name;
    RawValue value;
    for (std::uint32_t i = 0; m_new.enumValue(newKey, i, name, &value.type, &value.data).ok(); ++i) {
        RegChange change { RegChange::Kind::ValueAdded, path, name, 0, {}, value.type, value.data, 0 };
        if (oldKey != reg::kNoKey && m_old.queryValue(oldKey, name, change.oldType, change.oldData).ok()) {
            if (change.oldType == value.type && change.oldData == value.data) continue;
            change.kind = RegChange::Kind::ValueChanged;
        }
        m_plan.add(std::move(change));
    }
    if (oldKey == reg::kNoKey) return;
    for (std::uint32_t i = 0; m_old.enumValue(oldKey, i, name, &value.type, &value.data).ok(); ++i) {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (m_new.queryValue(newKey, name, type, data).ok()) continue;
        m_plan.add({ RegChange::Kind::ValueDeleted, path, name, value.type, value.data, 0, {}, 0 });
    }
}

void StoreDiff::added(HKey newKey, const std::string& path) {
    m_plan.add({ RegChange::Kind::KeyAdded, path, {}, 0, {}, 0, {}, 0 });
    values(reg::kNoKey, newKey, path);
    for (const std::u16string& name : subkeys(m_new, newKey)) {
        KeyHandle child(m_new);
        if (m_new.openKey(newKey, name, reg::Access::Read, reg::kOpenLink, child.out()).ok())
            added(child.get(), path + "\\" + reg::toUtf8(name));
    }
}

void StoreDiff::keys(HKey oldKey, HKey newKey, const std::string& path) {
    values(oldKey, newKey, path);
    const std::vector<std::u16string> oldNames = subkeys(m_old, oldKey);
    const std::vector<std::u16string> newNames = subkeys(m_new, newKey);
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < oldNames.size() || j < newNames.size()) {
        const int order = i == oldNames.size() ? 1
            : j == newNames.size()             ? -1
                                               : reg::compareNames(oldNames[i], newNames[j]);
        const std::u16string& name = order <= 0 ? oldNames[i] : newNames[j];
        const std::string childPath = path + "\\" + reg::toUtf8(name);
        KeyHandle oldChild(m_old);
        KeyHandle newChild(m_new);
        if (order <= 0) (void)m_old.openKey(oldKey, name, reg::Access::Read, reg::kOpenLink, oldChild.out());
        if (order >= 0) (void)m_new.openKey(newKey, name, reg::Access::Read, reg::kOpenLink, newChild.out());
        if (order == 0) followLoneLink(oldKey, oldChild, newKey, newChild, name);
        reg::KeyInfo info;
        const bool skip = (oldChild.get() && m_old.queryInfo(oldChild.get(), info).ok() && info.identity == m_skipOld)
            || (newChild.get() && m_new.queryInfo(newChild.get(), info).ok() && info.identity == m_skipNew);
        if (!skip && order < 0)
            m_plan.add({ RegChange::Kind::KeyDeleted, childPath, {}, 0, {}, 0, {}, 0 });
        else if (!skip && order > 0)
            added(newChild.get(), childPath);
        else if (!skip)
            keys(oldChild.get(), newChild.get(), childPath);
        i += order <= 0 ? 1 : 0;
        j += order >= 0 ? 1 : 0;
    }
}

// A link on one side and an ordinary key on the other is what an export leaves of a link: the
// keys it leads to, written out below its name. The two are compared by what the link leads to,
// so a backup compared with the registry it was taken of finds nothing. Links on both sides are
// compared as themselves.
void StoreDiff::followLoneLink(
    HKey oldParent, KeyHandle& oldChild, HKey newParent, KeyHandle& newChild, const std::u16string& name) {
    reg::KeyInfo oldInfo;
    reg::KeyInfo newInfo;
    if (!oldChild.get() || !newChild.get() || !m_old.queryInfo(oldChild.get(), oldInfo).ok()
        || !m_new.queryInfo(newChild.get(), newInfo).ok() || oldInfo.isLink == newInfo.isLink)
        return;
    RegStore& store = oldInfo.isLink ? m_old : m_new;
    KeyHandle& child = oldInfo.isLink ? oldChild : newChild;
    KeyHandle target(store);
    if (store.openKey(oldInfo.isLink ? oldParent : newParent, name, reg::Access::Read, reg::kOptionNone, target.out())
            .ok())
        std::swap(child, target);
}

void StoreDiff::root(HKey root, std::string_view name, std::uint64_t skipIdentity) {
    m_skipOld = skipIdentity;
    reg::KeyInfo info;
    m_skipNew = skipIdentity && m_new.queryInfo(reg::kCurrentUser, info).ok() ? info.identity : 0;
    keys(root, root, std::string(name));
}

} // namespace

ImportPlan compareStores(RegStore& oldStore, RegStore& newStore) {
    ImportPlan plan;
    StoreDiff diff(oldStore, newStore, plan);
    diff.root(reg::kLocalMachine, "HKEY_LOCAL_MACHINE", 0);
    diff.root(reg::kCurrentUser, "HKEY_CURRENT_USER", 0);
    // HKEY_USERS holds the user's hive, compared already as HKEY_CURRENT_USER.
    diff.root(reg::kUsers, "HKEY_USERS", diff.identityOf(reg::kCurrentUser));
    return plan;
}

ImportPlan compareKeys(RegStore& oldStore, HKey oldKey, RegStore& newStore, HKey newKey, const std::string& path) {
    ImportPlan plan;
    StoreDiff(oldStore, newStore, plan).subtree(oldKey, newKey, path);
    return plan;
}

Status readRegFileInto(const std::string& path, RegStore& store) {
    RegFileContent content;
    if (Status read = readRegFile(path, content); !read.ok()) return read;
    return applyImport(store, content);
}

Status compareFiles(const RegFileContent& oldFile, const RegFileContent& newFile, ImportPlan& plan) {
    plan = {};
    reg::MemoryRegistry oldStore;
    reg::MemoryRegistry newStore;
    for (auto [store, file] : { std::pair { &oldStore, &oldFile }, std::pair { &newStore, &newFile } })
        if (Status status = applyImport(*store, *file); !status.ok()) return status;
    plan = compareStores(oldStore, newStore);
    return Status::Ok;
}

ImportPlan planBelow(const ImportPlan& plan, std::string_view keyPath) {
    const std::u16string key = reg::toUtf16(keyPath);
    const auto within = [](const std::u16string& path, const std::u16string& top) {
        return path.size() >= top.size() && reg::sameName(std::u16string_view(path).substr(0, top.size()), top)
            && (path.size() == top.size() || path[top.size()] == u'\\');
    };
    ImportPlan below;
    for (const RegChange& change : plan.changes) {
        const std::u16string path = reg::toUtf16(change.keyPath);
        if (within(path, key) || (change.kind == RegChange::Kind::KeyDeleted && within(key, path))) below.add(change);
    }
    return below;
}

} // namespace quern
