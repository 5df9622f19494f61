#include "wine/WineServer.h"

#include "codec/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quern::reg {

namespace {

// The lock files this process holds a lock on (ServerLock). Opening and closing one of them would
// let go of the lock, and F_GETLK never names this process's own locks anyway, so they are not looked at.
std::mutex heldMutex;
std::vector<std::pair<dev_t, ino_t>> heldByThisProcess;

bool heldHere(const struct stat& st) {
    const std::lock_guard guard(heldMutex);
    return std::find(heldByThisProcess.begin(), heldByThisProcess.end(), std::pair { st.st_dev, st.st_ino })
        != heldByThisProcess.end();
}

// Who holds the write lock on byte 0 of the lock file: what wineserver takes for its lifetime.
pid_t lockHolder(const std::string& lockPath) {
    struct stat st { };
    if (::stat(lockPath.c_str(), &st) != 0 || heldHere(st)) return 0;
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) fd.reset(::open(lockPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return 0;
    struct flock query { };
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 1;
    pid_t holder = 0;
    if (::fcntl(fd.get(), F_GETLK, &query) == 0 && query.l_type != F_UNLCK) holder = query.l_pid > 0 ? query.l_pid : 1;
    return holder;
}

std::string readLink(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool endsWithFolder(const std::string& path, const std::string& folder) {
    return path.size() >= folder.size() + 1 && path.compare(path.size() - folder.size(), folder.size(), folder) == 0
        && path[path.size() - folder.size() - 1] == '/';
}

// The folder below ${TMPDIR} that Debian's wine names in the prefix's file "wineserver". strict:
// only a name Debian's wine would go on using; it replaces a file of any mode but 0400 with a new
// name when its server starts. The file is opened without blocking: a FIFO there hangs nothing.
std::string debianRootName(const std::string& prefixDir, bool strict) {
    const UniqueFd fd(::open((prefixDir + "/wineserver").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return {};
    struct stat st { };
    char buffer[256];
    ssize_t n = -1;
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && (!strict || (st.st_mode & 07777) == 0400))
        n = ::read(fd.get(), buffer, sizeof buffer);
    if (n <= 0) return {};
    std::string name(buffer, static_cast<std::size_t>(n));
    name = name.substr(0, name.find('\n'));
    while (!name.empty() && (name.back() == '\r' || name.back() == ' '))
        name.pop_back();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
    return name;
}

// Where a server of the prefix keeps its folder: Debian's place first, then upstream's.
struct Place {
    std::string root; // the folder of all server folders
    std::string folder; // server-DEV-INODE
    std::string lock;
};

std::vector<Place> placesOf(const std::string& prefixDir, const ServerSearchPaths& paths, bool strict) {
    std::vector<Place> places;
    const std::string folder = serverFolderName(prefixDir);
    if (folder.empty()) return places;
    const std::string debian = debianRootName(prefixDir, strict);
    if (!debian.empty()) {
        const std::string root = paths.tmpDir + "/" + debian;
        places.push_back({ root, root + "/" + folder, root + "/" + folder + "/lock" });
    }
    places.push_back(
        { paths.upstreamDir, paths.upstreamDir + "/" + folder, paths.upstreamDir + "/" + folder + "/lock" });
    return places;
}

// The processes that hold a file lock, as the kernel lists them; empty, with listed false, where
// it does not.
std::vector<pid_t> lockOwners(const std::string& procDir, bool& listed) {
    std::vector<pid_t> owners;
    std::ifstream locks(procDir + "/locks");
    listed = locks.is_open();
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string id, type, mode, access;
        long pid = 0;
        if (fields >> id >> type && type != "->" && fields >> mode >> access >> pid && pid > 0)
            owners.push_back(static_cast<pid_t>(pid));
    }
    return owners;
}

// Whether the process (its /proc folder) is a wineserver working in the prefix: its working
// folder, or a file it holds open, is the prefix or its server folder.
bool servesPrefix(const std::string& base, const std::string& prefixReal, const std::string& folder) {
    std::string comm;
    {
        std::ifstream in(base + "/comm");
        std::getline(in, comm);
    }
    if (comm.rfind("wineserver", 0) != 0) return false;
    const std::string cwd = readLink(base + "/cwd");
    if (cwd == prefixReal || endsWithFolder(cwd, folder)) return true;
    DIR* fds = ::opendir((base + "/fd").c_str());
    if (!fds) return false;
    bool match = false;
    while (const dirent* fd = ::readdir(fds)) {
        if (fd->d_name[0] == '.') continue;
        const std::string target = readLink(base + "/fd/" + fd->d_name);
        if (target == prefixReal || endsWithFolder(target, folder)) {
            match = true;
            break;
        }
    }
    ::closedir(fds);
    return match;
}

// Servers started with another TMPDIR keep their folder elsewhere: look at the processes. A
// server holds its lock while it runs; a wineserver process that holds none is one that found the
// lock taken and is on its way out, so where the kernel lists its locks, that counts too.
ServerState findServerProcess(const std::string& prefixDir, const std::string& folder, const std::string& procDir) {
    bool locksListed = false;
    const std::vector<pid_t> owners = lockOwners(procDir, locksListed);
    char resolved[4096];
    const std::string prefixReal = ::realpath(prefixDir.c_str(), resolved) ? resolved : prefixDir;
    ServerState state;
    DIR* proc = ::opendir(procDir.c_str());
    if (!proc) return state;
    while (const dirent* entry = ::readdir(proc)) {
        const char* name = entry->d_name;
        if (*name < '0' || *name > '9') continue;
        if (!servesPrefix(procDir + "/" + name, prefixReal, folder)) continue;
        const auto pid = static_cast<pid_t>(std::atol(name));
        if (locksListed && std::find(owners.begin(), owners.end(), pid) == owners.end()) continue;
        state = { true, pid, "process " + std::string(name) + " serves this prefix" };
        break;
    }
    ::closedir(proc);
    return state;
}

ServerState findServer(const std::string& prefixDir, const ServerSearchPaths& paths, bool withProcessScan) {
    const std::string folder = serverFolderName(prefixDir);
    if (folder.empty()) return {};
    for (const auto& place : placesOf(prefixDir, paths, false))
        if (const pid_t pid = lockHolder(place.lock)) return { true, pid, "it holds the lock " + place.lock };
    if (!withProcessScan) return {};
    return findServerProcess(prefixDir, folder, paths.procDir);
}

// Makes a folder of a server's place as wineserver makes it. usable turns false where wineserver
// could not start a server either, so that no server can appear there: a missing parent, a folder
// it may not make, or one that is not a folder of this user's alone. WriteFailed, with why, when
// a folder wineserver could make cannot be made or looked at.
Status makeServerFolder(const std::string& path, bool make, bool& usable) {
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT || !make) {
            usable = false;
            return Status::Ok;
        }
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EROFS || errno == ELOOP) {
                usable = false;
                return Status::Ok;
            }
            return Status(Status::WriteFailed, "cannot make the folder " + path + " (" + std::strerror(errno) + ")");
        }
        if (::lstat(path.c_str(), &st) != 0)
            return Status(Status::WriteFailed, "cannot look at the folder " + path + " (" + std::strerror(errno) + ")");
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) usable = false;
    return Status::Ok;
}

} // namespace

ServerSearchPaths defaultServerSearchPaths() {
    ServerSearchPaths paths;
    const char* tmp = std::getenv("TMPDIR");
    paths.tmpDir = tmp && *tmp ? tmp : "/tmp";
    paths.upstreamDir = "/tmp/.wine-" + std::to_string(::getuid());
    return paths;
}

std::string serverFolderName(const std::string& prefixDir) {
    struct stat st { };
    if (::stat(prefixDir.c_str(), &st) != 0) return {};
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
        static_cast<unsigned long long>(st.st_ino));
    return name;
}

ServerState findWineServer(const std::string& prefixDir, const ServerSearchPaths& paths, bool withProcessScan) {
    return findServer(prefixDir, paths, withProcessScan);
}

// Takes the lock wineserver takes on its lock file: its first byte, for writing. AccessDenied
// with the holder's process when another has it.
ServerLock::Taken lockFirstByte(int fd, const std::string& lockPath) {
    struct flock lock { };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct flock wanted = lock;
        if (::fcntl(fd, F_SETLK, &wanted) == 0) return {};
        if (errno != EAGAIN && errno != EACCES)
            return { Status(Status::WriteFailed, "cannot lock " + lockPath + " (" + std::strerror(errno) + ")") };
        struct flock query = lock;
        if (::fcntl(fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK)
            return { Status::AccessDenied, query.l_pid > 0 ? query.l_pid : 1 };
        // Let go between the two calls: try again.
    }
    return { Status(
        Status::WriteFailed, "the wineserver's lock " + lockPath + " is taken and let go again and again") };
}

ServerLock::Taken ServerLock::acquire(const std::string& prefixDir, const ServerSearchPaths& paths, bool makeFolders) {
    release();
    m_prefixDir = prefixDir;
    m_paths = paths;
    const std::vector<Place> places = placesOf(prefixDir, paths, true);
    if (places.empty()) return { Status(Status::WriteFailed, "the registry folder " + prefixDir + " cannot be found") };
    for (const auto& place : places) {
        bool usable = true;
        Status folders = makeServerFolder(place.root, makeFolders, usable);
        if (folders.ok() && usable) folders = makeServerFolder(place.folder, makeFolders, usable);
        if (!folders.ok()) {
            release();
            return { folders };
        }
        if (!usable) continue;
        UniqueFd fd(::open(
            place.lock.c_str(), O_RDWR | (makeFolders ? O_CREAT : 0) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!fd.valid()) {
            if (errno == ENOENT || errno == ELOOP || errno == EACCES || errno == EROFS || errno == EISDIR
                || errno == ENXIO)
                continue;
            const Status failed(Status::WriteFailed,
                "cannot open the wineserver's lock " + place.lock + " (" + std::strerror(errno) + ")");
            release();
            return { failed };
        }
        struct stat st { };
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue; // wineserver will not start with it either
        if (Taken taken = lockFirstByte(fd.get(), place.lock); !taken.status.ok()) {
            fd.reset();
            release();
            return taken;
        }
        m_held.push_back({ place.lock, std::move(fd), st.st_dev, st.st_ino });
        const std::lock_guard guard(heldMutex);
        heldByThisProcess.emplace_back(st.st_dev, st.st_ino);
    }
    return {};
}

ServerState ServerLock::serverStartedElsewhere(bool withProcessScan) const {
    // Where the lock is held nobody else can have it: what is found was found elsewhere.
    return findServer(m_prefixDir, m_paths, withProcessScan);
}

void ServerLock::release() {
    const std::lock_guard guard(heldMutex);
    for (auto& held : m_held) {
        held.fd.reset();
        const auto it
            = std::find(heldByThisProcess.begin(), heldByThisProcess.end(), std::pair { held.device, held.inode });
        if (it != heldByThisProcess.end()) heldByThisProcess.erase(it);
    }
    m_held.clear();
}

} // namespace quern::reg
