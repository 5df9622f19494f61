// Steam keeps each Windows game's prefix in steamapps/compatdata/APPID/pfx of the library the game
// is installed in; the libraries are listed in steamapps/libraryfolders.vdf of Steam's own folder.
#include "discover/Finder.h"
#include "discover/KeyValues.h"

#include <algorithm>

namespace quern::discover {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct Libraries {
    std::vector<std::string> folders;
    std::vector<std::pair<dev_t, ino_t>> ids;

    // Adds folder unless it is one already there, reached by another path.
    void add(const std::string& folder) {
        std::pair<dev_t, ino_t> id;
        if (!Finder::folderId(folder, id) || std::find(ids.begin(), ids.end(), id) != ids.end()) return;
        folders.push_back(folder);
        ids.push_back(id);
    }
};

// The libraries libraryfolders.vdf lists: "1" "PATH" in the old form, "1" { "path" "PATH" ... }
// in the new; the other keys ("contentstatsid", ...) are no libraries.
void addListedLibraries(Finder& finder, const std::string& steamFolder, Libraries& libraries) {
    const std::string file = steamFolder + "/steamapps/libraryfolders.vdf";
    ConfigNode root;
    if (!finder.readSettings(file, parseKeyValues, root)) return;
    const ConfigNode* list = root.child("libraryfolders", true);
    if (!list || !list->isMap()) {
        finder.note(file, "is not what it should be: it has no \"libraryfolders\" block");
        return;
    }
    for (const auto& entry : list->children) {
        if (!allDigits(entry.key)) continue;
        const std::string path = entry.isText() ? entry.text : entry.textOf("path", true);
        if (path.empty()) continue;
        std::pair<dev_t, ino_t> id;
        if (!Finder::folderId(path, id)) {
            finder.note(file, "names the library " + path + ", which is not there");
            continue;
        }
        libraries.add(path);
    }
}

// Steam's own folders: native, the symbolic link Steam keeps to it, and the Flatpak's two.
Libraries steamLibraries(Finder& finder) {
    const std::string flatpak = finder.home() + "/.var/app/com.valvesoftware.Steam";
    std::vector<std::string> roots = finder.dataPlaces("Steam");
    for (const auto& more :
        { finder.home() + "/.steam/steam", flatpak + "/.local/share/Steam", flatpak + "/.steam/steam" })
        roots.push_back(more);
    Libraries libraries;
    for (const auto& root : roots) {
        std::pair<dev_t, ino_t> id;
        if (!Finder::folderId(root, id)) continue;
        // A Steam folder reached again through a link has been read already.
        if (std::find(libraries.ids.begin(), libraries.ids.end(), id) != libraries.ids.end()) continue;
        libraries.add(root);
        addListedLibraries(finder, root, libraries);
    }
    return libraries;
}

// The game's name from its appmanifest_APPID.acf, looked for in every library (the one that holds
// the prefix first); a manifest that cannot be read is noted and the next one tried.
std::string appName(Finder& finder, const Libraries& libraries, std::size_t home, const std::string& appId) {
    for (std::size_t step = 0; step < libraries.folders.size(); ++step) {
        const std::size_t i = step == 0 ? home : (step <= home ? step - 1 : step);
        const std::string file = libraries.folders[i] + "/steamapps/appmanifest_" + appId + ".acf";
        ConfigNode root;
        if (!finder.readSettings(file, parseKeyValues, root)) continue;
        const ConfigNode* state = root.child("AppState", true);
        const std::string name = state ? state->textOf("name", true) : std::string();
        if (!name.empty()) return name;
        finder.note(file, "is not what it should be: it has no \"AppState\" block with a \"name\"");
    }
    return "Steam app " + appId;
}

} // namespace

void findSteamRegistries(Finder& finder) {
    const Libraries libraries = steamLibraries(finder);
    for (std::size_t i = 0; i < libraries.folders.size(); ++i) {
        const std::string compatData = libraries.folders[i] + "/steamapps/compatdata";
        for (const auto& appId : finder.listFolder(compatData)) {
            if (!allDigits(appId)) continue;
            const std::string prefix = compatData + "/" + appId + "/pfx";
            if (!Finder::holdsRegistry(prefix)) {
                // Not yet made, or not a prefix at all: offered still, for the note an odd one earns.
                finder.offer(RegistryKind::Steam, {}, prefix, Source::Expected);
                continue;
            }
            finder.offer(RegistryKind::Steam, appName(finder, libraries, i, appId), prefix, Source::Expected);
        }
    }
}

} // namespace quern::discover
