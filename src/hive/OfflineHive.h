#pragma once

#include "codec/AtomicFile.h"
#include "store/MemoryRegistry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

struct hive_h;
struct stat;

namespace quern::reg {

// No hive file is larger: SOFTWARE of a large installation is a few hundred megabytes at most. A
// bigger file is not read, so that a wrong file (a disk image) cannot take all the memory.
inline constexpr long long kMaxHiveFileSize = 2LL << 30;

struct HiveOpenOptions {
    // Set: the hive is read and never written, with this reason.
    std::string readOnlyReason;
    // Called with the complete temporary file just before it replaces the hive.
    std::function<void(const std::string& tempPath)> beforeReplace;
    // Flushes the hive's folder after the rename; fsync() when empty. Tests make it fail.
    std::function<int(int folderFd)> syncFolder;
    // Keeps the old hive under a second name until the batch is in place; link(2) when empty.
    LinkFunction hardLink;
};

// A Windows registry hive file (SYSTEM, SOFTWARE, NTUSER.DAT, ...) mounted into the registry, read
// and written through hivex, the library that writes hives Windows accepts.
//
// Reading: the file is mapped, and each key is read from it when first asked for: its name, class
// name, last write time and link flag when its parent's subkeys are, its values in their stored
// order with their raw types and bytes served from the file until one of them changes. So a hive
// of a hundred thousand keys opens at once and costs memory only for what was looked at. A hive
// whose structure is damaged (a list that loops, cells outside the file, two subkeys of one name)
// is not loaded when its header or root key is, and is read-only, with a sentence that names the
// file and what is wrong, when the damage is found further in; before its first write every key is
// read, so a damaged hive is never written.
//
// Writing, once per batch: what changed is replayed onto hivex's copy of the hive (each key keeps
// the cell of its node in SourceRange::offset), hivex writes the whole new hive into a temporary
// file beside it, which is flushed (prepareChanges) and, once every other part of the batch is
// complete too, renamed over the hive, and the folder is flushed (placeChanges); the old hive stays
// beside it as .NAME.quern-old-XXXXXX until the batch is whole on disk, to be put back when a
// later file of the batch cannot be placed (takeBackChanges). A hive
// that changed on disk since it was read is never overwritten. The first time a hive is written,
// a copy of what it was is kept beside it as NAME.quern-orig, so that a mistake on a system hive
// can always be undone by hand.
class OfflineHive final : public MountedHive {
public:
    ~OfflineHive() override;
    OfflineHive(const OfflineHive&) = delete;
    OfflineHive& operator=(const OfflineHive&) = delete;

    // Reads the hive file at path. On success hive and root are set (root's subtree belongs to hive);
    // on failure both stay null and the status says why, naming the file.
    static Status open(const std::string& path, HiveOpenOptions options, std::unique_ptr<OfflineHive>& hive,
        std::unique_ptr<Key>& tree);

    Status mayChange() override;
    Status prepareChanges() override;
    Status placeChanges() override;
    void abandonChanges() override;
    void reverted() override;
    bool takeBackChanges(std::string& why) override;
    void settleChanges() override {
        m_original.drop();
        m_backupIsNew = false;
    }
    [[nodiscard]] bool changedOnDisk() const override;
    Status reload(std::unique_ptr<Key>& tree) override;
    Status readSubkeys(Key& key) override;
    Status readValues(Key& key) override;
    Status valueInFile(Key& key, std::size_t index, std::u16string& name, std::uint32_t* type,
        std::vector<std::uint8_t>* data) override;
    Status valueSizesInFile(Key& key, KeyInfo& info) override;
    void subkeysLeftOut(const Key& key, std::vector<std::u16string>& names) override;
    [[nodiscard]] std::string location() const override { return m_path; }

    // Where the copy of the hive as it was before Quern first wrote it is; empty until then.
    [[nodiscard]] const std::string& backupPath() const { return m_backupPath; }
    [[nodiscard]] std::string backupLocation() const override { return m_backupPath; }
    // What the user must be told about the files beside the hive as it was read: the old content a
    // command left there when Quern stopped half-way through it.
    [[nodiscard]] const std::vector<std::string>& loadMessages() const { return m_loadMessages; }
    // How many times the hive was replaced on disk since it was opened.
    [[nodiscard]] std::size_t writes() const { return m_writes; }

private:
    class Reader;

    OfflineHive(std::string path, HiveOpenOptions options);
    Status load(std::unique_ptr<Key>& tree);
    Status openHandle(bool writable);
    Status checkUnchanged(std::string& content) const;
    Status replaceWithTemporary(const std::string& target);
    Status settleReplaced(const std::string& target);
    Status makeBackup(const std::string& content);
    Status replay(Key& key);
    Status writeKey(Key& key);
    Status writeSubkeys(std::size_t node, Key& key);
    Status addTree(std::size_t parentNode, Key& key);
    Status setValues(std::size_t node, const Key& key, bool existing);
    Status writeTemporary();
    Status completeTemporary(const std::string& temp, std::string& written);
    void clearPatches();
    [[nodiscard]] Status hivexFailure(const std::string& what) const;

    std::string m_path;
    std::string m_name; // the file's name, for messages
    HiveOpenOptions m_options;
    // Reads keys from the mapped file until the hive is read again; hivex is opened only for the
    // first change, and reads the file on its own then.
    std::unique_ptr<Reader> m_reader;
    hive_h* m_handle = nullptr;
    bool m_writable = false;
    FileStamp m_stamp;
    std::string m_header; // the base block as it was read
    std::optional<std::uint64_t> m_hash; // fingerprint of the whole file, from its first opening for writing on
    std::string m_backupPath;
    bool m_backupIsNew = false; // made by the batch being kept: it goes if the batch does
    std::size_t m_writes = 0;
    std::vector<std::string> m_loadMessages;
    std::uint32_t m_minorVersion = 0; // of the format, from the base block
    std::string m_temp; // the new hive, complete and flushed, waiting for its rename
    std::uint64_t m_tempHash = 0;
    KeptOriginal m_original; // the hive as it was before the batch being kept replaced it
    std::optional<std::uint64_t> m_originalHash;
    // Link keys made since the hive was last read: hivex cannot mark them, so the written file is.
    std::unordered_set<std::size_t> m_newLinks;

    // What hivex cannot write, gathered while a batch is replayed and put into the file it wrote.
    struct BigValue {
        std::size_t node;
        std::size_t index;
        const std::vector<std::uint8_t>* data;
    };
    struct Name { // a name hivex was given a stand-in for
        std::size_t node;
        std::size_t index; // of the value; SIZE_MAX for the key's own name
        const std::u16string* units;
    };
    struct WrittenKey {
        std::size_t node;
        const Key* key;
        bool added;
    };
    std::string m_before; // the hive as the batch found it
    std::vector<BigValue> m_bigValues;
    std::vector<Name> m_names;
    std::vector<WrittenKey> m_writtenKeys;
    std::unordered_set<std::size_t> m_addedNodes;
    std::unordered_set<std::size_t> m_grownNodes; // keys given new subkeys, whose lists get Windows' order
    std::vector<std::size_t> m_freedCells; // big-data cells of values replaced or deleted
    bool m_handleStale = false; // hivex's copy lacks what was put into the file after it wrote it
};

// Reads the hive file at path and mounts it in store as the key name below at (kLocalMachine or
// kUsers). On failure nothing is mounted and the status says why.
Status mountHiveFile(
    MemoryRegistry& store, HKey at, std::u16string_view name, const std::string& path, HiveOpenOptions options = {});

// Writes an empty hive (a base block and one bin holding a root key) to path, for a new hive that
// hivex then fills: hivex itself cannot make one. WriteFailed, with the reason, when it cannot be
// written.
Status writeEmptyHive(const std::string& path);

} // namespace quern::reg
