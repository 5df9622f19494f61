#pragma once

#include "base/RegTypes.h"

#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace quern::reg {

struct Hive;
class KeyArena;

// How deep keys may nest below a hive's root; deeper ones are refused, as Wine refuses them.
inline constexpr std::size_t kMaxKeyDepth = 512;

// Where a key's block stood in its file when the file was last read or written, so that a key
// nobody changed is written back with exactly the bytes it had.
struct SourceRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0; // 0: the key had no block of its own
};

// The values of one key, in the order they were created. Large lists answer look-ups by name
// through a hash index that changes keep up to date (a deleted value's entry is dropped when a
// look-up finds it stale). A deletion leaves a hole where the value
// was instead of moving the values after it, so deleting every value of a large key one by one
// stays linear; holes are closed when values are appended, once they outnumber the values.
class ValueList {
public:
    ValueList() noexcept;
    ValueList(ValueList&&) noexcept;
    ValueList& operator=(ValueList&&) noexcept;
    ~ValueList();

    template<typename Item> class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = RawValue;
        using difference_type = std::ptrdiff_t;
        using pointer = Item*;
        using reference = Item&;
        Iterator() = default;
        Iterator(Item* at, Item* end, const std::uint8_t* hole)
            : m_at(at)
            , m_end(end)
            , m_hole(hole) {
            skipHoles();
        }
        reference operator*() const { return *m_at; }
        pointer operator->() const { return m_at; }
        Iterator& operator++() {
            ++m_at;
            if (m_hole) ++m_hole;
            skipHoles();
            return *this;
        }
        Iterator operator++(int) {
            Iterator old = *this;
            ++*this;
            return old;
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.m_at == b.m_at; }

    private:
        void skipHoles() {
            while (m_hole && m_at != m_end && *m_hole) {
                ++m_at;
                ++m_hole;
            }
        }
        Item* m_at = nullptr;
        Item* m_end = nullptr;
        const std::uint8_t* m_hole = nullptr; // null while the list has no holes
    };
    using iterator = Iterator<RawValue>;
    using const_iterator = Iterator<const RawValue>;

    [[nodiscard]] std::size_t size() const noexcept { return m_slots.size() - holes(); }
    [[nodiscard]] bool empty() const noexcept { return size() == 0; }
    [[nodiscard]] RawValue& operator[](std::size_t index) { return m_slots[slotOf(index)]; }
    [[nodiscard]] const RawValue& operator[](std::size_t index) const { return m_slots[slotOf(index)]; }
    [[nodiscard]] iterator begin() { return { m_slots.data(), m_slots.data() + m_slots.size(), holeFlags() }; }
    [[nodiscard]] iterator end() {
        return { m_slots.data() + m_slots.size(), m_slots.data() + m_slots.size(), nullptr };
    }
    [[nodiscard]] const_iterator begin() const {
        return { m_slots.data(), m_slots.data() + m_slots.size(), holeFlags() };
    }
    [[nodiscard]] const_iterator end() const {
        return { m_slots.data() + m_slots.size(), m_slots.data() + m_slots.size(), nullptr };
    }

    // Index of the value of that name (compared as the registry compares names), or -1.
    [[nodiscard]] std::ptrdiff_t find(std::u16string_view name) const;
    // Adds a value, whose name must not be in the list yet, after the others.
    void append(RawValue value);
    // Removes the value at index; the values after it move up one index.
    void erase(std::size_t index);
    // Puts a value, whose name must not be in the list yet, at index; the values from there on
    // move down one index. Putting back what erase took, in the reverse order, fills its holes.
    void insert(std::size_t index, RawValue value);

private:
    struct Aux; // the index and the holes: only lists that are large or had deletions have one
    [[nodiscard]] std::size_t holes() const noexcept;
    [[nodiscard]] const std::uint8_t* holeFlags() const noexcept;
    [[nodiscard]] std::size_t slotOf(std::size_t index) const;
    [[nodiscard]] std::size_t indexOf(std::size_t slot) const;
    Aux& aux() const;
    void indexSlot(std::size_t slot) const;
    void compact();

    std::vector<RawValue> m_slots;
    mutable std::unique_ptr<Aux> m_aux;
};

// A line of a key's block that Quern does not read, kept to be written back as it was: a comment,
// an option wineserver does not know, or a line it cannot read.
struct KeptLine {
    std::string text; // as it stood, with its line end
    // A value line whose name Wine reads but whose data it cannot: Wine makes that value empty
    // (type 0, no data), and a later line of the same name in the key overrides it.
    std::u16string valueName;
    bool namesValue = false;
    bool overridden = false; // a later line of the key names the same value
    // The file ends inside the line's hex data, which a backslash says goes on: any line written
    // after it would be read as the rest of the data.
    bool cutShort = false;
};

// A block whose key line Wine cannot read. Wine skips what follows it up to the next key line it
// can read, so the block belongs to no key; it is kept after the key it followed in the file.
struct UnreadBlock {
    std::vector<std::u16string> after; // the path of that key below the hive's root; empty: the root
    std::string text; // its lines as they stood, from the key line on
};

// One key of the in-memory registry. Subkeys stay sorted by their hive's case-insensitive order
// (lower-cased for a Wine prefix, upper-cased for a Windows hive); values stay in the order they were created.
class Key {
public:
    explicit Key(std::u16string keyName, Key* parentKey, Hive* owner)
        : name(std::move(keyName))
        , parent(parentKey)
        , hive(owner) { }

    std::u16string name;
    Key* parent = nullptr;
    Hive* hive = nullptr; // null for keys that belong to no file (HKEY_USERS itself, HKEY_DYN_DATA)
    std::vector<std::unique_ptr<Key>> subkeys;
    ValueList values;
    std::uint64_t modified = 0; // FILETIME
    SourceRange source;
    bool isLink = false;
    bool hasClass = false;
    bool dirty = false; // changed since the file was read: its block is written anew
    // A key of a hive file that is read on first use: its subkeys are still only in the file, and
    // so are its values, which its hive serves from there until one of them changes. The registry
    // asks the hive (Hive::readSubkeys, Hive::readValues) before it looks at either list.
    bool subkeysInFile = false;
    bool valuesInFile = false;
    bool valuesChecked = false; // the hive checked the values in the file, to serve them from there
    bool inArena = false; // made by a KeyArena, which takes its memory back
    // Its block cannot be copied as it stands: the key stood in the file more than once, or its key
    // line spells a name otherwise than the key keeps it. Written anew when the file is.
    bool merged = false;
    // For a key of a Wine file read on first use: the blocks of the file's index [fileBlock,
    // fileBlockEnd) that hold the key and the keys below it.
    std::uint32_t fileBlock = 0;
    std::uint32_t fileBlockEnd = 0;
    // Rarely present, so kept apart to keep every key small: the class name, the lines of its
    // block that Quern does not read, and for a hive's root the blocks of its file that belong to
    // no key.
    struct Extra {
        std::u16string className;
        std::vector<KeptLine> kept;
        std::vector<UnreadBlock> unreadBlocks;
    };
    std::unique_ptr<Extra> extra;
    Extra& ensureExtra() {
        if (!extra) extra = std::make_unique<Extra>();
        return *extra;
    }

    // A key goes back where it was made: to the heap, or to its arena.
    static void operator delete(Key* key, std::destroying_delete_t);

    // Compares two names of subkeys in the order of the key's hive.
    [[nodiscard]] int compareSubkeyNames(std::u16string_view a, std::u16string_view b) const;
    // The subkey of that name, or null.
    [[nodiscard]] Key* findSubkey(std::u16string_view subName) const;
    // Where a subkey of that name stands or would stand in the sorted subkeys.
    [[nodiscard]] std::size_t subkeyPosition(std::u16string_view subName) const;
    // Adds a subkey of that name (which must not exist) in its sorted place.
    Key* addSubkey(std::u16string subName);
    // Returns the existing subkey of that name or adds it (made in arena when given); for loading
    // files in sorted order it looks at the last subkey first.
    Key* findOrAddSubkey(std::u16string_view subName, bool* added = nullptr, KeyArena* arena = nullptr);

    // Index of the value of that name, or -1.
    [[nodiscard]] std::ptrdiff_t findValue(std::u16string_view valueName) const { return values.find(valueName); }
    void appendValue(RawValue value) { values.append(std::move(value)); }
    void eraseValue(std::size_t index) { values.erase(index); }
    void insertValue(std::size_t index, RawValue value) { values.insert(index, std::move(value)); }

    [[nodiscard]] bool hasKeptLines() const { return extra && !extra->kept.empty(); }
    // Whether wineserver would write a block for the key: it has values, no subkeys, a class or
    // is a link. A key with lines Quern keeps gets one too, so that they are not lost.
    [[nodiscard]] bool needsBlock() const {
        return !values.empty() || (subkeys.empty() && !subkeysInFile) || hasClass || isLink || hasKeptLines();
    }
};

// The last write time as FILETIME, and back to the Unix seconds of a block's header line.
inline constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
[[nodiscard]] std::uint64_t fileTimeNow();

} // namespace quern::reg
