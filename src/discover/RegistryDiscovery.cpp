#include "discover/RegistryDiscovery.h"

#include "discover/Finder.h"
#include "discover/WinePrograms.h"
#include "wine/WinePrefixStore.h"

#include <array>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace quern::discover {

namespace {

// A folder as the user reads it: ~ for the home folder.
std::string shortened(const std::string& folder, const std::string& home) {
    if (home.size() > 1 && folder.starts_with(home) && (folder.size() == home.size() || folder[home.size()] == '/'))
        return "~" + folder.substr(home.size());
    return folder;
}

void findWineRegistries(Finder& finder) {
    const std::string named = finder.variable("WINEPREFIX");
    if (!named.empty())
        finder.offer(
            RegistryKind::WinePrefixVariable, shortened(named, finder.home()), named, Source::Named, "WINEPREFIX");
    finder.offer(RegistryKind::Wine, "~/.wine", finder.home() + "/.wine", Source::Expected);
    finder.offer(RegistryKind::Quern, "Quern's own registry",
        reg::ownRegistryFolder(finder.home(), finder.variable("XDG_DATA_HOME")), Source::Expected);
}

reg::ServerSearchPaths serverPathsOf(const Environment& environment) {
    reg::ServerSearchPaths paths = reg::defaultServerSearchPaths();
    const auto tmp = environment.find("TMPDIR");
    paths.tmpDir = tmp != environment.end() && !tmp->second.empty() ? tmp->second : "/tmp";
    return paths;
}

} // namespace

std::string_view kindName(RegistryKind kind) {
    switch (kind) {
    case RegistryKind::WinePrefixVariable:
        return "Wine (WINEPREFIX)";
    case RegistryKind::Wine:
        return "Wine";
    case RegistryKind::Quern:
        return "Quern";
    case RegistryKind::Steam:
        return "Steam";
    case RegistryKind::Lutris:
        return "Lutris";
    case RegistryKind::Bottles:
        return "Bottles";
    case RegistryKind::PlayOnLinux:
        return "PlayOnLinux";
    case RegistryKind::Heroic:
        return "Heroic";
    case RegistryKind::CrossOver:
        return "CrossOver";
    }
    return "Wine";
}

Environment processEnvironment() {
    Environment environment;
    for (const char* name : { "WINEPREFIX", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "TMPDIR" })
        if (const char* value = std::getenv(name); value && *value) environment.emplace(name, value);
    return environment;
}

std::string processHome() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

Discovery discoverRegistries(const std::string& home, const Environment& environment, const DiscoveryOptions& options) {
    Finder finder(home, environment);
    // In the order of the kinds, so that a folder found twice stays with the first kind that found it.
    findWineRegistries(finder);
    findSteamRegistries(finder);
    findLutrisRegistries(finder);
    findBottlesRegistries(finder);
    findPlayOnLinuxRegistries(finder);
    findHeroicRegistries(finder);
    findCrossOverRegistries(finder);
    Discovery found = finder.take();
    if (options.lookForServers)
        findHolders(found.registries, options.serverPaths ? *options.serverPaths : serverPathsOf(environment),
            scanWineProcesses(options.procDir));
    return found;
}

FoundRegistry lookAtPrefix(const std::string& folder, const Environment& environment, const DiscoveryOptions& options) {
    std::vector<FoundRegistry> one(1);
    one.front().folder = folder;
    findHolders(one, options.serverPaths ? *options.serverPaths : serverPathsOf(environment),
        scanWineProcesses(options.procDir));
    return std::move(one.front());
}

} // namespace quern::discover
