#include "registry/WinePrefixStore.h"

#include "codec/Utf.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
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

constexpr int kMaxLinks = 16;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::u16string_view kDefaultSid = u"S-1-5-21-0-0-0-1000";
constexpr std::u16string_view kLinkValueName = u"SymbolicLinkValue";

std::string systemError(int error) {
    return std::strerror(error);
}

FileStamp stampOf(const struct stat& st) {
    return { static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
        static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
        static_cast<long long>(st.st_mtim.tv_nsec) };
}

std::size_t hashOf(std::string_view content) {
    return std::hash<std::string_view> {}(content);
}

std::string kindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO (a named pipe)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

std::string readLinkText(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

enum class ReadResult { Ok, Missing, Refused };

// Reads a whole registry file. Refused: why says what is wrong with it, as words that follow its name.
ReadResult readRegistryFile(
    const std::string& path, std::string& content, FileStamp& stamp, nlink_t& links, std::string& why) {
    // Opened without blocking: a FIFO would otherwise wait for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat link { };
        if (error == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            why = "is a symbolic link to " + readLinkText(path) + ", which does not exist";
            return ReadResult::Refused;
        }
        if (error == ENOENT) return ReadResult::Missing;
        why = "cannot be read (" + systemError(error) + ")";
        return ReadResult::Refused;
    }
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        why = "cannot be read (" + systemError(errno) + ")";
        ::close(fd);
        return ReadResult::Refused;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "is " + kindOfFile(st.st_mode) + ", not a regular file";
        ::close(fd);
        return ReadResult::Refused;
    }
    static_assert(kMaxRegistryFileSize % (1LL << 30) == 0, "the limit is said in GiB");
    const std::string limit = std::to_string(kMaxRegistryFileSize >> 30) + " GiB";
    if (st.st_size > kMaxRegistryFileSize) {
        why = "is larger than " + limit + " (" + std::to_string(st.st_size) + " bytes), more than any registry file";
        ::close(fd);
        return ReadResult::Refused;
    }
    content.clear();
    content.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    for (;;) {
        if (done > static_cast<std::size_t>(kMaxRegistryFileSize)) {
            why = "grew past " + limit + " while it was read, more than any registry file";
            ::close(fd);
            return ReadResult::Refused;
        }
        if (done == content.size()) content.resize(done + 65536 + done / 2); // the file grew while read
        const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            why = "cannot be read (" + systemError(errno) + ")";
            ::close(fd);
            return ReadResult::Refused;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    content.resize(done);
    stamp = stampOf(st);
    stamp.size = static_cast<long long>(done);
    links = st.st_nlink;
    ::close(fd);
    return ReadResult::Ok;
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
bool writeTarget(const std::string& path, std::string& target, std::string& why) {
    struct stat st { };
    target = path;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        why = "is a symbolic link to " + readLinkText(path) + ", which cannot be followed (" + systemError(errno) + ")";
        return false;
    }
    target = resolved;
    std::free(resolved);
    return true;
}

// A descriptor closed when it goes.
struct OwnedFd {
    int fd = -1;
    OwnedFd() = default;
    explicit OwnedFd(int f)
        : fd(f) { }
    OwnedFd(OwnedFd&& other) noexcept
        : fd(std::exchange(other.fd, -1)) { }
    OwnedFd& operator=(OwnedFd&&) = delete;
    ~OwnedFd() {
        if (fd >= 0) ::close(fd);
    }
};

bool writeAll(int fd, std::string_view data, int& error) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool splitPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1); // a trailing backslash is allowed
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(u'\\', start);
        const auto part = path.substr(start, slash == path.npos ? path.npos : slash - start);
        if (part.empty() || part.size() > kMaxKeyNameLength) return false;
        parts.push_back(part);
        if (slash == path.npos) return true;
        start = slash + 1;
    }
}

// What splitPath accepts, without keeping the parts.
bool validPath(std::u16string_view path) {
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(u'\\', start);
        const std::size_t length = (slash == path.npos ? path.size() : slash) - start;
        if (length == 0 || length > kMaxKeyNameLength) return false;
        if (slash == path.npos) return true;
        start = slash + 1;
    }
}

std::size_t depthOf(const Key* key) {
    std::size_t depth = 0;
    for (; key->parent; key = key->parent)
        ++depth;
    return depth;
}

bool isInside(const Key* key, const Key* subtree) {
    for (; key; key = key->parent)
        if (key == subtree) return true;
    return false;
}

// The SID that names the user's hive: the last component of user.reg's header path.
std::u16string sidOf(const std::string& relativeTo) {
    const auto slash = relativeTo.rfind('\\');
    std::string last = slash == std::string::npos ? std::string() : relativeTo.substr(slash + 1);
    if (last.empty() || last.find_first_of("[]\"") != std::string::npos) return std::u16string(kDefaultSid);
    return toUtf16(last);
}

} // namespace

WinePrefixStore::WinePrefixStore(WinePrefixOptions options)
    : m_options(std::move(options)) {
    static const char* const kFiles[3] = { "system.reg", "user.reg", "userdef.reg" };
    for (int i = 0; i < 3; ++i) {
        m_hives[i].fileName = kFiles[i];
        m_hives[i].path = m_options.prefixDir + "/" + kFiles[i];
    }
    m_users = std::make_unique<Key>(u"User", nullptr, nullptr);
    m_dynData = std::make_unique<Key>(u"DynData", nullptr, nullptr);

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
        m_globalReadOnly = "The registry folder " + m_options.prefixDir + " does not exist.";
        m_loadMessages.push_back(m_globalReadOnly);
    }
    checkServer();
    if (m_globalReadOnly.empty()) {
        // A Quern that died while writing leaves its temporary files. They go only under the writers'
        // lock, when no write can be under way; a Quern writing just now cleans up at its next write.
        const OwnedFd folder(::open(m_options.prefixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.fd >= 0 && ::flock(folder.fd, LOCK_EX | LOCK_NB) == 0) removeStaleTemporaryFiles();
    }
    loadAll();
    if (m_options.createIfMissing && m_globalReadOnly.empty()) createOwnRegistry();
}

WinePrefixStore::~WinePrefixStore() = default;

std::uint64_t WinePrefixStore::now() const {
    return m_options.clock ? m_options.clock() : fileTimeNow();
}

void WinePrefixStore::checkServer() {
    if (m_prefixMissing) return;
    m_globalReadOnly.clear();
    // Every write takes Quern's own lock on the prefix folder, and never goes without it.
    const OwnedFd folder(::open(m_options.prefixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) {
        m_globalReadOnly = "The registry folder " + m_options.prefixDir + " cannot be opened (" + systemError(errno)
            + "), so Quern cannot lock it while it writes and shows the registry read-only.";
        return;
    }
    const ServerState server = findWineServer(m_options.prefixDir, m_options.serverPaths, m_options.scanProcesses);
    if (server.running) m_globalReadOnly = serverReason(server.pid);
}

Status WinePrefixStore::takeWriterLock(int& fd) {
    fd = ::open(m_options.prefixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        m_globalReadOnly = "The registry folder " + m_options.prefixDir + " cannot be opened (" + systemError(error)
            + "), so Quern cannot lock it while it writes and shows the registry read-only.";
        return Status(Status::AccessDenied, m_globalReadOnly + " Nothing was written.");
    }
    // Another Quern's write takes milliseconds; one that goes on longer is waited for only so long.
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, m_options.writerWaitMilliseconds));
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            fd = -1;
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

void WinePrefixStore::removeStaleTemporaryFiles() {
    for (const auto& hive : m_hives) {
        std::string target;
        std::string why;
        if (!writeTarget(hive.path, target, why)) continue;
        const std::string pattern = "." + baseNameOf(target) + ".quern-";
        const std::string folder = directoryOf(target);
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (std::string_view(entry->d_name).starts_with(pattern))
                    ::unlink((folder + "/" + entry->d_name).c_str());
            ::closedir(dir);
        }
    }
}

void WinePrefixStore::loadAll() {
    for (int i = 0; i < 3; ++i)
        loadHive(static_cast<HiveId>(i));
}

// The architecture wineserver gives the prefix once it has read system.reg, which it reads first:
// what its #arch line says, 32-bit when it has none or is no registry file, 64-bit when there is
// none; the user's files must say the same.
std::string_view WinePrefixStore::prefixArch() const {
    const Hive& system = m_hives[kSystem];
    if (!system.existsOnDisk) return system.readOnlyReason.empty() ? "win64" : "";
    if (system.parsed.isRegistryFile && !system.parsed.arch.empty()) return system.parsed.arch;
    return "win32";
}

void WinePrefixStore::loadHive(HiveId id) {
    Hive& hive = m_hives[id];
    auto root
        = std::make_unique<Key>(id == kSystem ? u"Machine" : (id == kUserDefault ? u".Default" : u""), nullptr, &hive);
    hive.existsOnDisk = false;
    hive.readOnlyReason.clear();
    hive.parsed = ParsedFile {};
    hive.prefixLength = 0;
    hive.contentHash = 0;
    hive.stamp = FileStamp {};
    hive.dirty = false;

    std::string content;
    std::string why;
    nlink_t links = 1;
    const ReadResult read
        = m_prefixMissing ? ReadResult::Missing : readRegistryFile(hive.path, content, hive.stamp, links, why);
    if (read == ReadResult::Refused) {
        hive.readOnlyReason = hive.fileName + " " + why + "; nothing was read from it and Quern will not write it.";
        m_loadMessages.push_back(hive.path + " " + why + "; nothing was read from it and it is left as it is.");
    } else if (read == ReadResult::Ok) {
        hive.existsOnDisk = true;
        hive.contentHash = hashOf(content);
        hive.parsed = parseRegFile(content, *root, id == kSystem ? std::string_view() : prefixArch());
        if (!hive.parsed.isRegistryFile) {
            hive.readOnlyReason = hive.fileName + " is not a Wine registry file (" + hive.parsed.error
                + "); nothing was read from it and Quern will not write it.";
            m_loadMessages.push_back(hive.path + " is not a Wine registry file: " + hive.parsed.error
                + ". Nothing was read from it and it is left as it is.");
            root = std::make_unique<Key>(root->name, nullptr, &hive);
        } else {
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
        }
    }
    if (hive.relativeTo.empty()) {
        hive.relativeTo = id == kSystem
            ? "REGISTRY\\\\Machine"
            : (id == kUser ? "REGISTRY\\\\User\\\\" + toUtf8(kDefaultSid) : "REGISTRY\\\\User\\\\.Default");
    }
    if (id == kUser) root->name = sidOf(hive.relativeTo);
    if (hive.root) forgetHandlesInto(hive.root);

    if (id == kSystem) {
        m_machine = std::move(root);
        hive.root = m_machine.get();
        return;
    }
    // The user hives hang below HKEY_USERS, replacing what was read before.
    auto& list = m_users->subkeys;
    list.erase(
        std::remove_if(list.begin(), list.end(), [&](const std::unique_ptr<Key>& k) { return k.get() == hive.root; }),
        list.end());
    root->parent = m_users.get();
    hive.root = root.get();
    const std::size_t pos = m_users->subkeyPosition(root->name);
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), std::move(root));
}

void WinePrefixStore::createOwnRegistry() {
    if (m_hives[kSystem].existsOnDisk || m_hives[kUser].existsOnDisk || m_hives[kUserDefault].existsOnDisk) return;
    if (!readOnlyReason().empty()) return;
    static constexpr std::u16string_view kBaseKeys[]
        = { u"Software\\Classes", u"System\\CurrentControlSet\\Hardware Profiles\\Current" };
    WriteBatch batch(*this);
    int links = 0;
    Key* key = nullptr;
    for (const auto& base : kBaseKeys)
        (void)walk(m_machine.get(), base, 0, true, key, nullptr, links);
    (void)walk(m_hives[kUser].root, u"Software", 0, true, key, nullptr, links);
    (void)walk(m_hives[kUserDefault].root, u"Software", 0, true, key, nullptr, links);
    // Every file is written, so that the registry exists on disk from its first use.
    for (auto& hive : m_hives)
        hive.dirty = true;
    if (const Status st = batch.finish(); !st.ok())
        m_loadMessages.push_back("Quern could not create its registry: " + st.message());
}

Status WinePrefixStore::resolveRoot(HKey root, Key*& key) {
    int links = 0;
    switch (root) {
    case kLocalMachine:
        key = m_machine.get();
        return Status::Ok;
    case kCurrentUser:
        key = m_hives[kUser].root;
        return Status::Ok;
    case kUsers:
        key = m_users.get();
        return Status::Ok;
    case kDynData:
        key = m_dynData.get();
        return Status::Ok;
    case kClassesRoot:
        return walk(m_machine.get(), u"Software\\Classes", 0, false, key, nullptr, links);
    case kCurrentConfig:
        return walk(
            m_machine.get(), u"System\\CurrentControlSet\\Hardware Profiles\\Current", 0, false, key, nullptr, links);
    default:
        return Status::InvalidHandle;
    }
}

Status WinePrefixStore::resolve(HKey handle, Key*& key, Access& access) {
    if (isPredefined(handle)) {
        access = Access::Full;
        return resolveRoot(handle, key);
    }
    const auto it = m_handles.find(handle);
    if (it == m_handles.end()) return Status::InvalidHandle;
    if (!it->second.key) return Status::KeyDeleted;
    key = it->second.key;
    access = it->second.access;
    return Status::Ok;
}

HKey WinePrefixStore::newHandle(Key* key, Access access) {
    while (m_nextHandle == kNoKey || isPredefined(m_nextHandle) || m_handles.count(m_nextHandle))
        ++m_nextHandle;
    const HKey handle = m_nextHandle++;
    m_handles.emplace(handle, OpenHandle { key, access });
    return handle;
}

Status WinePrefixStore::followLink(Key* link, Key*& target, int& linksFollowed) {
    if (++linksFollowed > kMaxLinks)
        return Status(
            Status::LinkLoop, "A chain of link keys loops or is longer than " + std::to_string(kMaxLinks) + " links.");
    const std::ptrdiff_t index = link->findValue(kLinkValueName);
    if (index < 0) return Status::NotFound;
    const RawValue& value = link->values[static_cast<std::size_t>(index)];
    std::u16string path(value.data.size() / 2, u'\0');
    std::memcpy(path.data(), value.data.data(), path.size() * 2);
    while (!path.empty() && path.back() == u'\0')
        path.pop_back();
    // Targets name the kernel's view of the registry: \Registry\Machine\... or \Registry\User\...
    std::vector<std::u16string_view> parts;
    std::u16string_view rest(path);
    if (!rest.empty() && rest.front() == u'\\') rest.remove_prefix(1);
    if (!splitPath(rest, parts) || parts.size() < 2 || !sameName(parts[0], u"Registry")) return Status::NotFound;
    Key* base = nullptr;
    if (sameName(parts[1], u"Machine"))
        base = m_machine.get();
    else if (sameName(parts[1], u"User"))
        base = m_users.get();
    else
        return Status::NotFound;
    const std::size_t skip = static_cast<std::size_t>(parts[1].data() + parts[1].size() - rest.data());
    std::u16string_view below = rest.substr(std::min(rest.size(), skip + 1));
    if (skip >= rest.size()) below = {};
    return walk(base, below, 0, false, target, nullptr, linksFollowed);
}

Status WinePrefixStore::walk(Key* start, std::u16string_view path, unsigned options, bool create, Key*& result,
    bool* created, int& linksFollowed) {
    if (created) *created = false;
    if (!path.empty() && path.front() == u'\\') return Status::BadPath;
    // The whole path is checked before anything is made, so a bad name late in it creates nothing.
    if (!validPath(path)) return Status::BadPath;
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    Key* current = start;
    for (std::u16string_view rest = path; !rest.empty();) {
        const std::size_t slash = rest.find(u'\\');
        const std::u16string_view part = rest.substr(0, slash);
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
        const bool last = rest.empty();
        Key* child = current->findSubkey(part);
        if (!child) {
            if (!create) return Status::NotFound;
            if (depthOf(current) + 1 > kMaxKeyDepth) return Status::BadPath;
            if (const Status st = prepareChange(current); st != Status::Ok) return st;
            child = current->addSubkey(std::u16string(part));
            child->modified = now();
            child->dirty = true;
            if (last && (options & kCreateLink)) child->isLink = true;
            m_undo.push_back({ UndoEntry::KeyCreated, current, 0, {}, nullptr, child, 0, false });
            touch(current);
            if (created && last) *created = true;
            current = child;
            continue;
        }
        if (child->isLink && !(last && (options & kOpenLink))) {
            if (const Status st = followLink(child, current, linksFollowed); st != Status::Ok) return st;
        } else {
            current = child;
        }
    }
    result = current;
    return Status::Ok;
}

Status WinePrefixStore::openKey(HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result) {
    Key* base = nullptr;
    Access parentAccess = Access::Read;
    if (const Status st = resolve(parent, base, parentAccess); st != Status::Ok) return st;
    Key* key = nullptr;
    int links = 0;
    if (const Status st = walk(base, path, options, false, key, nullptr, links); st != Status::Ok) return st;
    if (access == Access::Full) {
        if (!key->hive)
            return Status(Status::AccessDenied, "This key belongs to no registry file and cannot be changed.");
        if (!m_globalReadOnly.empty()) return Status(Status::AccessDenied, m_globalReadOnly);
        if (!key->hive->readOnlyReason.empty()) return Status(Status::AccessDenied, key->hive->readOnlyReason);
    }
    result = newHandle(key, access);
    return Status::Ok;
}

Status WinePrefixStore::createKey(
    HKey parent, std::u16string_view path, Access access, unsigned options, HKey& result, bool* created) {
    Key* base = nullptr;
    Access parentAccess = Access::Read;
    if (const Status st = resolve(parent, base, parentAccess); st != Status::Ok) return st;
    Key* key = nullptr;
    int links = 0;
    const Status st = walk(base, path, options, true, key, created, links);
    if (st != Status::Ok) {
        if (m_batchDepth == 0) undo({});
        return st;
    }
    if (const Status done = finishChange(Status::Ok); done != Status::Ok) return done;
    if (access == Access::Full && (!key->hive || !m_globalReadOnly.empty() || !key->hive->readOnlyReason.empty()))
        return Status(Status::AccessDenied, readOnlyReason());
    result = newHandle(key, access);
    return Status::Ok;
}

Status WinePrefixStore::closeKey(HKey key) {
    if (isPredefined(key)) return Status::Ok;
    return m_handles.erase(key) ? Status::Ok : Status::InvalidHandle;
}

Status WinePrefixStore::keyForWriting(HKey handle, Key*& key) {
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (access != Access::Full) return Status(Status::AccessDenied, "The key is open for reading only.");
    return prepareChange(key);
}

Status WinePrefixStore::prepareChange(Key* key) {
    Hive* hive = key->hive;
    if (!hive) return Status(Status::AccessDenied, "This key belongs to no registry file and cannot be changed.");
    if (!m_globalReadOnly.empty()) return Status(Status::AccessDenied, m_globalReadOnly);
    if (!hive->readOnlyReason.empty()) return Status(Status::AccessDenied, hive->readOnlyReason);
    if (hive->checkedInBatch) return Status::Ok;
    // A server may have started since the files were read, or another program may have written the
    // file: either way nothing may be changed, so say no before anything is.
    const ServerState server = findWineServer(m_options.prefixDir, m_options.serverPaths, false);
    if (server.running) {
        checkServer();
        return Status(
            Status::AccessDenied, m_globalReadOnly.empty() ? "A wineserver runs for this prefix." : m_globalReadOnly);
    }
    struct stat st { };
    const bool existsNow = ::stat(hive->path.c_str(), &st) == 0;
    if (existsNow != hive->existsOnDisk || (existsNow && stampOf(st) != hive->stamp))
        return Status(Status::ChangedOnDisk,
            hive->fileName
                + " was changed on disk since Quern read it. Nothing was "
                  "changed; refresh (F5) to read it again.");
    hive->checkedInBatch = true;
    return Status::Ok;
}

void WinePrefixStore::touch(Key* key) {
    m_undo.push_back({ UndoEntry::Touched, key, 0, {}, nullptr, nullptr, key->modified, key->dirty });
    key->modified = now();
    key->dirty = true;
    key->hive->dirty = true;
}

Status WinePrefixStore::finishChange(Status status) {
    if (m_batchDepth > 0) return status;
    if (status != Status::Ok) {
        undo({});
        return status;
    }
    return commit();
}

Status WinePrefixStore::setValue(
    HKey handle, std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data) {
    Key* key = nullptr;
    if (name.size() > kMaxValueNameLength) return Status::BadPath;
    if (const Status st = keyForWriting(handle, key); st != Status::Ok) return st;
    const std::ptrdiff_t index = key->findValue(name);
    if (index >= 0) {
        RawValue& value = key->values[static_cast<std::size_t>(index)];
        m_undo.push_back(
            { UndoEntry::ValueReplaced, key, static_cast<std::size_t>(index), value, nullptr, nullptr, 0, false });
        value.type = type;
        value.data.assign(data.begin(), data.end());
    } else {
        m_undo.push_back({ UndoEntry::ValueAdded, key, key->values.size(), {}, nullptr, nullptr, 0, false });
        key->appendValue(RawValue { std::u16string(name), type, std::vector<std::uint8_t>(data.begin(), data.end()) });
    }
    touch(key);
    return finishChange(Status::Ok);
}

Status WinePrefixStore::deleteValue(HKey handle, std::u16string_view name) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    const std::ptrdiff_t index = key->findValue(name);
    if (index < 0) return Status::NotFound;
    if (const Status st = keyForWriting(handle, key); st != Status::Ok) return st;
    m_undo.push_back({ UndoEntry::ValueDeleted, key, static_cast<std::size_t>(index),
        std::move(key->values[static_cast<std::size_t>(index)]), nullptr, nullptr, 0, false });
    key->eraseValue(static_cast<std::size_t>(index));
    touch(key);
    return finishChange(Status::Ok);
}

Status WinePrefixStore::deleteKey(HKey parent, std::u16string_view path) {
    Key* base = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(parent, base, access); st != Status::Ok) return st;
    Key* key = nullptr;
    int links = 0;
    if (const Status st = walk(base, path, kOpenLink, false, key, nullptr, links); st != Status::Ok) return st;
    if (!key->parent || !key->hive || key == key->hive->root || (isPredefined(parent) && key == base))
        return Status(Status::AccessDenied, "A root key cannot be deleted.");
    if (!key->subkeys.empty()) return Status::HasSubkeys;
    Key* owner = key->parent;
    if (const Status st = prepareChange(owner); st != Status::Ok) return st;
    const std::size_t pos = owner->subkeyPosition(key->name);
    UndoEntry entry { UndoEntry::KeyRemoved, owner, pos, {}, std::move(owner->subkeys[pos]), nullptr, 0, false };
    owner->subkeys.erase(owner->subkeys.begin() + static_cast<std::ptrdiff_t>(pos));
    forgetHandlesInto(entry.node.get());
    m_undo.push_back(std::move(entry));
    touch(owner);
    return finishChange(Status::Ok);
}

void WinePrefixStore::forgetHandlesInto(const Key* subtree) {
    for (auto& [handle, open] : m_handles)
        if (open.key && isInside(open.key, subtree)) open.key = nullptr;
}

Status WinePrefixStore::enumKey(HKey handle, std::uint32_t index, std::u16string& name) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (index >= key->subkeys.size()) return Status::NoMoreItems;
    name = key->subkeys[index]->name;
    return Status::Ok;
}

Status WinePrefixStore::enumValue(
    HKey handle, std::uint32_t index, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    if (index >= key->values.size()) return Status::NoMoreItems;
    const RawValue& value = key->values[index];
    name = value.name;
    if (type) *type = value.type;
    if (data) *data = value.data;
    return Status::Ok;
}

Status WinePrefixStore::queryInfo(HKey handle, KeyInfo& info) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    info = KeyInfo {};
    info.subkeyCount = static_cast<std::uint32_t>(key->subkeys.size());
    info.valueCount = static_cast<std::uint32_t>(key->values.size());
    for (const auto& sub : key->subkeys)
        info.maxSubkeyNameLength = std::max(info.maxSubkeyNameLength, static_cast<std::uint32_t>(sub->name.size()));
    for (const auto& value : key->values) {
        info.maxValueNameLength = std::max(info.maxValueNameLength, static_cast<std::uint32_t>(value.name.size()));
        info.maxValueDataLength = std::max(info.maxValueDataLength, static_cast<std::uint32_t>(value.data.size()));
    }
    info.lastWriteTime = key->modified;
    if (key->hasClass && key->extra) info.className = key->extra->className;
    info.isLink = key->isLink;
    info.identity = reinterpret_cast<std::uintptr_t>(key);
    return Status::Ok;
}

Status WinePrefixStore::queryValue(
    HKey handle, std::u16string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) {
    Key* key = nullptr;
    Access access = Access::Read;
    if (const Status st = resolve(handle, key, access); st != Status::Ok) return st;
    const std::ptrdiff_t index = key->findValue(name);
    if (index < 0) return Status::NotFound;
    type = key->values[static_cast<std::size_t>(index)].type;
    data = key->values[static_cast<std::size_t>(index)].data;
    return Status::Ok;
}

void WinePrefixStore::beginBatch() {
    ++m_batchDepth;
    m_batchMarks.push_back(m_undo.size());
}

Status WinePrefixStore::endBatch() {
    if (m_batchDepth == 0) return Status::Ok;
    m_batchMarks.pop_back();
    if (--m_batchDepth > 0) return Status::Ok;
    return commit();
}

void WinePrefixStore::abandonBatch() {
    if (m_batchDepth == 0) return;
    const std::size_t mark = std::min(m_batchMarks.back(), m_undo.size());
    m_batchMarks.pop_back();
    for (std::size_t i = m_undo.size(); i-- > mark;)
        undoEntry(m_undo[i]);
    m_undo.resize(mark);
    // A file stays to be written only for the changes of the batches around this one.
    for (auto& hive : m_hives)
        hive.dirty
            = std::any_of(m_undo.begin(), m_undo.end(), [&](const UndoEntry& e) { return e.key->hive == &hive; });
    if (--m_batchDepth == 0) (void)commit();
}

void WinePrefixStore::undo(const std::vector<Hive*>& failed) {
    auto applies = [&](const Key* key) {
        return failed.empty() || std::find(failed.begin(), failed.end(), key->hive) != failed.end();
    };
    for (auto it = m_undo.rbegin(); it != m_undo.rend(); ++it)
        if (applies(it->key)) undoEntry(*it);
    for (auto& hive : m_hives)
        if (failed.empty() || std::find(failed.begin(), failed.end(), &hive) != failed.end()) hive.dirty = false;
    m_undo.clear();
    for (auto& hive : m_hives)
        hive.checkedInBatch = false;
}

void WinePrefixStore::undoEntry(UndoEntry& entry) {
    Key* key = entry.key;
    switch (entry.kind) {
    case UndoEntry::ValueReplaced:
        key->values[entry.index] = std::move(entry.value);
        break;
    case UndoEntry::ValueAdded:
        key->eraseValue(entry.index);
        break;
    case UndoEntry::ValueDeleted:
        key->insertValue(entry.index, std::move(entry.value));
        break;
    case UndoEntry::KeyCreated: {
        auto& list = key->subkeys;
        const Key* child = entry.created;
        const auto pos = std::find_if(list.begin(), list.end(), [&](const auto& k) { return k.get() == child; });
        if (pos != list.end()) {
            forgetHandlesInto(pos->get());
            list.erase(pos);
        }
        break;
    }
    case UndoEntry::KeyRemoved:
        key->subkeys.insert(key->subkeys.begin() + static_cast<std::ptrdiff_t>(key->subkeyPosition(entry.node->name)),
            std::move(entry.node));
        break;
    case UndoEntry::Touched:
        key->modified = entry.modified;
        key->dirty = entry.dirty;
        break;
    }
}

Status WinePrefixStore::commit() {
    struct Prepared {
        Hive* hive;
        std::string tempPath;
        std::string content;
        std::vector<BlockPlacement> placements;
        std::string target; // the file replaced: the hive's own, or where its symbolic link leads
        std::uint64_t headerLength = 0; // of content: the header the next write copies
    };
    std::vector<Prepared> prepared;
    std::vector<Hive*> dirty;
    for (auto& hive : m_hives)
        if (hive.dirty) dirty.push_back(&hive);

    auto abandon = [&](Status status, std::string text = {}) {
        for (const auto& p : prepared)
            if (!p.tempPath.empty()) ::unlink(p.tempPath.c_str());
        undo({});
        return text.empty() ? status : Status(status.code(), std::move(text));
    };

    // From here until the files are in place no other Quern writes and no wineserver starts.
    OwnedFd writer;
    ServerLock server;
    std::vector<std::pair<std::string, OwnedFd>> folders; // each folder a file is replaced in, to flush
    if (!dirty.empty()) {
        if (const Status st = takeWriterLock(writer.fd); st != Status::Ok) return abandon(st);
        pid_t holder = 0;
        std::string why;
        // Quern's own registry is no Wine prefix unless someone makes it one: no server folders are
        // made for it, and a lock is taken only where a server has been.
        const ServerLock::Result taken
            = server.acquire(m_options.prefixDir, m_options.serverPaths, holder, why, !m_options.createIfMissing);
        if (taken == ServerLock::Result::HeldByServer) {
            m_globalReadOnly = serverReason(holder);
            return abandon(Status::AccessDenied, m_globalReadOnly);
        }
        if (taken == ServerLock::Result::Failed)
            return abandon(Status::WriteFailed,
                "Quern cannot take the wineserver's lock: " + why
                    + ". Nothing was written: without it a Wine program that starts meanwhile could read the old "
                      "files and later write them back.");
        if (m_options.scanProcesses) {
            if (const ServerState other = server.serverStartedElsewhere(true); other.running) {
                m_globalReadOnly = serverReason(other.pid);
                return abandon(Status::AccessDenied, m_globalReadOnly);
            }
        }
        removeStaleTemporaryFiles();
    }

    for (Hive* hive : dirty) {
        Prepared p { hive, {}, {}, {}, {} };
        std::string original;
        std::string why;
        if (!writeTarget(hive->path, p.target, why))
            return abandon(Status::WriteFailed, hive->path + " " + why + "; nothing was written.");
        if (hive->existsOnDisk) {
            FileStamp stamp;
            nlink_t links = 1;
            const ReadResult read = readRegistryFile(hive->path, original, stamp, links, why);
            if (read == ReadResult::Refused)
                return abandon(Status::WriteFailed, hive->path + " " + why + "; nothing was written.");
            if (read == ReadResult::Missing || stamp != hive->stamp || hashOf(original) != hive->contentHash)
                return abandon(Status::ChangedOnDisk,
                    hive->fileName
                        + " was changed on disk since Quern read it. "
                          "Nothing was written; refresh (F5) to read it again.");
            if (links > 1) {
                hive->readOnlyReason = hardLinkReason(hive->fileName, links);
                return abandon(Status::AccessDenied, hive->readOnlyReason + " Nothing was written.");
            }
        } else if (::access(hive->path.c_str(), F_OK) == 0) {
            return abandon(Status::ChangedOnDisk,
                hive->fileName
                    + " was created by someone else since Quern looked. "
                      "Nothing was written; refresh (F5) to read it.");
        }
        p.headerLength = serializeRegFile(
            *hive->root, original, hive->prefixLength, hive->relativeTo, p.content, p.placements);

        // The folder is flushed after the rename; one that cannot even be opened for it is found out now.
        const std::string folder = directoryOf(p.target);
        if (std::none_of(folders.begin(), folders.end(), [&](const auto& f) { return f.first == folder; })) {
            OwnedFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (opened.fd < 0)
                return abandon(Status::WriteFailed,
                    "The folder " + folder + " cannot be opened (" + systemError(errno) + ") to flush "
                        + baseNameOf(p.target) + " to disk once it is replaced; nothing was written.");
            folders.emplace_back(folder, std::move(opened));
        }

        // A temporary file beside the old one, on disk before it replaces it: a crash leaves one or the other.
        p.tempPath = folder + "/." + baseNameOf(p.target) + ".quern-XXXXXX";
        const int fd = ::mkstemp(p.tempPath.data());
        if (fd < 0) {
            const int error = errno;
            p.tempPath.clear();
            return abandon(Status::WriteFailed, hive->path + " cannot be written: " + systemError(error));
        }
        prepared.push_back(std::move(p));
        Prepared& ready = prepared.back();
        struct stat st { };
        mode_t mode = 0644;
        if (::stat(hive->path.c_str(), &st) == 0) mode = st.st_mode & 07777;
        int error = 0;
        const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, ready.content, error) && ::fsync(fd) == 0;
        if (!written && error == 0) error = errno;
        if (::close(fd) != 0 && written) error = errno;
        if (!written || error != 0)
            return abandon(Status::WriteFailed, hive->path + " cannot be written: " + systemError(error));
    }

    std::vector<Hive*> notReplaced;
    std::string renameError;
    for (auto& p : prepared) {
        if (m_options.beforeReplace) m_options.beforeReplace(p.tempPath);
        if (::rename(p.tempPath.c_str(), p.target.c_str()) != 0) {
            renameError = p.hive->path + " cannot be replaced: " + systemError(errno);
            ::unlink(p.tempPath.c_str());
            notReplaced.push_back(p.hive);
        }
    }
    // A rename is on disk once its folder is: a folder that cannot be flushed leaves a change that a
    // crash may still take back, and the caller hears of it.
    std::string syncError;
    for (const auto& [folder, opened] : folders) {
        const int synced = m_options.syncFolder ? m_options.syncFolder(opened.fd) : ::fsync(opened.fd);
        if (synced != 0 && syncError.empty())
            syncError = "The folder " + folder + " could not be flushed to disk after its file was replaced ("
                + systemError(errno) + "): the change is in place but may not survive a crash.";
    }
    // A server that got going all the same, where the lock did not reach, may have read the old files.
    const ServerState late = dirty.empty() ? ServerState {} : server.serverStartedElsewhere(m_options.scanProcesses);
    server.release();
    std::string replacedNames;
    std::size_t replacedCount = 0;
    for (auto& p : prepared) {
        if (std::find(notReplaced.begin(), notReplaced.end(), p.hive) != notReplaced.end()) continue;
        Hive& hive = *p.hive;
        struct stat st { };
        if (::stat(hive.path.c_str(), &st) == 0) hive.stamp = stampOf(st);
        hive.existsOnDisk = true;
        hive.contentHash = hashOf(p.content);
        // The header as written, with any lines Quern keeps in it: not up to the first '[', which
        // may be a key line Wine cannot read.
        hive.prefixLength = p.headerLength;
        for (const auto& placed : p.placements) {
            placed.key->source = placed.range;
            placed.key->dirty = false;
            placed.key->merged = false;
        }
        hive.dirty = false;
        ++m_filesWritten;
        replacedNames += (replacedNames.empty() ? "" : " and ") + hive.fileName;
        ++replacedCount;
    }
    std::string problem;
    if (!notReplaced.empty()) {
        undo(notReplaced);
        problem = renameError;
    } else {
        m_undo.clear();
        for (auto& hive : m_hives)
            hive.checkedInBatch = false;
    }
    if (late.running && !replacedNames.empty()) {
        m_globalReadOnly = serverReason(late.pid);
        problem += (problem.empty() ? "" : " ") + replacedNames + (replacedCount > 1 ? " were" : " was")
            + " written, but a wineserver (process " + std::to_string(late.pid)
            + ") started for this prefix meanwhile and may have read the old "
            + (replacedCount > 1 ? "files" : "file")
            + "; it writes its own copy back when it exits, so the change may be lost. Look again once the "
              "prefix's Windows programs have closed.";
    }
    if (!syncError.empty()) problem += (problem.empty() ? "" : " ") + syncError;
    if (!problem.empty()) return Status(Status::WriteFailed, problem);
    return Status::Ok;
}

Status WinePrefixStore::refresh() {
    // Handles stay valid for files that did not change; the tree above reopens what it shows.
    checkServer();
    for (int i = 0; i < 3; ++i) {
        Hive& hive = m_hives[i];
        struct stat st { };
        const bool existsNow = ::stat(hive.path.c_str(), &st) == 0;
        const bool changed = existsNow != hive.existsOnDisk || (existsNow && stampOf(st) != hive.stamp)
            || !hive.readOnlyReason.empty();
        if (changed) loadHive(static_cast<HiveId>(i));
    }
    return Status::Ok;
}

std::string WinePrefixStore::readOnlyReason() const {
    if (!m_globalReadOnly.empty()) return m_globalReadOnly;
    std::string reason;
    for (const auto& hive : m_hives) {
        if (hive.readOnlyReason.empty()) continue;
        if (!reason.empty()) reason += ' ';
        reason += hive.readOnlyReason;
    }
    return reason;
}

RegistryChoice chooseRegistry() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix) return { prefix, false };
    const char* home = std::getenv("HOME");
    const std::string homeDir = home && *home ? home : ".";
    if (::access((homeDir + "/.wine/system.reg").c_str(), F_OK) == 0) return { homeDir + "/.wine", false };
    const char* data = std::getenv("XDG_DATA_HOME");
    const std::string dataDir = data && *data ? data : homeDir + "/.local/share";
    return { dataDir + "/quern/registry", true };
}

std::unique_ptr<WinePrefixStore> openChosenRegistry() {
    const RegistryChoice choice = chooseRegistry();
    WinePrefixOptions options;
    options.prefixDir = choice.prefixDir;
    options.createIfMissing = choice.ownRegistry;
    return std::make_unique<WinePrefixStore>(std::move(options));
}

} // namespace quern::reg
