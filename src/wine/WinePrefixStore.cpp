#include "wine/WinePrefixStore.h"

#include "codec/AtomicFile.h"
#include "codec/FileRead.h"
#include "codec/Utf.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace quern::reg {

namespace {

constexpr std::u16string_view kDefaultSid = u"S-1-5-21-0-0-0-1000";

std::string systemError(int error) {
    return std::strerror(error);
}

// A file's hash, taken a piece at a time as it is read or written: the same bytes give the same
// hash however they are cut, since it hashes fixed chunks of the text.
class ContentHash {
public:
    void add(std::string_view data) {
        while (!data.empty()) {
            if (m_partial.empty() && data.size() >= kChunk) {
                mix(data.substr(0, kChunk));
                data.remove_prefix(kChunk);
                continue;
            }
            const std::size_t take = std::min(kChunk - m_partial.size(), data.size());
            m_partial.append(data.substr(0, take));
            data.remove_prefix(take);
            if (m_partial.size() == kChunk) {
                mix(m_partial);
                m_partial.clear();
            }
        }
    }
    [[nodiscard]] std::size_t value() const {
        ContentHash last = *this;
        if (!last.m_partial.empty()) last.mix(last.m_partial);
        return last.m_value ^ (last.m_length * 0x9e3779b97f4a7c15ULL);
    }

    static constexpr std::size_t kChunk = 65536;
    // What add gives for a text of size bytes, from the hash of each of its chunks taken apart
    // (chunkHash), in order.
    static std::size_t ofChunks(const std::vector<std::uint64_t>& chunkHashes, std::size_t size) {
        ContentHash whole;
        for (std::size_t i = 0; i < chunkHashes.size(); ++i)
            whole.addChunk(chunkHashes[i], std::min(kChunk, size - i * kChunk));
        return whole.value();
    }

private:
    void mix(std::string_view chunk) { addChunk(chunkHash(chunk), chunk.size()); }
    void addChunk(std::uint64_t hash, std::size_t length) {
        m_value = (m_value ^ hash) * 0x100000001b3ULL + 0x7f4a7c15ULL;
        m_length += length;
    }

public:
    // Four lanes of eight bytes each, multiplied in independently, as xxHash takes them: a large
    // file hashes at the speed its memory is read, which a byte-at-a-time hash does not.
    static std::uint64_t chunkHash(std::string_view chunk) {
        constexpr std::uint64_t kPrime1 = 0x9e3779b185ebca87ULL;
        constexpr std::uint64_t kPrime2 = 0xc2b2ae3d27d4eb4fULL;
        std::uint64_t lanes[4] = { kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1 };
        auto round
            = [](std::uint64_t lane, std::uint64_t word) { return std::rotl(lane + word * kPrime2, 31) * kPrime1; };
        std::size_t i = 0;
        for (; i + 32 <= chunk.size(); i += 32)
            for (int lane = 0; lane < 4; ++lane) {
                std::uint64_t word = 0;
                std::memcpy(&word, chunk.data() + i + 8 * static_cast<std::size_t>(lane), 8);
                lanes[lane] = round(lanes[lane], word);
            }
        std::uint64_t value = std::rotl(lanes[0], 1) + std::rotl(lanes[1], 7) + std::rotl(lanes[2], 12)
            + std::rotl(lanes[3], 18) + chunk.size();
        for (; i < chunk.size(); i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, chunk.data() + i, std::min<std::size_t>(chunk.size() - i, 8));
            value = round(value, word);
        }
        value ^= value >> 33;
        value *= kPrime2;
        return value ^ (value >> 29);
    }

private:
    std::uint64_t m_value = 0xcbf29ce484222325ULL;
    std::uint64_t m_length = 0;
    std::string m_partial;
};

std::size_t hashOf(std::string_view content) {
    ContentHash hash;
    hash.add(content);
    return hash.value();
}

std::string readLinkText(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Reads a whole registry file: a Status as readRegularFile gives it (ReadFailed with the words
// that follow the file's name).
Status readRegistryFile(const std::string& path, std::string& content, FileStamp& stamp, nlink_t& links) {
    struct stat st { };
    if (Status read = readRegularFile(path, kMaxRegistryFileSize, content, st); !read.ok()) return read;
    stamp = stampOf(st);
    // A crash in a write may have left a second name Quern made itself: not one of the user's.
    links = 1 + otherNames(path, st);
    return Status::Ok;
}

std::string hardLinkReason(const std::string& fileName, nlink_t links) {
    return fileName + " has " + std::to_string(links - 1) + (links == 2 ? " other name" : " other names")
        + " (hard links to the same file); replacing it would leave them with the old content, so Quern reads it "
          "but does not write it.";
}

std::string serverReason(pid_t pid) {
    return "A wineserver (process " + std::to_string(pid)
        + ") is running for this prefix and owns its registry until it exits, so Quern shows it "
          "read-only. Close the Windows programs of the prefix or run \"wineserver -k\", then refresh (F5).";
}

// The file a write replaces: through a symbolic link, the file it leads to, so that the link stays.
// WriteFailed, with the words that follow the file's name, when the link cannot be followed.
Status writeTarget(const std::string& path, std::string& target) {
    struct stat st { };
    target = path;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return Status::Ok;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return Status(Status::WriteFailed,
            "is a symbolic link to " + readLinkText(path) + ", which cannot be followed (" + systemError(errno) + ")");
    target = resolved;
    std::free(resolved);
    return Status::Ok;
}

// The file as it was read or last written, from which a write copies the blocks nobody changed,
// so that the old text is never whole in memory beside the new one. The blocks are copied in the
// registry's order, which is the file's own when wineserver or Quern wrote it: then a window ahead
// is read at once and most blocks fall in it. A file in another order (written by a script, or an
// older Wine) jumps about, and each jump reads only the block it needs: a window read for every
// block would read the file a thousand times over.
class OriginalInFile final : public RegFileOriginal {
public:
    OriginalInFile(UniqueFd fd, std::uint64_t size)
        : m_fd(std::move(fd))
        , m_size(size) { }
    [[nodiscard]] std::uint64_t size() const override { return m_size; }
    std::optional<std::string_view> read(std::uint64_t offset, std::uint64_t length) override {
        if (offset > m_size || length > m_size - offset) return std::nullopt;
        if (offset < m_windowOffset || offset + length > m_windowOffset + m_window.size()) {
            // Soon after where the last read ended: the file is being read in its order, and the
            // window ahead grows as long as it stays so, as the kernel's read-ahead does.
            // (A block is read with the end of the line before it, a few bytes back.)
            const bool inOrder = offset + kLookBehind >= m_lastEnd && offset <= m_lastEnd + kNearby;
            m_ahead = inOrder
                ? std::min<std::uint64_t>(std::max<std::uint64_t>(m_ahead * 2, kFirstAhead), kRegFileWriteBuffer)
                : 0;
            const std::uint64_t want = std::min<std::uint64_t>(std::max(m_ahead, length), m_size - offset);
            m_window.resize(want);
            std::size_t done = 0;
            while (done < length) {
                const ssize_t n = ::pread(
                    m_fd.get(), m_window.data() + done, m_window.size() - done, static_cast<off_t>(offset + done));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    m_window.clear();
                    m_windowOffset = 0;
                    return std::nullopt; // unreadable, or cut short since it was checked
                }
                done += static_cast<std::size_t>(n);
            }
            m_window.resize(done);
            m_windowOffset = offset;
        }
        m_lastEnd = offset + length;
        return std::string_view(m_window).substr(offset - m_windowOffset, length);
    }
    // Whether the file was written in place since it was checked, which would leave the blocks
    // copied from it torn.
    [[nodiscard]] bool holdsFile() const { return m_fd.valid(); }
    [[nodiscard]] bool changedSince(const FileStamp& stamp) const {
        struct stat st { };
        return ::fstat(m_fd.get(), &st) != 0 || stampOf(st) != stamp;
    }

private:
    static constexpr std::uint64_t kNearby = 4096;
    static constexpr std::uint64_t kLookBehind = 16;
    static constexpr std::uint64_t kFirstAhead = 16384;
    UniqueFd m_fd;
    std::uint64_t m_size;
    std::string m_window;
    std::uint64_t m_windowOffset = 0;
    std::uint64_t m_lastEnd = 0;
    std::uint64_t m_ahead = 0;
};

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The SID that names the user's hive: the last component of user.reg's header path.
std::u16string sidOf(const std::string& relativeTo) {
    const auto slash = relativeTo.rfind('\\');
    std::string last = slash == std::string::npos ? std::string() : relativeTo.substr(slash + 1);
    if (last.empty() || last.find_first_of("[]\"") != std::string::npos) return std::u16string(kDefaultSid);
    return toUtf16(last);
}

// Why a write that replaced its files may not last: a server started meanwhile.
std::string lateServerText(const std::vector<std::string>& replaced, pid_t pid) {
    std::string names;
    for (const auto& name : replaced)
        names += (names.empty() ? "" : " and ") + name;
    const bool several = replaced.size() > 1;
    return names + (several ? " were" : " was") + " written, but a wineserver (process " + std::to_string(pid)
        + ") started for this prefix meanwhile and may have read the old " + (several ? "files" : "file")
        + "; it writes its own copy back when it exits, so the change may be lost. Look again once the "
          "prefix's Windows programs have closed.";
}

} // namespace

WinePrefixStore::WinePrefixStore(WinePrefixOptions options)
    : MemoryRegistry(
        MemoryRegistryOptions { {}, options.clock, false, {} }, [] { return std::make_unique<HiveFile>(); })
    , m_options(std::move(options)) {
    static const char* const kFiles[3] = { "system.reg", "user.reg", "userdef.reg" };
    for (int i = 0; i < 3; ++i) {
        file(static_cast<HiveId>(i)).fileName = kFiles[i];
        file(static_cast<HiveId>(i)).path = m_options.prefixDir + "/" + kFiles[i];
        file(static_cast<HiveId>(i)).messages = &m_loadMessages;
    }

    struct stat st { };
    if (::stat(m_options.prefixDir.c_str(), &st) != 0 && m_options.createIfMissing) {
        std::string partial;
        for (std::size_t pos = 1; pos != std::string::npos;) {
            pos = m_options.prefixDir.find('/', pos + 1);
            partial = m_options.prefixDir.substr(0, pos);
            ::mkdir(partial.c_str(), 0700);
        }
    }
    if (::stat(m_options.prefixDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        m_prefixMissing = true;
        m_readOnly = "The registry folder " + m_options.prefixDir + " does not exist.";
        m_loadMessages.push_back(m_readOnly);
    }
    checkServer();
    if (m_readOnly.empty()) {
        // A Quern that died while writing leaves its temporary files. They go only under the writers'
        // lock, when no write can be under way; a Quern writing just now cleans up at its next write.
        const UniqueFd folder(::open(m_options.prefixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() >= 0 && ::flock(folder.get(), LOCK_EX | LOCK_NB) == 0)
            for (const std::string& kept : removeStaleTemporaryFiles())
                m_loadMessages.push_back("A Quern stopped while it replaced the files of one command: the file "
                    + kept.substr(0, kept.rfind(".quern-old-")).erase(kept.rfind('/') + 1, 1)
                    + " may hold that command's change while another file of the prefix does not. What it held "
                      "before is kept beside it as "
                    + kept + ": rename it over the file to take the change back, or delete it to keep the change.");
    }
    loadAll();
    if (m_options.createIfMissing && m_readOnly.empty()) createOwnRegistry();
}

WinePrefixStore::~WinePrefixStore() = default;

void WinePrefixStore::checkServer() {
    if (m_prefixMissing) return;
    m_readOnly.clear();
    // Every write takes Quern's own lock on the prefix folder, and never goes without it.
    const UniqueFd folder(::open(m_options.prefixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        m_readOnly = "The registry folder " + m_options.prefixDir + " cannot be opened (" + systemError(errno)
            + "), so Quern cannot lock it while it writes and shows the registry read-only.";
        return;
    }
    const ServerState server = findServerPatiently(m_options.scanProcesses);
    if (server.running) m_readOnly = serverReason(server.pid);
}

// Whether another Quern (or another store of this one) holds the writers' lock on the folder now.
bool WinePrefixStore::anotherQuernWrites() const {
    const UniqueFd folder(::open(m_options.prefixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return false;
    if (::flock(folder.get(), LOCK_SH | LOCK_NB) == 0) {
        ::flock(folder.get(), LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

// A Quern that writes the prefix holds wineserver's lock for that moment, as a server would. While
// Quern's own writers' lock is taken as well, the holder may be that Quern: it is waited for as a
// writer, for as long as a write waits for another, and only then taken for a server.
ServerState WinePrefixStore::findServerPatiently(bool withProcessScan) const {
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, m_options.writerWaitMilliseconds));
    for (;;) {
        const ServerState server = findWineServer(m_options.prefixDir, m_options.serverPaths, withProcessScan);
        if (!server.running || !anotherQuernWrites() || std::chrono::steady_clock::now() >= deadline) return server;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Status WinePrefixStore::takeWriterLock(UniqueFd& fd) {
    fd.reset(::open(m_options.prefixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        const int error = errno;
        m_readOnly = "The registry folder " + m_options.prefixDir + " cannot be opened (" + systemError(error)
            + "), so Quern cannot lock it while it writes and shows the registry read-only.";
        return Status(Status::AccessDenied, m_readOnly + " Nothing was written.");
    }
    // Another Quern's write takes milliseconds; one that goes on longer is waited for only so long.
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, m_options.writerWaitMilliseconds));
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            fd.reset();
            if (error != EWOULDBLOCK)
                return Status(Status::WriteFailed,
                    "The registry folder " + m_options.prefixDir + " cannot be locked for writing ("
                        + systemError(error) + "); nothing was written.");
            const int waited = m_options.writerWaitMilliseconds;
            return Status(Status::WriteFailed,
                "Another Quern is writing this registry and did not finish within "
                    + (waited % 1000 == 0 ? std::to_string(waited / 1000) + " s" : std::to_string(waited) + " ms")
                    + "; nothing was written. Try again.");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Status::Ok;
}

std::vector<std::string> WinePrefixStore::removeStaleTemporaryFiles() {
    std::vector<std::string> oldContent;
    for (int i = 0; i < 3; ++i) {
        std::string target;
        if (!writeTarget(file(static_cast<HiveId>(i)).path, target).ok()) continue;
        const std::string base = baseNameOf(target);
        const std::string pattern = "." + base + ".quern-";
        const std::string folder = directoryOf(target);
        struct stat live { };
        const bool exists = ::stat(target.c_str(), &live) == 0;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                if (!std::string_view(entry->d_name).starts_with(pattern)) continue;
                const std::string path = folder + "/" + entry->d_name;
                struct stat kept { };
                // What a file held before a write that died after replacing it: maybe the only copy
                // of a file whose command is half in place. It stays for the user to decide.
                if (isKeptOriginalName(entry->d_name, base) && ::lstat(path.c_str(), &kept) == 0
                    && !(exists && kept.st_dev == live.st_dev && kept.st_ino == live.st_ino)) {
                    oldContent.push_back(path);
                    continue;
                }
                ::unlink(path.c_str());
            }
            ::closedir(dir);
        }
    }
    return oldContent;
}

void WinePrefixStore::loadAll() {
    for (int i = 0; i < 3; ++i)
        loadHive(static_cast<HiveId>(i));
    refuseSharedFiles();
}

// The architecture wineserver gives the prefix once it has read system.reg, which it reads first:
// what its #arch line says, 32-bit when it has none or is no registry file, 64-bit when there is
// none; the user's files must say the same.
std::string_view WinePrefixStore::prefixArch() const {
    const HiveFile& system = file(kSystem);
    if (!system.existsOnDisk) return system.readOnlyReason.empty() ? "win64" : "";
    if (system.parsed.isRegistryFile && !system.parsed.arch.empty()) return system.parsed.arch;
    return "win32";
}

void WinePrefixStore::loadHive(HiveId id) {
    HiveFile& hive = file(id);
    auto root
        = std::make_unique<Key>(id == kSystem ? u"Machine" : (id == kUserDefault ? u".Default" : u""), nullptr, &hive);
    hive.existsOnDisk = false;
    hive.readOnlyReason.clear();
    hive.parsed = ParsedFile {};
    hive.prefixLength = 0;
    hive.contentHash = 0;
    hive.stamp = FileStamp {};
    hive.dirty = false;
    hive.forgetMapping();

    std::string content;
    nlink_t links = 1;
    const bool indexed = !m_prefixMissing && indexHive(id, root);
    const Status read = m_prefixMissing ? Status(Status::NotFound)
        : indexed                       ? Status(Status::Ok)
                                        : readRegistryFile(hive.path, content, hive.stamp, links);
    if (read == Status::ReadFailed) {
        const std::string why = read.message();
        hive.readOnlyReason = hive.fileName + " " + why + "; nothing was read from it and Quern will not write it.";
        m_loadMessages.push_back(hive.path + " " + why + "; nothing was read from it and it is left as it is.");
    } else if (read.ok() && !indexed) {
        hive.existsOnDisk = true;
        hive.contentHash = hashOf(content);
        parseHive(id, content, links, root);
    }
    if (hive.relativeTo.empty()) {
        hive.relativeTo = id == kSystem
            ? "REGISTRY\\\\Machine"
            : (id == kUser ? "REGISTRY\\\\User\\\\" + toUtf8(kDefaultSid) : "REGISTRY\\\\User\\\\.Default");
    }
    if (id == kUser) root->name = sidOf(hive.relativeTo);
    invalidateHistory(hive,
        hive.fileName
            + " was changed on disk and read again since this change, so it can no longer be undone or redone.");
    replaceHiveRoot(static_cast<HivePlace>(id), std::move(root));
}

void WinePrefixStore::parseHive(HiveId id, const std::string& content, nlink_t links, std::unique_ptr<Key>& root) {
    HiveFile& hive = file(id);
    hive.parsed = parseRegFile(content, *root, id == kSystem ? std::string_view() : prefixArch());
    if (!hive.parsed.isRegistryFile) {
        hive.readOnlyReason = hive.fileName + " is not a Wine registry file (" + hive.parsed.error
            + "); nothing was read from it and Quern will not write it.";
        m_loadMessages.push_back(hive.path + " is not a Wine registry file: " + hive.parsed.error
            + ". Nothing was read from it and it is left as it is.");
        root = std::make_unique<Key>(root->name, nullptr, &hive);
        return;
    }
    checkFile(hive, links);
}

// What the file's first read says about it: the lines it cannot read, and why it may not be written.
void WinePrefixStore::checkFile(HiveFile& hive, nlink_t links) {
    hive.prefixLength = hive.parsed.prefixLength;
    hive.relativeTo = hive.parsed.relativeTo;
    if (!hive.parsed.problems.empty()) {
        const auto& first = hive.parsed.problems.front();
        const auto count = hive.parsed.problems.size();
        m_loadMessages.push_back(hive.path + ", line " + std::to_string(first.line) + ": " + first.what
            + (count > 1 ? " (and " + std::to_string(count - 1) + " more lines)" : "")
            + ". Quern keeps such lines as they are and writes them back unchanged.");
    }
    if (!hive.parsed.writeRefused.empty()) {
        hive.readOnlyReason = hive.fileName + " is read-only: " + hive.parsed.writeRefused
            + ", so a file Quern wrote could mean something else to Wine.";
        m_loadMessages.push_back(hive.path + ": " + hive.parsed.writeRefused + ". Quern will not write it.");
    }
    if (links > 1) {
        const std::string reason = hardLinkReason(hive.fileName, links);
        hive.readOnlyReason += (hive.readOnlyReason.empty() ? "" : " ") + reason;
        m_loadMessages.push_back(hive.path + ": " + reason);
    }
    // A file its owner marked read-only stays as it is, even for root, who could replace it.
    if (const std::string reason = notWritableReason(hive); !reason.empty()) {
        hive.readOnlyReason += (hive.readOnlyReason.empty() ? "" : " ") + reason;
        m_loadMessages.push_back(hive.path + ": " + reason);
    }
}

bool WinePrefixStore::indexHive(HiveId id, std::unique_ptr<Key>& root) {
    HiveFile& hive = file(id);
    UniqueFd fd;
    struct stat st { };
    if (!openRegularFile(hive.path, FileLimit { kMaxRegistryFileSize }, fd, st).ok()) return false;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size == 0 || size < m_options.readOnFirstUseFrom) return false;
    auto mapping = std::make_unique<FileMapping>();
    if (!mapping->map(fd.get(), static_cast<std::size_t>(size))) return false;
    ParsedFile header;
    // The file's hash is taken by the threads of the pass, each over the part it read.
    const std::string_view bytes = mapping->bytes();
    std::vector<std::uint64_t> chunkHashes((bytes.size() + ContentHash::kChunk - 1) / ContentHash::kChunk);
    auto index = RegFileIndex::build(
        bytes, id == kSystem ? std::string_view() : prefixArch(), header, [&](std::size_t from, std::size_t to) {
            for (std::size_t at = from; at < to; at += ContentHash::kChunk)
                chunkHashes[at / ContentHash::kChunk] = ContentHash::chunkHash(bytes.substr(at, ContentHash::kChunk));
        });
    if (!index) return false;
    const std::size_t hash = ContentHash::ofChunks(chunkHashes, bytes.size());
    if (mapping->faulted()) return false;
    hive.parsed = std::move(header);
    hive.mapping = std::move(mapping);
    hive.mappedFile = std::move(fd);
    hive.index = std::move(index);
    hive.arena = std::make_unique<KeyArena>();
    hive.lastLook = std::chrono::steady_clock::now();
    hive.index->prepareRoot(*root);
    // The root's subkeys at once: hives mounted below HKEY_LOCAL_MACHINE go into that list. Lines
    // they hold that Wine cannot read are told below with the header's.
    std::vector<std::string>* messages = std::exchange(hive.messages, nullptr);
    const Status rootRead = hive.readSubkeys(*root);
    hive.messages = messages;
    hive.problemsTold = !hive.parsed.problems.empty();
    if (!rootRead.ok()) {
        hive.forgetMapping();
        root = std::make_unique<Key>(root->name, nullptr, &hive);
        return false;
    }
    // The pass over the whole file read every page of it: the system keeps them, this process need not.
    hive.mapping->releasePages();
    hive.existsOnDisk = true;
    hive.stamp = stampOf(st);
    hive.contentHash = hash;
    checkFile(hive, 1 + otherNames(hive.path, st));
    return true;
}

Status HiveFile::checkMapping() {
    const Status changed(
        Status::ChangedOnDisk, fileName + " was changed on disk since Quern read it; refresh (F5) to read it again.");
    if (mappingChanged || mapping->faulted()) {
        mappingChanged = true;
        return changed;
    }
    // A file written in place would be read half old, half new: a look at it now and then tells.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLook >= std::chrono::milliseconds(50)) {
        lastLook = now;
        struct stat st { };
        if (::fstat(mappedFile.get(), &st) != 0 || stampOf(st) != stamp) {
            mappingChanged = true;
            return changed;
        }
    }
    return Status::Ok;
}

Status HiveFile::valuesOf(Key& key, const Key*& values) {
    if (m_servedKey != &key || m_servedAt != key.source.offset) {
        m_servedKey = nullptr;
        if (const Status st = checkMapping(); !st.ok()) return st;
        m_served.values = ValueList();
        m_served.extra.reset();
        m_served.modified = 0;
        m_served.source = {};
        if (!index->readValues(key, m_served).ok() || mapping->faulted()) {
            mappingChanged = true;
            return checkMapping();
        }
        m_servedKey = &key;
        m_servedAt = key.source.offset;
    }
    values = &m_served;
    return Status::Ok;
}

Status HiveFile::readValues(Key& key) {
    if (!key.valuesInFile || !index || !mapping) return Hive::readValues(key);
    const Key* values = nullptr;
    if (const Status st = valuesOf(key, values); !st.ok()) return st;
    key.values = std::move(m_served.values);
    key.valuesInFile = false;
    m_servedKey = nullptr;
    return Status::Ok;
}

Status HiveFile::valueInFile(
    Key& key, std::size_t position, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data) {
    const Key* values = nullptr;
    if (const Status st = valuesOf(key, values); !st.ok()) return st;
    if (position >= values->values.size()) return Status::NoMoreItems;
    const RawValue& value = values->values[position];
    name = value.name;
    if (type) *type = value.type;
    if (data) *data = value.data;
    return Status::Ok;
}

Status HiveFile::namedValueInFile(
    Key& key, std::u16string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) {
    const Key* values = nullptr;
    if (const Status st = valuesOf(key, values); !st.ok()) return st;
    const std::ptrdiff_t at = values->findValue(name);
    if (at < 0) return Status::NotFound;
    type = values->values[static_cast<std::size_t>(at)].type;
    data = values->values[static_cast<std::size_t>(at)].data;
    return Status::Ok;
}

Status HiveFile::valueSizesInFile(Key& key, KeyInfo& info) {
    const Key* values = nullptr;
    if (const Status st = valuesOf(key, values); !st.ok()) return st;
    info.valueCount = static_cast<std::uint32_t>(values->values.size());
    for (const RawValue& value : values->values) {
        info.maxValueNameLength = std::max(info.maxValueNameLength, static_cast<std::uint32_t>(value.name.size()));
        info.maxValueDataLength = std::max(info.maxValueDataLength, static_cast<std::uint32_t>(value.data.size()));
    }
    return Status::Ok;
}

Status HiveFile::readSubkeys(Key& key) {
    if (!index || !mapping) return Hive::readSubkeys(key);
    if (const Status st = checkMapping(); !st.ok()) return st;
    std::vector<std::unique_ptr<Key>> subkeys;
    std::vector<LoadProblem> problems;
    if (!index->readSubkeys(key, *arena, subkeys, problems, bytesReadSinceRelease).ok() || mapping->faulted()) {
        mappingChanged = true;
        return checkMapping();
    }
    // A walk over the whole registry (Find all, an export) reads every page of the file: the
    // system keeps them cached, this process need not hold them.
    if (bytesReadSinceRelease >= kReleaseEvery) {
        mapping->releasePages();
        bytesReadSinceRelease = 0;
    }
    key.subkeys = std::move(subkeys);
    key.subkeysInFile = false;
    if (!problems.empty()) {
        if (messages && !problemsTold)
            messages->push_back(path + ", line " + std::to_string(problems.front().line) + ": " + problems.front().what
                + ". Quern keeps such lines as they are and writes them back unchanged.");
        problemsTold = true;
        parsed.problems.insert(parsed.problems.end(), problems.begin(), problems.end());
    }
    return Status::Ok;
}

void HiveFile::forgetMapping() {
    m_servedKey = nullptr;
    index.reset();
    mapping.reset();
    mappedFile.reset();
    arena.reset();
    mappingChanged = false;
    problemsTold = false;
}

void WinePrefixStore::remapWritten(HiveFile& hive, const std::vector<BlockPlacement>& placements) {
    if (!hive.index) return;
    UniqueFd fd;
    struct stat st { };
    auto mapping = std::make_unique<FileMapping>();
    // The blocks move only together with the text they stand in: the new file, mapped.
    bool moved = openRegularFile(hive.path, FileLimit { kMaxRegistryFileSize }, fd, st).ok()
        && stampOf(st) == hive.stamp && st.st_size > 0 && mapping->map(fd.get(), static_cast<std::size_t>(st.st_size));
    for (const auto& placed : placements)
        if (moved && placed.below && !hive.index->moveBlocksBelow(*placed.key, placed.range.offset)) moved = false;
    if (moved) {
        hive.index->setText(mapping->bytes());
        hive.forgetServed();
        hive.mapping = std::move(mapping);
        hive.mappedFile = std::move(fd);
        return;
    }
    // Someone replaced the file the moment it was written, or it could not be mapped: what is not
    // read yet is read after a refresh, and nothing is written before it (the blocks it would copy
    // are not where the index says).
    hive.mappingChanged = true;
}

std::string WinePrefixStore::notWritableReason(const HiveFile& hive) {
    struct stat st { };
    if (::stat(hive.path.c_str(), &st) != 0) return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    if ((st.st_mode & 0222) == 0)
        return hive.fileName + " is marked read-only (mode " + mode + "), so Quern reads it but does not write it.";
    if (::access(hive.path.c_str(), W_OK) != 0)
        return hive.fileName + " cannot be written (" + systemError(errno)
            + "), so Quern reads it but does not write it.";
    return {};
}

// Two of the prefix's names for one file (a symbolic link from user.reg to system.reg, say): each
// write of one would throw away what the other wrote, so neither is written.
void WinePrefixStore::refuseSharedFiles() {
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j) {
            HiveFile& a = file(static_cast<HiveId>(i));
            HiveFile& b = file(static_cast<HiveId>(j));
            if (!a.existsOnDisk || !b.existsOnDisk || a.stamp.device != b.stamp.device
                || a.stamp.inode != b.stamp.inode)
                continue;
            const std::string reason = a.fileName + " and " + b.fileName
                + " are one file (through a symbolic or hard link); a write of either would lose what the "
                  "other holds, so Quern reads them but does not write them.";
            for (HiveFile* hive : { &a, &b })
                if (hive->readOnlyReason.find(reason) == std::string::npos)
                    hive->readOnlyReason += (hive->readOnlyReason.empty() ? "" : " ") + reason;
            m_loadMessages.push_back(m_options.prefixDir + ": " + reason);
        }
}

void WinePrefixStore::createOwnRegistry() {
    if (file(kSystem).existsOnDisk || file(kUser).existsOnDisk || file(kUserDefault).existsOnDisk) return;
    if (!readOnlyReason().empty()) return;
    WriteBatch batch(*this);
    (void)createBaseKeys(*this);
    // Every file is written, so that the registry exists on disk from its first use.
    for (int i = 0; i < 3; ++i)
        file(static_cast<HiveId>(i)).dirty = true;
    if (const Status st = batch.finish(); !st.ok())
        m_loadMessages.push_back("Quern could not create its registry: " + st.message());
}

// A file written beside the one it replaces (the hive's own, or where its symbolic link leads),
// waiting for its rename.
struct WinePrefixStore::Prepared {
    HiveFile* hive = nullptr;
    std::unique_ptr<AtomicFile> file;
    std::vector<BlockPlacement> placements;
    std::uint64_t headerLength = 0; // of the new text: the header the next write copies
    std::size_t contentHash = 0; // of the new text
};

// What one write holds from its last look at the files until they are in place: the two locks and
// the files made so far.
struct WinePrefixStore::WriteSession {
    UniqueFd writer;
    ServerLock server;
    std::vector<Prepared> prepared;

    void removeTemporaryFiles() const {
        for (const auto& p : prepared)
            p.file->abandon();
    }
};

Status WinePrefixStore::mayChange(Hive& part) {
    auto& hive = static_cast<HiveFile&>(part);
    // A server may have started since the files were read, or another program may have written the
    // file: either way nothing may be changed, so say no before anything is.
    const ServerState server = findServerPatiently(false);
    if (server.running && anotherQuernWrites())
        return Status(Status::WriteFailed,
            "Another Quern is writing this registry and did not finish in time; nothing was changed. Try again.");
    if (server.running) {
        checkServer();
        return Status(Status::AccessDenied, m_readOnly.empty() ? "A wineserver runs for this prefix." : m_readOnly);
    }
    // Made read-only since it was read (chmod leaves the file's stamp as it was).
    if (std::string reason = notWritableReason(hive); !reason.empty()) {
        if (hive.readOnlyReason.find(reason) == std::string::npos)
            hive.readOnlyReason += (hive.readOnlyReason.empty() ? "" : " ") + reason;
        return Status(Status::AccessDenied, reason + " Nothing was changed.");
    }
    struct stat st { };
    const bool existsNow = ::stat(hive.path.c_str(), &st) == 0;
    if (existsNow != hive.existsOnDisk || (existsNow && stampOf(st) != hive.stamp))
        return Status(Status::ChangedOnDisk,
            hive.fileName
                + " was changed on disk since Quern read it. Nothing was "
                  "changed; refresh (F5) to read it again.");
    return Status::Ok;
}

Status WinePrefixStore::commitChanges() {
    std::vector<HiveFile*> dirty;
    for (int i = 0; i < 3; ++i)
        if (file(static_cast<HiveId>(i)).dirty) dirty.push_back(&file(static_cast<HiveId>(i)));
    if (dirty.empty()) {
        if (const Status st = placeMounted(); !st.ok()) return takeBackBatch(st);
        forgetUndo();
        return Status::Ok;
    }
    WriteSession session;
    // Nothing of the batch is kept anywhere: the hives mounted beside the prefix, prepared or
    // placed already, are taken back with the prefix's own files.
    auto abandon = [&](const Status& status) {
        session.removeTemporaryFiles();
        return takeBackBatch(status);
    };
    if (const Status st = lockForWrite(session); !st.ok()) return abandon(st);
    for (HiveFile* hive : dirty)
        if (const Status st = prepareFile(*hive, session); !st.ok()) return abandon(st);
    // Every file of the batch is complete on disk: only renames are left, the hives' first.
    if (const Status st = placeMounted(); !st.ok()) return abandon(st);
    return replaceFiles(session);
}

// From here until the files are in place no other Quern writes and no wineserver starts.
Status WinePrefixStore::lockForWrite(WriteSession& session) {
    if (const Status st = takeWriterLock(session.writer); !st.ok()) return st;
    // Quern's own registry is no Wine prefix unless someone makes it one: no server folders are
    // made for it, and a lock is taken only where a server has been.
    const ServerLock::Taken taken
        = session.server.acquire(m_options.prefixDir, m_options.serverPaths, !m_options.createIfMissing);
    if (taken.status == Status::AccessDenied) {
        m_readOnly = serverReason(taken.holder);
        return Status(Status::AccessDenied, m_readOnly);
    }
    if (!taken.status.ok())
        return Status(Status::WriteFailed,
            "Quern cannot take the wineserver's lock: " + taken.status.message()
                + ". Nothing was written: without it a Wine program that starts meanwhile could read the old "
                  "files and later write them back.");
    if (m_options.scanProcesses) {
        if (const ServerState other = session.server.serverStartedElsewhere(true); other.running) {
            m_readOnly = serverReason(other.pid);
            return Status(Status::AccessDenied, m_readOnly);
        }
    }
    (void)removeStaleTemporaryFiles();
    return Status::Ok;
}

// The file as it is on disk now, which must be the one that was read: fd gets it, open, to copy
// the unchanged blocks from (-1 when there is no file).
Status WinePrefixStore::checkUnchanged(HiveFile& hive, UniqueFd& fd) {
    fd.reset();
    if (!hive.existsOnDisk) {
        if (::access(hive.path.c_str(), F_OK) != 0) return Status::Ok;
        return Status(Status::ChangedOnDisk,
            hive.fileName
                + " was created by someone else since Quern looked. "
                  "Nothing was written; refresh (F5) to read it.");
    }
    const Status changed(Status::ChangedOnDisk,
        hive.fileName
            + " was changed on disk since Quern read it. "
              "Nothing was written; refresh (F5) to read it again.");
    struct stat st { };
    UniqueFd opened;
    if (const Status open = openRegularFile(hive.path, FileLimit { kMaxRegistryFileSize }, opened, st); !open.ok())
        return open == Status::NotFound
            ? changed
            : Status(Status::WriteFailed, hive.path + " " + open.message() + "; nothing was written.");
    ContentHash hash;
    std::uint64_t size = 0;
    const Status read
        = readToEnd(opened.get(), kMaxRegistryFileSize, size, [&](std::string_view piece) { hash.add(piece); });
    if (!read.ok()) return Status(Status::WriteFailed, hive.path + " " + read.message() + "; nothing was written.");
    FileStamp stamp = stampOf(st);
    stamp.size = static_cast<long long>(size);
    if (stamp != hive.stamp || hash.value() != hive.contentHash) return changed;
    if (const nlink_t others = otherNames(hive.path, st); others > 0) {
        hive.readOnlyReason = hardLinkReason(hive.fileName, others + 1);
        return Status(Status::AccessDenied, hive.readOnlyReason + " Nothing was written.");
    }
    fd = std::move(opened);
    return Status::Ok;
}

// Writes the hive's new content to a temporary file beside the file it replaces, on disk before
// it replaces it: a crash leaves one or the other. The text streams from the tree and the old
// file to the new one through a small buffer: a large registry is never twice in memory.
Status WinePrefixStore::prepareFile(HiveFile& hive, WriteSession& session) {
    std::string target;
    if (const Status followed = writeTarget(hive.path, target); !followed.ok())
        return Status(Status::WriteFailed, hive.path + " " + followed.message() + "; nothing was written.");
    if (hive.index && hive.mappingChanged)
        return Status(Status::ChangedOnDisk,
            hive.fileName
                + " was changed on disk since Quern read it. Nothing was written; refresh (F5) to read it again.");
    UniqueFd fd;
    if (const Status st = checkUnchanged(hive, fd); !st.ok()) return st;
    const std::uint64_t originalSize = fd.valid() ? static_cast<std::uint64_t>(hive.stamp.size) : 0;
    OriginalInFile original(std::move(fd), originalSize);

    // The folder is flushed after the rename; one that cannot even be opened for it is found out now.
    const std::string folder = directoryOf(target);
    if (const UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); !opened.valid())
        return Status(Status::WriteFailed,
            "The folder " + folder + " cannot be opened (" + systemError(errno) + ") to flush " + baseNameOf(target)
                + " to disk once it is replaced; nothing was written.");
    Prepared p;
    p.hive = &hive;
    // Never in place: a registry file half written is worse than one not written.
    p.file = std::make_unique<AtomicFile>();
    AtomicFile& out = *p.file;
    const Status opened
        = out.open(target, false, { m_options.beforeReplace, m_options.syncFolder, m_options.hardLink });
    session.prepared.push_back(std::move(p));
    Prepared& prepared = session.prepared.back();
    if (!opened.ok()) return Status(Status::WriteFailed, hive.path + " cannot be written: " + opened.message());
    // Another program that renames its own copy over the file meanwhile (as most editors and
    // sed -i save) is found out by the rename itself, not only by the look before it.
    out.expectTarget(hive.existsOnDisk ? hive.stamp : FileStamp {});

    ContentHash hash;
    std::uint64_t length = 0;
    Status written;
    const bool serialized = serializeRegFile(
        *hive.root, original, hive.prefixLength, hive.relativeTo,
        [&](std::string_view piece) {
            hash.add(piece);
            written = out.write(piece);
            return written.ok();
        },
        prepared.placements, prepared.headerLength, length, kRegFileWriteBuffer, hive.index.get());
    prepared.contentHash = hash.value();
    if (!serialized && written.ok())
        return Status(Status::WriteFailed,
            hive.path + " could not be read back to copy its unchanged keys; nothing was written.");
    if (serialized) written = out.flush();
    if (!written.ok()) return Status(Status::WriteFailed, hive.path + " cannot be written: " + written.message());
    // Someone who wrote the file in place meanwhile, past the locks, would leave the copied blocks torn.
    if (original.holdsFile() && original.changedSince(hive.stamp))
        return Status(Status::ChangedOnDisk,
            hive.fileName
                + " was changed on disk while Quern wrote it. Nothing was written; refresh (F5) to read it again.");
    return Status::Ok;
}

Status WinePrefixStore::replaceFiles(WriteSession& session) {
    // One by one, each kept under a second name as it was: a rename, or the folder flush that
    // makes it last, that fails puts back every file the batch replaced.
    std::string problem;
    StatusCode failure = StatusCode::WriteFailed;
    std::size_t placed = 0;
    for (; placed < session.prepared.size() && problem.empty(); ++placed) {
        Prepared& p = session.prepared[placed];
        if (const Status replaced = p.file->replace(true); !replaced.ok()) {
            if (replaced == Status::ChangedOnDisk) {
                failure = StatusCode::ChangedOnDisk;
                const std::string error = replaced.message();
                // Rarely, the other program's file cannot be put back: Quern's is then in place.
                problem = error.find("put back") == std::string::npos
                    ? p.hive->fileName
                        + " was changed on disk while Quern wrote it. Nothing was written; refresh (F5) to read it "
                          "again."
                    : p.hive->path + ": " + error + "; Quern's file is in place. Refresh (F5) to read it again.";
            } else {
                problem = p.hive->path + " cannot be replaced: " + replaced.message() + ".";
            }
            break;
        }
        if (const Status synced = p.file->syncFolder(); !synced.ok())
            problem = "The folder " + p.file->folder() + " could not be flushed to disk after " + p.hive->fileName
                + " was replaced (" + synced.message() + ").";
    }
    if (!problem.empty()) return putBackPlaced(session, placed, Status(failure, problem));
    // A server that got going all the same, where the lock did not reach, may have read the old files.
    const ServerState late = session.server.serverStartedElsewhere(m_options.scanProcesses);
    session.server.release();
    std::vector<std::string> replaced;
    for (auto& p : session.prepared) {
        p.file->keepReplaced();
        recordWritten(p);
        replaced.push_back(p.hive->fileName);
    }
    forgetUndo();
    if (late.running) {
        m_readOnly = serverReason(late.pid);
        return Status(Status::WriteFailed, lateServerText(replaced, late.pid));
    }
    return Status::Ok;
}

// Puts back the first placed files of the batch, newest first, after failure stopped it; then the
// whole batch is taken back in memory, while the locks are still held.
Status WinePrefixStore::putBackPlaced(WriteSession& session, std::size_t placed, const Status& failure) {
    std::vector<std::string> putBack;
    std::string notPutBack;
    while (placed-- > 0) {
        Prepared& p = session.prepared[placed];
        const KeptOriginal::PutBack result = p.file->putBack();
        const bool back = result.back.ok();
        if (back) putBack.push_back(p.hive->path);
        if (back && !result.flushed.ok()) notPutBack += " " + p.hive->path + ": " + result.flushed.message() + ".";
        if (!back) {
            notPutBack += " " + p.hive->path + " could not be put back as it was (" + result.back.message()
                + "): it holds the command's change, which Quern no longer shows; its old content is beside it as "
                + p.file->keptPath() + ". Refresh (F5) to read it again.";
            // Never written over: the next change finds it changed on disk.
            p.hive->stamp = FileStamp {};
            continue;
        }
        // The old file itself, or a copy of it where hard links were refused: the same bytes.
        struct stat st { };
        if (::stat(p.hive->path.c_str(), &st) == 0) p.hive->stamp = stampOf(st);
    }
    session.removeTemporaryFiles();
    // The hives go back while the locks are held, so nobody reads the batch half taken back.
    const Status failed
        = takeBackBatch(failure, std::move(putBack), notPutBack.empty() ? std::string() : notPutBack.substr(1));
    session.server.release();
    return failed;
}

// The hive as written: what the next write compares the file with, and where each block now stands.
void WinePrefixStore::recordWritten(const Prepared& p) {
    HiveFile& hive = *p.hive;
    struct stat st { };
    if (::stat(hive.path.c_str(), &st) == 0) hive.stamp = stampOf(st);
    hive.existsOnDisk = true;
    hive.contentHash = p.contentHash;
    // The header as written, with any lines Quern keeps in it: not up to the first '[', which
    // may be a key line Wine cannot read.
    hive.prefixLength = p.headerLength;
    // A file written anew, where there was none, has the header Quern writes, for 64 bits: the user's
    // files read again later must be measured against that, not against a file never read.
    if (!hive.parsed.isRegistryFile) {
        hive.parsed.isRegistryFile = true;
        hive.parsed.arch = "win64";
    }
    for (const auto& placed : p.placements) {
        if (placed.below) continue;
        placed.key->source = placed.range;
        placed.key->dirty = false;
        placed.key->merged = false;
    }
    remapWritten(hive, p.placements);
    hive.dirty = false;
    ++m_filesWritten;
}

Status WinePrefixStore::refresh() {
    // Handles stay valid for files that did not change; the tree above reopens what it shows.
    checkServer();
    for (int i = 0; i < 3; ++i) {
        const HiveFile& hive = file(static_cast<HiveId>(i));
        struct stat st { };
        const bool existsNow = ::stat(hive.path.c_str(), &st) == 0;
        const bool changed = existsNow != hive.existsOnDisk || (existsNow && stampOf(st) != hive.stamp)
            || !hive.readOnlyReason.empty() || hive.mappingChanged;
        if (changed) loadHive(static_cast<HiveId>(i));
    }
    refuseSharedFiles();
    // Hive files loaded beside the prefix that changed on disk are read again as well.
    return refreshMounted();
}

RegistryChoice chooseRegistry() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix) return { prefix, false };
    const char* home = std::getenv("HOME");
    const std::string homeDir = home && *home ? home : ".";
    if (::access((homeDir + "/.wine/system.reg").c_str(), F_OK) == 0) return { homeDir + "/.wine", false };
    const char* data = std::getenv("XDG_DATA_HOME");
    return { ownRegistryFolder(homeDir, data ? data : ""), true };
}

std::string ownRegistryFolder(const std::string& homeDir, const std::string& dataHome) {
    return (dataHome.empty() ? homeDir + "/.local/share" : dataHome) + "/quern/registry";
}

std::unique_ptr<RegStore> openChosenRegistry() {
    const RegistryChoice choice = chooseRegistry();
    WinePrefixOptions options;
    options.prefixDir = choice.prefixDir;
    options.createIfMissing = choice.ownRegistry;
    return std::make_unique<WinePrefixStore>(std::move(options));
}

} // namespace quern::reg
