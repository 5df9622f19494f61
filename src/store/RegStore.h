#pragma once

#include "base/RegTypes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quern::reg {

// What one command changed, as the Undo and Redo items name it ("delete of
// HKEY_CURRENT_USER\Software\Example"), and the keys the window shows once the change is made
// again (keyPath) or undone (keyBefore): key paths as the tree names them, empty for none.
struct ChangeLabel {
    std::string what;
    std::string keyPath;
    std::string keyBefore;
};

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

    // Names the change of the open batch for Undo. Only named batches can be undone; a change that
    // ends unnamed is one Undo cannot take back, so it ends the history (a store without one
    // ignores the name).
    virtual void nameBatch(ChangeLabel label) { (void)label; }
    // The change Undo would take back and the one Redo would make again; null when there is none.
    [[nodiscard]] virtual const ChangeLabel* undoLabel() const { return nullptr; }
    [[nodiscard]] virtual const ChangeLabel* redoLabel() const { return nullptr; }
    // Takes back the newest named change as one batch, written once, which Redo then makes again
    // (and Redo the other way round). A new named change ends what Redo had. Refused with the
    // reason, and nothing changed, when the registry cannot be written now or a part the change
    // touched was read again from disk since.
    virtual Status undoChange() { return Status(Status::NotFound, "This registry keeps no history of changes."); }
    virtual Status redoChange() { return Status(Status::NotFound, "This registry keeps no history of changes."); }

    // Reads again what changed on disk since it was read. Open handles into a file read again
    // become invalid.
    virtual Status refresh() = 0;

    // Why nothing can be written, in a sentence for the user; empty while the registry is writable.
    [[nodiscard]] virtual std::string readOnlyReason() const = 0;
    // Why the key at path below root (or the key it would be made below) cannot change; empty when
    // it can. Part of a registry may be read-only while the rest is not (a hive loaded beside no
    // Wine prefix).
    [[nodiscard]] virtual std::string readOnlyReasonAt(HKey /*root*/, std::u16string_view /*path*/) {
        return readOnlyReason();
    }

    // The names of subkeys the open key has where it is kept but that are not shown, as no path can
    // reach them (a hive file may hold a name with a backslash): a backup must say it lacks them.
    [[nodiscard]] virtual std::vector<std::u16string> subkeysLeftOut(HKey /*key*/) { return {}; }

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
    // The same, for a command the user can undo: the label names it in the Undo item.
    Status finish(ChangeLabel label) {
        if (m_done) return Status::Ok;
        m_store.nameBatch(std::move(label));
        return finish();
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
