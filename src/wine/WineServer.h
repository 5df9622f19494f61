#pragma once

#include "base/Status.h"
#include "codec/UniqueFd.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace quern::reg {

// Whether a wineserver runs for a prefix. While one does, it owns the registry: it read the files
// at its start and will write its own copy over anything written beside it.
struct ServerState {
    bool running = false;
    pid_t pid = 0;
    std::string how; // how it was found, for the message to the user
};

struct ServerSearchPaths {
    std::string tmpDir; // ${TMPDIR:-/tmp}, where Debian's wine puts its server folders
    std::string upstreamDir; // /tmp/.wine-UID, where upstream Wine puts them
    std::string procDir = "/proc";
};

[[nodiscard]] ServerSearchPaths defaultServerSearchPaths();

// The server folder's name for a prefix: server-DEV-INODE in lower-case hex. Empty if the prefix
// folder does not exist.
[[nodiscard]] std::string serverFolderName(const std::string& prefixDir);

// Looks for a running wineserver of prefixDir: the write lock on the server folder's lock file in
// either place, then, as a last resort, a wineserver process that has the prefix or its server
// folder open. withProcessScan = false skips the last resort (it reads every process's links).
[[nodiscard]] ServerState findWineServer(
    const std::string& prefixDir, const ServerSearchPaths& paths, bool withProcessScan = true);

// The wineserver's own lock, held by Quern while it replaces registry files, so that a server that
// starts meanwhile cannot read a file half-way through being replaced and later write its old copy
// back. A starting wineserver tries the lock once and, finding it held, exits; the Wine program
// that started it tries again for about five seconds before it gives up, so the lock is held only
// from the last read of the files until they are in place.
//
// It is taken where a server of the prefix would take it: upstream's /tmp/.wine-UID/server-DEV-INODE,
// and Debian's ${TMPDIR}/NAME/server-DEV-INODE when the prefix's file "wineserver" names a folder
// that Debian's wine would use as it is (a file of mode 0400; any other is replaced by a new name
// at the server's next start). Folders and the lock file are made as wineserver makes them (0700,
// 0600), so that a server starts there normally afterwards. A place where wineserver itself could
// not start (a folder owned by someone else or open to others, a missing parent) is left alone.
//
// The lock is an fcntl() lock, as wineserver's is: it belongs to the process, and closing any
// descriptor of the lock file in this process lets it go. findWineServer therefore leaves alone the
// lock files this process holds. (An open file description lock would not have that weakness, but
// "wineserver -k" asks the lock's holder for its process id to signal it, and such a lock has none.)
class ServerLock {
public:
    ServerLock() = default;
    ~ServerLock() { release(); }
    ServerLock(const ServerLock&) = delete;
    ServerLock& operator=(const ServerLock&) = delete;

    // What taking the lock came to: Ok, taken at every place; AccessDenied, a server holds it
    // (holder is its process); WriteFailed, with why the lock could not be taken. Either failure
    // leaves nothing held.
    struct Taken {
        Status status;
        pid_t holder = 0;
    };
    // Takes the lock at every place. makeFolders = false takes it only where the folders and the
    // lock file are there already.
    Taken acquire(const std::string& prefixDir, const ServerSearchPaths& paths, bool makeFolders = true);

    // While the lock is held: whether a server runs for the prefix all the same, one that started at
    // a place this lock does not cover (a "wineserver" file written meanwhile, a lock file made anew
    // after its folder was removed, another TMPDIR when withProcessScan).
    [[nodiscard]] ServerState serverStartedElsewhere(bool withProcessScan) const;

    void release();
    [[nodiscard]] std::size_t placesHeld() const { return m_held.size(); }

private:
    struct Held {
        std::string path;
        UniqueFd fd;
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::vector<Held> m_held;
    std::string m_prefixDir;
    ServerSearchPaths m_paths;
};

} // namespace quern::reg
