#pragma once

#include "store/ChangeLog.h"
#include "store/RegStore.h"
#include "store/RegTree.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quern::reg {

// One part of the registry that is kept as a unit (for a Wine prefix, one of its three files):
// its root key, whether it changed since it was last kept, and why it may not change.
struct Hive {
    Hive() = default;
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;
    virtual ~Hive() = default;

    Key* root = nullptr;
    std::string readOnlyReason; // set: nothing in this part may change
    bool dirty = false; // changed since it was last kept
    // The backend said yes to a change in this part during the current batch: asked once a batch.
    bool checkedInBatch = false;
    // Subkeys are ordered after upper-casing their names, as in a Windows hive, not lower-casing.
    bool upperCaseOrder = false;
    // The part writes a changed key from its lists: a key whose values it serves from its file
    // has them read into its list before it changes or is deleted.
    bool valuesInListToChange = false;

    [[nodiscard]] virtual class MountedHive* asMounted() { return nullptr; }

    // For a part whose keys are read when first asked for (subkeysInFile, valuesInFile): puts the
    // key's subkeys in its list, or its values in its list (then they may change), and serves its
    // values from the file meanwhile: one by index (NoMoreItems past the last), and their count and
    // longest name and data for queryInfo. Serving them, it may find they must be read into the
    // list after all (valuesInFile is false then, and the list answers). A part read whole never
    // sets those flags.
    virtual Status readSubkeys(Key& key);
    virtual Status readValues(Key& key);
    virtual Status valueInFile(
        Key& key, std::size_t index, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data);
    virtual Status valueSizesInFile(Key& key, KeyInfo& info);
    // One value by name, served from the file; by default the values are read into the list for
    // it (valuesInFile is false then, and the list answers).
    virtual Status namedValueInFile(
        Key& key, std::u16string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data);
    // The names of subkeys the part holds below key but cannot show, as no path can reach them.
    virtual void subkeysLeftOut(const Key& key, std::vector<std::u16string>& names) {
        (void)key;
        (void)names;
    }
};

// A part mounted into the registry beside the fixed ones, as the system's editor loads a hive
// file: a key below HKEY_LOCAL_MACHINE or HKEY_USERS whose subtree is kept by the part itself,
// through its own hooks, whatever backend holds the rest.
class MountedHive : public Hive {
public:
    MountedHive* asMounted() override { return this; }
    // Whether the part may change now, asked once a batch before its first change.
    virtual Status mayChange() { return Status::Ok; }
    // Keeps what changed in the part, at the end of the outermost batch, in two steps so that a
    // batch that changed several parts (hives and the Wine prefix's files) is kept whole or not at
    // all: prepareChanges writes the part's new content completely and flushes it, beside where it
    // is kept, and placeChanges then puts it in place. A part prepared but never placed is told
    // abandonChanges (its new content goes) and then reverted(), once the registry took the whole
    // batch back in memory. A part placed keeps its old content where it can put it back until the
    // batch ends: takeBackChanges puts it back when a later part of the batch failed (false, with
    // why, when it cannot: the part then holds the new content, and says it changed on disk);
    // settleChanges lets the new content stay once the whole batch is in place.
    virtual Status prepareChanges() = 0;
    virtual Status placeChanges() = 0;
    virtual void abandonChanges() { }
    virtual void reverted() { }
    virtual bool takeBackChanges(std::string& why) {
        (void)why;
        return true;
    }
    virtual void settleChanges() { }
    // Whether the part changed where it is kept since it was read, and reads it again into root.
    [[nodiscard]] virtual bool changedOnDisk() const { return false; }
    virtual Status reload(std::unique_ptr<Key>& tree) = 0;
    // What is kept, for the status line, and where a copy of it as it was before its first change is.
    [[nodiscard]] virtual std::string location() const = 0;
    [[nodiscard]] virtual std::string backupLocation() const { return {}; }

    HKey mountedAt = kNoKey; // kLocalMachine or kUsers
};

struct MemoryRegistryOptions {
    // Set: the registry refuses every change, and says this.
    std::string readOnlyReason;
    // FILETIME of now; the system clock when empty.
    std::function<std::uint64_t()> clock;
    // Make the keys every registry has (HKEY_LOCAL_MACHINE\Software\Classes and the rest).
    bool withBaseKeys = true;
    // Set: the three fixed parts refuse every change, with this reason, while mounted parts may
    // change. A scratch registry that only holds loaded hives keeps nothing else anywhere.
    std::string fixedPartsReadOnlyReason;
};

// The registry held in memory: keys with their values in creation order, link keys followed on
// every path (a chain that loops or runs past 16 links ends the open), handles, an undo log
// that takes a batch back, and the history of named batches that Undo and Redo run. The roots are laid out as Wine lays
// them out: HKEY_LOCAL_MACHINE, HKEY_USERS with the user's hive (HKEY_CURRENT_USER) and .Default, HKEY_CLASSES_ROOT and
// HKEY_CURRENT_CONFIG as keys below HKEY_LOCAL_MACHINE, and an empty HKEY_DYN_DATA that never
// changes.
//
// On its own it is the registry the tests use and a scratch registry; a backend that keeps the
// registry somewhere (WinePrefixStore) derives from it, fills its hives and keeps them through the
// hooks below.
class MemoryRegistry : public RegStore {
public:
    explicit MemoryRegistry(MemoryRegistryOptions options = {});
    ~MemoryRegistry() override;
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    Status openKey(HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result) override;
    Status createKey(HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result,
        bool* created = nullptr) override;
    Status closeKey(HKey key) override;
    Status deleteKey(HKey parent, std::u16string_view path) override;
    Status enumKey(HKey key, std::uint32_t index, std::u16string& name) override;
    Status enumValue(HKey key, std::uint32_t index, std::u16string& name, std::uint32_t* type,
        std::vector<std::uint8_t>* data) override;
    Status queryInfo(HKey key, KeyInfo& info) override;
    Status queryValue(
        HKey key, std::u16string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) override;
    Status setValue(
        HKey key, std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data) override;
    Status deleteValue(HKey key, std::u16string_view name) override;
    void beginBatch() override;
    Status endBatch() override;
    void abandonBatch() override;
    void nameBatch(ChangeLabel label) override;
    [[nodiscard]] const ChangeLabel* undoLabel() const override;
    [[nodiscard]] const ChangeLabel* redoLabel() const override;
    Status undoChange() override;
    Status redoChange() override;
    // Memory has nothing to read again; mounted parts changed on disk are read again.
    Status refresh() override { return refreshMounted(); }
    [[nodiscard]] std::string readOnlyReason() const override;
    [[nodiscard]] std::string readOnlyReasonAt(HKey root, std::u16string_view path) override;
    [[nodiscard]] std::vector<std::u16string> subkeysLeftOut(HKey key) override;
    [[nodiscard]] const std::vector<std::string>& loadMessages() const override { return m_loadMessages; }
    // Adds what a part mounted into the registry must tell the user about its files as it read them.
    void addLoadMessage(std::string message) { m_loadMessages.push_back(std::move(message)); }
    [[nodiscard]] std::string location() const override { return m_location; }
    // What location() says: "memory", unless the registry stands for a file (a hive opened alone),
    // by which the window tells one open registry from another.
    void setLocation(std::string location) { m_location = std::move(location); }

    [[nodiscard]] std::size_t openHandleCount() const { return m_openHandles; }

    // Mounts part, whose keys hang below root, as the key name below at (kLocalMachine or kUsers).
    // Refused outside those roots (AccessDenied), during a batch (AccessDenied), and for a name
    // that is bad or already taken there (BadPath); the part is then dropped.
    Status mount(HKey at, std::u16string_view name, std::unique_ptr<MountedHive> part, std::unique_ptr<Key> tree);
    // Unmounts the part whose root is the key name below at; handles into it become invalid.
    // NotFound when no part is mounted there, AccessDenied during a batch.
    Status unmount(HKey at, std::u16string_view name);
    // The mounted part the open key belongs to, or null.
    [[nodiscard]] MountedHive* mountedPartOf(HKey key);
    [[nodiscard]] const std::vector<std::unique_ptr<MountedHive>>& mountedParts() const { return m_mounted; }

    // The three hives every registry has, by where they hang: the one that is HKEY_LOCAL_MACHINE,
    // the current user's (HKEY_CURRENT_USER, below HKEY_USERS) and the default user's (below
    // HKEY_USERS). A backend names its own files after them.
    enum HivePlace { kMachineHive = 0, kCurrentUserHive = 1, kDefaultUserHive = 2 };

protected:
    // For a backend that keeps more about each hive: hives made by makeHive, each with an empty root.
    MemoryRegistry(MemoryRegistryOptions options, const std::function<std::unique_ptr<Hive>()>& makeHive);

    // Hooks for a backend that keeps the registry somewhere.
    // Whether the part may change now, asked once a batch before its first change (a file changed
    // on disk, a server that started); nothing has changed yet when it says no.
    virtual Status mayChange(Hive& hive);
    // Keeps the hives that are dirty, at the end of the outermost batch or of a change made
    // outside any batch. The mounted parts that changed are prepared already: a backend writes its
    // own files beside theirs, calls placeMounted, and only when that succeeds puts its own in
    // place. On any failure it puts back what it placed itself and returns takeBackBatch(why).
    virtual Status commitChanges();
    // Puts the prepared mounted parts in place, one by one; at the first that fails it stops.
    Status placeMounted();
    // The batch cannot be kept whole: the mounted parts it placed get their old content back and
    // the whole batch is taken back in memory (an Undo or Redo keeps its history entry). The
    // failure, with what was put back (putBack: the backend's own files, put back already) and
    // what could not be (problems) added to its message.
    [[nodiscard]] Status takeBackBatch(
        const Status& failure, std::vector<std::string> putBack = {}, std::string problems = {});

    // Puts root in place of the hive's root: what was there goes, with every handle into it, and the
    // history of changes to it can no longer run.
    void replaceHiveRoot(HivePlace place, std::unique_ptr<Key> root);
    [[nodiscard]] Hive& hivePart(HivePlace place) const { return *m_hives[place]; }
    // Takes back the changes of the undo log that touch the given hives (all when empty) and
    // forgets the log.
    void undo(const std::vector<Hive*>& hives);
    // The changes are kept: the undo log becomes the history's entry for the batch when it was
    // named, and ends the history when it was not.
    void forgetUndo();
    // The history's changes to the hive can no longer run, for this reason (the first one given stays).
    // The history points into the hive's keys: whatever drops or replaces them says so first.
    void invalidateHistory(const Hive& hive, const std::string& reason);
    [[nodiscard]] std::uint64_t now() const;
    // Reads again each mounted part that changed where it is kept; handles into it become invalid.
    Status refreshMounted();

    // Set: the whole registry refuses changes, with this reason.
    std::string m_readOnly;
    std::vector<std::string> m_loadMessages;

private:
    std::string m_location = "memory";
    // A slot of the handle table. A handle names its slot and the slot's generation, which grows
    // each time the slot is given out again, so a closed handle stays invalid.
    struct OpenHandle {
        Key* key = nullptr; // null once the key is gone
        Access access = Access::Read;
        bool open = false;
        std::uint32_t generation = 0;
    };
    using Replay = ChangeLog::Replay;

    Status resolve(HKey handle, Key*& key, Access& access);
    // The key's subkeys, or values, in its list: a key of a hive read on first use has its hive read them.
    static Status readSubkeys(Key* key);
    static Status readValues(Key* key);
    Status resolveRoot(HKey root, Key*& key);
    Status walk(Key* start, std::u16string_view path, unsigned options, bool create, Key*& result, bool* created,
        int& linksFollowed);
    Status addKey(Key* parent, std::u16string_view name, bool link, Key*& child);
    Status followLink(Key* link, Key*& target, int& linksFollowed);
    [[nodiscard]] Status writable(const Key* key) const;
    Status keyForWriting(HKey handle, Key*& key);
    Status prepareChange(Key* key);
    // A key that is to change (or go) has its values in its list, where its part wants them so.
    static Status valuesForChange(Key* key);
    Status finishChange(Status status);
    // Ends the outermost batch (or a change outside any): the backend keeps what changed.
    Status keep();
    // Prepares the mounted parts that changed; a failure takes the whole batch back.
    Status prepareMounted();
    // The history entries that change the key a hive is mounted below (add or remove a key right
    // there) can no longer run, for this reason: a hive loaded or unloaded there may stand, or no
    // longer stand, where they would put or take a key.
    void invalidateHistoryAt(const Key* mountParent, const std::string& reason);
    void forEachPart(const std::function<void(Hive&)>& visit);
    Key* mountParent(HKey at);
    void touch(Key* key);
    void forgetHandlesInto(const Key* subtree);
    void record(UndoEntry entry);
    // Takes one change back and returns the change that makes it again. A change from the history
    // leaves the keys it touches to be written anew: the file was written since it was logged.
    UndoEntry revert(UndoEntry& entry, bool fromHistory);
    Status replay(Replay direction);
    Status mayReplay(const HistoryEntry& entry);
    // A new handle to the key; kNoKey when the table is full.
    HKey newHandle(Key* key, Access access);
    OpenHandle* handleSlot(HKey handle);

    std::function<std::uint64_t()> m_clock;
    std::array<std::unique_ptr<Hive>, 3> m_hives;
    std::unique_ptr<Key> m_machine;
    std::unique_ptr<Key> m_users;
    std::unique_ptr<Key> m_dynData;
    std::vector<std::unique_ptr<MountedHive>> m_mounted;
    std::vector<MountedHive*> m_preparing; // prepared by the batch being kept, not yet in place
    std::vector<MountedHive*> m_placed; // put in place by the batch being kept
    std::vector<OpenHandle> m_handles;
    std::vector<std::uint32_t> m_freeSlots; // used as a queue from m_freeFrom on, oldest first
    std::size_t m_freeFrom = 0;
    std::size_t m_openHandles = 0;
    // The subkey the last enumKey named, so that opening it next (as every walk does) finds it
    // without a search. Cleared whenever a key goes.
    const Key* m_enumParent = nullptr;
    Key* m_enumChild = nullptr;
    int m_batchDepth = 0;
    ChangeLog m_changes; // the undo log of the batches under way and the history for Undo and Redo
};

// Makes the keys every registry has: HKEY_LOCAL_MACHINE\Software\Classes (HKEY_CLASSES_ROOT),
// \System\CurrentControlSet\Hardware Profiles\Current (HKEY_CURRENT_CONFIG), HKEY_CURRENT_USER\Software
// and HKEY_USERS\.Default\Software, in one batch.
Status createBaseKeys(RegStore& store);

} // namespace quern::reg
