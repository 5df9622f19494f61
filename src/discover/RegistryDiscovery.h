#pragma once

#include "wine/WineServer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace quern::discover {

// Who made a registry, which is also the order of the list: the prefix the environment names first,
// the launchers' after it.
enum class RegistryKind { WinePrefixVariable, Wine, Quern, Steam, Lutris, Bottles, PlayOnLinux, Heroic, CrossOver };

// The kind as the user reads it: "Wine (WINEPREFIX)", "Wine", "Quern", "Steam", ...
[[nodiscard]] std::string_view kindName(RegistryKind kind);

// A Windows program that runs in a prefix now.
struct WineProgram {
    pid_t pid = 0;
    std::string name; // its file name, "game.exe"
    std::string command; // as Wine shows it started: "C:\Games\game.exe"
    bool wineService = false; // one of the programs Wine starts by itself (services.exe, explorer.exe, ...)
};

// One Wine registry on the machine: a folder that holds system.reg or user.reg.
struct FoundRegistry {
    std::string name; // the game's, the bottle's, the prefix's folder ("~/.wine")
    RegistryKind kind = RegistryKind::Wine;
    std::string folder; // as it was found, symbolic links left as they are
    std::vector<std::string> alsoNamed; // names the same folder has elsewhere (a second game of one prefix)
    std::uint64_t size = 0; // system.reg, user.reg and userdef.reg together
    std::chrono::system_clock::time_point lastChange {}; // the newest of the three
    // Held: a wineserver owns the registry now (and would write its own copy over a change).
    bool held = false;
    pid_t serverPid = 0; // the wineserver, when it was found; 0 when only its programs were
    std::string heldHow; // how it was found, for the user
    std::vector<WineProgram> programs; // the Windows programs running in it, Wine's own last
};

// Something found on the way that is not a registry: a file that is not what it should be, a
// folder that cannot be read. path is the file or folder (or WINEPREFIX), problem the words after it.
struct DiscoveryNote {
    std::string path;
    std::string problem;
};

struct Discovery {
    // In the order of kind, then of name (ASCII letters without case, then byte for byte), then
    // of folder. A folder reached twice (through a link, or named by two games) is listed once,
    // under the first kind that found it.
    std::vector<FoundRegistry> registries;
    std::vector<DiscoveryNote> notes;
};

// The variables the discovery reads: WINEPREFIX, XDG_DATA_HOME, XDG_CONFIG_HOME, TMPDIR.
using Environment = std::map<std::string, std::string, std::less<>>;
// Those of this process, and its home folder: HOME, else the password database's.
[[nodiscard]] Environment processEnvironment();
[[nodiscard]] std::string processHome();

struct DiscoveryOptions {
    // Whether to find out which registries a wineserver holds, and which programs run in each.
    bool lookForServers = true;
    // Where the processes are looked at (once, for all registries); empty: none is.
    std::string procDir = "/proc";
    // Where the wineservers' locks are; from the environment's TMPDIR when not given.
    std::optional<reg::ServerSearchPaths> serverPaths;
};

// Every Wine registry below home that the environment, Quern and the launchers (Steam, Lutris,
// Bottles, PlayOnLinux, Heroic, CrossOver) know of. Files that cannot be read, or are not what
// they should be, are left out with a note; nothing that is found makes it fail or wait.
[[nodiscard]] Discovery discoverRegistries(
    const std::string& home, const Environment& environment, const DiscoveryOptions& options = {});

// Looks at one prefix as discoverRegistries looks at each: whether a wineserver holds it, and
// which programs run in it.
[[nodiscard]] FoundRegistry lookAtPrefix(
    const std::string& folder, const Environment& environment, const DiscoveryOptions& options = {});

} // namespace quern::discover
