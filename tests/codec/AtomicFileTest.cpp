#include "codec/AtomicFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace quern;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// The old content or the new, never part: nothing of a write that is not committed reaches the
// file, and no temporary file is left behind either way.
TEST(AtomicFile, TheFileHasTheOldContentUntilTheCommitAndKeepsItsPermissions) {
    test::TempDir dir;
    const std::string path = dir / "backup.reg";
    test::writeFile(path, "old");
    ::chmod(path.c_str(), 0640);
    {
        AtomicFile file;
        ASSERT_TRUE(file.open(path));
        ASSERT_TRUE(file.write("new, "));
        EXPECT_EQ(test::readFile(path), "old");
    } // never committed
    EXPECT_EQ(test::readFile(path), "old");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string> { "backup.reg" });

    std::string error;
    ASSERT_TRUE(AtomicFile::writeWhole(path, "new content", error)) << error;
    EXPECT_EQ(test::readFile(path), "new content");
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string> { "backup.reg" });

    EXPECT_FALSE(AtomicFile::writeWhole(dir / "missing/file.reg", "x", error));
    EXPECT_FALSE(error.empty());
}

// A backup kept behind a link (in a synced folder, say) stays behind it: the link is not replaced
// by a plain file while the file it leads to keeps the old content.
TEST(AtomicFile, ALinkIsWrittenThroughAndStaysALink) {
    test::TempDir dir;
    fs::create_directories(dir / "real");
    test::writeFile(dir / "real/selection.qks", "old");
    fs::create_symlink("real/selection.qks", dir / "relative.qks");
    fs::create_symlink(dir / "relative.qks", dir / "chain.qks");
    fs::create_symlink("real/new.qks", dir / "dangling.qks");
    std::string error;
    ASSERT_TRUE(AtomicFile::writeWhole(dir / "chain.qks", "through two links", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "chain.qks"));
    EXPECT_TRUE(fs::is_symlink(dir / "relative.qks"));
    EXPECT_EQ(test::readFile(dir / "real/selection.qks"), "through two links");
    ASSERT_TRUE(AtomicFile::writeWhole(dir / "dangling.qks", "made", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.qks"));
    EXPECT_EQ(test::readFile(dir / "real/new.qks"), "made");
    EXPECT_EQ(resolveLinks(dir / "plain"), dir / "plain");
}

// Where only the file can be written, not its folder, it is written in place and the caller is told.
TEST(AtomicFile, AWritableFileInAFolderThatIsNotIsWrittenInPlace) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    test::TempDir dir;
    fs::create_directories(dir / "locked");
    const std::string path = dir / "locked/settings.ini";
    test::writeFile(path, "old");
    ::chmod((dir / "locked").c_str(), 0555);
    std::string error;
    bool inPlace = false;
    const bool written = AtomicFile::writeWhole(path, "new", error, &inPlace);
    ::chmod((dir / "locked").c_str(), 0755);
    ASSERT_TRUE(written) << error;
    EXPECT_TRUE(inPlace);
    EXPECT_EQ(test::readFile(path), "new");
}
