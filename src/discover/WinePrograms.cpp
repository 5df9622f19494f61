#include "discover/WinePrograms.h"

#include "codec/FileRead.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace quern::discover {

namespace {

// The programs Wine starts in every prefix by itself.
constexpr std::array<std::string_view, 11> kWineServices { "services.exe", "winedevice.exe", "plugplay.exe",
    "svchost.exe", "rpcss.exe", "explorer.exe", "conhost.exe", "tabtip.exe", "wineboot.exe", "winemenubuilder.exe",
    "start.exe" };

std::string readLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    std::string target = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    if (target.ends_with(" (deleted)")) target.resize(target.size() - 10);
    return target;
}

std::string baseName(std::string_view path, std::string_view separators) {
    const std::size_t slash = path.find_last_of(separators);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A small file of the process folder (environ, cmdline: their size says 0), or empty.
std::string readProcFile(const std::string& path) {
    std::string content;
    struct stat st { };
    if (!readRegularFile(path, FileLimit { 1LL << 20 }, content, st).ok()) content.clear();
    return content;
}

// The value of name in a NUL-separated environment.
std::string environmentValue(std::string_view environ, std::string_view name) {
    for (std::size_t start = 0; start < environ.size();) {
        std::size_t end = environ.find('\0', start);
        if (end == std::string_view::npos) end = environ.size();
        const std::string_view entry = environ.substr(start, end - start);
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
            return std::string(entry.substr(name.size() + 1));
        start = end + 1;
    }
    return {};
}

// A Windows program of the process base (its folder in /proc), when its prefix can be told.
bool readProgram(const std::string& base, pid_t pid, WineProcesses::Program& found,
    std::map<std::string, std::pair<dev_t, ino_t>>& prefixIds) {
    const std::string environ = readProcFile(base + "/environ");
    std::string prefix = environmentValue(environ, "WINEPREFIX");
    if (prefix.empty()) {
        const std::string home = environmentValue(environ, "HOME");
        if (home.empty()) return false;
        prefix = home + "/.wine";
    }
    auto id = prefixIds.find(prefix);
    if (id == prefixIds.end()) {
        struct stat st { };
        if (::stat(prefix.c_str(), &st) != 0) return false;
        id = prefixIds.emplace(prefix, std::pair { st.st_dev, st.st_ino }).first;
    }
    found.device = id->second.first;
    found.inode = id->second.second;
    const std::string cmdline = readProcFile(base + "/cmdline");
    found.program.pid = pid;
    found.program.command = cmdline.substr(0, cmdline.find('\0'));
    found.program.name = baseName(found.program.command, "\\/");
    if (found.program.name.empty()) {
        found.program.name = readProcFile(base + "/comm");
        if (found.program.name.ends_with('\n')) found.program.name.pop_back();
    }
    std::string lower = found.program.name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    found.program.wineService = std::find(kWineServices.begin(), kWineServices.end(), lower) != kWineServices.end();
    return true;
}

} // namespace

WineProcesses scanWineProcesses(const std::string& procDir) {
    WineProcesses processes;
    DIR* proc = procDir.empty() ? nullptr : ::opendir(procDir.c_str());
    if (!proc) return processes;
    std::map<std::string, std::pair<dev_t, ino_t>> prefixIds;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string_view name = entry->d_name;
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string base = procDir + "/" + std::string(name);
        const std::string executable = baseName(readLink(base + "/exe"), "/");
        const auto pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (executable.starts_with("wineserver")) {
            processes.servers.push_back({ pid, readLink(base + "/cwd") });
        } else if (executable.starts_with("wine")) {
            WineProcesses::Program program;
            if (readProgram(base, pid, program, prefixIds)) processes.programs.push_back(std::move(program));
        }
    }
    ::closedir(proc);
    return processes;
}

void findHolders(
    std::vector<FoundRegistry>& registries, const reg::ServerSearchPaths& paths, const WineProcesses& processes) {
    for (auto& registry : registries) {
        const reg::ServerState server = reg::findWineServer(registry.folder, paths, false);
        if (server.running) {
            registry.held = true;
            registry.serverPid = server.pid;
            registry.heldHow = "wineserver process " + std::to_string(server.pid) + ": " + server.how;
        } else if (const std::string folder = "/" + reg::serverFolderName(registry.folder); folder.size() > 1) {
            for (const auto& candidate : processes.servers) {
                if (!candidate.workingFolder.ends_with(folder)) continue;
                registry.held = true;
                registry.serverPid = candidate.pid;
                registry.heldHow = "wineserver process " + std::to_string(candidate.pid) + ": it works in "
                    + candidate.workingFolder;
                break;
            }
        }
        struct stat st { };
        if (::stat(registry.folder.c_str(), &st) != 0) continue;
        for (const auto& program : processes.programs)
            if (program.device == st.st_dev && program.inode == st.st_ino) registry.programs.push_back(program.program);
        std::stable_sort(registry.programs.begin(), registry.programs.end(), [](const auto& a, const auto& b) {
            return std::pair(a.wineService, a.pid) < std::pair(b.wineService, b.pid);
        });
        if (!registry.programs.empty() && !registry.held) {
            registry.held = true;
            registry.heldHow = "Windows programs run in it, though its wineserver was not found";
        }
    }
}

} // namespace quern::discover
