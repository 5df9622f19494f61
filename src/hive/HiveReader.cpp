#include "hive/HiveReader.h"

#include "base/Names.h"
#include "hive/HiveFormat.h"
#include "hive/HiveImage.h"

#include <algorithm>
#include <cstring>

namespace quern::reg {

using namespace hiveformat;

std::size_t nodeOf(const Key& key) {
    return key.source.length ? static_cast<std::size_t>(key.source.offset) : 0;
}

std::string keyPath(const Key* key) {
    std::u16string path;
    for (; key && key->parent && key->hive == key->parent->hive; key = key->parent)
        path = key->name + (path.empty() ? u"" : u"\\") + path;
    return path.empty() ? "the root key" : "\"" + toUtf8(path) + "\"";
}

Status OfflineHive::Reader::readRoot(std::unique_ptr<Key>& tree) {
    const std::size_t rootNode = kBinsStart + le32(m_bytes, kRootCell);
    tree = std::make_unique<Key>(u"", nullptr, &m_hive);
    if (!visit(rootNode) || !inside(rootNode, kNkName)) return damaged("its root key lies outside the file");
    if (const Status st = readNode(rootNode, *tree); !st.ok()) return st;
    return checked();
}

Status OfflineHive::Reader::readSubkeys(Key& key) {
    const std::size_t record = nodeOf(key) + kCellHeader;
    if (!inside(nodeOf(key), kNkName)) return damaged("the key " + keyPath(&key) + " lies outside the file");
    m_children.clear();
    if (le32(m_bytes, record + kNkSubkeyCount) != 0)
        if (const Status st = listCells(
                kBinsStart + le32(m_bytes, record + kNkSubkeyList), m_children, true, [&] { return keyPath(&key); });
            !st.ok())
            return st;
    std::size_t depth = 0; // below the hive's root, as loading counted it
    for (const Key* k = &key; k->parent && k != m_hive.root; k = k->parent)
        ++depth;
    key.subkeys.reserve(m_children.size());
    // The subkeys' records lie anywhere in the file: asking for them all at once lets their
    // reads from memory overlap instead of waiting for one after the other.
    for (const std::size_t child : m_children)
        if (child + kNkName < m_bytes.size()) {
            __builtin_prefetch(m_bytes.data() + child);
            __builtin_prefetch(m_bytes.data() + child + kNkName);
        }
    for (const std::size_t child : m_children) {
        if (depth + 1 > kMaxKeyDepth) return damaged("its keys nest deeper than any registry allows");
        if (!inside(child, kNkName)) return damaged("a subkey of " + keyPath(&key) + " lies outside the file");
        if (!visit(child)) return damaged("the subkeys of " + keyPath(&key) + " lead back to a key already read");
        const std::size_t nameLength = le16(m_bytes, child + kCellHeader + kNkNameLength);
        if (!inside(child, kNkName + nameLength))
            return damaged("the name of a subkey of " + keyPath(&key) + " lies outside the file");
        // A name that no path can reach cannot be shown; loading found it and said so.
        if (!shownName(child, m_name)) {
            problem(keyPath(&key) + " has a subkey whose name the registry does not allow (\"" + toUtf8(m_name)
                + "\"), so it is not shown and the hive is read-only.");
            continue;
        }
        bool added = false;
        Key* sub = key.findOrAddSubkey(m_name, &added, &m_arena);
        if (!added) {
            // Shown once; writing would drop the other one.
            problem(keyPath(&key) + " has two subkeys named \"" + toUtf8(m_name)
                + "\", so only the first is shown and the hive is read-only.");
            continue;
        }
        if (const Status st = readNode(child, *sub); !st.ok()) return st;
    }
    key.subkeysInFile = false;
    return checked();
}

Status OfflineHive::Reader::readValues(Key& key) {
    std::size_t list = 0;
    std::size_t count = 0;
    if (const Status st = valueList(key, list, count); !st.ok()) return st;
    ValueList values;
    for (std::size_t i = 0; i < count; ++i) {
        RawValue raw;
        if (const Status st = value(key, list, i, raw.name, &raw.type, &raw.data); !st.ok()) return st;
        if (values.find(raw.name) >= 0) {
            problem(keyPath(&key) + " has two values named \"" + toUtf8(raw.name)
                + "\", so only the first is shown and the hive is read-only.");
            continue;
        }
        values.append(std::move(raw));
    }
    if (const Status st = checked(); !st.ok()) return st;
    key.values = std::move(values);
    key.valuesInFile = false;
    return Status::Ok;
}

Status OfflineHive::Reader::valueInFile(
    Key& key, std::size_t index, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data) {
    if (!key.valuesChecked)
        if (const Status st = checkValues(key); !st.ok() || !key.valuesInFile) return st;
    std::size_t list = 0;
    std::size_t count = 0;
    if (const Status st = valueList(key, list, count); !st.ok()) return st;
    if (index >= count) return Status::NoMoreItems;
    if (const Status st = value(key, list, index, name, type, data); !st.ok()) return st;
    return checked();
}

Status OfflineHive::Reader::valueSizes(Key& key, KeyInfo& info) {
    if (!key.valuesChecked)
        if (const Status st = checkValues(key); !st.ok() || !key.valuesInFile) return st;
    std::size_t list = 0;
    std::size_t count = 0;
    if (const Status st = valueList(key, list, count); !st.ok()) return st;
    info.valueCount = static_cast<std::uint32_t>(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t record = 0;
        std::size_t nameLength = 0;
        if (const Status st = valueRecord(key, list, i, record, nameLength); !st.ok()) return st;
        const bool compressed = le16(m_bytes, record + kVkFlags) & kVkCompressedName;
        info.maxValueNameLength
            = std::max(info.maxValueNameLength, static_cast<std::uint32_t>(compressed ? nameLength : nameLength / 2));
        info.maxValueDataLength
            = std::max(info.maxValueDataLength, le32(m_bytes, record + kVkDataLength) & 0x7fffffffu);
    }
    return checked();
}

Status OfflineHive::Reader::checkAll() {
    CheckWalk walk;
    walk.seen.resize(m_visited.size());
    const std::size_t root = kBinsStart + le32(m_bytes, kRootCell);
    if (root / 4 < walk.seen.size()) walk.seen[root / 4] = true;
    if (const Status st = enterKey(walk, root); !st.ok()) return st;
    while (!walk.frames.empty()) {
        CheckFrame& at = walk.frames.back();
        if (at.next == at.end) {
            walk.pending.resize(at.start);
            walk.frames.pop_back();
            continue;
        }
        const std::size_t child = walk.pending[at.next++];
        const std::size_t depth = walk.frames.size();
        if (depth > kMaxKeyDepth) return damaged("its keys nest deeper than any registry allows");
        if (!inside(child, kNkName))
            return damaged("a subkey of " + checkedPath(walk, depth) + " lies outside the file");
        if (walk.seen[child / 4])
            return damaged("the subkeys of " + checkedPath(walk, depth) + " lead back to a key already read");
        walk.seen[child / 4] = true;
        if (const Status st = enterKey(walk, child); !st.ok()) return st;
    }
    return checked();
}

std::string OfflineHive::Reader::checkedPath(const CheckWalk& walk, std::size_t depth) const {
    std::u16string path;
    for (std::size_t i = 1; i < depth; ++i) {
        const std::size_t record = walk.frames[i].cell + kCellHeader;
        std::u16string name;
        assignName(name, record + kNkName, le16(m_bytes, record + kNkNameLength),
            le16(m_bytes, record + kNkFlags) & kNkCompressedName);
        path += (path.empty() ? u"" : u"\\") + name;
    }
    return path.empty() ? std::string("the root key") : "\"" + toUtf8(path) + "\"";
}

bool OfflineHive::Reader::twinSubkey(CheckFrame& parent, const std::vector<std::size_t>& cells) {
    const int order = compareNamesUpper(parent.lastChild, m_name);
    if (order == 0) return true;
    if (order < 0 && !parent.names) return false;
    auto upper = [](std::u16string name) {
        for (auto& unit : name)
            unit = upperUnit(unit);
        return name;
    };
    if (!parent.names) {
        parent.names = std::make_unique<std::unordered_set<std::u16string>>();
        for (std::size_t i = parent.start; i + 1 < parent.next; ++i) {
            const std::size_t record = cells[i] + kCellHeader;
            assignName(m_other, record + kNkName, le16(m_bytes, record + kNkNameLength),
                le16(m_bytes, record + kNkFlags) & kNkCompressedName);
            parent.names->insert(upper(m_other));
        }
    }
    return !parent.names->insert(upper(m_name)).second;
}

void OfflineHive::Reader::unwritable(const CheckWalk& walk, const std::string& what) {
    problem(checkedPath(walk, walk.frames.size()) + " " + what
        + ", which is not a cell of the hive as its bins lay them out, so the hive is read-only.");
}

Status OfflineHive::Reader::enterKey(CheckWalk& walk, std::size_t node) {
    const std::size_t record = node + kCellHeader;
    if (!inside(node, kNkName) || !isKind(record, "nk"))
        return damaged(walk.frames.empty()
                ? "its root key lies outside the file"
                : "a key of " + checkedPath(walk, walk.frames.size()) + " is not a key record");
    const std::size_t nameLength = le16(m_bytes, record + kNkNameLength);
    if (!inside(node, kNkName + nameLength)) return damaged("the name of a key lies outside the file");
    walk.frames.push_back({ node, walk.pending.size(), walk.pending.size(), walk.pending.size(), {}, nullptr });
    if (walk.frames.size() > 1) checkSubkeyName(walk, node, nameLength);
    if (!isCell(node, kNkName + nameLength)) unwritable(walk, "has its record in part of the file");
    if (const Status st = checkKeyCells(walk, record); !st.ok()) return st;
    if (const Status st = checkValueRecords(walk, record); !st.ok()) return st;
    if (const Status st = listCheckedSubkeys(walk, record); !st.ok()) return st;
    walk.frames.back().end = walk.pending.size();
    for (std::size_t i = walk.frames.back().next; i < walk.pending.size(); ++i)
        prefetch(walk.pending[i]);
    return Status::Ok;
}

void OfflineHive::Reader::checkSubkeyName(CheckWalk& walk, std::size_t node, std::size_t nameLength) {
    const std::size_t record = node + kCellHeader;
    CheckFrame& parent = walk.frames[walk.frames.size() - 2];
    const bool fits = shownName(node, m_name);
    if (!fits) {
        problem(checkedPath(walk, walk.frames.size() - 1) + " has a subkey whose name "
            + (holds(node, kNkName + nameLength) ? "the registry does not allow" : "runs past its record") + " (\""
            + toUtf8(m_name) + "\"), so it is not shown and the hive is read-only.");
    } else if (twinSubkey(parent, walk.pending)) {
        problem(checkedPath(walk, walk.frames.size() - 1) + " has two subkeys named \"" + toUtf8(m_name)
            + "\", so only the first is shown and the hive is read-only.");
    }
    parent.lastChild = m_name;
    if (fits && kBinsStart + le32(m_bytes, record + kNkParent) != parent.cell)
        problem(checkedPath(walk, walk.frames.size())
            + " names another key than the one that lists it as its parent, so the hive is read-only.");
}

Status OfflineHive::Reader::checkKeyCells(const CheckWalk& walk, std::size_t record) {
    if (const std::uint32_t offset = le32(m_bytes, record + kNkClass); offset != 0xffffffffu) {
        const std::size_t length = le16(m_bytes, record + kNkClassLength);
        if (length != 0 && !inside(kBinsStart + offset, length))
            return damaged("the class name of " + checkedPath(walk, walk.frames.size()) + " lies outside the file");
        if (!isCell(kBinsStart + offset, length)) unwritable(walk, "has its class name in part of the file");
    }
    if (const std::uint32_t offset = le32(m_bytes, record + kNkSecurity); offset != 0xffffffffu)
        if (!securityCell(kBinsStart + offset)) unwritable(walk, "has its security record in part of the file");
    return Status::Ok;
}

Status OfflineHive::Reader::checkValueRecords(const CheckWalk& walk, std::size_t record) {
    const std::size_t count = le32(m_bytes, record + kNkValueCount);
    if (count == 0) return Status::Ok;
    const std::size_t list = kBinsStart + le32(m_bytes, record + kNkValueList);
    if (!inside(list, count * 4))
        return damaged("the value list of " + checkedPath(walk, walk.frames.size()) + " lies outside the file");
    if (!isCell(list, count * 4)) unwritable(walk, "has its value list in part of the file");
    for (std::size_t i = 0; i < count; ++i)
        prefetch(kBinsStart + le32(m_bytes, list + kCellHeader + i * 4));
    for (std::size_t i = 0; i < count; ++i)
        if (const Status st = checkValueRecord(walk, kBinsStart + le32(m_bytes, list + kCellHeader + i * 4)); !st.ok())
            return st;
    if (const std::ptrdiff_t twin = twinValue(list, count); twin >= 0) {
        m_valueTwins = true;
        const std::size_t value = kBinsStart + le32(m_bytes, list + kCellHeader + static_cast<std::size_t>(twin) * 4);
        assignName(m_name, value + kCellHeader + kVkName, le16(m_bytes, value + kCellHeader + kVkNameLength),
            le16(m_bytes, value + kCellHeader + kVkFlags) & kVkCompressedName);
        problem(checkedPath(walk, walk.frames.size()) + " has two values named \"" + toUtf8(m_name)
            + "\", so only the first is shown and the hive is read-only.");
    }
    return Status::Ok;
}

Status OfflineHive::Reader::checkValueRecord(const CheckWalk& walk, std::size_t value) {
    if (!inside(value, kVkName) || !isKind(value + kCellHeader, "vk"))
        return damaged("a value of " + checkedPath(walk, walk.frames.size()) + " is not a value record");
    const std::size_t valueNameLength = le16(m_bytes, value + kCellHeader + kVkNameLength);
    if (!inside(value, kVkName + valueNameLength))
        return damaged("a value name of " + checkedPath(walk, walk.frames.size()) + " lies outside the file");
    if (!holds(value, kVkName + valueNameLength))
        return damaged("a value name of " + checkedPath(walk, walk.frames.size()) + " runs past its record");
    if (!dataInside(value + kCellHeader))
        return damaged("the data of a value of " + checkedPath(walk, walk.frames.size()) + " lies outside the file");
    if (!isCell(value, kVkName + valueNameLength))
        unwritable(walk, "has a value record in part of the file");
    else if (!dataInCells(value + kCellHeader))
        unwritable(walk, "has the data of a value in part of the file");
    const bool compressed = le16(m_bytes, value + kCellHeader + kVkFlags) & kVkCompressedName;
    if (m_loadProblem.empty() && holdsNul(value + kCellHeader + kVkName, valueNameLength, compressed)) {
        assignName(m_name, value + kCellHeader + kVkName, valueNameLength, compressed);
        problem(checkedPath(walk, walk.frames.size()) + " has a value whose name holds a NUL (\"" + toUtf8(m_name)
            + "\"), which hivex cannot write, so the hive is read-only.");
    }
    return Status::Ok;
}

Status OfflineHive::Reader::listCheckedSubkeys(CheckWalk& walk, std::size_t record) {
    const std::size_t count = le32(m_bytes, record + kNkSubkeyCount);
    if (count == 0) return Status::Ok;
    if (const Status st = listCells(kBinsStart + le32(m_bytes, record + kNkSubkeyList), walk.pending, true,
            [&] { return checkedPath(walk, walk.frames.size()); });
        !st.ok())
        return st;
    // hivex refuses a key whose count is not what its list holds.
    if (const std::size_t listed = walk.pending.size() - walk.frames.back().start; listed != count)
        problem(checkedPath(walk, walk.frames.size()) + " says it has " + std::to_string(count)
            + " subkeys, but its list holds " + std::to_string(listed) + ", so the hive is read-only.");
    return Status::Ok;
}

void OfflineHive::Reader::prefetch(std::size_t cell) const {
    if (cell < m_bytes.size()) __builtin_prefetch(m_bytes.data() + cell);
}

bool OfflineHive::Reader::dataInside(std::size_t record) const {
    const std::size_t length = le32(m_bytes, record + kVkDataLength);
    if (length & 0x80000000u) return (length & 0x7fffffffu) <= 4;
    if (length == 0) return true;
    const std::size_t cell = kBinsStart + le32(m_bytes, record + kVkData);
    if (length > kBigDataSegment && inside(cell, 8) && isKind(cell + kCellHeader, "db")) {
        const std::size_t segments = le16(m_bytes, cell + kCellHeader + 2);
        const std::size_t list = kBinsStart + le32(m_bytes, cell + kCellHeader + 4);
        if (segments * kBigDataSegment < length || !inside(list, segments * 4)) return false;
        for (std::size_t i = 0, done = 0; i < segments && done < length; ++i, done += kBigDataSegment)
            if (!inside(
                    kBinsStart + le32(m_bytes, list + kCellHeader + i * 4), std::min(kBigDataSegment, length - done)))
                return false;
        return true;
    }
    return inside(cell, length);
}

void OfflineHive::Reader::walkBins() {
    m_cells.assign(m_bytes.size() / 4 + 1, false);
    const std::size_t end = std::min<std::size_t>(m_bytes.size(), kBinsStart + le32(m_bytes, kBinsSize));
    auto bad = [&](std::size_t at, const std::string& what) {
        problem("its bins are not laid out as hivex reads them (" + what + " at offset " + std::to_string(at)
            + "), so it is read-only.");
    };
    for (std::size_t bin = kBinsStart; bin < end;) {
        if (bin + kBinHeader > m_bytes.size() || m_bytes.compare(bin, 4, "hbin") != 0) return bad(bin, "no bin");
        const std::size_t size = le32(m_bytes, bin + kBinSize);
        if (size <= kBinHeader || size % 0x1000 != 0 || size > m_bytes.size() - bin)
            return bad(bin, "a bin of a wrong size");
        if (le32(m_bytes, bin + kBinOffset) != bin - kBinsStart) return bad(bin, "a bin that gives another offset");
        for (std::size_t cell = bin + kBinHeader; cell < bin + size;) {
            if (cell + kCellHeader > m_bytes.size()) return bad(cell, "a cell cut off");
            const auto raw = static_cast<std::int32_t>(le32(m_bytes, cell));
            const std::size_t length = raw < 0 ? 0u - static_cast<std::uint32_t>(raw) : static_cast<std::uint32_t>(raw);
            if (length <= kCellHeader || length % 4 != 0) return bad(cell, "a cell of an impossible size");
            if (raw < 0) m_cells[cell / 4] = true;
            cell += length;
        }
        bin += size;
    }
    m_binsWalked = true;
}

void OfflineHive::Reader::subkeysLeftOut(const Key& key, std::vector<std::u16string>& names) {
    const std::size_t node = nodeOf(key);
    if (!node || !inside(node, kNkName) || le32(m_bytes, node + kCellHeader + kNkSubkeyCount) == 0) return;
    std::vector<std::size_t> children;
    if (!listCells(kBinsStart + le32(m_bytes, node + kCellHeader + kNkSubkeyList), children, true, [&] {
            return keyPath(&key);
        }).ok())
        return;
    std::u16string name;
    for (const std::size_t child : children)
        if (inside(child, kNkName) && !shownName(child, name)) names.push_back(name);
}

bool OfflineHive::Reader::holds(std::size_t cell, std::size_t length) const {
    if (!inside(cell, length)) return false;
    const auto raw = static_cast<std::int32_t>(le32(m_bytes, cell));
    if (raw >= 0) return false;
    const std::size_t size = 0u - static_cast<std::uint32_t>(raw);
    return size >= kCellHeader + length && size <= m_bytes.size() - cell;
}

bool OfflineHive::Reader::isCell(std::size_t cell, std::size_t length) const {
    return holds(cell, length) && (!m_binsWalked || m_cells[cell / 4]);
}

bool OfflineHive::Reader::securityCell(std::size_t cell) {
    if (m_goodSecurity.count(cell)) return true;
    auto isRecord = [&](std::size_t at) { return isCell(at, kSkDescriptor) && isKind(at + kCellHeader, "sk"); };
    if (!isRecord(cell) || !isRecord(kBinsStart + le32(m_bytes, cell + kCellHeader + kSkNext))
        || !isRecord(kBinsStart + le32(m_bytes, cell + kCellHeader + kSkPrevious)))
        return false;
    m_goodSecurity.insert(cell);
    return true;
}

bool OfflineHive::Reader::dataInCells(std::size_t record) const {
    const std::size_t length = le32(m_bytes, record + kVkDataLength);
    if (length & 0x80000000u) return true;
    // hivex frees the cell of any value not held in its record, even an empty one.
    const std::size_t cell = kBinsStart + le32(m_bytes, record + kVkData);
    if (length > kBigDataSegment && inside(cell, 8) && isKind(cell + kCellHeader, "db")) {
        const std::size_t segments = le16(m_bytes, cell + kCellHeader + 2);
        const std::size_t list = kBinsStart + le32(m_bytes, cell + kCellHeader + 4);
        if (!isCell(cell, 8) || !isCell(list, segments * 4)) return false;
        for (std::size_t i = 0, done = 0; i < segments && done < length; ++i, done += kBigDataSegment)
            if (!isCell(
                    kBinsStart + le32(m_bytes, list + kCellHeader + i * 4), std::min(kBigDataSegment, length - done)))
                return false;
        return true;
    }
    return isCell(cell, length);
}

bool OfflineHive::Reader::shownName(std::size_t child, std::u16string& name) const {
    const std::size_t record = child + kCellHeader;
    const std::size_t length = le16(m_bytes, record + kNkNameLength);
    const bool compressed = le16(m_bytes, record + kNkFlags) & kNkCompressedName;
    if (!holds(child, kNkName + length)) {
        const auto raw = static_cast<std::int32_t>(le32(m_bytes, child));
        const std::size_t size = raw < 0 ? 0u - static_cast<std::uint32_t>(raw) : 0;
        const std::size_t room = size > kCellHeader + kNkName ? size - kCellHeader - kNkName : 0;
        assignName(name, record + kNkName, std::min(length, room), compressed);
        return false;
    }
    assignName(name, record + kNkName, length, compressed);
    return !name.empty() && name.size() <= 255 && name.find(u'\\') == std::u16string::npos
        && name.find(u'\0') == std::u16string::npos;
}

bool OfflineHive::Reader::holdsNul(std::size_t at, std::size_t length, bool compressed) const {
    if (compressed) return std::memchr(m_bytes.data() + at, 0, length) != nullptr;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        if (le16(m_bytes, at + i) == 0) return true;
    return false;
}

Status OfflineHive::Reader::checked() {
    if (!faulted()) return Status::Ok;
    return changed();
}

Status OfflineHive::Reader::changed() {
    const std::string message
        = m_hive.m_name + " was changed on disk while Quern read it; refresh (F5) to read it again.";
    if (m_hive.readOnlyReason.empty()) m_hive.readOnlyReason = message;
    return Status(Status::ChangedOnDisk, message);
}

Status OfflineHive::Reader::damaged(const std::string& what) {
    if (faulted() || (m_loaded && m_hive.changedOnDisk())) return changed();
    std::string message = m_hive.m_path + " is not a valid registry hive: " + what + ".";
    message += m_loaded ? " Quern shows what it can read of it, and never writes it."
                        : " Quern does not load it, and never writes it.";
    if (m_loaded && m_hive.readOnlyReason.empty()) m_hive.readOnlyReason = message;
    return Status(Status::BadPath, message);
}

void OfflineHive::Reader::problem(const std::string& what) {
    std::string& reason = m_loaded ? m_hive.readOnlyReason : m_loadProblem;
    if (reason.empty()) reason = m_hive.m_name + ": " + what;
}

bool OfflineHive::Reader::inside(std::size_t cell, std::size_t length) const {
    return cell >= kBinsStart && cell + kCellHeader <= m_bytes.size() && length <= m_bytes.size() - cell - kCellHeader;
}

void OfflineHive::Reader::assignName(std::u16string& name, std::size_t at, std::size_t length, bool compressed) const {
    const auto* from = reinterpret_cast<const std::uint8_t*>(m_bytes.data() + at);
    if (compressed) {
        name.resize(length);
        for (std::size_t i = 0; i < length; ++i)
            name[i] = from[i];
    } else {
        name.resize(length / 2);
        std::memcpy(name.data(), from, name.size() * 2);
    }
}

bool OfflineHive::Reader::isKind(std::size_t at, const char (&kind)[3]) const {
    return le16(m_bytes, at)
        == static_cast<std::uint16_t>(static_cast<unsigned char>(kind[0]) | static_cast<unsigned char>(kind[1]) << 8);
}

template<typename Where>
Status OfflineHive::Reader::listCells(std::size_t cell, std::vector<std::size_t>& out, bool index, const Where& where) {
    if (!inside(cell, 4)) return damaged("the subkey list of " + where() + " lies outside the file");
    const std::size_t record = cell + kCellHeader;
    const bool hashed = isKind(record, "lf") || isKind(record, "lh");
    const bool ofLists = index && isKind(record, "ri");
    if (!hashed && !ofLists && !isKind(record, "li")) return damaged("the subkey list of " + where() + " is not one");
    const std::size_t count = le16(m_bytes, record + 2);
    const std::size_t step = hashed ? 8 : 4;
    if (!inside(cell, 4 + count * step)) return damaged("the subkey list of " + where() + " lies outside the file");
    if (!m_loaded && m_loadProblem.empty()) {
        if (!isCell(cell, 4 + count * step))
            problem(where()
                + " has its subkey list in part of the file, which is not a cell of the hive as its bins "
                  "lay them out, so the hive is read-only.");
        // hivex deletes a subkey only from an lf or lh list, and fails half-way through on an li.
        else if (!hashed && !ofLists)
            problem(where()
                + " keeps its subkeys in a list of a kind hivex cannot delete from (li), so the hive "
                  "is read-only.");
    }
    out.reserve(out.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = kBinsStart + le32(m_bytes, record + 4 + i * step);
        if (!ofLists)
            out.push_back(entry);
        else if (const Status st = listCells(entry, out, false, where); !st.ok())
            return st;
    }
    return Status::Ok;
}

Status OfflineHive::Reader::readNode(std::size_t node, Key& key) {
    const std::size_t record = node + kCellHeader;
    if (!inside(node, kNkName) || !isKind(record, "nk"))
        return damaged("a key of " + keyPath(key.parent) + " is not a key record");
    const std::size_t nameLength = le16(m_bytes, record + kNkNameLength);
    if (!inside(node, kNkName + nameLength)) return damaged("the name of a key lies outside the file");
    const std::uint16_t flags = le16(m_bytes, record + kNkFlags);
    key.modified = le64(m_bytes, record + kNkTime);
    key.isLink = flags & kNkLink;
    key.source = { node, 1 };
    key.subkeysInFile = le32(m_bytes, record + kNkSubkeyCount) != 0;
    key.valuesInFile = le32(m_bytes, record + kNkValueCount) != 0;
    // Loading found no two values of one name anywhere: each key's can be served as they stand.
    key.valuesChecked = !m_valueTwins;
    return readClass(record, key);
}

Status OfflineHive::Reader::readClass(std::size_t record, Key& key) {
    const std::uint32_t offset = le32(m_bytes, record + kNkClass);
    const std::size_t length = le16(m_bytes, record + kNkClassLength);
    if (offset == 0xffffffffu || length == 0) return Status::Ok;
    const std::size_t cell = kBinsStart + offset;
    if (!inside(cell, length)) return damaged("the class name of " + keyPath(&key) + " lies outside the file");
    key.hasClass = true;
    assignName(key.ensureExtra().className, cell + kCellHeader, length, false);
    return Status::Ok;
}

std::ptrdiff_t OfflineHive::Reader::twinValue(std::size_t list, std::size_t count) {
    if (count < 2) return -1;
    m_records.clear();
    m_seen.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t record = kBinsStart + le32(m_bytes, list + kCellHeader + i * 4) + kCellHeader;
        const std::size_t nameLength = le16(m_bytes, record + kVkNameLength);
        const bool compressed = le16(m_bytes, record + kVkFlags) & kVkCompressedName;
        if (count <= kPairwise) {
            const NameAt name { record + kVkName, nameLength, compressed, compressed ? nameLength : nameLength / 2 };
            for (const NameAt& earlier : m_records)
                if (earlier.units == name.units) {
                    assignName(m_name, earlier.at, earlier.length, earlier.compressed);
                    assignName(m_other, name.at, name.length, name.compressed);
                    if (sameName(m_name, m_other)) return static_cast<std::ptrdiff_t>(i);
                }
            m_records.push_back(name);
        } else {
            assignName(m_name, record + kVkName, nameLength, compressed);
            for (auto& unit : m_name)
                unit = foldUnit(unit);
            if (!m_seen.insert(m_name).second) return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

Status OfflineHive::Reader::checkValues(Key& key) {
    std::size_t list = 0;
    std::size_t count = 0;
    if (const Status st = valueList(key, list, count); !st.ok()) return st;
    for (std::size_t i = 0; i < count; ++i)
        prefetch(kBinsStart + le32(m_bytes, list + kCellHeader + i * 4));
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t record = 0;
        std::size_t nameLength = 0;
        if (const Status st = valueRecord(key, list, i, record, nameLength); !st.ok()) return st;
    }
    key.valuesChecked = true;
    return twinValue(list, count) < 0 ? Status(Status::Ok) : readValues(key);
}

Status OfflineHive::Reader::valueList(const Key& key, std::size_t& list, std::size_t& count) {
    const std::size_t node = nodeOf(key);
    if (!inside(node, kNkName)) return damaged("the key " + keyPath(&key) + " lies outside the file");
    count = le32(m_bytes, node + kCellHeader + kNkValueCount);
    if (count == 0) return Status::Ok;
    list = kBinsStart + le32(m_bytes, node + kCellHeader + kNkValueList);
    if (!inside(list, count * 4)) return damaged("the value list of " + keyPath(&key) + " lies outside the file");
    return Status::Ok;
}

Status OfflineHive::Reader::valueRecord(
    const Key& key, std::size_t list, std::size_t index, std::size_t& record, std::size_t& nameLength) {
    const std::size_t value = kBinsStart + le32(m_bytes, list + kCellHeader + index * 4);
    record = value + kCellHeader;
    if (!inside(value, kVkName) || !isKind(record, "vk"))
        return damaged("a value of " + keyPath(&key) + " is not a value record");
    nameLength = le16(m_bytes, record + kVkNameLength);
    if (!inside(value, kVkName + nameLength))
        return damaged("a value name of " + keyPath(&key) + " lies outside the file");
    if (!holds(value, kVkName + nameLength))
        return damaged("a value name of " + keyPath(&key) + " runs past its record");
    return Status::Ok;
}

Status OfflineHive::Reader::value(const Key& key, std::size_t list, std::size_t index, std::u16string& name,
    std::uint32_t* type, std::vector<std::uint8_t>* data) {
    std::size_t record = 0;
    std::size_t nameLength = 0;
    if (const Status st = valueRecord(key, list, index, record, nameLength); !st.ok()) return st;
    assignName(name, record + kVkName, nameLength, le16(m_bytes, record + kVkFlags) & kVkCompressedName);
    if (type) *type = le32(m_bytes, record + kVkType);
    if (!data) return Status::Ok;
    const char* at = nullptr;
    std::size_t length = 0;
    return dataOf(key, record, at, length, data);
}

Status OfflineHive::Reader::dataOf(
    const Key& key, std::size_t record, const char*& at, std::size_t& length, std::vector<std::uint8_t>* out) {
    length = le32(m_bytes, record + kVkDataLength);
    auto bad = [&](const std::string& what) { return damaged("the data of a value of " + keyPath(&key) + " " + what); };
    if (length & 0x80000000u) {
        length &= 0x7fffffffu;
        if (length > 4) return bad("claims more than its record can hold");
        at = m_bytes.data() + record + kVkData;
    } else if (length == 0) {
        at = m_bytes.data();
    } else {
        const std::size_t cell = kBinsStart + le32(m_bytes, record + kVkData);
        if (length > kBigDataSegment && inside(cell, 8) && isKind(cell + kCellHeader, "db"))
            return bigData(cell, length, out, bad);
        if (!inside(cell, length)) return bad("lies outside the file");
        at = m_bytes.data() + cell + kCellHeader;
    }
    if (out) out->assign(at, at + length);
    return Status::Ok;
}

template<typename Bad>
Status OfflineHive::Reader::bigData(
    std::size_t cell, std::size_t length, std::vector<std::uint8_t>* out, const Bad& bad) {
    const std::size_t segments = le16(m_bytes, cell + kCellHeader + 2);
    const std::size_t list = kBinsStart + le32(m_bytes, cell + kCellHeader + 4);
    if (segments * kBigDataSegment < length) return bad("claims more than its segments hold");
    if (!inside(list, segments * 4)) return bad("has its segment list outside the file");
    if (out) out->resize(length);
    std::size_t done = 0;
    for (std::size_t i = 0; i < segments && done < length; ++i) {
        const std::size_t segment = kBinsStart + le32(m_bytes, list + kCellHeader + i * 4);
        const std::size_t part = std::min(kBigDataSegment, length - done);
        if (!inside(segment, part)) return bad("has a segment outside the file");
        if (out) std::memcpy(out->data() + done, m_bytes.data() + segment + kCellHeader, part);
        done += part;
    }
    return Status::Ok;
}

bool OfflineHive::Reader::visit(std::size_t cell) {
    if (cell / 4 >= m_visited.size()) return false;
    if (m_visited[cell / 4]) return false;
    m_visited[cell / 4] = true;
    return true;
}

} // namespace quern::reg
