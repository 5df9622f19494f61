#include "registry/WineServer.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quern::reg {

namespace {

// Who holds the write lock on byte 0 of the lock file: what wineserver takes for its lifetime.
pid_t lockHolder(const std::string& lockPath) {
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct flock query { };
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 1;
    pid_t holder = 0;
    if (::fcntl(fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK) holder = query.l_pid > 0 ? query.l_pid : 1;
    ::close(fd);
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
    ServerState state;
    const std::string folder = serverFolderName(prefixDir);
    if (folder.empty()) return state;

    // Debian's wine names its temporary folder in the prefix's file "wineserver".
    std::string debianName;
    {
        std::ifstream in(prefixDir + "/wineserver");
        std::getline(in, debianName);
        while (
            !debianName.empty() && (debianName.back() == '\n' || debianName.back() == '\r' || debianName.back() == ' '))
            debianName.pop_back();
    }
    std::string candidates[2];
    if (!debianName.empty() && debianName.find('/') == std::string::npos)
        candidates[0] = paths.tmpDir + "/" + debianName + "/" + folder + "/lock";
    candidates[1] = paths.upstreamDir + "/" + folder + "/lock";
    for (const auto& lock : candidates) {
        if (lock.empty()) continue;
        if (const pid_t pid = lockHolder(lock)) {
            state = { true, pid, "it holds the lock " + lock };
            return state;
        }
    }
    if (!withProcessScan) return state;

    // Servers started with another TMPDIR keep their folder elsewhere: look at the processes.
    char resolved[4096];
    const std::string prefixReal = ::realpath(prefixDir.c_str(), resolved) ? resolved : prefixDir;
    DIR* proc = ::opendir(paths.procDir.c_str());
    if (!proc) return state;
    while (const dirent* entry = ::readdir(proc)) {
        const char* name = entry->d_name;
        if (*name < '0' || *name > '9') continue;
        const std::string base = paths.procDir + "/" + name;
        std::string comm;
        {
            std::ifstream in(base + "/comm");
            std::getline(in, comm);
        }
        if (comm.rfind("wineserver", 0) != 0) continue;
        bool match = false;
        const std::string cwd = readLink(base + "/cwd");
        if (cwd == prefixReal || endsWithFolder(cwd, folder)) match = true;
        if (!match) {
            if (DIR* fds = ::opendir((base + "/fd").c_str())) {
                while (const dirent* fd = ::readdir(fds)) {
                    if (fd->d_name[0] == '.') continue;
                    const std::string target = readLink(base + "/fd/" + fd->d_name);
                    if (target == prefixReal || endsWithFolder(target, folder)) {
                        match = true;
                        break;
                    }
                }
                ::closedir(fds);
            }
        }
        if (match) {
            state
                = { true, static_cast<pid_t>(std::atol(name)), "process " + std::string(name) + " serves this prefix" };
            break;
        }
    }
    ::closedir(proc);
    return state;
}

} // namespace quern::reg
