#include "codec/AtomicFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
        ASSERT_EQ(file.open(path), reg::Status::Ok);
        ASSERT_EQ(file.write("new, "), reg::Status::Ok);
        EXPECT_EQ(test::readFile(path), "old");
    } // never committed
    EXPECT_EQ(test::readFile(path), "old");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string> { "backup.reg" });

    ASSERT_EQ(AtomicFile::writeWhole(path, "new content"), reg::Status::Ok);
    EXPECT_EQ(test::readFile(path), "new content");
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string> { "backup.reg" });

    const reg::Status missing = AtomicFile::writeWhole(dir / "missing/file.reg", "x");
    EXPECT_EQ(missing, reg::Status::WriteFailed);
    EXPECT_NE(missing.message(), reg::statusText(reg::StatusCode::WriteFailed)) << "the system's words";

    // Each step after a failure gives that first failure again, in its words.
    AtomicFile file;
    const reg::Status opened = file.open(dir / "missing/file.reg");
    EXPECT_EQ(opened, reg::Status::WriteFailed);
    for (const reg::Status& later : { file.write("x"), file.flush(), file.replace(), file.commit() }) {
        EXPECT_EQ(later, reg::Status::WriteFailed);
        EXPECT_EQ(later.message(), opened.message());
    }
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
    ASSERT_EQ(AtomicFile::writeWhole(dir / "chain.qks", "through two links"), reg::Status::Ok);
    EXPECT_TRUE(fs::is_symlink(dir / "chain.qks"));
    EXPECT_TRUE(fs::is_symlink(dir / "relative.qks"));
    EXPECT_EQ(test::readFile(dir / "real/selection.qks"), "through two links");
    ASSERT_EQ(AtomicFile::writeWhole(dir / "dangling.qks", "made"), reg::Status::Ok);
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
    bool inPlace = false;
    const reg::Status written = AtomicFile::writeWhole(path, "new", &inPlace);
    ::chmod((dir / "locked").c_str(), 0755);
    ASSERT_EQ(written, reg::Status::Ok);
    EXPECT_TRUE(inPlace);
    EXPECT_EQ(test::readFile(path), "new");
}

// Only regular files are replaced: a device or a FIFO named as the file (or reached through a
// link) stays what it is, and the write fails with what it is. The owner and group of a file stay
// where this process may keep them (as root, always).
TEST(AtomicFile, OnlyRegularFilesAreReplacedAndTheyKeepTheirOwner) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo.reg").c_str(), 0600), 0);
    fs::create_symlink("fifo.reg", dir / "to-fifo.reg");
    std::vector<std::string> specials { dir / "fifo.reg", dir / "to-fifo.reg" };
    // A copy of /dev/full (character device 1, 7), where this process may make one.
    if (::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) specials.push_back(dir / "full");
    for (const std::string& path : specials) {
        const reg::Status refused = AtomicFile::writeWhole(path, "export");
        EXPECT_EQ(refused, reg::Status::WriteFailed) << path;
        EXPECT_NE(refused.message().find("not a regular file"), std::string::npos) << refused.message();
    }
    struct stat st { };
    EXPECT_TRUE(::lstat((dir / "fifo.reg").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(fs::is_symlink(dir / "to-fifo.reg"));
    if (specials.size() == 3) {
        EXPECT_TRUE(::lstat((dir / "full").c_str(), &st) == 0 && S_ISCHR(st.st_mode));
    }
    EXPECT_EQ(namesIn(dir.path()).size(), specials.size()) << "no temporary file left";

    if (::geteuid() != 0) return;
    const std::string owned = dir / "user.reg";
    test::writeFile(owned, "old");
    ASSERT_EQ(::chown(owned.c_str(), 1234, 5678), 0);
    ASSERT_EQ(AtomicFile::writeWhole(owned, "new"), reg::Status::Ok);
    ASSERT_EQ(::stat(owned.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
}

// A file another program replaced or rewrote after the content was made from it is not replaced:
// its own file stays in place, nothing is left beside it, and the writer is told it changed.
TEST(AtomicFile, AnExpectedTargetThatChangedIsLeftAsTheOtherProgramLeftIt) {
    test::TempDir dir;
    const std::string path = dir / "user.reg";
    enum class Other { Renames, WritesInPlace, Creates, Nothing };
    for (const Other other : { Other::Renames, Other::WritesInPlace, Other::Creates, Other::Nothing }) {
        fs::remove(path);
        if (other != Other::Creates) test::writeFile(path, "read");
        struct stat st { };
        const FileStamp expected = ::stat(path.c_str(), &st) == 0 ? stampOf(st) : FileStamp {};
        AtomicFile::Hooks hooks;
        hooks.beforeRename = [&](const std::string&) {
            if (other == Other::Renames) {
                test::writeFile(dir / "theirs", "theirs");
                fs::rename(dir / "theirs", path);
            } else if (other != Other::Nothing) {
                test::writeFile(path, "theirs");
            }
        };
        AtomicFile file;
        ASSERT_EQ(file.open(path, false, hooks), reg::Status::Ok);
        file.expectTarget(expected);
        ASSERT_EQ(file.write("mine"), reg::Status::Ok);
        ASSERT_EQ(file.flush(), reg::Status::Ok);
        const reg::Status replaced = file.replace(true);
        EXPECT_EQ(replaced, other == Other::Nothing ? reg::Status::Ok : reg::Status::ChangedOnDisk)
            << static_cast<int>(other);
        EXPECT_EQ(test::readFile(path), other == Other::Nothing ? "mine" : "theirs");
        if (replaced.ok()) file.keepReplaced();
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string> { "user.reg" });
    }
}
