#include "discover/RegistryPlace.h"
#include "TestSupport.h"
#include "hive/OfflineHive.h"
#include "store/KeyWalk.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quern;
using namespace quern::discover;
namespace fs = std::filesystem;

namespace {

using Kind = RegistryPlace::Kind;

// What placeOfPath answers, as one line: the kind, or the start of the reason it gives.
std::string judged(const std::string& path) {
    RegistryPlace place;
    const reg::Status status = placeOfPath(path, place);
    if (!status.ok()) return status.message();
    return (place.kind == Kind::Prefix ? "prefix " : "hive ") + place.name;
}

} // namespace

// What a path names: prefixes (by either file), hive files by their signature; folders, files and
// names that are neither are refused with a reason, never opened as a new registry.
TEST(RegistryPlaceTest, TellsPrefixesAndHiveFilesFromAnythingElse) {
    const test::TempDir dir;
    fs::create_directories(dir / "system-only");
    test::writeFile(dir / "system-only/system.reg", "WINE REGISTRY Version 2\n");
    fs::create_directories(dir / "user-only");
    test::writeFile(dir / "user-only/user.reg", "WINE REGISTRY Version 2\n");
    fs::create_directories(dir / "empty");
    ASSERT_TRUE(reg::writeEmptyHive(dir / "NTUSER.DAT").ok());
    test::writeFile(dir / "notes.reg", "Windows Registry Editor Version 5.00\n");
    test::writeFile(dir / "short", "reg");
    fs::create_directory_symlink(dir / "system-only", dir / "link");

    EXPECT_EQ(judged(dir / "system-only"), "prefix " + (dir / "system-only"));
    EXPECT_EQ(judged(dir / "user-only/"), "prefix " + (dir / "user-only"));
    EXPECT_EQ(judged(dir / "NTUSER.DAT"), "hive NTUSER.DAT");
    EXPECT_EQ(
        judged(dir / "empty"), (dir / "empty") + " is not a Wine prefix: it holds neither system.reg nor user.reg.");
    EXPECT_EQ(
        judged(dir / "notes.reg"), (dir / "notes.reg") + " is neither a Wine prefix's folder nor a Windows hive file.");
    EXPECT_EQ(judged(dir / "short"), (dir / "short") + " is neither a Wine prefix's folder nor a Windows hive file.");
    EXPECT_EQ(judged(dir / "gone"), (dir / "gone") + ": No such file or directory.");
    EXPECT_EQ(judged(""), "No folder or file was named.");

    // The same registry however it is reached; a hive and a prefix are never the same.
    const RegistryPlace real { Kind::Prefix, dir / "system-only", "a" };
    EXPECT_TRUE(samePlace(real, { Kind::Prefix, dir / "link", "b" }));
    EXPECT_TRUE(samePlace(real, { Kind::Prefix, dir / "empty/../system-only/", "" }));
    EXPECT_FALSE(samePlace(real, { Kind::Prefix, dir / "user-only", "a" }));
    EXPECT_FALSE(samePlace(real, { Kind::HiveFile, dir / "system-only", "a" }));
    EXPECT_TRUE(samePlace({ Kind::Prefix, "/gone/x", "" }, { Kind::Prefix, "/gone/x", "other" }));

    EXPECT_EQ(placeName({ Kind::Prefix, "/home/ann/.wine/", "" }, "/home/ann"), "~/.wine");
    EXPECT_EQ(placeName({ Kind::Prefix, "/home/anna/.wine", "" }, "/home/ann"), "/home/anna/.wine");
    EXPECT_EQ(placeName({ Kind::HiveFile, "/mnt/c/Windows/System32/config/SOFTWARE", "" }, "/home/ann"), "SOFTWARE");
}

// The lines the open tabs and the recent list are kept as: every place comes back as it was, and
// lines that are not one are passed over. The recent list keeps each registry once, newest first.
TEST(RegistryPlaceTest, KeepsPlacesAsLinesAndRemembersTheRecentOnes) {
    const std::vector<RegistryPlace> places { { Kind::Prefix, "/home/ann/.wine", "~/.wine" },
        { Kind::Prefix, "/games/Half-Life 2/pfx", "Half-Life 2: Episode\tTwo" },
        { Kind::HiveFile, "/mnt/c/config/SOFTWARE", "SOFTWARE" }, { Kind::Prefix, "/odd\tpath/pfx", "odd" } };
    for (const RegistryPlace& place : places) {
        const auto back = placeFromLine(placeLine(place));
        ASSERT_TRUE(back) << placeLine(place);
        RegistryPlace expected = place;
        std::replace(expected.name.begin(), expected.name.end(), '\t', ' ');
        EXPECT_EQ(*back, expected);
    }
    for (const char* bad : { "", "prefix", "prefix\tname", "prefix\tname\t", "folder\tname\t/x", "\t\t/x" })
        EXPECT_FALSE(placeFromLine(bad)) << bad;
    EXPECT_EQ(placeFromLine("hive\t\t/x/SYSTEM")->name, "SYSTEM"); // a line without a name gets the default one

    std::vector<RegistryPlace> recent;
    for (int i = 0; i < 12; ++i)
        rememberPlace(recent, { Kind::Prefix, "/p" + std::to_string(i), "p" + std::to_string(i) }, 10);
    rememberPlace(recent, { Kind::Prefix, "/p5", "five" }, 10);
    ASSERT_EQ(recent.size(), 10U);
    EXPECT_EQ(recent[0].name, "five");
    EXPECT_EQ(recent[1].path, "/p11");
    EXPECT_EQ(recent[9].path, "/p2"); // /p0 and /p1 fell off the end; /p5 moved to the front
    EXPECT_EQ(std::count_if(recent.begin(), recent.end(), [](const auto& p) { return p.path == "/p5"; }), 1);
}

// A hive file opens alone, below HKEY_LOCAL_MACHINE by its name; it can change, the rest cannot.
// A file that only begins as a hive does is refused with the reason, and nothing is opened.
TEST(RegistryPlaceTest, OpensAHiveFileAloneAndRefusesABrokenOne) {
    const test::TempDir dir;
    ASSERT_TRUE(reg::writeEmptyHive(dir / "software.hiv").ok());
    std::string problem;
    auto store = openPlace({ Kind::HiveFile, dir / "software.hiv", "software.hiv" }, problem);
    ASSERT_TRUE(store) << problem;
    reg::KeyHandle key(*store);
    EXPECT_EQ(store->createKey(reg::kLocalMachine, u"SOFTWARE\\Quern", reg::Access::Full, reg::kOptionNone, key.out()),
        reg::Status::Ok);
    reg::KeyHandle outside(*store);
    EXPECT_EQ(store->createKey(reg::kLocalMachine, u"Elsewhere", reg::Access::Full, reg::kOptionNone, outside.out()),
        reg::Status::AccessDenied);

    test::writeFile(dir / "broken", "regf and nothing a hive has");
    EXPECT_FALSE(openPlace({ Kind::HiveFile, dir / "broken", "broken" }, problem));
    EXPECT_FALSE(problem.empty());
}
