#include "discover/RegistryPlace.h"

#include "base/Names.h"
#include "hive/OfflineHive.h"
#include "store/MemoryRegistry.h"
#include "wine/WinePrefixStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern::discover {

namespace {

constexpr std::string_view kPrefixWord = "prefix";
constexpr std::string_view kHiveWord = "hive";

std::string lastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool beginsAsHive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char signature[4] {};
    const ssize_t got = ::read(fd, signature, sizeof signature);
    ::close(fd);
    return got == 4 && std::memcmp(signature, "regf", 4) == 0;
}

// The name a hive is mounted by: the file's name before its first dot, upper-cased ("SOFTWARE"),
// as Load hive offers it.
std::string mountName(const std::string& file) {
    std::string name = lastComponent(file);
    if (const std::size_t dot = name.find('.'); dot != 0 && dot != std::string::npos) name.resize(dot);
    return reg::upperAscii(name.empty() ? "HIVE" : name);
}

} // namespace

reg::Status placeOfPath(const std::string& path, RegistryPlace& place) {
    struct stat st { };
    if (path.empty()) return reg::Status(reg::Status::BadPath, "No folder or file was named.");
    if (::stat(path.c_str(), &st) != 0)
        return reg::Status(reg::Status::NotFound, path + ": " + std::strerror(errno) + ".");
    if (S_ISDIR(st.st_mode)) {
        struct stat file { };
        if (::stat((path + "/system.reg").c_str(), &file) != 0 && ::stat((path + "/user.reg").c_str(), &file) != 0)
            return reg::Status(
                reg::Status::NotFound, path + " is not a Wine prefix: it holds neither system.reg nor user.reg.");
        place = { RegistryPlace::Kind::Prefix, path, {} };
    } else if (S_ISREG(st.st_mode) && beginsAsHive(path)) {
        place = { RegistryPlace::Kind::HiveFile, path, {} };
    } else {
        return reg::Status(reg::Status::BadPath, path + " is neither a Wine prefix's folder nor a Windows hive file.");
    }
    place.name = placeName(place, processHome());
    return reg::Status::Ok;
}

std::string placeName(const RegistryPlace& place, const std::string& home) {
    if (place.kind == RegistryPlace::Kind::HiveFile) return lastComponent(place.path);
    std::string folder = place.path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (home.size() > 1 && folder.starts_with(home) && (folder.size() == home.size() || folder[home.size()] == '/'))
        return "~" + folder.substr(home.size());
    return folder;
}

bool samePlace(const RegistryPlace& a, const RegistryPlace& b) {
    if (a.kind != b.kind) return false;
    struct stat sa {
    }, sb {};
    if (::stat(a.path.c_str(), &sa) == 0 && ::stat(b.path.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a.path == b.path;
}

std::string placeLine(const RegistryPlace& place) {
    std::string name = place.name;
    std::replace(name.begin(), name.end(), '\t', ' ');
    return std::string(place.kind == RegistryPlace::Kind::Prefix ? kPrefixWord : kHiveWord) + '\t' + name + '\t'
        + place.path;
}

std::optional<RegistryPlace> placeFromLine(std::string_view line) {
    const std::size_t first = line.find('\t');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = line.find('\t', first + 1);
    if (second == std::string_view::npos || second + 1 >= line.size()) return std::nullopt;
    const std::string_view word = line.substr(0, first);
    RegistryPlace place;
    if (word == kPrefixWord)
        place.kind = RegistryPlace::Kind::Prefix;
    else if (word == kHiveWord)
        place.kind = RegistryPlace::Kind::HiveFile;
    else
        return std::nullopt;
    place.name = std::string(line.substr(first + 1, second - first - 1));
    place.path = std::string(line.substr(second + 1));
    if (place.name.empty()) place.name = placeName(place, processHome());
    return place;
}

void rememberPlace(std::vector<RegistryPlace>& recent, const RegistryPlace& place, std::size_t max) {
    std::erase_if(recent, [&](const RegistryPlace& known) { return samePlace(known, place); });
    recent.insert(recent.begin(), place);
    if (recent.size() > max) recent.resize(max);
}

std::unique_ptr<reg::RegStore> openPlace(const RegistryPlace& place, std::string& problem) {
    if (place.kind == RegistryPlace::Kind::Prefix) {
        reg::WinePrefixOptions options;
        options.prefixDir = place.path;
        return std::make_unique<reg::WinePrefixStore>(std::move(options));
    }
    // A hive alone: nothing outside it is kept anywhere, so nothing there may change.
    reg::MemoryRegistryOptions scratch;
    scratch.withBaseKeys = false;
    scratch.fixedPartsReadOnlyReason = "Only the hive file " + place.path + " is open here, as HKEY_LOCAL_MACHINE\\"
        + mountName(place.path)
        + ", where everything can be changed; keys outside it are kept nowhere, so they cannot.";
    auto store = std::make_unique<reg::MemoryRegistry>(std::move(scratch));
    store->setLocation(place.path); // each hive opened alone is told from the others by its file
    const reg::Status mounted
        = reg::mountHiveFile(*store, reg::kLocalMachine, reg::toUtf16(mountName(place.path)), place.path);
    if (!mounted.ok()) {
        problem = mounted.message();
        return nullptr;
    }
    return store;
}

std::string programsSentence(const FoundRegistry& registry) {
    std::string programs;
    std::size_t services = 0;
    for (const WineProgram& program : registry.programs) {
        if (program.wineService) {
            ++services;
            continue;
        }
        programs += (programs.empty() ? "" : ", ") + program.name + " (process " + std::to_string(program.pid) + ")";
    }
    if (services > 0)
        programs += (programs.empty() ? "" : " and ") + std::to_string(services)
            + (services == 1 ? " program of Wine's own" : " programs of Wine's own");
    return programs;
}

std::string holdersSentence(const FoundRegistry& registry) {
    std::string sentence;
    if (registry.serverPid > 0) sentence = "wineserver (process " + std::to_string(registry.serverPid) + ")";
    if (const std::string programs = programsSentence(registry); !programs.empty())
        sentence += (sentence.empty() ? "" : ", ") + std::string("running ") + programs;
    return sentence;
}

} // namespace quern::discover
