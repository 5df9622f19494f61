#pragma once

#include "discover/ConfigTree.h"
#include "discover/RegistryDiscovery.h"

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace quern::discover {

// The largest settings file read: launchers' files are a few kilobytes, Steam's list of libraries
// a few dozen.
inline constexpr long long kMaxSettingsFileSize = 1LL << 20;

// How a folder came to be offered, which decides what is worth a note when it holds no registry.
enum class Source {
    Listed, // an entry of a folder of prefixes: anything but a prefix is quietly passed over
    Expected, // a fixed place (~/.wine, a Steam game's pfx): only a file standing there is odd
    Named, // a setting names it: a folder missing, a file, or one without registry is worth a note
};

// What the finders of each launcher share while they look: the home folder and environment, the
// registries found so far (each folder once) and the notes.
class Finder {
public:
    Finder(std::string home, const Environment& environment);

    [[nodiscard]] const std::string& home() const { return m_home; }
    [[nodiscard]] std::string variable(std::string_view name) const;
    // The XDG folders and the places they default to, each once: the variable's first, when set.
    [[nodiscard]] std::vector<std::string> dataPlaces(const std::string& below) const;
    [[nodiscard]] std::vector<std::string> configPlaces(const std::string& below) const;
    // A setting's folder as a path: ~ and $HOME at its start are the home folder. Empty, with a
    // note from file, for a relative one.
    [[nodiscard]] std::string settingPath(const std::string& value, const std::string& file);

    // Adds folder when it holds system.reg or user.reg, as a registry of kind named name; a folder
    // found before is not added again, and name is kept among its other names. from: what named
    // it (a settings file, WINEPREFIX), for the notes of Source::Named.
    void offer(RegistryKind kind, const std::string& name, const std::string& folder, Source source,
        const std::string& from = {});
    // Whether folder holds system.reg or user.reg, without a note.
    [[nodiscard]] static bool holdsRegistry(const std::string& folder);

    void note(const std::string& path, std::string problem);
    // Reads a settings file and parses it with parse; false, with a note unless the file is not
    // there, when it cannot be read or is not in that format.
    using Parser = reg::Status (*)(std::string_view, ConfigNode&);
    bool readSettings(const std::string& path, Parser parse, ConfigNode& root);
    // The names in folder in byte order, without . and ..; none (with a note when folder is there
    // but cannot be listed, or is not a folder) otherwise.
    std::vector<std::string> listFolder(const std::string& folder);
    // The device and inode of folder, for telling one reached twice; false when it is no folder.
    static bool folderId(const std::string& folder, std::pair<dev_t, ino_t>& id);

    [[nodiscard]] Discovery take();

private:
    bool statFolder(const std::string& folder, Source source, const std::string& from, struct stat& st);
    bool readRegistryFiles(const std::string& folder, FoundRegistry& found);

    std::string m_home;
    const Environment& m_environment;
    Discovery m_found;
    std::vector<std::pair<dev_t, ino_t>> m_ids; // of m_found.registries, in the same order
};

void findSteamRegistries(Finder& finder);
void findLutrisRegistries(Finder& finder);
void findBottlesRegistries(Finder& finder);
void findPlayOnLinuxRegistries(Finder& finder);
void findHeroicRegistries(Finder& finder);
void findCrossOverRegistries(Finder& finder);

} // namespace quern::discover
