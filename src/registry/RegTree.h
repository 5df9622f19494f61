#pragma once

#include "registry/RegTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quern::reg {

struct Hive;

// Where a key's block stood in its file when the file was last read or written, so that a key
// nobody changed is written back with exactly the bytes it had.
struct SourceRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0; // 0: the key had no block of its own
};

// One key of the in-memory registry. Subkeys stay sorted by the registry's case-insensitive
// order; values stay in the order they were created.
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
    std::vector<RawValue> values;
    std::uint64_t modified = 0; // FILETIME
    SourceRange source;
    bool isLink = false;
    bool hasClass = false;
    bool dirty = false; // changed since the file was read: its block is written anew
    bool merged = false; // its block stood in the file more than once: written anew when the file is
    // Rarely present, so kept apart to keep every key small: the class name, and the lines of its
    // block that could not be read, kept to be written back as they were.
    struct Extra {
        std::u16string className;
        std::string rawLines;
    };
    std::unique_ptr<Extra> extra;
    Extra& ensureExtra() {
        if (!extra) extra = std::make_unique<Extra>();
        return *extra;
    }

    // The subkey of that name, or null.
    [[nodiscard]] Key* findSubkey(std::u16string_view subName) const;
    // Where a subkey of that name stands or would stand in the sorted subkeys.
    [[nodiscard]] std::size_t subkeyPosition(std::u16string_view subName) const;
    // Adds a subkey of that name (which must not exist) in its sorted place.
    Key* addSubkey(std::u16string subName);
    // Returns the existing subkey of that name or adds it; for loading files in sorted order it
    // looks at the last subkey first.
    Key* findOrAddSubkey(std::u16string_view subName, bool* added = nullptr);

    // Index of the value of that name, or -1.
    [[nodiscard]] std::ptrdiff_t findValue(std::u16string_view valueName) const;
    void appendValue(RawValue value);
    void eraseValue(std::size_t index);
    void insertValue(std::size_t index, RawValue value);

    [[nodiscard]] bool needsBlock() const { return !values.empty() || subkeys.empty() || hasClass || isLink; }

private:
    // Large keys answer value look-ups through a hash index built on first need.
    mutable std::unique_ptr<std::unordered_map<std::u16string, std::size_t>> m_valueIndex;
};

// The last write time as FILETIME, and back to the Unix seconds of a block's header line.
inline constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
[[nodiscard]] std::uint64_t fileTimeNow();

} // namespace quern::reg
