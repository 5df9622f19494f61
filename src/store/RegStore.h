#pragma once

#include "store/RegTypes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quern::reg {

// The registry as the program reaches it, shaped after the system's registry API so that other
// backends (a Windows registry, offline hive files) can stand in for the Wine prefix one. Keys are
// opened by handle from a predefined root or an open key and a relative path; names compare without
// regard to case. Every call returns a Status, never raises: its code for decisions, and with a
// failure the sentence that tells the user why. Every change reaches the disk before
// the call that made it returns, or, inside a batch, before the batch ends.
class RegStore {
public:
    virtual ~RegStore() = default;

    // Opens path below parent (an empty path opens parent itself again). Link keys on the way are
    // followed; with kOpenLink the last one is opened as itself. Full access is refused with
    // AccessDenied where the registry cannot be written. result is left alone on failure.
    virtual Status openKey(HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result) = 0;

    // Opens path below parent, creating the keys that are missing (needs a writable registry).
    // created tells whether the last key was made. With kCreateLink a created key is a link key.
    virtual Status createKey(
        HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result, bool* created = nullptr)
        = 0;

    // Closes an open key; predefined roots need no closing. InvalidHandle for anything else.
    virtual Status closeKey(HKey key) = 0;

    // Deletes the key at path below parent, which must have no subkeys (HasSubkeys otherwise).
    // A link key is deleted as itself, never its target.
    virtual Status deleteKey(HKey parent, std::u16string_view path) = 0;

    // The name of the subkey at index, in the registry's case-insensitive order; NoMoreItems past the end.
    virtual Status enumKey(HKey key, std::uint32_t index, std::u16string& name) = 0;

    // The value at index, in creation order; type and data are filled only when asked for.
    virtual Status enumValue(
        HKey key, std::uint32_t index, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data)
        = 0;

    virtual Status queryInfo(HKey key, KeyInfo& info) = 0;

    // The value's type and bytes as stored; the empty name is the default value.
    virtual Status queryValue(HKey key, std::u16string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data)
        = 0;

    // Sets a value, replacing any value of that name whatever its type. The key must be open for full access.
    virtual Status setValue(HKey key, std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data)
        = 0;

    virtual Status deleteValue(HKey key, std::u16string_view name) = 0;

    // Changes made between the outermost beginBatch and its endBatch reach the disk together, one
    // write per changed file. If that write fails, endBatch undoes every change of the batch and
    // returns why; the files on disk are then as they were. Only when the files were replaced but
    // may not stay so (a Wine server that started meanwhile, a folder that could not be flushed)
    // does endBatch keep the changes and return WriteFailed, with a message that says so.
    virtual void beginBatch() = 0;
    virtual Status endBatch() = 0;
    // Ends a batch by undoing every change made since its beginBatch, in memory; nothing of it
    // reaches the disk. For a command that fails half-way and must not leave half its work.
    virtual void abandonBatch() = 0;

    // Reads again what changed on disk since it was read. Open handles into a file read again
    // become invalid.
    virtual Status refresh() = 0;

    // Why nothing can be written, in a sentence for the user; empty while the registry is writable.
    [[nodiscard]] virtual std::string readOnlyReason() const = 0;

    // What the user must be told once about the files as they were read: lines that could not be
    // read (kept as they are), files that could not be read at all.
    [[nodiscard]] virtual const std::vector<std::string>& loadMessages() const = 0;

    // Where the registry lives, for the title and the status line.
    [[nodiscard]] virtual std::string location() const = 0;
};

// Runs the changes of one command as one batch: whatever the command does, each changed file is
// written once, at the end, by finish(). A batch that is not finished undoes its changes when it
// goes, so a command that fails or raises half-way leaves the registry and its files as they were.
class WriteBatch {
public:
    explicit WriteBatch(RegStore& store)
        : m_store(store) {
        m_store.beginBatch();
    }
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;
    ~WriteBatch() { abandon(); }
    // Ends the batch and writes what it changed; tells whether the write succeeded.
    Status finish() {
        if (m_done) return Status::Ok;
        m_done = true;
        return m_store.endBatch();
    }
    // Undoes what the batch changed; nothing of it is written.
    void abandon() {
        if (m_done) return;
        m_done = true;
        m_store.abandonBatch();
    }

private:
    RegStore& m_store;
    bool m_done = false;
};

} // namespace quern::reg
