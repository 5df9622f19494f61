#include "discover/Finder.h"

#include "codec/FileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace quern::discover {

namespace {

constexpr const char* kRegistryFiles[] = { "system.reg", "user.reg", "userdef.reg" };

std::string whatItIs(mode_t mode) {
    return S_ISREG(mode) ? "a file" : kindOfFile(mode);
}

std::string whyNot(int error) {
    if (error == ELOOP) return "is a loop of symbolic links";
    return "cannot be read (" + std::string(std::strerror(error)) + ")";
}

std::string largerThanSettings(long long maxSize, long long size) {
    return "is larger than " + sizeText(maxSize) + " (" + std::to_string(size)
        + " bytes), more than any launcher's settings file";
}

std::chrono::system_clock::time_point modified(const struct stat& st) {
    const auto since = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(since));
}

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

Finder::Finder(std::string home, const Environment& environment)
    : m_home(std::move(home))
    , m_environment(environment) {
    while (m_home.size() > 1 && m_home.back() == '/')
        m_home.pop_back();
}

std::string Finder::variable(std::string_view name) const {
    const auto it = m_environment.find(name);
    return it == m_environment.end() ? std::string() : it->second;
}

std::vector<std::string> Finder::dataPlaces(const std::string& below) const {
    std::vector<std::string> places;
    if (const std::string set = variable("XDG_DATA_HOME"); set.starts_with('/')) places.push_back(set + "/" + below);
    if (const std::string fixed = m_home + "/.local/share/" + below; places.empty() || places[0] != fixed)
        places.push_back(fixed);
    return places;
}

std::vector<std::string> Finder::configPlaces(const std::string& below) const {
    std::vector<std::string> places;
    if (const std::string set = variable("XDG_CONFIG_HOME"); set.starts_with('/')) places.push_back(set + "/" + below);
    if (const std::string fixed = m_home + "/.config/" + below; places.empty() || places[0] != fixed)
        places.push_back(fixed);
    return places;
}

std::string Finder::settingPath(const std::string& value, const std::string& file) {
    for (const std::string_view homeWord : { "~", "$HOME", "${HOME}" })
        if (value == homeWord || value.starts_with(std::string(homeWord) + "/"))
            return m_home + value.substr(homeWord.size());
    if (value.starts_with('/')) return value;
    note(file, "names the prefix \"" + value + "\", which is not an absolute path");
    return {};
}

void Finder::note(const std::string& path, std::string problem) {
    m_found.notes.push_back({ path, std::move(problem) });
}

bool Finder::statFolder(const std::string& folder, Source source, const std::string& from, struct stat& st) {
    if (::stat(folder.c_str(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR)
            note(folder, whyNot(error));
        else if (source == Source::Named)
            note(from, "names " + folder + ", which is not there");
        return false;
    }
    if (S_ISDIR(st.st_mode)) return true;
    if (source != Source::Listed) note(folder, "is " + whatItIs(st.st_mode) + ", not a folder");
    return false;
}

bool Finder::readRegistryFiles(const std::string& folder, FoundRegistry& found) {
    bool holds = false;
    for (const char* name : kRegistryFiles) {
        const std::string path = folder + "/" + name;
        struct stat st { };
        if (::stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) note(path, whyNot(errno));
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            note(path, "is " + whatItIs(st.st_mode) + ", not a registry file");
            continue;
        }
        holds = holds || std::strcmp(name, "userdef.reg") != 0;
        found.size += static_cast<std::uint64_t>(st.st_size);
        found.lastChange = std::max(found.lastChange, modified(st));
    }
    return holds;
}

bool Finder::holdsRegistry(const std::string& folder) {
    struct stat st { };
    return (::stat((folder + "/system.reg").c_str(), &st) == 0 && S_ISREG(st.st_mode))
        || (::stat((folder + "/user.reg").c_str(), &st) == 0 && S_ISREG(st.st_mode));
}

void Finder::offer(
    RegistryKind kind, const std::string& name, const std::string& folder, Source source, const std::string& from) {
    struct stat st { };
    if (!statFolder(folder, source, from, st)) return;
    FoundRegistry found;
    found.name = name;
    found.kind = kind;
    found.folder = folder;
    if (!readRegistryFiles(folder, found)) {
        if (source == Source::Named)
            note(from, "names " + folder + ", which holds no registry (no system.reg or user.reg)");
        return;
    }
    const std::pair id { st.st_dev, st.st_ino };
    if (const auto it = std::find(m_ids.begin(), m_ids.end(), id); it != m_ids.end()) {
        FoundRegistry& first = m_found.registries[static_cast<std::size_t>(it - m_ids.begin())];
        if (name != first.name
            && std::find(first.alsoNamed.begin(), first.alsoNamed.end(), name) == first.alsoNamed.end())
            first.alsoNamed.push_back(name);
        return;
    }
    m_ids.push_back(id);
    m_found.registries.push_back(std::move(found));
}

bool Finder::readSettings(const std::string& path, Parser parse, ConfigNode& root) {
    std::string content;
    struct stat st { };
    const FileLimit limit { kMaxSettingsFileSize, nullptr, largerThanSettings };
    const reg::Status read = readRegularFile(path, limit, content, st);
    if (read == reg::Status::NotFound) return false;
    if (!read.ok()) {
        note(path, read.message());
        return false;
    }
    const reg::Status parsed = parse(content, root);
    if (parsed.ok()) return true;
    note(path, "is not what it should be: " + parsed.message());
    return false;
}

std::vector<std::string> Finder::listFolder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOTDIR)
            note(folder, "is not a folder");
        else if (errno != ENOENT)
            note(folder, whyNot(errno));
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool Finder::folderId(const std::string& folder, std::pair<dev_t, ino_t>& id) {
    struct stat st { };
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    id = { st.st_dev, st.st_ino };
    return true;
}

Discovery Finder::take() {
    std::stable_sort(
        m_found.registries.begin(), m_found.registries.end(), [](const FoundRegistry& a, const FoundRegistry& b) {
            const std::string la = lowered(a.name);
            const std::string lb = lowered(b.name);
            return std::tie(a.kind, la, a.name, a.folder) < std::tie(b.kind, lb, b.name, b.folder);
        });
    m_ids.clear();
    return std::move(m_found);
}

} // namespace quern::discover
