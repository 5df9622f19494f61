#include "registry/RegAccessor.h"

#include "codec/Utf.h"
#include "store/KeyWalk.h"

#include <algorithm>
#include <cstring>

namespace quern::reg {

namespace {

std::string quoted(std::string_view format, std::string_view name) {
    std::string text(format);
    text.replace(text.find("%s"), 2, name);
    return text;
}

// The accessor's sentence with the store's reason after it, so the user learns why (a file
// changed on disk, a running wineserver) and not only what failed.
RegError failure(std::string_view format, std::string_view name, const Status& status) {
    return RegError(quoted(format, name) + ": " + status.message());
}

std::vector<std::uint8_t> utf16Bytes(std::u16string_view units) {
    std::vector<std::uint8_t> bytes(units.size() * 2);
    // No text may have no buffer at all, which memcpy must not be handed.
    if (!bytes.empty()) std::memcpy(bytes.data(), units.data(), bytes.size());
    return bytes;
}

} // namespace

ValueKind kindOfType(std::uint32_t type) {
    switch (type) {
    case kRegSz:
        return ValueKind::String;
    case kRegExpandSz:
        return ValueKind::ExpandString;
    case kRegDword:
        return ValueKind::Integer;
    case kRegBinary:
        return ValueKind::Binary;
    default:
        return ValueKind::Other;
    }
}

std::vector<std::uint8_t> programData(std::uint32_t type, const std::vector<std::uint8_t>& raw) {
    if (!isStringType(type)) return raw;
    std::u16string units(raw.size() / 2, u'\0');
    if (!units.empty()) std::memcpy(units.data(), raw.data(), units.size() * 2);
    const std::string text = toUtf8(units);
    return { text.begin(), text.end() };
}

RegAccessor::RegAccessor(RegStore& store)
    : m_store(store) {
}

RegAccessor::~RegAccessor() {
    closeKey();
}

void RegAccessor::selectRoot(HKey root) {
    if (root == m_root) return;
    closeKey();
    m_root = root;
}

void RegAccessor::closeKey() {
    if (m_key != kNoKey) (void)m_store.closeKey(m_key);
    m_key = kNoKey;
    m_path.clear();
}

HKey RegAccessor::baseFor(std::string_view path, std::u16string& relative) const {
    if (!path.empty() && path.front() == '\\') {
        relative = toUtf16(path.substr(1));
        return m_root;
    }
    relative = toUtf16(path);
    return m_key != kNoKey ? m_key : m_root;
}

bool RegAccessor::open(std::string_view path, Access access) {
    std::u16string relative;
    const HKey base = baseFor(path, relative);
    HKey opened = kNoKey;
    if (m_store.openKey(base, relative, access, kOptionNone, opened) != Status::Ok) return false;
    std::string newPath;
    if (!path.empty() && path.front() == '\\')
        newPath = std::string(path.substr(1));
    else if (m_key != kNoKey && !m_path.empty())
        newPath = m_path + (path.empty() ? "" : "\\") + std::string(path);
    else
        newPath = std::string(path);
    closeKey();
    m_key = opened;
    m_path = std::move(newPath);
    return true;
}

bool RegAccessor::openKey(std::string_view path) {
    return open(path, Access::Full);
}

bool RegAccessor::openKeyReadOnly(std::string_view path) {
    return open(path, Access::Read);
}

void RegAccessor::createKey(std::string_view path) {
    std::u16string relative;
    const HKey base = baseFor(path, relative);
    HKey created = kNoKey;
    if (const Status st = m_store.createKey(base, relative, Access::Read, kOptionNone, created); !st.ok())
        throw failure("Failed to create key %s", path, st);
    (void)m_store.closeKey(created);
}

Status RegAccessor::removeKey(std::string_view path) {
    std::u16string relative;
    const HKey base = baseFor(path, relative);
    // All or nothing: when the key itself cannot go (a root, the top of a hive), what lay below it
    // must not be lost either; the unfinished batch undoes it.
    WriteBatch batch(m_store);
    if (Status st = deleteKeyTree(m_store, base, relative); !st.ok()) return st;
    return batch.finish();
}

bool RegAccessor::deleteValue(std::string_view name) {
    return m_store.deleteValue(m_key, toUtf16(name)) == Status::Ok;
}

void RegAccessor::getKeyNames(std::vector<std::string>& names) {
    names.clear();
    KeyInfo info;
    if (m_store.queryInfo(m_key, info) != Status::Ok) return;
    names.reserve(info.subkeyCount);
    std::u16string name;
    for (std::uint32_t i = 0; m_store.enumKey(m_key, i, name) == Status::Ok; ++i)
        names.push_back(toUtf8(name));
}

void RegAccessor::getValueNames(std::vector<std::string>& names) {
    names.clear();
    KeyInfo info;
    if (m_store.queryInfo(m_key, info) != Status::Ok) return;
    names.reserve(info.valueCount);
    std::u16string name;
    for (std::uint32_t i = 0; m_store.enumValue(m_key, i, name, nullptr, nullptr) == Status::Ok; ++i)
        names.push_back(toUtf8(name));
}

bool RegAccessor::query(std::string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) {
    return m_store.queryValue(m_key, toUtf16(name), type, data) == Status::Ok;
}

bool RegAccessor::getDataInfo(std::string_view name, ValueKind& kind, std::size_t& size) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    if (!query(name, type, raw)) {
        kind = ValueKind::Other;
        size = 0;
        return false;
    }
    kind = kindOfType(type);
    size = isStringType(type) ? programData(type, raw).size() : raw.size();
    return true;
}

std::string RegAccessor::readString(std::string_view name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    if (!query(name, type, raw) || raw.empty()) return {};
    const ValueKind kind = kindOfType(type);
    if (kind != ValueKind::String && kind != ValueKind::ExpandString)
        throw RegError(quoted("Invalid data type for '%s'", name));
    const auto data = programData(type, raw);
    const auto nul = std::find(data.begin(), data.end(), std::uint8_t { 0 });
    return std::string(data.begin(), nul);
}

std::int32_t RegAccessor::readInteger(std::string_view name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    if (!query(name, type, raw)) throw RegError(quoted("Failed to get data for '%s'", name));
    const auto data = programData(type, raw);
    if (data.size() > 4) throw RegError(quoted("Failed to get data for '%s'", name));
    if (kindOfType(type) != ValueKind::Integer) throw RegError(quoted("Invalid data type for '%s'", name));
    std::uint32_t number = 0;
    for (std::size_t i = data.size(); i-- > 0;)
        number = (number << 8) | data[i];
    return static_cast<std::int32_t>(number);
}

std::size_t RegAccessor::readBinaryData(std::string_view name, void* buffer, std::size_t bufferSize) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    if (!query(name, type, raw)) return 0;
    const ValueKind kind = kindOfType(type);
    const auto data = programData(type, raw);
    if ((kind != ValueKind::Binary && kind != ValueKind::Other) || data.size() > bufferSize)
        throw RegError(quoted("Invalid data type for '%s'", name));
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    return data.size();
}

void RegAccessor::write(std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
    if (const Status st = m_store.setValue(m_key, toUtf16(name), type, data); !st.ok())
        throw failure("Failed to set data for '%s'", name, st);
}

void RegAccessor::writeString(std::string_view name, std::string_view text) {
    std::u16string units = toUtf16(text);
    units.push_back(u'\0');
    write(name, kRegSz, utf16Bytes(units));
}

void RegAccessor::writeInteger(std::string_view name, std::int32_t number) {
    const auto n = static_cast<std::uint32_t>(number);
    write(name, kRegDword,
        { static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24) });
}

void RegAccessor::writeBinaryData(std::string_view name, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    write(name, kRegBinary, std::vector<std::uint8_t>(bytes, bytes + size));
}

void RegAccessor::writeRaw(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data) {
    if (!isStringType(type)) {
        write(name, type, std::vector<std::uint8_t>(data.begin(), data.end()));
        return;
    }
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    write(name, type, utf16Bytes(toUtf16(text)));
}

bool RegAccessor::hasSubKeys() {
    KeyInfo info;
    return m_store.queryInfo(m_key, info) == Status::Ok && info.subkeyCount > 0;
}

bool RegAccessor::keyExists(std::string_view path) {
    std::u16string relative;
    const HKey base = baseFor(path, relative);
    HKey key = kNoKey;
    Status status = m_store.openKey(base, relative, Access::Full, kOptionNone, key);
    // A key that exists but cannot be written (a read-only registry) still exists.
    if (status == Status::AccessDenied) status = m_store.openKey(base, relative, Access::Read, kOptionNone, key);
    if (status != Status::Ok) return false;
    (void)m_store.closeKey(key);
    return true;
}

bool RegAccessor::valueExists(std::string_view name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    return query(name, type, raw);
}

bool RegAccessor::renameValue(std::string_view oldName, std::string_view newName) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    if (!query(oldName, type, raw) || valueExists(newName)) return false;
    // The new value is written before the old one goes, and both in one write: the data is never
    // only in memory, and never lost when the disk refuses; a half-done rename is undone.
    WriteBatch batch(m_store);
    if (m_store.setValue(m_key, toUtf16(newName), type, raw) != Status::Ok) return false;
    if (m_store.deleteValue(m_key, toUtf16(oldName)) != Status::Ok) return false;
    return batch.finish() == Status::Ok;
}

Status RegAccessor::copyValues(HKey from, HKey to) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    std::u16string name;
    // The default value first, then all in the registry's order: the same copy whatever the order.
    if (m_store.queryValue(from, u"", type, data) == Status::Ok)
        if (Status st = m_store.setValue(to, u"", type, data); !st.ok()) return st;
    KeyInfo info;
    if (m_store.queryInfo(from, info) != Status::Ok) return Status::Ok;
    for (std::uint32_t i = 0; i < info.valueCount; ++i)
        if (m_store.enumValue(from, i, name, &type, &data) == Status::Ok)
            if (Status st = m_store.setValue(to, name, type, data); !st.ok()) return st;
    return Status::Ok;
}

void RegAccessor::copyTree(HKey from, HKey to, std::uint64_t targetIdentity) {
    // A link is copied as a link: following it could copy half the registry, or loop. The copy
    // being made (targetIdentity) is not copied into itself.
    KeyWalk walk(m_store, from, {}, KeyWalk::Links::AsKeys);
    std::vector<KeyHandle> made; // the copies of the keys on the walk's way down, below to
    while (walk.next()) {
        if (walk.depth() == 0) continue;
        while (made.size() >= walk.depth())
            made.pop_back();
        if (walk.status() != Status::Ok || walk.identity() == targetIdentity) {
            walk.skipSubkeys();
            continue;
        }
        KeyHandle target(m_store);
        const unsigned options = walk.isLink() ? kCreateLink | kOpenLink : kOptionNone;
        const HKey parent = made.empty() ? to : made.back().get();
        if (const Status st = m_store.createKey(parent, walk.name(), Access::Full, options, target.out()); !st.ok())
            throw failure("Failed to create key %s", toUtf8(walk.name()), st);
        if (const Status st = copyValues(walk.key(), target.get()); !st.ok())
            throw failure("Failed to set data for '%s'", toUtf8(walk.name()), st);
        made.push_back(std::move(target));
    }
}

bool RegAccessor::targetInside(HKey newBase, std::u16string_view newRelative, std::uint64_t sourceIdentity) {
    for (std::u16string above(newRelative);;) {
        const auto slash = above.rfind(u'\\');
        if (slash == std::u16string::npos) return false;
        above.resize(slash);
        KeyHandle ancestor(m_store);
        if (m_store.openKey(newBase, above, Access::Read, kOptionNone, ancestor.out()) != Status::Ok) continue;
        KeyInfo info;
        if (m_store.queryInfo(ancestor.get(), info) == Status::Ok && info.identity == sourceIdentity) return true;
    }
}

bool RegAccessor::moveKey(std::string_view oldPath, std::string_view newPath, bool deleteSource) {
    if (!keyExists(oldPath) || keyExists(newPath)) return false;
    std::u16string oldRelative;
    std::u16string newRelative;
    const HKey oldBase = baseFor(oldPath, oldRelative);
    const HKey newBase = baseFor(newPath, newRelative);
    if (newRelative.empty() || (newBase == oldBase && sameName(newRelative, oldRelative))) return false;
    // Handles close themselves on every way out, a raised error included. The source opens as
    // itself: moving a link must move the link, not fill a new key with what it points to.
    KeyHandle source(m_store);
    if (m_store.openKey(oldBase, oldRelative, Access::Read, kOpenLink, source.out()) != Status::Ok) return false;
    KeyInfo sourceInfo;
    (void)m_store.queryInfo(source.get(), sourceInfo);
    // A target inside the source would be copied into itself and then deleted with it.
    if (targetInside(newBase, newRelative, sourceInfo.identity)) return false;

    // A move that cannot be completed leaves nothing of itself behind: the batch is only finished
    // once the copy is whole and the source gone.
    WriteBatch batch(m_store);
    {
        KeyHandle target(m_store);
        const unsigned options = sourceInfo.isLink ? kCreateLink | kOpenLink : kOptionNone;
        if (const Status st = m_store.createKey(newBase, newRelative, Access::Full, options, target.out()); !st.ok())
            throw failure("Failed to create key %s", newPath, st);
        KeyInfo targetInfo;
        (void)m_store.queryInfo(target.get(), targetInfo);
        if (const Status st = copyValues(source.get(), target.get()); !st.ok())
            throw failure("Failed to set data for '%s'", newPath, st);
        if (!sourceInfo.isLink) copyTree(source.get(), target.get(), targetInfo.identity);
    }
    source.reset();
    if (deleteSource)
        if (const Status st = deleteKeyTree(m_store, oldBase, oldRelative); !st.ok())
            throw failure("Failed to delete key %s", oldPath, st);
    if (const Status st = batch.finish(); !st.ok()) throw failure("Failed to write key %s", newPath, st);
    return true;
}

} // namespace quern::reg
