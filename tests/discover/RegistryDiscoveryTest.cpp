#include "discover/RegistryDiscovery.h"
#include "TestSupport.h"
#include "discover/RegistryPlace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace quern;
using namespace quern::discover;
namespace fs = std::filesystem;

namespace {

void put(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    test::writeFile(path, content);
}

// A prefix as Wine leaves it: its registry files (system.reg alone unless told).
void makePrefix(const std::string& folder, const std::vector<std::string>& files = { "system.reg" }) {
    for (const auto& file : files)
        put(folder + "/" + file, "WINE REGISTRY Version 2\n");
}

void symlinkTo(const std::string& target, const std::string& link) {
    fs::create_directories(fs::path(link).parent_path());
    fs::create_directory_symlink(target, link);
}

std::string manifest(const std::string& appId, const std::string& name) {
    return "\"AppState\"\n{\n\t\"appid\"\t\t\"" + appId + "\"\n\t\"name\"\t\t\"" + name + "\"\n}\n";
}

// Steam: a native folder with four libraries listed (one of them twice, through a link, and one
// unplugged), the link Steam keeps to it, and the Flatpak's folder with the old form of the list.
void makeSteam(const std::string& home, const std::string& elsewhere) {
    const std::string root = home + "/.local/share/Steam/steamapps";
    const std::string library = elsewhere + "/SteamLibrary/steamapps";
    put(root + "/libraryfolders.vdf",
        "\"libraryfolders\"\n{\n\t\"contentstatsid\"\t\t\"-123\"\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + home
            + "/.local/share/Steam\"\n\t\t\"apps\" { \"220\" \"1\" }\n\t}\n\t\"1\" { \"path\" \"" + elsewhere
            + "/SteamLibrary\" }\n\t\"2\" { \"path\" \"" + elsewhere + "/LibraryLink\" }\n\t\"3\" { \"path\" \""
            + elsewhere + "/Unplugged\" }\n}\n");
    symlinkTo(elsewhere + "/SteamLibrary", elsewhere + "/LibraryLink");
    symlinkTo(home + "/.local/share/Steam", home + "/.steam/steam");
    for (const char* appId : { "220", "440", "570", "9999" })
        makePrefix(root + "/compatdata/" + appId + "/pfx", { "user.reg" });
    fs::create_directories(root + "/compatdata/1000"); // a game never started: no pfx yet
    makePrefix(root + "/compatdata/shadercache/pfx"); // not an app's folder
    put(root + "/compatdata/730/pfx", "a file where the prefix should be");
    put(root + "/appmanifest_220.acf", manifest("220", "Half-Life 2"));
    put(library + "/appmanifest_440.acf", manifest("440", "Team Fortress 2")); // in another library
    put(root + "/appmanifest_570.acf", "\"AppState\"\n{\n\t\"name\" \"Dota 2\"\n"); // cut short
    makePrefix(library + "/compatdata/300/pfx");
    put(library + "/appmanifest_300.acf", manifest("300", "Say \\\"Cheese\\\""));

    const std::string flatpak = home + "/.var/app/com.valvesoftware.Steam";
    put(flatpak + "/.local/share/Steam/steamapps/libraryfolders.vdf",
        "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1\"\n\t\"ContentStatsID\"\t\t\"2\"\n\t\"1\"\t\t\""
            + elsewhere + "/SteamLibrary\"\n}\n");
    makePrefix(flatpak + "/.local/share/Steam/steamapps/compatdata/100/pfx");
    put(flatpak + "/.local/share/Steam/steamapps/appmanifest_100.acf", manifest("100", "Flatpak Game"));
    symlinkTo(flatpak + "/.local/share/Steam", flatpak + "/.steam/steam");
}

// Lutris: games in the old folder and the new, one prefix shared by two games, and the files that
// are not what they should be.
void makeLutris(const std::string& home, const std::string& elsewhere) {
    const std::string old = home + "/.config/lutris/games/";
    const std::string newer = home + "/.local/share/lutris/games/";
    put(old + "diablo-1600000000.yml",
        "name: Diablo\ngame:\n  exe: /x/diablo.exe\n  prefix: ~/Games/diablo\nrunner: wine\n");
    makePrefix(home + "/Games/diablo");
    put(newer + "quake.yml", "game:\n  prefix: " + elsewhere + "/quake\n");
    makePrefix(elsewhere + "/quake");
    put(newer + "hellfire.yml", "name: Hellfire\ngame:\n  prefix: $HOME/Games/diablo\n");
    put(newer + "native.yml", "name: Native\ngame:\n  exe: /usr/bin/true\n");
    put(newer + "broken.yml", "game: [unclosed\n");
    put(newer + "gone.yml", "game:\n  prefix: " + elsewhere + "/gone\n");
    put(newer + "relative.yml", "game:\n  prefix: Games/x\n");
    put(newer + "list.yml", "- a\n- b\n");
    std::string laughs = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
    for (char name = 'b'; name <= 'g'; ++name) {
        const char before = static_cast<char>(name - 1);
        laughs += std::string(1, name) + ": &" + name + " [";
        for (int i = 0; i < 10; ++i)
            laughs += std::string(i ? ", *" : "*") + before;
        laughs += "]\n";
    }
    put(newer + "laughs.yml", laughs);
    put(newer + "huge.yml", "");
    ASSERT_EQ(::truncate((newer + "huge.yml").c_str(), 2 << 20), 0);
    ASSERT_EQ(::mkfifo((newer + "fifo.yml").c_str(), 0600), 0);
}

void makeBottlesAndOthers(const std::string& home, const std::string& elsewhere) {
    const std::string bottles = home + "/.local/share/bottles/bottles/";
    put(bottles + "Gaming/bottle.yml", "Name: Gaming Bottle\nPath: Gaming\nCustom_Path: false\n");
    makePrefix(bottles + "Gaming", { "system.reg", "user.reg", "userdef.reg" });
    put(bottles + "Odd/bottle.yml", "- just\n- a list\n");
    put(bottles + "Custom/bottle.yml", "Name: Elsewhere\nCustom_Path: true\nPath: " + elsewhere + "/custom-bottle\n");
    makePrefix(elsewhere + "/custom-bottle");
    const std::string flatpak = home + "/.var/app/com.usebottles.bottles/data/bottles/bottles/";
    put(flatpak + "Work/bottle.yml", "Name: Work\n");
    makePrefix(flatpak + "Work");

    makePrefix(home + "/.PlayOnLinux/wineprefix/Office2010");
    fs::create_directories(home + "/.PlayOnLinux/wineprefix/Empty");
    put(home + "/.PlayOnLinux/wineprefix/readme.txt", "not a prefix");

    const std::string heroic = home + "/.config/heroic/GamesConfig/";
    put(heroic + "Fortnite.json",
        R"({"Fortnite": {"winePrefix": "~/Games/Heroic/Prefixes/Fortnite", "wineVersion": {"bin": "/x"}},)"
        R"( "version": "v0", "explicit": true})");
    makePrefix(home + "/Games/Heroic/Prefixes/Fortnite");
    put(heroic + "abc.json", R"({"abc123": {"winePrefix": ")" + elsewhere + R"(/proton-game"}})");
    makePrefix(elsewhere + "/proton-game/pfx");
    put(heroic + "bad.json", "{ not json");
    put(heroic + "deep.json", std::string(100000, '['));
    put(heroic + "native.json", R"({"linuxgame": {"winePrefix": ""}})");
    put(heroic + "number.json", R"({"x": {"winePrefix": ["/a"]}})");
    put(home + "/.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/gog.json",
        R"({"1207658924": {"winePrefix": ")" + elsewhere + R"(/gog"}})");
    makePrefix(elsewhere + "/gog");

    makePrefix(home + "/.cxoffice/Office");
    put(home + "/.cxoffice/cxoffice.conf", "[settings]\n");
    fs::create_directories(home + "/.cxoffice/Broken/system.reg");
    fs::create_directory_symlink(home + "/.cxoffice/Loop", home + "/.cxoffice/Loop");
}

using Row = std::tuple<std::string, std::string, std::string>;

// The registries of that home folder, as the list must give them: name, kind and folder.
std::vector<Row> expectedRows(const std::string& home, const std::string& elsewhere) {
    const std::string steam = home + "/.local/share/Steam/steamapps/compatdata/";
    const std::string library = elsewhere + "/SteamLibrary/steamapps/compatdata/";
    return {
        { elsewhere + "/office", "Wine (WINEPREFIX)", elsewhere + "/office" },
        { "~/.wine", "Wine", home + "/.wine" },
        { "Quern's own registry", "Quern", home + "/.local/share/quern/registry" },
        { "Flatpak Game", "Steam",
            home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/100/pfx" },
        { "Half-Life 2", "Steam", steam + "220/pfx" },
        { "Say \"Cheese\"", "Steam", library + "300/pfx" },
        { "Steam app 570", "Steam", steam + "570/pfx" },
        { "Steam app 9999", "Steam", steam + "9999/pfx" },
        { "Team Fortress 2", "Steam", steam + "440/pfx" },
        { "Diablo", "Lutris", home + "/Games/diablo" },
        { "quake", "Lutris", elsewhere + "/quake" },
        { "Elsewhere", "Bottles", elsewhere + "/custom-bottle" },
        { "Gaming Bottle", "Bottles", home + "/.local/share/bottles/bottles/Gaming" },
        { "Work", "Bottles", home + "/.var/app/com.usebottles.bottles/data/bottles/bottles/Work" },
        { "Office2010", "PlayOnLinux", home + "/.PlayOnLinux/wineprefix/Office2010" },
        { "1207658924", "Heroic", elsewhere + "/gog" },
        { "abc123", "Heroic", elsewhere + "/proton-game/pfx" },
        { "Fortnite", "Heroic", home + "/Games/Heroic/Prefixes/Fortnite" },
        { "Office", "CrossOver", home + "/.cxoffice/Office" },
    };
}

// Each note's file and the start of its words.
std::vector<std::pair<std::string, std::string>> expectedNoteStarts(
    const std::string& home, const std::string& elsewhere) {
    const std::string steam = home + "/.local/share/Steam/steamapps/compatdata/";
    const std::string lutris = home + "/.local/share/lutris/games/";
    const std::string heroic = home + "/.config/heroic/GamesConfig/";
    return {
        { home + "/.local/share/Steam/steamapps/libraryfolders.vdf",
            "names the library " + elsewhere + "/Unplugged, which is not there" },
        { steam + "730/pfx", "is a file, not a folder" },
        { home + "/.local/share/Steam/steamapps/appmanifest_570.acf",
            "is not what it should be: line 4: the { of line 2 is never closed" },
        { lutris + "broken.yml", "is not what it should be: line 2, column 1: " },
        { lutris + "fifo.yml", "is a FIFO (a named pipe), not a regular file" },
        { lutris + "gone.yml", "names " + elsewhere + "/gone, which is not there" },
        { lutris + "huge.yml", "is larger than 1 MiB (2097152 bytes), more than any launcher's settings file" },
        { lutris + "laughs.yml", "is not what it should be: more than 200000 nodes" },
        { lutris + "list.yml", "is not what it should be: not a map of settings" },
        { lutris + "relative.yml", "names the prefix \"Games/x\", which is not an absolute path" },
        { home + "/.local/share/bottles/bottles/Odd/bottle.yml", "is not what it should be: not a map of settings" },
        { heroic + "bad.json", "is not what it should be: parse error at line 1, column 4: " },
        { heroic + "deep.json", "is not what it should be: nested more than 64 deep" },
        { heroic + "number.json", "is not what it should be: the winePrefix of x is not a path" },
        { home + "/.cxoffice/Broken/system.reg", "is a folder, not a registry file" },
        { home + "/.cxoffice/Loop", "is a loop of symbolic links" },
    };
}

} // namespace

// One home folder with every launcher's layout and the odd files each can hold: the list, its
// order, its names, kinds and folders, and a note for every file that is not what it should be.
TEST(RegistryDiscoveryTest, FindsEveryLaunchersRegistriesAndNotesWhatItCannotRead) {
    const test::TempDir homeDir;
    const test::TempDir elsewhereDir;
    const std::string& home = homeDir.path();
    const std::string& elsewhere = elsewhereDir.path();
    makePrefix(elsewhere + "/office", { "system.reg", "user.reg" });
    makePrefix(home + "/.wine");
    const std::string own = home + "/.local/share/quern/registry";
    makePrefix(own, { "system.reg", "user.reg", "userdef.reg", "user.reg.kept" });
    const std::pair<const char*, long> stamps[]
        = { { "system.reg", 1000 }, { "user.reg", 3000 }, { "userdef.reg", 2000 }, { "user.reg.kept", 9000 } };
    for (const auto& [file, seconds] : stamps) {
        const timespec times[2] = { { seconds, 0 }, { seconds, 500 } };
        ASSERT_EQ(::utimensat(AT_FDCWD, (own + "/" + file).c_str(), times, 0), 0);
    }
    makeSteam(home, elsewhere);
    makeLutris(home, elsewhere);
    makeBottlesAndOthers(home, elsewhere);

    DiscoveryOptions options;
    options.lookForServers = false;
    const Discovery found = discoverRegistries(home, { { "WINEPREFIX", elsewhere + "/office" } }, options);

    std::vector<Row> listed;
    for (const auto& registry : found.registries)
        listed.emplace_back(registry.name, std::string(kindName(registry.kind)), registry.folder);
    EXPECT_EQ(listed, expectedRows(home, elsewhere));

    std::vector<std::string> notes;
    for (const auto& note : found.notes)
        notes.push_back(note.path + ": " + note.problem);
    const auto expectedNotes = expectedNoteStarts(home, elsewhere);
    for (const auto& [path, problem] : expectedNotes) {
        const std::string start = path + ": " + problem;
        EXPECT_EQ(
            std::count_if(notes.begin(), notes.end(), [&](const std::string& n) { return n.starts_with(start); }), 1)
            << start;
    }
    EXPECT_EQ(notes.size(), expectedNotes.size()) << ::testing::PrintToString(notes);

    // The three registry files count, and nothing else beside them.
    EXPECT_EQ(found.registries[2].size, 3 * std::string("WINE REGISTRY Version 2\n").size());
    EXPECT_EQ(
        found.registries[2].lastChange.time_since_epoch(), std::chrono::seconds(3000) + std::chrono::nanoseconds(500));
    const auto diablo = std::find_if(
        found.registries.begin(), found.registries.end(), [](const FoundRegistry& r) { return r.name == "Diablo"; });
    ASSERT_NE(diablo, found.registries.end());
    EXPECT_EQ(diablo->alsoNamed, std::vector<std::string> { "Hellfire" });
}

// Who holds each registry: a wineserver by its lock, one found only as a process working in its
// server folder, programs whose server was not found, and nobody; the programs of each, Wine's own last.
TEST(RegistryDiscoveryTest, TellsWhichWineserverAndProgramsHoldEachRegistry) {
    const test::TempDir homeDir;
    const test::TempDir work;
    const std::string& home = homeDir.path();
    const std::string prefixes = home + "/.PlayOnLinux/wineprefix/";
    for (const char* name : { "Held", "Served", "Idle" })
        makePrefix(prefixes + name);
    makePrefix(home + "/.wine");
    const reg::ServerSearchPaths paths { work / "tmp", work / "upstream", "/proc" };
    const test::HeldLock lock(paths.upstreamDir + "/" + reg::serverFolderName(prefixes + "Held") + "/lock");
    const std::string wine = test::copyOfSleep(work / "bin/wine64-preloader");
    const std::string server = test::copyOfSleep(work / "bin/wineserver");
    const test::FakeWineProcess game(wine, "C:\\Games\\game.exe", { "WINEPREFIX=" + prefixes + "Held" }, work.path());
    const test::FakeWineProcess services(
        wine, "C:\\windows\\system32\\services.exe", { "WINEPREFIX=" + prefixes + "Held/" }, work.path());
    const std::string serverFolder = work / ("other-tmp/" + reg::serverFolderName(prefixes + "Served"));
    fs::create_directories(serverFolder);
    const test::FakeWineProcess otherServer(server, "wineserver", {}, serverFolder);
    // Without WINEPREFIX, Wine's prefix is ~/.wine of the program's HOME.
    const test::FakeWineProcess notepad(wine, "notepad.exe", { "HOME=" + home }, work.path());

    DiscoveryOptions options;
    options.serverPaths = paths;
    const Discovery found = discoverRegistries(home, {}, options);
    ASSERT_EQ(found.registries.size(), 4U);
    struct Held {
        std::string name;
        bool held;
        pid_t serverPid;
        std::vector<std::tuple<pid_t, std::string, std::string, bool>> programs;
        bool operator==(const Held&) const = default;
    };
    std::vector<Held> seen;
    for (const auto& registry : found.registries) {
        Held held { registry.name, registry.held, registry.serverPid, {} };
        for (const auto& program : registry.programs)
            held.programs.emplace_back(program.pid, program.name, program.command, program.wineService);
        seen.push_back(held);
    }
    const std::vector<Held> expected {
        { "~/.wine", true, 0, { { notepad.pid(), "notepad.exe", "notepad.exe", false } } },
        { "Held", true, lock.pid(),
            { { game.pid(), "game.exe", "C:\\Games\\game.exe", false },
                { services.pid(), "services.exe", "C:\\windows\\system32\\services.exe", true } } },
        { "Idle", false, 0, {} },
        { "Served", true, otherServer.pid(), {} },
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(seen[i].name, expected[i].name);
        EXPECT_EQ(seen[i].held, expected[i].held) << expected[i].name;
        EXPECT_EQ(seen[i].serverPid, expected[i].serverPid) << expected[i].name;
        EXPECT_EQ(seen[i].programs, expected[i].programs) << expected[i].name;
    }
    EXPECT_NE(found.registries[1].heldHow.find("holds the lock"), std::string::npos) << found.registries[1].heldHow;

    // One prefix looked at alone, as a tab's read-only bar does, finds the same; the sentences the
    // user reads name the server and the programs, Wine's own counted apart.
    const FoundRegistry held = lookAtPrefix(prefixes + "Held", {}, options);
    EXPECT_EQ(held.serverPid, lock.pid());
    EXPECT_EQ(held.programs.size(), 2U);
    const std::string gameText = "game.exe (process " + std::to_string(game.pid()) + ")";
    EXPECT_EQ(programsSentence(held), gameText + " and 1 program of Wine's own");
    EXPECT_EQ(holdersSentence(held),
        "wineserver (process " + std::to_string(lock.pid()) + "), running " + gameText
            + " and 1 program of Wine's own");
    EXPECT_EQ(holdersSentence(found.registries[3]), "wineserver (process " + std::to_string(otherServer.pid()) + ")");
    EXPECT_EQ(holdersSentence(found.registries[2]), "");
}
