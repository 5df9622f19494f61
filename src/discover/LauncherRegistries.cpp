// The prefixes of the launchers other than Steam: each keeps its games' or bottles' settings in
// files of its own, or its prefixes side by side in one folder.
#include "discover/Finder.h"
#include "discover/JsonReader.h"
#include "discover/YamlReader.h"

namespace quern::discover {

namespace {

std::string withoutSuffix(const std::string& name, std::string_view suffix) {
    return name.ends_with(suffix) ? name.substr(0, name.size() - suffix.size()) : name;
}

// Each game's file: game: prefix: names its prefix (a game without one runs without Wine); the
// name is the file's top-level name:, else the file's name.
void readLutrisGame(Finder& finder, const std::string& file, const std::string& fileName) {
    ConfigNode root;
    if (!finder.readSettings(file, parseYaml, root)) return;
    if (!root.isMap()) {
        finder.note(file, "is not what it should be: not a map of settings");
        return;
    }
    const ConfigNode* game = root.child("game");
    const ConfigNode* prefix = game ? game->child("prefix") : nullptr;
    if (!prefix || prefix->kind == ConfigNode::Kind::Null) return;
    if (!prefix->isText()) {
        finder.note(file, "is not what it should be: its game: prefix: is not a path");
        return;
    }
    const std::string folder = finder.settingPath(prefix->text, file);
    if (folder.empty()) return;
    const std::string name = root.textOf("name");
    finder.offer(
        RegistryKind::Lutris, name.empty() ? withoutSuffix(fileName, ".yml") : name, folder, Source::Named, file);
}

// A bottle's folder holds its bottle.yml beside its registry; one made elsewhere says so with
// Custom_Path: true and its Path.
void readBottle(Finder& finder, const std::string& bottleFolder, const std::string& folderName) {
    const std::string file = bottleFolder + "/bottle.yml";
    ConfigNode root;
    if (!finder.readSettings(file, parseYaml, root)) return;
    if (!root.isMap()) {
        finder.note(file, "is not what it should be: not a map of settings");
        return;
    }
    std::string folder = bottleFolder;
    if (root.textOf("Custom_Path") == "true" && root.textOf("Path").starts_with('/')
        && !Finder::holdsRegistry(bottleFolder))
        folder = root.textOf("Path");
    const std::string name = root.textOf("Name");
    finder.offer(RegistryKind::Bottles, name.empty() ? folderName : name, folder, Source::Named, file);
}

// Each game's settings file holds { "GAME": { "winePrefix": "...", ... } }. A Proton game's prefix
// is the pfx folder inside the one named.
void readHeroicGames(Finder& finder, const std::string& file) {
    ConfigNode root;
    if (!finder.readSettings(file, parseJson, root)) return;
    if (!root.isMap()) {
        finder.note(file, "is not what it should be: not an object of settings");
        return;
    }
    for (const auto& game : root.children) {
        const ConfigNode* prefix = game.child("winePrefix");
        if (!prefix || prefix->kind == ConfigNode::Kind::Null || (prefix->isText() && prefix->text.empty())) continue;
        if (!prefix->isText()) {
            finder.note(file, "is not what it should be: the winePrefix of " + game.key + " is not a path");
            continue;
        }
        std::string folder = finder.settingPath(prefix->text, file);
        if (folder.empty()) continue;
        if (!Finder::holdsRegistry(folder) && Finder::holdsRegistry(folder + "/pfx")) folder += "/pfx";
        finder.offer(RegistryKind::Heroic, game.key, folder, Source::Named, file);
    }
}

// Each prefix a folder of its own, side by side, named as the user named it.
void offerEachFolder(Finder& finder, RegistryKind kind, const std::string& parent) {
    for (const auto& name : finder.listFolder(parent))
        if (!name.starts_with('.')) finder.offer(kind, name, parent + "/" + name, Source::Listed);
}

} // namespace

void findLutrisRegistries(Finder& finder) {
    std::vector<std::string> places = finder.configPlaces("lutris/games");
    for (const auto& newer : finder.dataPlaces("lutris/games"))
        places.push_back(newer);
    for (const auto& place : places)
        for (const auto& name : finder.listFolder(place))
            if (name.ends_with(".yml")) readLutrisGame(finder, place + "/" + name, name);
}

void findBottlesRegistries(Finder& finder) {
    std::vector<std::string> places = finder.dataPlaces("bottles/bottles");
    places.push_back(finder.home() + "/.var/app/com.usebottles.bottles/data/bottles/bottles");
    for (const auto& place : places) {
        for (const auto& name : finder.listFolder(place)) {
            std::pair<dev_t, ino_t> id;
            if (!name.starts_with('.') && Finder::folderId(place + "/" + name, id))
                readBottle(finder, place + "/" + name, name);
        }
    }
}

void findPlayOnLinuxRegistries(Finder& finder) {
    offerEachFolder(finder, RegistryKind::PlayOnLinux, finder.home() + "/.PlayOnLinux/wineprefix");
}

void findHeroicRegistries(Finder& finder) {
    std::vector<std::string> places = finder.configPlaces("heroic/GamesConfig");
    places.push_back(finder.home() + "/.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig");
    for (const auto& place : places)
        for (const auto& name : finder.listFolder(place))
            if (name.ends_with(".json")) readHeroicGames(finder, place + "/" + name);
}

void findCrossOverRegistries(Finder& finder) {
    offerEachFolder(finder, RegistryKind::CrossOver, finder.home() + "/.cxoffice");
}

} // namespace quern::discover
