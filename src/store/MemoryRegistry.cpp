#include "store/MemoryRegistry.h"

#include "base/Names.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quern::reg {

namespace {

constexpr int kMaxLinks = 16;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::u16string_view kDefaultSid = u"S-1-5-21-0-0-0-1000";
constexpr std::u16string_view kLinkValueName = u"SymbolicLinkValue";

bool splitPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1); // a trailing backslash is allowed
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(u'\\', start);
        const auto part = path.substr(start, slash == path.npos ? path.npos : slash - start);
        if (part.empty() || part.size() > kMaxKeyNameLength) return false;
        parts.push_back(part);
        if (slash == path.npos) return true;
        start = slash + 1;
    }
}

// What splitPath accepts, without keeping the parts.
bool validPath(std::u16string_view path) {
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(u'\\', start);
        const std::size_t length = (slash == path.npos ? path.size() : slash) - start;
        if (length == 0 || length > kMaxKeyNameLength) return false;
        if (slash == path.npos) return true;
        start = slash + 1;
    }
}

std::size_t depthOf(const Key* key) {
    std::size_t depth = 0;
    for (; key->parent; key = key->parent)
        ++depth;
    return depth;
}

bool isInside(const Key* key, const Key* subtree) {
    for (; key; key = key->parent)
        if (key == subtree) return true;
    return false;
}

} // namespace

MemoryRegistry::MemoryRegistry(MemoryRegistryOptions options)
    : MemoryRegistry(options, [] { return std::make_unique<Hive>(); }) {
    // Base keys first: a read-only registry still has them.
    if (options.withBaseKeys) (void)createBaseKeys(*this);
    m_readOnly = std::move(options.readOnlyReason);
    for (auto& part : m_hives)
        part->readOnlyReason = options.fixedPartsReadOnlyReason;
}

MemoryRegistry::MemoryRegistry(MemoryRegistryOptions options, const std::function<std::unique_ptr<Hive>()>& makeHive)
    : m_clock(std::move(options.clock)) {
    m_users = std::make_unique<Key>(u"User", nullptr, nullptr);
    m_dynData = std::make_unique<Key>(u"DynData", nullptr, nullptr);
    static constexpr std::u16string_view kRootNames[3] = { u"Machine", kDefaultSid, u".Default" };
    for (int i = 0; i < 3; ++i) {
        m_hives[i] = makeHive();
        replaceHiveRoot(
            static_cast<HivePlace>(i), std::make_unique<Key>(std::u16string(kRootNames[i]), nullptr, m_hives[i].get()));
    }
}

MemoryRegistry::~MemoryRegistry() = default;

std::uint64_t MemoryRegistry::now() const {
    return m_clock ? m_clock() : fileTimeNow();
}

void MemoryRegistry::replaceHiveRoot(HivePlace place, std::unique_ptr<Key> root) {
    Hive& part = *m_hives[place];
    // Parts mounted below HKEY_LOCAL_MACHINE are no part of its file: they move to the new root.
    std::vector<std::unique_ptr<Key>> mounts;
    if (place == kMachineHive && m_machine) {
        auto& list = m_machine->subkeys;
        for (auto& key : list)
            if (key->hive != &part) mounts.push_back(std::move(key));
        std::erase(list, nullptr);
    }
    if (part.root) {
        forgetHandlesInto(part.root);
        invalidateHistory(part, "That part of the registry was read again since the change, so it cannot run.");
    }
    root->hive = &part;
    part.root = root.get();
    if (place == kMachineHive) {
        for (auto& mounted : mounts) {
            if (root->findSubkey(mounted->name)) {
                // The file now has a key of the mount's name: the file's key wins, the part goes.
                m_loadMessages.push_back("The hive mounted as HKEY_LOCAL_MACHINE\\" + toUtf8(mounted->name)
                    + " was unloaded: the registry now has a key of that name.");
                forgetHandlesInto(mounted.get());
                invalidateHistory(*mounted->hive, "The hive it changed was unloaded since, so it cannot run.");
                std::erase_if(m_mounted, [&](const auto& p) { return p.get() == mounted->hive; });
                continue;
            }
            mounted->parent = root.get();
            const std::size_t pos = root->subkeyPosition(mounted->name);
            root->subkeys.insert(root->subkeys.begin() + static_cast<std::ptrdiff_t>(pos), std::move(mounted));
        }
        m_machine = std::move(root);
        return;
    }
    // The user hives hang below HKEY_USERS, replacing what was there before.
    auto& list = m_users->subkeys;
    std::erase_if(list, [&](const std::unique_ptr<Key>& k) { return k->hive == &part; });
    root->parent = m_users.get();
    const std::size_t pos = m_users->subkeyPosition(root->name);
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), std::move(root));
}

std::string MemoryRegistry::readOnlyReason() const {
    if (!m_readOnly.empty()) return m_readOnly;
    std::string reason;
    auto add = [&](const Hive& part) {
        if (part.readOnlyReason.empty() || reason.find(part.readOnlyReason) != std::string::npos) return;
        if (!reason.empty()) reason += ' ';
        reason += part.readOnlyReason;
    };
    for (const auto& part : m_hives)
        add(*part);
    for (const auto& part : m_mounted)
        add(*part);
    return reason;
}

std::string MemoryRegistry::readOnlyReasonAt(HKey root, std::u16string_view path) {
    if (!m_readOnly.empty()) return m_readOnly;
    Key* key = nullptr;
    if (resolveRoot(root, key) != Status::Ok || !key) return readOnlyReason();
    // The deepest key of the path that exists is the one that changes, or gets the new keys.
    while (!path.empty()) {
        const std::size_t cut = path.find(u'\\');
        Key* sub = key->isLink || !readSubkeys(key).ok() ? nullptr : key->findSubkey(path.substr(0, cut));
        if (!sub) break;
        key = sub;
        path = cut == path.npos ? std::u16string_view {} : path.substr(cut + 1);
    }
    return key->hive ? key->hive->readOnlyReason : readOnlyReason();
}

std::vector<std::u16string> MemoryRegistry::subkeysLeftOut(HKey handle) {
    std::vector<std::u16string> names;
    Key* key = nullptr;
    Access access = Access::Read;
    if (resolve(handle, key, access) == Status::Ok && key->hive) key->hive->subkeysLeftOut(*key, names);
    return names;
}

Status MemoryRegistry::resolveRoot(HKey root, Key*& key) {
    int links = 0;
    switch (root) {
    case kLocalMachine:
        key = m_machine.get();
        return Status::Ok;
    case kCurrentUser:
        key = m_hives[kCurrentUserHive]->root;
        return Status::Ok;
    case kUsers:
        key = m_users.get();
        return Status::Ok;
    case kDynData:
        key = m_dynData.get();
        return Status::Ok;
    case kClassesRoot:
        return walk(m_machine.get(), u"Software\\Classes", 0, false, key, nullptr, links);
    case kCurrentConfig:
        return walk(
            m_machine.get(), u"System\\CurrentControlSet\\Hardware Profiles\\Current", 0, false, key, nullptr, links);
    default:
        return Status::InvalidHandle;
    }
}

Status MemoryRegistry::resolve(HKey handle, Key*& key, Access& access) {
    if (isPredefined(handle)) {
        access = Access::Full;
        return resolveRoot(handle, key);
    }
    const OpenHandle* open = handleSlot(handle);
    if (!open) return Status::InvalidHandle;
    if (!open->key) return Status::KeyDeleted;
    key = open->key;
    access = open->access;
    return Status::Ok;
}

namespace {
// A handle is its slot's index plus one in the low bits and the slot's generation above them,
// below the predefined keys' bit.
constexpr unsigned kSlotBits = 20;
constexpr std::uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr std::uint32_t kGenerationMask = (1u << (31 - kSlotBits)) - 1;
// A slot is given out again only after this many others were closed since, so a stale handle
// would need millions of opens to meet its generation again.
constexpr std::size_t kMinFreeSlots = 4096;
} // namespace

MemoryRegistry::OpenHandle* MemoryRegistry::handleSlot(HKey handle) {
    const std::uint32_t slot = handle & kSlotMask;
    if (slot == 0 || slot > m_handles.size()) return nullptr;
    OpenHandle& open = m_handles[slot - 1];
    if (!open.open || open.generation != ((handle >> kSlotBits) & kGenerationMask)) return nullptr;
    return &open;
}

HKey MemoryRegistry::newHandle(Key* key, Access access) {
    std::uint32_t slot = 0;
    if (m_freeSlots.size() - m_freeFrom > kMinFreeSlots || m_handles.size() == kSlotMask) {
        if (m_freeFrom == m_freeSlots.size()) return kNoKey; // a million handles open: none is left
        slot = m_freeSlots[m_freeFrom++];
        if (m_freeFrom > m_freeSlots.size() / 2) {
            m_freeSlots.erase(m_freeSlots.begin(), m_freeSlots.begin() + static_cast<std::ptrdiff_t>(m_freeFrom));
            m_freeFrom = 0;
        }
    } else {
        m_handles.emplace_back();
        slot = static_cast<std::uint32_t>(m_handles.size());
    }
    OpenHandle& open = m_handles[slot - 1];
    open.key = key;
    open.access = access;
    open.open = true;
    open.generation = (open.generation + 1) & kGenerationMask;
    ++m_openHandles;
    return slot | (open.generation << kSlotBits);
}

Status MemoryRegistry::followLink(Key* link, Key*& target, int& linksFollowed) {
    if (++linksFollowed > kMaxLinks)
        return Status(
            Status::LinkLoop, "A chain of link keys loops or is longer than " + std::to_string(kMaxLinks) + " links.");
    if (const Status st = readValues(link); !st.ok()) return st;
    const std::ptrdiff_t index = link->findValue(kLinkValueName);
    if (index < 0) return Status::NotFound;
    const RawValue& value = link->values[static_cast<std::size_t>(index)];
    std::u16string path(value.data.size() / 2, u'\0');
    if (!path.empty()) std::memcpy(path.data(), value.data.data(), path.size() * 2);
    while (!path.empty() && path.back() == u'\0')
        path.pop_back();
    // Targets name the kernel's view of the registry: \Registry\Machine\... or \Registry\User\...
    std::vector<std::u16string_view> parts;
    std::u16string_view rest(path);
    if (!rest.empty() && rest.front() == u'\\') rest.remove_prefix(1);
    if (!splitPath(rest, parts) || parts.size() < 2 || !sameName(parts[0], u"Registry")) return Status::NotFound;
    Key* base = nullptr;
    if (sameName(parts[1], u"Machine"))
        base = m_machine.get();
    else if (sameName(parts[1], u"User"))
        base = m_users.get();
    else
        return Status::NotFound;
    const std::size_t skip = static_cast<std::size_t>(parts[1].data() + parts[1].size() - rest.data());
    std::u16string_view below = rest.substr(std::min(rest.size(), skip + 1));
    if (skip >= rest.size()) below = {};
    return walk(base, below, 0, false, target, nullptr, linksFollowed);
}

Status MemoryRegistry::walk(Key* start, std::u16string_view path, unsigned options, bool create, Key*& result,
    bool* created, int& linksFollowed) {
    if (created) *created = false;
    if (!path.empty() && path.front() == u'\\') return Status::BadPath;
    // The whole path is checked before anything is made, so a bad name late in it creates nothing.
    if (!validPath(path)) return Status::BadPath;
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    Key* current = start;
    for (std::u16string_view rest = path; !rest.empty();) {
        const std::size_t slash = rest.find(u'\\');
        const std::u16string_view part = rest.substr(0, slash);
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
        const bool last = rest.empty();
        if (const Status st = readSubkeys(current); !st.ok()) return st;
        Key* child = current == m_enumParent && part == m_enumChild->name ? m_enumChild : current->findSubkey(part);
        if (!child) {
            if (!create) return Status::NotFound;
            if (const Status st = addKey(current, part, last && (options & kCreateLink), child); !st.ok()) return st;
            if (created && last) *created = true;
            current = child;
            continue;
        }
        if (child->isLink && !(last && (options & kOpenLink))) {
            if (const Status st = followLink(child, current, linksFollowed); st != Status::Ok) return st;
        } else {
            current = child;
        }
    }
    result = current;
    return Status::Ok;
}

Status MemoryRegistry::addKey(Key* parent, std::u16string_view name, bool link, Key*& child) {
    if (depthOf(parent) + 1 > kMaxKeyDepth) return Status::BadPath;
    if (const Status st = prepareChange(parent); !st.ok()) return st;
    child = parent->addSubkey(std::u16string(name));
    child->modified = now();
    child->dirty = true;
    child->isLink = link;
    record({ UndoEntry::KeyCreated, parent, 0, {}, nullptr, child, 0, false });
    touch(parent);
    return Status::Ok;
}

Status MemoryRegistry::openKey(HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result) {
    Key* base = nullptr;
    Access parentAccess = Access::Read;
    if (const Status st = resolve(parent, base, parentAccess); st != Status::Ok) return st;
    Key* key = nullptr;
    int links = 0;
    if (const Status st = walk(base, path, options, false, key, nullptr, links); st != Status::Ok) return st;
    if (access == Access::Full)
        if (Status st = writable(key); !st.ok()) return st;
    result = newHandle(key, access);
    return result == kNoKey ? Status(Status::AccessDenied, "Too many keys are open.") : Status(Status::Ok);
}

Status MemoryRegistry::createKey(
    HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result, bool* created) {
    Key* base = nullptr;
    Access parentAccess = Access::Read;
    if (const Status st = resolve(parent, base, parentAccess); st != Status::Ok) return st;
    Key* key = nullptr;
    int links = 0;
    const Status st = walk(base, path, options, true, key, created, links);
    if (st != Status::Ok) {
        if (m_batchDepth == 0) undo({});
        return st;
    }
    if (const Status done = finishChange(Status::Ok); done != Status::Ok) return done;
    if (access == Access::Full)
        if (Status why = writable(key); !why.ok()) return why;
    result = newHandle(key, access);
    return result == kNoKey ? Status(Status::AccessDenied, "Too many keys are open.") : Status(Status::Ok);
}

Status MemoryRegistry::closeKey(HKey key) {
    if (isPredefined(key)) return Status::Ok;
    OpenHandle* open = handleSlot(key);
    if (!open) return Status::InvalidHandle;
    open->open = false;
    open->key = nullptr;
    --m_openHandles;
    m_freeSlots.push_back(key & kSlotMask);
    return Status::Ok;
}

Status MemoryRegistry::keyForWriting(HKey handle, Key*& key) {
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (access != Access::Full) return Status(Status::AccessDenied, "The key is open for reading only.");
    return prepareChange(key);
}

Status MemoryRegistry::writable(const Key* key) const {
    if (!key->hive) return Status(Status::AccessDenied, "This key belongs to no registry file and cannot be changed.");
    if (!m_readOnly.empty()) return Status(Status::AccessDenied, m_readOnly);
    if (!key->hive->readOnlyReason.empty()) return Status(Status::AccessDenied, key->hive->readOnlyReason);
    return Status::Ok;
}

Status MemoryRegistry::mayChange(Hive&) {
    return Status::Ok;
}

Status Hive::readSubkeys(Key& key) {
    key.subkeysInFile = false;
    return Status::Ok;
}

Status Hive::readValues(Key& key) {
    key.valuesInFile = false;
    return Status::Ok;
}

Status Hive::valueInFile(Key&, std::size_t, std::u16string&, std::uint32_t*, std::vector<std::uint8_t>*) {
    return Status::NoMoreItems;
}

Status Hive::valueSizesInFile(Key&, KeyInfo&) {
    return Status::Ok;
}

Status Hive::namedValueInFile(Key& key, std::u16string_view, std::uint32_t&, std::vector<std::uint8_t>&) {
    return readValues(key);
}

Status MemoryRegistry::readSubkeys(Key* key) {
    return key->subkeysInFile ? key->hive->readSubkeys(*key) : Status(Status::Ok);
}

Status MemoryRegistry::readValues(Key* key) {
    return key->valuesInFile ? key->hive->readValues(*key) : Status(Status::Ok);
}

Status MemoryRegistry::prepareChange(Key* key) {
    if (Status st = writable(key); !st.ok()) return st;
    if (!key->hive->checkedInBatch) {
        MountedHive* mounted = key->hive->asMounted();
        if (Status st = mounted ? mounted->mayChange() : mayChange(*key->hive); !st.ok()) return st;
        key->hive->checkedInBatch = true;
    }
    return valuesForChange(key);
}

Status MemoryRegistry::valuesForChange(Key* key) {
    return key->valuesInFile && key->hive->valuesInListToChange ? readValues(key) : Status(Status::Ok);
}

void MemoryRegistry::touch(Key* key) {
    record({ UndoEntry::Touched, key, 0, {}, nullptr, nullptr, key->modified, key->dirty });
    key->modified = now();
    key->dirty = true;
    key->hive->dirty = true;
}

Status MemoryRegistry::finishChange(Status status) {
    if (m_batchDepth > 0) return status;
    if (status != Status::Ok) {
        undo({});
        return status;
    }
    return keep();
}

Status MemoryRegistry::setValue(
    HKey handle, std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data) {
    Key* key = nullptr;
    if (name.size() > kMaxValueNameLength) return Status::BadPath;
    {
        // Read first: reading may find the hive cannot be written after all.
        Access access = Access::Read;
        if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
        if (const Status st = readValues(key); st != Status::Ok) return st;
    }
    if (const Status st = keyForWriting(handle, key); st != Status::Ok) return st;
    const std::ptrdiff_t index = key->findValue(name);
    if (index >= 0) {
        RawValue& value = key->values[static_cast<std::size_t>(index)];
        record({ UndoEntry::ValueReplaced, key, static_cast<std::size_t>(index), value, nullptr, nullptr, 0, false });
        value.type = type;
        value.data.assign(data.begin(), data.end());
    } else {
        record({ UndoEntry::ValueAdded, key, key->values.size(), {}, nullptr, nullptr, 0, false });
        key->appendValue(RawValue { std::u16string(name), type, std::vector<std::uint8_t>(data.begin(), data.end()) });
    }
    touch(key);
    return finishChange(Status::Ok);
}

Status MemoryRegistry::deleteValue(HKey handle, std::u16string_view name) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (const Status st = readValues(key); st != Status::Ok) return st;
    const std::ptrdiff_t index = key->findValue(name);
    if (index < 0) return Status::NotFound;
    if (const Status st = keyForWriting(handle, key); st != Status::Ok) return st;
    record({ UndoEntry::ValueDeleted, key, static_cast<std::size_t>(index),
        std::move(key->values[static_cast<std::size_t>(index)]), nullptr, nullptr, 0, false });
    key->eraseValue(static_cast<std::size_t>(index));
    touch(key);
    return finishChange(Status::Ok);
}

Status MemoryRegistry::deleteKey(HKey parent, std::u16string_view path) {
    Key* base = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(parent, base, access); st != Status::Ok) return st;
    Key* key = nullptr;
    int links = 0;
    if (const Status st = walk(base, path, kOpenLink, false, key, nullptr, links); st != Status::Ok) return st;
    if (!key->parent || !key->hive || key == key->hive->root || (isPredefined(parent) && key == base))
        return Status(Status::AccessDenied, "A root key cannot be deleted.");
    if (const Status st = readSubkeys(key); st != Status::Ok) return st;
    if (!key->subkeys.empty()) return Status::HasSubkeys;
    // Undo puts it back and writes it anew, values and all.
    if (const Status st = valuesForChange(key); !st.ok()) return st;
    Key* owner = key->parent;
    if (const Status st = prepareChange(owner); st != Status::Ok) return st;
    const std::size_t pos = owner->subkeyPosition(key->name);
    UndoEntry entry { UndoEntry::KeyRemoved, owner, pos, {}, std::move(owner->subkeys[pos]), nullptr, 0, false };
    owner->subkeys.erase(owner->subkeys.begin() + static_cast<std::ptrdiff_t>(pos));
    forgetHandlesInto(entry.node.get());
    record(std::move(entry));
    touch(owner);
    return finishChange(Status::Ok);
}

void MemoryRegistry::forgetHandlesInto(const Key* subtree) {
    m_enumParent = nullptr;
    m_enumChild = nullptr;
    for (auto& open : m_handles)
        if (open.key && isInside(open.key, subtree)) open.key = nullptr;
}

Status MemoryRegistry::enumKey(HKey handle, std::uint32_t index, std::u16string& name) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (const Status st = readSubkeys(key); st != Status::Ok) return st;
    if (index >= key->subkeys.size()) return Status::NoMoreItems;
    name = key->subkeys[index]->name;
    m_enumParent = key;
    m_enumChild = key->subkeys[index].get();
    return Status::Ok;
}

Status MemoryRegistry::enumValue(
    HKey handle, std::uint32_t index, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (key->valuesInFile) {
        const Status st = key->hive->valueInFile(*key, index, name, type, data);
        if (key->valuesInFile) return st;
    }
    if (index >= key->values.size()) return Status::NoMoreItems;
    const RawValue& value = key->values[index];
    name = value.name;
    if (type) *type = value.type;
    if (data) *data = value.data;
    return Status::Ok;
}

Status MemoryRegistry::queryInfo(HKey handle, KeyInfo& info) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (const Status st = readSubkeys(key); st != Status::Ok) return st;
    info = KeyInfo {};
    if (key->valuesInFile)
        if (const Status st = key->hive->valueSizesInFile(*key, info); st != Status::Ok) return st;
    // (It may have read them into the list instead.)
    info.subkeyCount = static_cast<std::uint32_t>(key->subkeys.size());
    if (!key->valuesInFile) info.valueCount = static_cast<std::uint32_t>(key->values.size());
    for (const auto& sub : key->subkeys)
        info.maxSubkeyNameLength = std::max(info.maxSubkeyNameLength, static_cast<std::uint32_t>(sub->name.size()));
    for (const auto& value : key->values) {
        info.maxValueNameLength = std::max(info.maxValueNameLength, static_cast<std::uint32_t>(value.name.size()));
        info.maxValueDataLength = std::max(info.maxValueDataLength, static_cast<std::uint32_t>(value.data.size()));
    }
    info.lastWriteTime = key->modified;
    if (key->hasClass && key->extra) info.className = key->extra->className;
    info.isLink = key->isLink;
    info.identity = reinterpret_cast<std::uintptr_t>(key);
    return Status::Ok;
}

Status MemoryRegistry::queryValue(
    HKey handle, std::u16string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (key->valuesInFile) {
        const Status st = key->hive->namedValueInFile(*key, name, type, data);
        if (key->valuesInFile) return st;
        if (st != Status::Ok) return st;
    }
    const std::ptrdiff_t index = key->findValue(name);
    if (index < 0) return Status::NotFound;
    type = key->values[static_cast<std::size_t>(index)].type;
    data = key->values[static_cast<std::size_t>(index)].data;
    return Status::Ok;
}

void MemoryRegistry::beginBatch() {
    ++m_batchDepth;
    m_changes.beginBatch();
}

Status MemoryRegistry::endBatch() {
    if (m_batchDepth == 0) return Status::Ok;
    m_changes.endBatch();
    if (--m_batchDepth > 0) return Status::Ok;
    return keep();
}

void MemoryRegistry::abandonBatch() {
    if (m_batchDepth == 0) return;
    const std::size_t mark = m_changes.abandonBatch();
    std::vector<UndoEntry>& log = m_changes.log();
    for (std::size_t i = log.size(); i-- > mark;)
        (void)revert(log[i], false);
    log.resize(mark);
    // A hive stays to be kept only for the changes of the batches around this one.
    forEachPart([&](Hive& part) { part.dirty = m_changes.touches(part); });
    if (--m_batchDepth == 0) (void)keep();
}

Status MemoryRegistry::keep() {
    m_preparing.clear();
    m_placed.clear();
    Status kept = prepareMounted();
    if (kept.ok())
        kept = commitChanges();
    else
        undo({});
    // A part prepared and not placed keeps nothing of the batch, which was taken back in memory;
    // one still placed keeps it for good.
    for (MountedHive* part : m_preparing) {
        part->abandonChanges();
        part->reverted();
    }
    for (MountedHive* part : m_placed)
        part->settleChanges();
    m_preparing.clear();
    m_placed.clear();
    // The next batch asks the backend again before its first change.
    forEachPart([](Hive& part) { part.checkedInBatch = false; });
    m_changes.forgetBatchName();
    return kept;
}

Status MemoryRegistry::prepareMounted() {
    for (auto& part : m_mounted) {
        if (!part->dirty) continue;
        m_preparing.push_back(part.get());
        if (Status st = part->prepareChanges(); !st.ok()) return st;
    }
    return Status::Ok;
}

Status MemoryRegistry::placeMounted() {
    while (!m_preparing.empty()) {
        MountedHive* part = m_preparing.front();
        if (Status st = part->placeChanges(); !st.ok()) return st;
        part->dirty = false;
        m_placed.push_back(part);
        m_preparing.erase(m_preparing.begin());
    }
    return Status::Ok;
}

Status MemoryRegistry::takeBackBatch(const Status& failure, std::vector<std::string> putBack, std::string problems) {
    // The last placed first, so that each file is back as it was before the batch touched it.
    while (!m_placed.empty()) {
        MountedHive* part = m_placed.back();
        m_placed.pop_back();
        std::string why;
        if (part->takeBackChanges(why)) putBack.push_back(part->location());
        if (!why.empty()) problems += (problems.empty() ? "" : " ") + why;
        // Told abandonChanges and reverted() at the end of the batch, as a part never placed.
        m_preparing.insert(m_preparing.begin(), part);
    }
    undo({});
    std::string message = failure.message();
    if (!putBack.empty()) {
        std::string list;
        for (const std::string& where : putBack)
            list += (list.empty() ? "" : ", ") + where;
        message += " What the command had already written was put back (" + list + ")"
            + (problems.empty() ? ", so nothing was changed." : ".");
    }
    if (!problems.empty()) message += " " + problems;
    return Status(failure.code(), message);
}

void MemoryRegistry::forEachPart(const std::function<void(Hive&)>& visit) {
    for (auto& part : m_hives)
        visit(*part);
    for (auto& part : m_mounted)
        visit(*part);
}

Key* MemoryRegistry::mountParent(HKey at) {
    if (at == kLocalMachine) return m_machine.get();
    if (at == kUsers) return m_users.get();
    return nullptr;
}

Status MemoryRegistry::mount(
    HKey at, std::u16string_view name, std::unique_ptr<MountedHive> part, std::unique_ptr<Key> tree) {
    Key* parent = mountParent(at);
    if (!parent)
        return Status(Status::AccessDenied, "A hive can be loaded only under HKEY_LOCAL_MACHINE or HKEY_USERS.");
    if (m_batchDepth > 0)
        return Status(Status::AccessDenied, "A hive cannot be loaded while a command changes the registry.");
    if (name.empty() || name.size() > kMaxKeyNameLength || name.find(u'\\') != name.npos) {
        std::string message(1, '"');
        message += toUtf8(name);
        message += "\" is not a valid key name.";
        return Status(Status::BadPath, message);
    }
    if (parent->findSubkey(name))
        return Status(Status::BadPath, "There is already a key named \"" + toUtf8(name) + "\" there.");
    tree->name = std::u16string(name);
    tree->parent = parent;
    part->root = tree.get();
    part->mountedAt = at;
    // Every key below the root belongs to the part already; only the root is given to it here.
    tree->hive = part.get();
    invalidateHistoryAt(parent, "A hive was loaded beside the key it changed since, so it cannot run.");
    const std::size_t pos = parent->subkeyPosition(tree->name);
    parent->subkeys.insert(parent->subkeys.begin() + static_cast<std::ptrdiff_t>(pos), std::move(tree));
    m_mounted.push_back(std::move(part));
    return Status::Ok;
}

Status MemoryRegistry::unmount(HKey at, std::u16string_view name) {
    Key* parent = mountParent(at);
    Key* root = parent ? parent->findSubkey(name) : nullptr;
    if (!root || !root->hive || !root->hive->asMounted() || root->hive->root != root)
        return Status(Status::NotFound, "No hive is loaded as \"" + toUtf8(name) + "\" there.");
    if (m_batchDepth > 0)
        return Status(Status::AccessDenied, "A hive cannot be unloaded while a command changes the registry.");
    const Hive* part = root->hive;
    invalidateHistory(*part, "The hive it changed was unloaded since, so it cannot run.");
    invalidateHistoryAt(parent, "A hive was unloaded beside the key it changed since, so it cannot run.");
    forgetHandlesInto(root);
    parent->subkeys.erase(parent->subkeys.begin() + static_cast<std::ptrdiff_t>(parent->subkeyPosition(name)));
    std::erase_if(m_mounted, [&](const auto& p) { return p.get() == part; });
    return Status::Ok;
}

MountedHive* MemoryRegistry::mountedPartOf(HKey handle) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (resolve(handle, key, access) != Status::Ok || !key->hive) return nullptr;
    return key->hive->asMounted();
}

Status MemoryRegistry::refreshMounted() {
    if (m_batchDepth > 0) return Status::Ok;
    Status result;
    for (auto& part : m_mounted) {
        if (!part->changedOnDisk()) continue;
        std::unique_ptr<Key> fresh;
        const Status st = part->reload(fresh);
        if (!st.ok()) {
            if (result.ok()) result = st;
            continue;
        }
        Key* old = part->root;
        Key* parent = old->parent;
        forgetHandlesInto(old);
        invalidateHistory(*part, "The hive it changed was read again since, so it cannot run.");
        fresh->name = old->name;
        fresh->parent = parent;
        fresh->hive = part.get();
        part->root = fresh.get();
        parent->subkeys[parent->subkeyPosition(old->name)] = std::move(fresh);
    }
    return result;
}

Status MemoryRegistry::commitChanges() {
    if (Status st = placeMounted(); !st.ok()) return takeBackBatch(st);
    for (auto& part : m_hives)
        part->dirty = false;
    forgetUndo();
    return Status::Ok;
}

void MemoryRegistry::forgetUndo() {
    m_changes.keepLog();
}

void MemoryRegistry::record(UndoEntry entry) {
    entry.hive = entry.key->hive;
    m_changes.record(std::move(entry));
}

void MemoryRegistry::invalidateHistory(const Hive& hive, const std::string& reason) {
    m_changes.invalidate(hive, reason);
}

void MemoryRegistry::invalidateHistoryAt(const Key* mountParent, const std::string& reason) {
    m_changes.invalidateAt(mountParent, reason);
}

void MemoryRegistry::undo(const std::vector<Hive*>& hives) {
    auto applies
        = [&](const Hive* part) { return hives.empty() || std::find(hives.begin(), hives.end(), part) != hives.end(); };
    std::vector<UndoEntry> kept;
    std::vector<UndoEntry> takenBack;
    std::vector<UndoEntry>& log = m_changes.log();
    for (auto it = log.rbegin(); it != log.rend(); ++it)
        if (applies(it->hive))
            takenBack.push_back(revert(*it, false));
        else
            kept.push_back(std::move(*it));
    forEachPart([&](Hive& part) {
        if (applies(&part)) part.dirty = false;
        part.checkedInBatch = false;
    });
    std::reverse(kept.begin(), kept.end());
    m_changes.keepAfterTakingBack(std::move(kept), std::move(takenBack));
}

namespace {

// A key put back from the history is written anew, with everything below it: the blocks it had
// stand no more where the file had them.
void markWhole(Key& key) {
    key.dirty = true;
    for (auto& sub : key.subkeys)
        markWhole(*sub);
}

} // namespace

UndoEntry MemoryRegistry::revert(UndoEntry& entry, bool fromHistory) {
    Key* key = entry.key;
    UndoEntry inverse { entry.kind, key, entry.index, {}, nullptr, nullptr, 0, false, entry.hive };
    if (fromHistory && key->hive) key->hive->dirty = true;
    switch (entry.kind) {
    case UndoEntry::ValueReplaced:
        inverse.value = std::exchange(key->values[entry.index], std::move(entry.value));
        break;
    case UndoEntry::ValueAdded:
        inverse.kind = UndoEntry::ValueDeleted;
        inverse.value = std::move(key->values[entry.index]);
        key->eraseValue(entry.index);
        break;
    case UndoEntry::ValueDeleted:
        inverse.kind = UndoEntry::ValueAdded;
        key->insertValue(entry.index, std::move(entry.value));
        break;
    case UndoEntry::KeyCreated: {
        inverse.kind = UndoEntry::KeyRemoved;
        auto& list = key->subkeys;
        const Key* child = entry.created;
        const auto pos = std::find_if(list.begin(), list.end(), [&](const auto& k) { return k.get() == child; });
        if (pos != list.end()) {
            forgetHandlesInto(pos->get());
            inverse.index = static_cast<std::size_t>(pos - list.begin());
            inverse.node = std::move(*pos);
            list.erase(pos);
        }
        break;
    }
    case UndoEntry::KeyRemoved:
        inverse.kind = UndoEntry::KeyCreated;
        inverse.created = entry.node.get();
        if (!entry.node) break;
        if (fromHistory) markWhole(*entry.node);
        key->subkeys.insert(key->subkeys.begin() + static_cast<std::ptrdiff_t>(key->subkeyPosition(entry.node->name)),
            std::move(entry.node));
        break;
    case UndoEntry::Touched:
        inverse.modified = key->modified;
        inverse.dirty = key->dirty;
        key->modified = entry.modified;
        // The file was written since: the key's block there is the one of after the change.
        key->dirty = fromHistory || entry.dirty;
        break;
    }
    return inverse;
}

void MemoryRegistry::nameBatch(ChangeLabel label) {
    if (m_batchDepth == 0) return;
    m_changes.nameBatch(std::move(label));
}

const ChangeLabel* MemoryRegistry::undoLabel() const {
    return m_changes.undoLabel();
}

const ChangeLabel* MemoryRegistry::redoLabel() const {
    return m_changes.redoLabel();
}

Status MemoryRegistry::undoChange() {
    return replay(Replay::Undo);
}

Status MemoryRegistry::redoChange() {
    return replay(Replay::Redo);
}

Status MemoryRegistry::mayReplay(const HistoryEntry& entry) {
    if (!entry.stale.empty()) return Status(Status::ChangedOnDisk, entry.stale);
    if (!m_readOnly.empty()) return Status(Status::AccessDenied, m_readOnly);
    for (const UndoEntry& change : entry.changes) {
        Hive& part = *change.hive;
        if (!part.readOnlyReason.empty()) return Status(Status::AccessDenied, part.readOnlyReason);
        if (part.checkedInBatch) continue;
        MountedHive* mounted = part.asMounted();
        if (Status st = mounted ? mounted->mayChange() : mayChange(part); !st.ok()) return st;
        part.checkedInBatch = true;
    }
    return Status::Ok;
}

Status MemoryRegistry::replay(Replay direction) {
    auto& from = m_changes.entries(direction);
    if (from.empty())
        return Status(
            Status::NotFound, direction == Replay::Undo ? "There is nothing to undo." : "There is nothing to redo.");
    if (m_batchDepth > 0) return Status(Status::AccessDenied, "A change is still being made.");
    // Every hive the change touches is asked before anything changes, so a refusal changes nothing.
    if (Status st = mayReplay(from.back()); !st.ok()) {
        forEachPart([](Hive& part) { part.checkedInBatch = false; });
        return st;
    }
    HistoryEntry entry = std::move(from.back());
    from.pop_back();
    m_changes.startReplay(direction, entry.label);
    beginBatch();
    for (auto it = entry.changes.rbegin(); it != entry.changes.rend(); ++it)
        m_changes.record(revert(*it, true));
    const Status kept = endBatch();
    m_changes.endReplay();
    return kept;
}

Status createBaseKeys(RegStore& store) {
    static constexpr std::pair<HKey, std::u16string_view> kBaseKeys[] = {
        { kLocalMachine, u"Software\\Classes" },
        { kLocalMachine, u"System\\CurrentControlSet\\Hardware Profiles\\Current" },
        { kCurrentUser, u"Software" },
        { kUsers, u".Default\\Software" },
    };
    WriteBatch batch(store);
    for (const auto& [root, path] : kBaseKeys) {
        HKey key = kNoKey;
        if (Status st = store.createKey(root, path, Access::Read, kOptionNone, key); !st.ok()) return st;
        (void)store.closeKey(key);
    }
    return batch.finish();
}

} // namespace quern::reg
