#include "registry/RegTree.h"

#include "registry/Utf.h"

#include <algorithm>
#include <chrono>

namespace quern::reg {

namespace {

constexpr std::size_t kIndexThreshold = 32;

std::u16string foldedName(std::u16string_view name) {
    std::u16string folded(name);
    for (auto& unit : folded)
        unit = foldUnit(unit);
    return folded;
}

} // namespace

std::string_view statusText(Status status) {
    switch (status) {
    case Status::Ok:
        return "done";
    case Status::NotFound:
        return "not found";
    case Status::AccessDenied:
        return "access denied";
    case Status::HasSubkeys:
        return "the key has subkeys";
    case Status::InvalidHandle:
        return "not an open key";
    case Status::KeyDeleted:
        return "the key was deleted";
    case Status::NoMoreItems:
        return "no more items";
    case Status::BadPath:
        return "not a valid key name or path";
    case Status::LinkLoop:
        return "a chain of link keys loops";
    case Status::ChangedOnDisk:
        return "the file was changed on disk";
    case Status::WriteFailed:
        return "the file could not be written";
    }
    return "unknown error";
}

std::uint64_t fileTimeNow() {
    const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
    return kFileTimeUnixEpoch + static_cast<std::uint64_t>(ticks);
}

std::size_t Key::subkeyPosition(std::u16string_view subName) const {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), subName,
        [](const std::unique_ptr<Key>& k, std::u16string_view n) { return compareNames(k->name, n) < 0; });
    return static_cast<std::size_t>(it - subkeys.begin());
}

Key* Key::findSubkey(std::u16string_view subName) const {
    const std::size_t pos = subkeyPosition(subName);
    if (pos < subkeys.size() && compareNames(subkeys[pos]->name, subName) == 0) return subkeys[pos].get();
    return nullptr;
}

Key* Key::addSubkey(std::u16string subName) {
    const std::size_t pos = subkeyPosition(subName);
    auto child = std::make_unique<Key>(std::move(subName), this, hive);
    Key* raw = child.get();
    subkeys.insert(subkeys.begin() + static_cast<std::ptrdiff_t>(pos), std::move(child));
    return raw;
}

Key* Key::findOrAddSubkey(std::u16string_view subName, bool* added) {
    if (added) *added = false;
    if (!subkeys.empty()) {
        const int order = compareNames(subkeys.back()->name, subName);
        if (order == 0) return subkeys.back().get();
        if (order < 0) {
            if (added) *added = true;
            subkeys.push_back(std::make_unique<Key>(std::u16string(subName), this, hive));
            return subkeys.back().get();
        }
    }
    if (Key* existing = findSubkey(subName)) return existing;
    if (added) *added = true;
    return addSubkey(std::u16string(subName));
}

std::ptrdiff_t Key::findValue(std::u16string_view valueName) const {
    if (values.size() < kIndexThreshold) {
        for (std::size_t i = 0; i < values.size(); ++i)
            if (sameName(values[i].name, valueName)) return static_cast<std::ptrdiff_t>(i);
        return -1;
    }
    if (!m_valueIndex) {
        m_valueIndex = std::make_unique<std::unordered_map<std::u16string, std::size_t>>();
        m_valueIndex->reserve(values.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            m_valueIndex->emplace(foldedName(values[i].name), i);
    }
    auto it = m_valueIndex->find(foldedName(valueName));
    return it == m_valueIndex->end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
}

void Key::appendValue(RawValue value) {
    if (m_valueIndex) m_valueIndex->emplace(foldedName(value.name), values.size());
    values.push_back(std::move(value));
}

void Key::eraseValue(std::size_t index) {
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(index));
    m_valueIndex.reset();
}

void Key::insertValue(std::size_t index, RawValue value) {
    values.insert(values.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
    m_valueIndex.reset();
}

} // namespace quern::reg
