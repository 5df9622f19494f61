#pragma once

#include "discover/RegistryDiscovery.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace quern::discover {

// What the process folder shows of Wine at one moment, read once for all the registries.
//
// A wineserver is a process whose executable's name begins with "wineserver"; its working folder
// is its server folder (server-DEV-INODE), which names the prefix it serves. A Windows program is
// a process whose executable's name begins with "wine" otherwise (wine, wine64, wine-preloader,
// wine64-preloader, in Wine's folder or Proton's); its prefix is the WINEPREFIX of its environment,
// or ~/.wine of its HOME without one, as Wine itself chooses, and is matched by the folder's device
// and inode. Wine gives each program the Windows path it was started by as its first argument.
// The rule reads one link of every process and two small files of Wine's alone; the processes of
// other users cannot be read and are passed over.
struct WineProcesses {
    struct Server {
        pid_t pid = 0;
        std::string workingFolder;
    };
    struct Program {
        WineProgram program;
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::vector<Server> servers;
    std::vector<Program> programs;
};

[[nodiscard]] WineProcesses scanWineProcesses(const std::string& procDir);

// Fills in who holds each registry: its wineserver, found by its lock (findWineServer) or else
// among the processes, and the programs that run in it. A registry that has programs but whose
// server was not found (one started with another TMPDIR) is held all the same: no program runs
// without its server.
void findHolders(
    std::vector<FoundRegistry>& registries, const reg::ServerSearchPaths& paths, const WineProcesses& processes);

} // namespace quern::discover
