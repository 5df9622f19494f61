#pragma once

#include "store/RegStore.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quern::reg {

// How the program sees a value's type.
enum class ValueKind { String, ExpandString, Integer, Binary, Other };

[[nodiscard]] ValueKind kindOfType(std::uint32_t type);

// Raised by the reads and writes of value data, with the message the user sees: what failed and,
// where the store said, why.
class RegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The program's one way into the registry. It has a current root (HKEY_CURRENT_USER at first) and
// a current key with its path. A path that begins with a backslash starts at the root ("\" alone is
// the root itself); any other starts at the current key, or the root when no key is open. Names,
// paths and the data of strings, expand strings and multi-strings are UTF-8 here and UTF-16 in the
// store; every other kind of data passes as it is. Questions answer true or false and never raise;
// reads and writes of value data raise RegError.
class RegAccessor {
public:
    explicit RegAccessor(RegStore& store);
    ~RegAccessor();
    RegAccessor(const RegAccessor&) = delete;
    RegAccessor& operator=(const RegAccessor&) = delete;

    [[nodiscard]] RegStore& store() { return m_store; }

    // Another root closes the current key; the same root changes nothing.
    void selectRoot(HKey root);
    [[nodiscard]] HKey currentRoot() const { return m_root; }
    [[nodiscard]] HKey currentKey() const { return m_key; }
    [[nodiscard]] const std::string& currentPath() const { return m_path; }

    // Opens a key with full access (or for reading) and makes it the current key. On failure
    // nothing changes and the answer is false.
    bool openKey(std::string_view path);
    bool openKeyReadOnly(std::string_view path);
    void closeKey();

    // Makes a missing key; an existing one is fine. The current key stays as it is.
    // Raises "Failed to create key %s: " and the store's reason.
    void createKey(std::string_view path);

    // Deletes the key with everything below it, deepest first, in one write; true if the key
    // itself went. When anything cannot go, nothing goes, and removeKey returns why. A link key is
    // removed as a link: what it points to keeps its contents.
    bool deleteKey(std::string_view path) { return removeKey(path).ok(); }
    Status removeKey(std::string_view path);

    // Deletes a value of the current key; true on success.
    bool deleteValue(std::string_view name);

    // The names of the current key's subkeys or values, in the registry's order, unsorted;
    // empty when the key cannot be queried. The default value has the empty name.
    void getKeyNames(std::vector<std::string>& names);
    void getValueNames(std::vector<std::string>& names);

    // The value's kind and the size of its data as the program sees it; false, Other and 0 when
    // it does not exist.
    bool getDataInfo(std::string_view name, ValueKind& kind, std::size_t& size);

    // Text up to the first NUL, not expanded; empty when the value is missing or empty.
    // Raises "Invalid data type for '%s'" for other kinds.
    std::string readString(std::string_view name);

    // A signed 32-bit number. Raises "Failed to get data for '%s'" when the value is missing or
    // holds more than 4 bytes, and "Invalid data type for '%s'" when it is not a DWORD.
    std::int32_t readInteger(std::string_view name);

    // Copies the data into buffer and returns its size; 0 when the value is missing. Raises
    // "Invalid data type for '%s'" for strings, expand strings and DWORDs, and when buffer is too small.
    std::size_t readBinaryData(std::string_view name, void* buffer, std::size_t bufferSize);

    // Write REG_SZ (with its NUL), REG_DWORD (4 bytes) and REG_BINARY values, replacing any value
    // of that name. Raise "Failed to set data for '%s': " and the store's reason.
    void writeString(std::string_view name, std::string_view text);
    void writeInteger(std::string_view name, std::int32_t number);
    void writeBinaryData(std::string_view name, const void* data, std::size_t size);
    // Writes a value of any type, replacing any value of that name. The data is as the program sees
    // it: for strings, expand strings and multi-strings UTF-8 text with its NULs, which the store
    // keeps as UTF-16; for every other type the bytes as they are. Raises "Failed to set data for '%s'".
    void writeRaw(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data);

    [[nodiscard]] bool hasSubKeys();
    // Whether the key exists. The current key stays as it is.
    [[nodiscard]] bool keyExists(std::string_view path);
    [[nodiscard]] bool valueExists(std::string_view name);

    // Gives a value of the current key a new name, with its type and bytes unchanged, values of no
    // data included. Does nothing when the old name is missing or the new one exists. True when renamed.
    bool renameValue(std::string_view oldName, std::string_view newName);

    // Copies the key at oldPath with its values (those of no data too) and subkeys, raw, to
    // newPath, then deletes the source when asked; a link key is copied as a link, never the key it
    // points to. Does nothing and answers false when the source is missing, the target exists, or
    // the target would lie inside the source. All of it is written at once: when any part cannot be
    // made, copied, deleted or written, nothing changed and a RegError says what and why.
    bool moveKey(std::string_view oldPath, std::string_view newPath, bool deleteSource);

private:
    HKey baseFor(std::string_view path, std::u16string& relative) const;
    bool open(std::string_view path, Access access);
    bool query(std::string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data);
    void write(std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data);
    Status copyValues(HKey from, HKey to);
    // Whether a key on the way to newRelative below newBase is the source itself.
    bool targetInside(HKey newBase, std::u16string_view newRelative, std::uint64_t sourceIdentity);
    void copyTree(HKey from, HKey to, std::uint64_t targetIdentity);

    RegStore& m_store;
    HKey m_root = kCurrentUser;
    HKey m_key = kNoKey;
    std::string m_path;
};

// The data of a value as the program sees it: strings, expand strings and multi-strings as UTF-8
// (every unit converted, NULs included; an odd last byte dropped), every other kind as it is.
[[nodiscard]] std::vector<std::uint8_t> programData(std::uint32_t type, const std::vector<std::uint8_t>& raw);

} // namespace quern::reg
