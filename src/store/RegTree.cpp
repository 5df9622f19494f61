#include "store/RegTree.h"

#include "base/Names.h"
#include "store/KeyArena.h"
#include "store/MemoryRegistry.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <unordered_map>

namespace quern::reg {

namespace {

constexpr std::size_t kIndexThreshold = 32;

} // namespace

std::uint64_t fileTimeNow() {
    const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
    return kFileTimeUnixEpoch + static_cast<std::uint64_t>(ticks);
}

int Key::compareSubkeyNames(std::u16string_view a, std::u16string_view b) const {
    return hive && hive->upperCaseOrder ? compareNamesUpper(a, b) : compareNames(a, b);
}

std::size_t Key::subkeyPosition(std::u16string_view subName) const {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), subName,
        [this](const std::unique_ptr<Key>& k, std::u16string_view n) { return compareSubkeyNames(k->name, n) < 0; });
    return static_cast<std::size_t>(it - subkeys.begin());
}

Key* Key::findSubkey(std::u16string_view subName) const {
    const std::size_t pos = subkeyPosition(subName);
    if (pos < subkeys.size() && compareSubkeyNames(subkeys[pos]->name, subName) == 0) return subkeys[pos].get();
    return nullptr;
}

Key* Key::addSubkey(std::u16string subName) {
    const std::size_t pos = subkeyPosition(subName);
    auto child = std::make_unique<Key>(std::move(subName), this, hive);
    Key* raw = child.get();
    subkeys.insert(subkeys.begin() + static_cast<std::ptrdiff_t>(pos), std::move(child));
    return raw;
}

void Key::operator delete(Key* key, std::destroying_delete_t) {
    const bool fromArena = key->inArena;
    key->~Key();
    if (fromArena)
        KeyArena::release(key);
    else
        ::operator delete(key);
}

Key* Key::findOrAddSubkey(std::u16string_view subName, bool* added, KeyArena* arena) {
    if (added) *added = false;
    auto make = [&] {
        return arena ? arena->make(subName, this, hive) : std::make_unique<Key>(std::u16string(subName), this, hive);
    };
    if (!subkeys.empty()) {
        const int order = compareSubkeyNames(subkeys.back()->name, subName);
        if (order == 0) return subkeys.back().get();
        if (order < 0) {
            if (added) *added = true;
            subkeys.push_back(make());
            return subkeys.back().get();
        }
    }
    if (Key* existing = findSubkey(subName)) return existing;
    if (added) *added = true;
    const std::size_t pos = subkeyPosition(subName);
    return subkeys.insert(subkeys.begin() + static_cast<std::ptrdiff_t>(pos), make())->get();
}

struct ValueList::Aux {
    // Folded name to slot, for lists large enough to be worth it; built on the first look-up.
    std::unordered_map<std::u16string, std::size_t> byName;
    bool indexed = false;
    std::u16string scratch; // a folded name, kept to spare an allocation per look-up
    // While there are holes: a flag per slot, and a Fenwick tree counting the values (1 per value,
    // 0 per hole) that turns an index into a slot and back in logarithmic time.
    std::vector<std::uint8_t> hole;
    std::vector<std::uint32_t> live;
    std::size_t holes = 0;

    const std::u16string& folded(std::u16string_view name) {
        scratch.assign(name);
        for (auto& unit : scratch)
            unit = foldUnit(unit);
        return scratch;
    }
    // Values in the slots before slot.
    [[nodiscard]] std::size_t countBefore(std::size_t slot) const {
        std::size_t sum = 0;
        for (std::size_t i = slot; i > 0; i -= i & (~i + 1))
            sum += live[i];
        return sum;
    }
    void add(std::size_t slot, int delta) {
        for (std::size_t i = slot + 1; i < live.size(); i += i & (~i + 1))
            live[i] = static_cast<std::uint32_t>(static_cast<int>(live[i]) + delta);
    }
    // The slot of the value at index.
    [[nodiscard]] std::size_t select(std::size_t index) const {
        const std::size_t n = live.size() - 1;
        std::size_t pos = 0;
        std::size_t rest = index + 1;
        for (std::size_t step = std::bit_floor(n); step; step >>= 1) {
            if (pos + step <= n && live[pos + step] < rest) {
                pos += step;
                rest -= live[pos];
            }
        }
        return pos;
    }
    void startHoles(std::size_t slots) {
        hole.assign(slots, 0);
        live.assign(slots + 1, 0);
        for (std::size_t i = 1; i <= slots; ++i) {
            live[i] += 1;
            const std::size_t parent = i + (i & (~i + 1));
            if (parent <= slots) live[parent] += live[i];
        }
    }
    void pushSlot(bool isHole) {
        hole.push_back(isHole ? 1 : 0);
        const std::size_t i = live.size();
        const std::size_t low = i & (~i + 1);
        live.push_back(static_cast<std::uint32_t>((isHole ? 0 : 1) + countBefore(i - 1) - countBefore(i - low)));
    }
    void endHoles() {
        hole = {};
        live = {};
        holes = 0;
    }
};

ValueList::ValueList() noexcept = default;
ValueList::ValueList(ValueList&&) noexcept = default;
ValueList& ValueList::operator=(ValueList&&) noexcept = default;
ValueList::~ValueList() = default;

std::size_t ValueList::holes() const noexcept {
    return m_aux ? m_aux->holes : 0;
}

const std::uint8_t* ValueList::holeFlags() const noexcept {
    return holes() ? m_aux->hole.data() : nullptr;
}

std::size_t ValueList::slotOf(std::size_t index) const {
    return holes() ? m_aux->select(index) : index;
}

std::size_t ValueList::indexOf(std::size_t slot) const {
    return holes() ? m_aux->countBefore(slot) : slot;
}

ValueList::Aux& ValueList::aux() const {
    if (!m_aux) m_aux = std::make_unique<Aux>();
    return *m_aux;
}

void ValueList::indexSlot(std::size_t slot) const {
    if (m_aux && m_aux->indexed) m_aux->byName.insert_or_assign(m_aux->folded(m_slots[slot].name), slot);
}

std::ptrdiff_t ValueList::find(std::u16string_view name) const {
    if ((!m_aux || !m_aux->indexed) && size() < kIndexThreshold) {
        const std::uint8_t* hole = holeFlags();
        std::size_t index = 0;
        for (std::size_t slot = 0; slot < m_slots.size(); ++slot) {
            if (hole && hole[slot]) continue;
            if (sameName(m_slots[slot].name, name)) return static_cast<std::ptrdiff_t>(index);
            ++index;
        }
        return -1;
    }
    Aux& a = aux();
    if (!a.indexed) {
        a.indexed = true;
        a.byName.reserve(size());
        const std::uint8_t* hole = holeFlags();
        for (std::size_t slot = 0; slot < m_slots.size(); ++slot)
            if (!hole || !hole[slot]) a.byName.emplace(a.folded(m_slots[slot].name), slot);
    }
    const auto it = a.byName.find(a.folded(name));
    if (it == a.byName.end()) return -1;
    // An entry outlives its value's deletion, since the value may have been moved away before it
    // was erased; it counts only while its slot still holds a value of that name.
    const std::size_t slot = it->second;
    if (slot >= m_slots.size() || (a.holes && a.hole[slot]) || !sameName(m_slots[slot].name, name)) {
        a.byName.erase(it);
        return -1;
    }
    return static_cast<std::ptrdiff_t>(indexOf(slot));
}

void ValueList::append(RawValue value) {
    if (holes() * 2 > m_slots.size()) compact();
    m_slots.push_back(std::move(value));
    if (holes()) m_aux->pushSlot(false);
    indexSlot(m_slots.size() - 1);
}

void ValueList::erase(std::size_t index) {
    const std::size_t slot = slotOf(index);
    if (!holes() && slot + 1 == m_slots.size()) {
        m_slots.pop_back(); // the last value: nothing moves
        return;
    }
    Aux& a = aux();
    if (a.holes == 0) a.startHoles(m_slots.size());
    a.hole[slot] = 1;
    a.add(slot, -1);
    ++a.holes;
    m_slots[slot] = RawValue {}; // its memory goes now, not when the hole closes
}

void ValueList::insert(std::size_t index, RawValue value) {
    if (holes()) {
        // Putting back what was erased there: it takes its hole again, right before the value
        // that now has its index.
        const std::size_t slot = index < size() ? m_aux->select(index) : m_slots.size();
        if (slot > 0 && m_aux->hole[slot - 1]) {
            m_slots[slot - 1] = std::move(value);
            m_aux->hole[slot - 1] = 0;
            m_aux->add(slot - 1, 1);
            if (--m_aux->holes == 0) m_aux->endHoles();
            indexSlot(slot - 1);
            return;
        }
    }
    if (index >= size()) return append(std::move(value));
    compact();
    m_slots.insert(m_slots.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
    if (m_aux && m_aux->indexed)
        for (auto& entry : m_aux->byName)
            if (entry.second >= index) ++entry.second;
    indexSlot(index);
}

void ValueList::compact() {
    if (!holes()) return;
    Aux& a = *m_aux;
    std::size_t to = 0;
    for (std::size_t from = 0; from < m_slots.size(); ++from) {
        if (a.hole[from]) continue;
        if (to != from) {
            m_slots[to] = std::move(m_slots[from]);
            if (a.indexed) a.byName.insert_or_assign(a.folded(m_slots[to].name), to);
        }
        ++to;
    }
    m_slots.resize(to);
    a.endHoles();
}

} // namespace quern::reg
