#include "window/QuernIniFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace quern;
using test::readFile;
using test::TempDir;
using test::writeFile;

namespace {

const WindowPlacement kMaximised { 40, 30, 700, 500, kShowMaximized };

SettingsToStore sampleValues() {
    SettingsToStore values;
    values.treeWidth = 260;
    values.nameColumnWidth = 180;
    values.pathText = "HKEY_CURRENT_USER\\Software\\Wine";
    values.binViewMode = 0;
    values.dwordViewMode = 2;
    values.placement = kMaximised;
    return values;
}

std::size_t filesIn(const std::string& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

} // namespace

TEST(SettingsLines, MissingFileLeavesEveryDefault) {
    TempDir dir;
    QuernIniFile file(dir / "settings.ini");
    const StoredSettings stored = readSettingsLines(file);
    EXPECT_FALSE(stored.treeWidth || stored.nameColumnWidth || stored.pathText || stored.binViewMode
        || stored.dwordViewMode || stored.placement);
    int number = 7;
    EXPECT_FALSE(file.readNumber(number));
    EXPECT_EQ(number, 7);
}

TEST(SettingsLines, ThreeLinesRestoreWidthsAndPathOnly) {
    TempDir dir;
    writeFile(dir / "settings.ini", "240\r\n90\r\nHKEY_USERS\\.Default\r\n");
    QuernIniFile file(dir / "settings.ini");
    const StoredSettings stored = readSettingsLines(file);
    EXPECT_EQ(stored.treeWidth, 240);
    EXPECT_EQ(stored.nameColumnWidth, 90);
    EXPECT_EQ(stored.pathText, "HKEY_USERS\\.Default");
    EXPECT_FALSE(stored.binViewMode || stored.dwordViewMode || stored.placement);
}

TEST(SettingsLines, BadNumberCostsOnlyItsOwnLine) {
    TempDir dir;
    writeFile(dir / "settings.ini", "240\r\nwide\r\npath\r\n1\r\n0\r\n10\r\n20\r\n300\r\n200\r\n1\r\n");
    QuernIniFile file(dir / "settings.ini");
    const StoredSettings stored = readSettingsLines(file);
    EXPECT_EQ(stored.treeWidth, 240);
    EXPECT_FALSE(stored.nameColumnWidth);
    EXPECT_EQ(stored.pathText, "path");
    EXPECT_EQ(stored.binViewMode, 1);
    EXPECT_EQ(stored.dwordViewMode, 0);
    EXPECT_EQ(stored.placement, (WindowPlacement { 10, 20, 300, 200, kShowNormal }));
}

TEST(SettingsLines, OutOfRangeValuesReadAsTheirSafeForms) {
    TempDir dir;
    // Tree width 0, a negative name column, view modes the grid has no rendering for.
    writeFile(dir / "settings.ini", "0\r\n-40\r\n\r\n3\r\n-1\r\n");
    QuernIniFile file(dir / "settings.ini");
    StoredSettings stored = readSettingsLines(file);
    EXPECT_EQ(stored.treeWidth, 1);
    EXPECT_EQ(stored.nameColumnWidth, 0);
    EXPECT_EQ(stored.pathText, "");
    EXPECT_FALSE(stored.binViewMode);
    EXPECT_FALSE(stored.dwordViewMode);

    writeFile(dir / "settings.ini", "-25\r\n1\r\nx\r\n255\r\n2\r\n");
    stored = readSettingsLines(file);
    EXPECT_EQ(stored.treeWidth, 1);
    EXPECT_FALSE(stored.binViewMode);
    EXPECT_EQ(stored.dwordViewMode, 2);
}

TEST(SettingsLines, NumbersAreDecimalIntegersWithBlanksForgiven) {
    TempDir dir;
    writeFile(dir / "settings.ini",
        " 12 \r\n+5\r\n-7\r\n12px\r\n0x10\r\n\r\n99999999999\r\n2147483647\r\n-2147483648\r\n1.5\r\n");
    QuernIniFile file(dir / "settings.ini");
    std::vector<std::optional<int>> got;
    for (int i = 0; i < 10; ++i) {
        int number = 0;
        got.push_back(file.readNumber(number) ? std::optional<int>(number) : std::nullopt);
    }
    const std::vector<std::optional<int>> want { 12, 5, -7, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
        2147483647, -2147483647 - 1, std::nullopt };
    EXPECT_EQ(got, want);
    int number = 0;
    EXPECT_FALSE(file.readNumber(number)); // the end
}

TEST(SettingsLines, LinesEndAtCrLfLfOrCr) {
    TempDir dir;
    writeFile(dir / "settings.ini", "1\n2\r3\r\n\r\nlast");
    QuernIniFile file(dir / "settings.ini");
    std::vector<std::string> lines;
    std::string line;
    while (file.readText(line))
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string> { "1", "2", "3", "", "last" }));
}

TEST(SettingsLines, PlacementWithABadLineUsesUpAllFiveAndChangesNothing) {
    TempDir dir;
    writeFile(dir / "settings.ini", "10\r\n20\r\n\r\n200\r\n3\r\nafter\r\n");
    QuernIniFile file(dir / "settings.ini");
    WindowPlacement placement = kMaximised;
    EXPECT_FALSE(file.readPlacement(placement));
    EXPECT_EQ(placement, kMaximised);
    std::string next;
    ASSERT_TRUE(file.readText(next));
    EXPECT_EQ(next, "after");

    writeFile(dir / "settings.ini", "10\r\n20\r\n300\r\n");
    QuernIniFile shorter(dir / "settings.ini");
    EXPECT_FALSE(shorter.readPlacement(placement));
    EXPECT_EQ(placement, kMaximised);
}

TEST(SettingsLines, UnknownShowCommandReadsAsNormalSoTheWindowIsNeverHidden) {
    TempDir dir;
    writeFile(dir / "settings.ini", "1\r\n2\r\n3\r\n4\r\n0\r\n1\r\n2\r\n3\r\n4\r\n2\r\n");
    QuernIniFile file(dir / "settings.ini");
    WindowPlacement placement;
    ASSERT_TRUE(file.readPlacement(placement));
    EXPECT_EQ(placement, (WindowPlacement { 1, 2, 3, 4, kShowNormal }));
    ASSERT_TRUE(file.readPlacement(placement));
    EXPECT_EQ(placement.showCommand, kShowMinimized);
}

TEST(SettingsLines, FileThatCannotBeReadCountsAsMissing) {
    TempDir dir;
    std::filesystem::create_directory(dir / "settings.ini");
    QuernIniFile file(dir / "settings.ini");
    const StoredSettings stored = readSettingsLines(file);
    EXPECT_FALSE(stored.treeWidth || stored.pathText || stored.placement);
    if (::geteuid() != 0) { // root reads whatever the mode says
        writeFile(dir / "locked.ini", "300\r\n");
        std::filesystem::permissions(dir / "locked.ini", std::filesystem::perms::none);
        QuernIniFile locked(dir / "locked.ini");
        int number = 0;
        EXPECT_FALSE(locked.readNumber(number));
    }
}

TEST(SettingsLines, WriteRecreatesTheFileWithCrLfLines) {
    TempDir dir;
    writeFile(dir / "settings.ini", std::string(500, 'x') + "\r\nold tail\r\n");
    QuernIniFile file(dir / "settings.ini");
    writeSettingsLines(file, sampleValues());
    EXPECT_FALSE(file.writeFailed());
    EXPECT_EQ(readFile(dir / "settings.ini"),
        "260\r\n180\r\nHKEY_CURRENT_USER\\Software\\Wine\r\n0\r\n2\r\n40\r\n30\r\n700\r\n500\r\n3\r\n");
    EXPECT_EQ(filesIn(dir.path()), 1u); // no temporary file left behind
}

TEST(SettingsLines, MaximisedWindowRoundTrip) {
    TempDir dir;
    QuernIniFile file(dir / "settings.ini");
    writeSettingsLines(file, sampleValues());
    const StoredSettings stored = readSettingsLines(file);
    EXPECT_EQ(stored.treeWidth, 260);
    EXPECT_EQ(stored.nameColumnWidth, 180);
    EXPECT_EQ(stored.pathText, "HKEY_CURRENT_USER\\Software\\Wine");
    EXPECT_EQ(stored.binViewMode, 0);
    EXPECT_EQ(stored.dwordViewMode, 2);
    EXPECT_EQ(stored.placement, kMaximised);
}

TEST(SettingsLines, LineBreakInThePathCannotMoveTheLaterValues) {
    TempDir dir;
    SettingsToStore values = sampleValues();
    values.pathText = "HKEY_USERS\\a\r\n7\nb";
    QuernIniFile file(dir / "settings.ini");
    writeSettingsLines(file, values);
    const StoredSettings stored = readSettingsLines(file);
    EXPECT_EQ(stored.pathText, "HKEY_USERS\\a");
    EXPECT_EQ(stored.binViewMode, 0);
    EXPECT_EQ(stored.placement, kMaximised);
}

TEST(SettingsLines, OldFileStaysWholeUntilTheNewOneIsClosed) {
    TempDir dir;
    writeFile(dir / "settings.ini", "old\r\n");
    QuernIniFile file(dir / "settings.ini");
    file.writeNumber(1);
    file.writeNumber(2);
    EXPECT_EQ(readFile(dir / "settings.ini"), "old\r\n");
    file.close();
    EXPECT_EQ(readFile(dir / "settings.ini"), "1\r\n2\r\n");
}

TEST(SettingsLines, ReplacedFileKeepsItsPermissions) {
    TempDir dir;
    writeFile(dir / "settings.ini", "old\r\n");
    namespace fs = std::filesystem;
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir / "settings.ini", mode);
    QuernIniFile file(dir / "settings.ini");
    file.writeNumber(1);
    file.close();
    EXPECT_EQ(fs::status(dir / "settings.ini").permissions(), mode);
}

TEST(SettingsLines, ReadAfterWritesStartsAgainAtTheFirstLine) {
    TempDir dir;
    QuernIniFile file(dir / "settings.ini");
    file.writeNumber(5);
    file.writeText("text");
    int number = 0;
    ASSERT_TRUE(file.readNumber(number));
    EXPECT_EQ(number, 5);
    // Writing again after reading makes a new file from its first line.
    file.writeNumber(9);
    file.close();
    EXPECT_EQ(readFile(dir / "settings.ini"), "9\r\n");
}

TEST(SettingsLines, FileThatCannotBeMadeSetsTheFlagAndIsNeverPutInPlaceWithALostLine) {
    TempDir dir;
    // A plain file where the folder should be: nothing can be made below it.
    writeFile(dir / "blocked", "");
    const std::string name = dir / "blocked/settings.ini";
    QuernIniFile file(name);
    file.writeNumber(260);
    EXPECT_TRUE(file.writeFailed());
    // The next write tries again, and succeeds once the folder can be made ...
    std::filesystem::remove(dir / "blocked");
    file.writeNumber(180);
    EXPECT_FALSE(file.writeFailed());
    // ... but a file without its first line would hand 180 to the tree width: it is dropped.
    file.close();
    EXPECT_TRUE(file.writeFailed());
    EXPECT_FALSE(std::filesystem::exists(name));
    EXPECT_EQ(filesIn(dir / "blocked"), 0u);

    // The next writing starts clean.
    writeSettingsLines(file, sampleValues());
    EXPECT_FALSE(file.writeFailed());
    EXPECT_EQ(readSettingsLines(file).treeWidth, 260);
}

TEST(SettingsLocation, ProgramFolderWhenWritableElseTheUserConfigFolder) {
    const auto writable = [](const std::string&) { return true; };
    const auto readOnly = [](const std::string&) { return false; };
    EXPECT_EQ(settingsFilePath("/opt/quern", "/home/u/cfg", "/home/u", writable), "/opt/quern/settings.ini");
    EXPECT_EQ(settingsFilePath("/opt/quern", "/home/u/cfg", "/home/u", readOnly), "/home/u/cfg/quern/settings.ini");
    EXPECT_EQ(settingsFilePath("/opt/quern", "", "/home/u", readOnly), "/home/u/.config/quern/settings.ini");
    // A relative XDG_CONFIG_HOME is not a configuration folder.
    EXPECT_EQ(settingsFilePath("/opt/quern", "cfg", "/home/u", readOnly), "/home/u/.config/quern/settings.ini");
    EXPECT_EQ(settingsFilePath("/opt/quern", "", "", readOnly), "/opt/quern/settings.ini");
}

TEST(SettingsLocation, UnwritableProgramFolderKeepsTheSettingsInTheConfigFolder) {
    TempDir dir;
    std::filesystem::create_directory(dir / "program");
    const auto unwritable = [](const std::string&) { return false; };
    const std::string name = settingsFilePath(dir / "program", dir / "config", dir.path(), unwritable);
    QuernIniFile file(name);
    writeSettingsLines(file, sampleValues());
    EXPECT_FALSE(file.writeFailed());
    EXPECT_TRUE(std::filesystem::exists(dir / "config/quern/settings.ini"));
    EXPECT_EQ(filesIn(dir / "program"), 0u);
    EXPECT_EQ(readSettingsLines(file).placement, kMaximised);
}

TEST(SettingsLocation, AnInstalledBinFolderKeepsTheSettingsInTheConfigFolder) {
    TempDir dir;
    const auto writable = [](const std::string&) { return true; };
    for (const std::string install : { "usr-local", "home/.local" }) {
        const std::string bin = dir / (install + "/bin");
        std::filesystem::create_directories(bin);
        std::filesystem::create_directories(dir / (install + "/share/quern"));
        EXPECT_EQ(settingsFilePath(bin, dir / "cfg", dir / "home", writable), bin + "/settings.ini")
            << "a bin folder without the help beside it is no install";
        writeFile(dir / (install + "/share/quern/ENGQuern.hlp"), "");
        EXPECT_TRUE(isInstalledProgramFolder(bin + "/"));
        EXPECT_EQ(settingsFilePath(bin, dir / "cfg", dir / "home", writable), dir / "cfg/quern/settings.ini");
        EXPECT_EQ(settingsFilePath(bin, "", dir / "home", writable), dir / "home/.config/quern/settings.ini");

        // An earlier version's settings beside the program are read until the new place has its own.
        const std::string config = dir / (install + "-cfg/quern/settings.ini");
        EXPECT_EQ(settingsFileToRead(config, bin), config);
        writeFile(bin + "/settings.ini", "earlier");
        EXPECT_EQ(settingsFileToRead(config, bin), bin + "/settings.ini");
        std::filesystem::create_directories(dir / (install + "-cfg/quern"));
        writeFile(config, "now");
        EXPECT_EQ(settingsFileToRead(config, bin), config);
    }
    // A build tree keeps them beside the program, whatever lies around it.
    std::filesystem::create_directories(dir / "build/src");
    std::filesystem::create_directories(dir / "build/share/quern");
    writeFile(dir / "build/share/quern/ENGQuern.hlp", "");
    EXPECT_FALSE(isInstalledProgramFolder(dir / "build/src"));
    EXPECT_EQ(settingsFilePath(dir / "build/src", dir / "cfg", dir / "home", writable), dir / "build/src/settings.ini");
}

TEST(SettingsLocation, WritableFolderTest) {
    TempDir dir;
    EXPECT_TRUE(isWritableFolder(dir.path()));
    EXPECT_FALSE(isWritableFolder(dir / "missing"));
    writeFile(dir / "file", "");
    EXPECT_FALSE(isWritableFolder(dir / "file"));
    EXPECT_FALSE(isWritableFolder(""));
    if (::geteuid() != 0) {
        std::filesystem::create_directory(dir / "locked");
        std::filesystem::permissions(
            dir / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_FALSE(isWritableFolder(dir / "locked"));
    }
}

TEST(PlacementOnScreens, OnlyAWindowWhollyOffEveryScreenMoves) {
    const ScreenRect primary { 0, 0, 1920, 1080 };
    const ScreenRect right { 1920, 0, 1280, 1024 };
    const std::vector<ScreenRect> screens { primary, right };
    const WindowPlacement onRight { 2000, 100, 800, 600, kShowNormal };
    EXPECT_EQ(placeOnScreens(onRight, screens, primary), onRight);
    const WindowPlacement partly { -700, -500, 800, 600, kShowMaximized }; // one corner on screen
    EXPECT_EQ(placeOnScreens(partly, screens, primary), partly);
    // Left behind by a screen that is gone: centred on the primary screen, show command kept.
    const WindowPlacement gone { 3300, 100, 800, 600, kShowMaximized };
    EXPECT_EQ(placeOnScreens(gone, screens, primary), (WindowPlacement { 560, 240, 800, 600, kShowMaximized }));
    // Touching an edge is not overlapping it.
    const WindowPlacement edge { -800, 0, 800, 600, kShowNormal };
    EXPECT_EQ(placeOnScreens(edge, screens, primary).left, 560);
    // Too large for the primary screen: made to fit it.
    const WindowPlacement huge { -9000, -9000, 4000, 3000, kShowNormal };
    EXPECT_EQ(placeOnScreens(huge, screens, primary), (WindowPlacement { 0, 0, 1920, 1080, kShowNormal }));
    // Far out where a sum would overflow.
    const WindowPlacement far { 2147483000, 2147483000, 2000, 2000, kShowNormal };
    EXPECT_EQ(placeOnScreens(far, screens, primary).left, 0);
}

TEST(PlacementOnScreens, AWindowFitsWhollyOnItsScreen) {
    const ScreenRect screen { 0, 0, 1280, 900 };
    // Centred on a main window at the top of the screen: moved down just enough.
    EXPECT_EQ(fitOnScreen({ 200, -10, 600, 400 }, screen).top, 0);
    EXPECT_EQ(fitOnScreen({ 200, -10, 600, 400 }, screen).left, 200);
    const ScreenRect corner = fitOnScreen({ 1000, 800, 600, 400 }, screen);
    EXPECT_EQ(corner.left, 680);
    EXPECT_EQ(corner.top, 500);
    const ScreenRect huge = fitOnScreen({ -50, -50, 3000, 2000 }, screen);
    EXPECT_EQ(huge.left, 0);
    EXPECT_EQ(huge.width, 1280);
    EXPECT_EQ(huge.height, 900);
    const ScreenRect second = fitOnScreen({ 1200, 10, 300, 200 }, { 1280, 0, 1024, 768 });
    EXPECT_EQ(second.left, 1280) << "a screen that does not start at 0";
    const ScreenRect inside { 10, 20, 300, 200 };
    EXPECT_EQ(fitOnScreen(inside, screen).left, 10);
    EXPECT_EQ(fitOnScreen(inside, screen).top, 20);
}
