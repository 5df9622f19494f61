#pragma once

#include <string>
#include <sys/types.h>

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

} // namespace quern::reg
