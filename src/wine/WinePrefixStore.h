#pragma once

#include "codec/AtomicFile.h"
#include "codec/FileMapping.h"
#include "codec/UniqueFd.h"
#include "store/KeyArena.h"
#include "store/MemoryRegistry.h"
#include "wine/RegFileIndex.h"
#include "wine/WineRegFile.h"
#include "wine/WineServer.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quern::reg {

// One of the prefix's three files and the keys it holds (readOnlyReason set: this file is never
// written; dirty: changed since it was last written).
struct HiveFile : Hive {
    std::string fileName; // system.reg, user.reg or userdef.reg
    std::string path;
    std::string relativeTo; // the header's path, escaped as in the file
    bool existsOnDisk = false;
    FileStamp stamp;
    std::size_t contentHash = 0;
    std::uint64_t prefixLength = 0;
    ParsedFile parsed; // counts and problems of the last read

    // Set while the file's keys are read on first use: the file mapped as it was read or last
    // written, open to notice a write in place, and where its blocks stand in it.
    std::unique_ptr<FileMapping> mapping;
    UniqueFd mappedFile;
    std::unique_ptr<RegFileIndex> index;
    std::unique_ptr<KeyArena> arena;
    bool mappingChanged = false; // the mapped file was written in place or cut short: no more reads
    std::chrono::steady_clock::time_point lastLook;
    std::vector<std::string>* messages = nullptr; // where lines it cannot read are told
    bool problemsTold = false;
    std::size_t bytesReadSinceRelease = 0;
    static constexpr std::size_t kReleaseEvery = std::size_t(8) << 20;

    HiveFile() { valuesInListToChange = true; }

    Status readSubkeys(Key& key) override;
    Status readValues(Key& key) override;
    Status valueInFile(Key& key, std::size_t position, std::u16string& name, std::uint32_t* type,
        std::vector<std::uint8_t>* data) override;
    Status namedValueInFile(
        Key& key, std::u16string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) override;
    Status valueSizesInFile(Key& key, KeyInfo& info) override;
    void forgetMapping();
    void forgetServed() { m_servedKey = nullptr; }

private:
    // ChangedOnDisk, with its sentence, once the mapped file is no longer the one read.
    Status checkMapping();
    // The values of the key whose values were served last, read from its block: a walk asks for
    // one key's values one after the other.
    Status valuesOf(Key& key, const Key*& values);
    const Key* m_servedKey = nullptr;
    std::uint64_t m_servedAt = 0;
    Key m_served { u"", nullptr, nullptr };
};

struct WinePrefixOptions {
    std::string prefixDir;
    // Quern's own registry: make the folder and the three files, with the keys every registry has,
    // when they do not exist yet.
    bool createIfMissing = false;
    ServerSearchPaths serverPaths = defaultServerSearchPaths();
    bool scanProcesses = true;
    std::function<std::uint64_t()> clock; // FILETIME of now; the system clock when empty
    // How long a write waits for another Quern's write to the same registry to end before it gives up.
    int writerWaitMilliseconds = 2000;
    // Called with each temporary file when it is complete and before it replaces its file, while
    // the locks are held: the moment a crash or a starting wineserver is most tempting to test.
    std::function<void(const std::string& tempPath)> beforeReplace;
    // Flushes a folder after a file in it was replaced; fsync() when empty. Tests make it fail.
    std::function<int(int folderFd)> syncFolder;
    // Keeps each replaced file's old content under a second name until the batch is in place;
    // link(2) when empty. Tests stand in a file system without hard links.
    LinkFunction hardLink;
    // A file of at least this size is read on first use: one pass finds where its keys stand, and
    // each key's block is read when it is first asked for. Smaller ones are read whole at once,
    // so that every line Quern cannot read is told at the start.
    std::uint64_t readOnFirstUseFrom = std::uint64_t(4) << 20;
};

// No registry file is larger: real ones are tens of megabytes at most. A bigger file is not read,
// so that a wrong file (a disk image, a device) cannot take all the memory.
inline constexpr long long kMaxRegistryFileSize = 1LL << 30;

// The registry of a Wine prefix: system.reg as HKEY_LOCAL_MACHINE, user.reg as the user's hive
// (HKEY_CURRENT_USER and HKEY_USERS\SID), userdef.reg as HKEY_USERS\.Default. Reads the files once,
// writes changed files whole and atomically, and keeps the bytes of every key nobody changed.
//
// Writing. Any number of Querns may have a registry open; they write one at a time. A write takes
// two locks for its own duration only, from the last read of the files until they are in place:
// - Quern's own, a flock() on the prefix folder. A write that finds it taken waits for the other
//   write to end (writerWaitMilliseconds) and then refuses its change, which is undone; the other
//   Quern's change reaches this one as a file changed on disk, refused until a refresh. When the
//   prefix folder cannot be opened for the lock, nothing is written: the registry is read-only.
// - The wineserver's own lock (ServerLock), so that a Wine program starting meanwhile waits for
//   the new files instead of reading the old ones and later writing them back. A server that holds
//   it refuses the write. After the rename the store looks again; a server found then (started
//   where the lock did not reach) makes the write fail with the files written: the server may have
//   read the old ones and will put them back when it exits.
// A batch that changes several files (and mounted hives) is kept whole or not at all: every file
// is written complete beside its own first, and only then are they renamed into place, each one's
// old content kept beside it under a second name until the last is in place. A rename or a folder
// flush that fails puts back the files already replaced and takes the whole batch back in memory.
// The files are written through a symbolic link: its target is replaced atomically and the link
// stays. A file with other hard links, a file that is not a regular file (a FIFO, a device) and
// one larger than kMaxRegistryFileSize are never written; the last two are not read either.
//
// The keys, handles, links and batches are the memory registry's; this class reads the files into
// it, and keeps them through its hooks: it refuses a change to a file that changed on disk or while
// a server runs, and writes the dirty files at the end of each batch.
class WinePrefixStore final : public MemoryRegistry {
public:
    // The prefix's three files, system.reg, user.reg and userdef.reg, in the places of the hives
    // they hold.
    enum HiveId { kSystem = kMachineHive, kUser = kCurrentUserHive, kUserDefault = kDefaultUserHive };

    explicit WinePrefixStore(WinePrefixOptions options);
    ~WinePrefixStore() override;
    WinePrefixStore(const WinePrefixStore&) = delete;
    WinePrefixStore& operator=(const WinePrefixStore&) = delete;

    Status refresh() override;
    [[nodiscard]] std::string location() const override { return m_options.prefixDir; }

    [[nodiscard]] const HiveFile& hive(HiveId id) const { return file(id); }
    // How many times a file was replaced on disk since the store opened.
    [[nodiscard]] std::size_t filesWritten() const { return m_filesWritten; }

protected:
    Status mayChange(Hive& hive) override;
    Status commitChanges() override;

private:
    struct Prepared;
    struct WriteSession;

    [[nodiscard]] HiveFile& file(HiveId id) const {
        return static_cast<HiveFile&>(hivePart(static_cast<HivePlace>(id)));
    }
    void loadAll();
    void loadHive(HiveId id);
    // Reads a file's content into root, or replaces root with an empty one when it is no registry file.
    void parseHive(HiveId id, const std::string& content, nlink_t links, std::unique_ptr<Key>& root);
    // Maps a large file and indexes it to be read on first use; false when it is to be read whole.
    bool indexHive(HiveId id, std::unique_ptr<Key>& root);
    void checkFile(HiveFile& hive, nlink_t links);
    // After a write: the index follows the blocks to where they stand in the new file.
    void remapWritten(HiveFile& hive, const std::vector<BlockPlacement>& placements);
    static std::string notWritableReason(const HiveFile& hive);
    void refuseSharedFiles();
    [[nodiscard]] std::string_view prefixArch() const;
    void createOwnRegistry();
    void checkServer();
    [[nodiscard]] bool anotherQuernWrites() const;
    [[nodiscard]] ServerState findServerPatiently(bool withProcessScan) const;
    // Removes what a Quern that died while writing left beside the files; returns the old contents
    // it kept of files it had replaced already, which stay.
    std::vector<std::string> removeStaleTemporaryFiles();
    Status takeWriterLock(UniqueFd& fd);
    Status lockForWrite(WriteSession& session);
    Status checkUnchanged(HiveFile& hive, UniqueFd& fd);
    Status prepareFile(HiveFile& hive, WriteSession& session);
    Status replaceFiles(WriteSession& session);
    Status putBackPlaced(WriteSession& session, std::size_t placed, const Status& failure);
    void recordWritten(const Prepared& p);

    WinePrefixOptions m_options;
    bool m_prefixMissing = false;
    std::size_t m_filesWritten = 0;
};

// Which registry Quern opens: WINEPREFIX when it is set (the Wine convention); else ~/.wine when it
// holds system.reg; else Quern's own in $XDG_DATA_HOME/quern/registry (~/.local/share/quern/registry).
struct RegistryChoice {
    std::string prefixDir;
    bool ownRegistry = false;
};
[[nodiscard]] RegistryChoice chooseRegistry();

// Where Quern keeps its own registry for a home folder and the value of XDG_DATA_HOME (empty when
// it is not set).
[[nodiscard]] std::string ownRegistryFolder(const std::string& homeDir, const std::string& dataHome);

// Opens the registry chooseRegistry names.
[[nodiscard]] std::unique_ptr<RegStore> openChosenRegistry();

} // namespace quern::reg
