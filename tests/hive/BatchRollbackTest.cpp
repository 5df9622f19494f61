#include "RegistryDump.h"
#include "TestSupport.h"
#include "hive/OfflineHive.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// A batch over the Wine prefix's three files and two hives in folders of their own, in which one
// rename or one folder flush fails after others of the batch were done: whatever step fails, the
// disk is as it was byte for byte, the store answers as it did, the history is as it was, and the
// next batch is written as if nothing had happened.

using namespace quern;
using namespace quern::reg;

namespace {

// Every file in the folders, by path, with its content: what a user (or Wine) finds there.
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const std::vector<std::string>& folders) {
    Snapshot files;
    for (const std::string& folder : folders)
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_regular_file()) files[entry.path().string()] = test::readFile(entry.path().string());
    return files;
}

std::string withoutTimes(const std::string& dump) {
    std::string out;
    std::size_t at = 0;
    while (at < dump.size()) {
        const std::size_t end = std::min(dump.find('\n', at), dump.size());
        const std::string_view line(dump.data() + at, end - at);
        if (line.find_first_not_of(' ') == std::string_view::npos
            || !line.substr(line.find_first_not_of(' ')).starts_with("time "))
            out.append(line).push_back('\n');
        at = end + 1;
    }
    return out;
}

// Where the batch's steps stand: the Nth rename (or folder flush) of a batch fails.
struct Faults {
    enum Kind { Rename, Flush } kind = Rename;
    int failAt = 0; // 1-based; 0: nothing fails
    int renames = 0;
    int flushes = 0;
    bool noHardLinks = false;

    void beforeRename(const std::string& temp) {
        // The new file vanishing is the simplest rename that fails: ENOENT.
        if (kind == Rename && ++renames == failAt) ::unlink(temp.c_str());
    }
    int flush(int folder) {
        if (kind == Flush && ++flushes == failAt) {
            errno = EIO;
            return -1;
        }
        return ::fsync(folder);
    }
    int link(const char* from, const char* to) const {
        if (!noHardLinks) return ::link(from, to);
        errno = EPERM; // as on FAT
        return -1;
    }
    void arm(Kind k, int n) {
        kind = k;
        failAt = n;
        renames = flushes = 0;
    }
};

class BatchRollbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "a");
        std::filesystem::create_directories(dir / "b");
        ASSERT_EQ(writeEmptyHive(hiveA), Status::Ok);
        ASSERT_EQ(writeEmptyHive(hiveB), Status::Ok);
        WinePrefixOptions options = test::testPrefixOptions(prefix, prefix + "/.servers");
        options.createIfMissing = true;
        options.beforeReplace = [this](const std::string& temp) { faults.beforeRename(temp); };
        options.syncFolder = [this](int fd) { return faults.flush(fd); };
        options.hardLink = [this](const char* from, const char* to) { return faults.link(from, to); };
        store = std::make_unique<WinePrefixStore>(options);
        ASSERT_EQ(store->readOnlyReason(), "");
        for (const auto& [at, name, path] :
            { std::tuple { kLocalMachine, u"A", hiveA }, std::tuple { kUsers, u"B", hiveB } }) {
            HiveOpenOptions hive;
            hive.beforeReplace = options.beforeReplace;
            hive.syncFolder = options.syncFolder;
            hive.hardLink = options.hardLink;
            ASSERT_EQ(mountHiveFile(*store, at, name, path, std::move(hive)), Status::Ok);
        }
    }

    // One value set in each of the five files: system.reg, user.reg, userdef.reg and both hives.
    Status changeEverything(const std::string& label, std::uint8_t byte) {
        WriteBatch batch(*store);
        for (const auto& [root, path] : { std::pair { kLocalMachine, u"Software\\Rb" },
                 std::pair { kCurrentUser, u"Rb" }, std::pair { kUsers, u".Default\\Rb" },
                 std::pair { kLocalMachine, u"A\\Rb" }, std::pair { kUsers, u"B\\Rb" } }) {
            HKey key = kNoKey;
            if (Status st = store->createKey(root, path, Access::Full, kOptionNone, key); !st.ok()) return st;
            const Status st = store->setValue(key, u"v" + std::u16string(1, char16_t(u'a' + byte % 26)), kRegBinary,
                std::vector<std::uint8_t>(3, byte));
            (void)store->closeKey(key);
            if (!st.ok()) return st;
        }
        return batch.finish(ChangeLabel { label, "HKEY_LOCAL_MACHINE\\Software\\Rb", {} });
    }

    std::vector<std::string> folders() const { return { prefix, dir / "a", dir / "b" }; }

    test::TempDir dir;
    std::string prefix = dir / "prefix";
    std::string hiveA = dir / "a/SYSTEM";
    std::string hiveB = dir / "b/NTUSER.DAT";
    Faults faults;
    std::unique_ptr<WinePrefixStore> store;
};

} // namespace

TEST_F(BatchRollbackTest, AStepThatFailsAfterOthersPutsTheWholeBatchBack) {
    std::uint8_t byte = 1;
    ASSERT_EQ(changeEverything("first", byte++), Status::Ok);
    for (const bool noHardLinks : { false, true })
        for (const Faults::Kind kind : { Faults::Rename, Faults::Flush })
            for (int n = 1; n <= 5; ++n) {
                SCOPED_TRACE((kind == Faults::Rename ? "rename " : "folder flush ") + std::to_string(n)
                    + (noHardLinks ? ", no hard links" : ""));
                faults.noHardLinks = noHardLinks;
                const Snapshot disk = snapshot(folders());
                const std::string dump = test::dumpRegistry(*store);
                const std::string undoLabel = store->undoLabel() ? store->undoLabel()->what : "";
                const std::size_t written = store->filesWritten();

                // A new batch, and the Undo of the last one: both touch all five files.
                faults.arm(kind, n);
                const Status failed = changeEverything("failed", byte++);
                EXPECT_EQ(failed, Status::WriteFailed);
                if (n > 1) {
                    EXPECT_NE(failed.message().find("was put back"), std::string::npos) << failed.message();
                    EXPECT_NE(failed.message().find("so nothing was changed"), std::string::npos) << failed.message();
                }
                EXPECT_EQ(snapshot(folders()), disk) << "no file changed, and none was left behind";
                EXPECT_EQ(test::dumpRegistry(*store), dump);
                ASSERT_NE(store->undoLabel(), nullptr);
                EXPECT_EQ(store->undoLabel()->what, undoLabel);
                EXPECT_EQ(store->redoLabel(), nullptr);
                EXPECT_EQ(store->filesWritten(), written);

                faults.arm(kind, n);
                EXPECT_EQ(store->undoChange(), Status::WriteFailed);
                EXPECT_EQ(snapshot(folders()), disk);
                EXPECT_EQ(test::dumpRegistry(*store), dump);
                ASSERT_NE(store->undoLabel(), nullptr) << "the Undo stays, to be tried again";
                EXPECT_EQ(store->undoLabel()->what, undoLabel);

                // Every part again matches its file: the next batch is written, and a registry
                // read from the files anew is the store's.
                faults.arm(kind, 0);
                ASSERT_EQ(changeEverything("next", byte++), Status::Ok);
                EXPECT_EQ(store->filesWritten(), written + 3);
                ASSERT_NE(store->undoLabel(), nullptr);
                EXPECT_EQ(store->undoLabel()->what, "next");
                auto reread = test::openTestRegistry(prefix, false);
                ASSERT_EQ(mountHiveFile(*reread, kLocalMachine, u"A", hiveA), Status::Ok);
                ASSERT_EQ(mountHiveFile(*reread, kUsers, u"B", hiveB), Status::Ok);
                // Key times aside: a hive keeps only some of them (hivex writes none of its own).
                EXPECT_EQ(withoutTimes(test::dumpRegistry(*reread)), withoutTimes(test::dumpRegistry(*store)));
            }
    // Two hives loaded beside no prefix, as the window's scratch registry holds them.
    MemoryRegistry scratch;
    for (const auto& [at, name, path] :
        { std::tuple { kLocalMachine, u"A", hiveA }, std::tuple { kUsers, u"B", hiveB } }) {
        HiveOpenOptions hive;
        hive.beforeReplace = [this](const std::string& temp) { faults.beforeRename(temp); };
        hive.syncFolder = [this](int fd) { return faults.flush(fd); };
        ASSERT_EQ(mountHiveFile(scratch, at, name, path, std::move(hive)), Status::Ok);
    }
    for (const Faults::Kind kind : { Faults::Rename, Faults::Flush }) {
        const Snapshot disk = snapshot(folders());
        const std::string dump = test::dumpRegistry(scratch);
        faults.arm(kind, 2);
        {
            WriteBatch batch(scratch);
            for (const auto& [root, path] :
                { std::pair { kLocalMachine, u"A\\Scratch" }, std::pair { kUsers, u"B\\Scratch" } }) {
                HKey key = kNoKey;
                ASSERT_EQ(scratch.createKey(root, path, Access::Full, kOptionNone, key), Status::Ok);
            }
            EXPECT_EQ(batch.finish(), Status::WriteFailed);
        }
        EXPECT_EQ(snapshot(folders()), disk);
        EXPECT_EQ(test::dumpRegistry(scratch), dump);
        faults.arm(kind, 0);
        HKey key = kNoKey;
        EXPECT_EQ(scratch.createKey(kUsers, u"B\\Written", Access::Full, kOptionNone, key), Status::Ok);
    }

    // The copies of the hives as they were before Quern first wrote them are still the first ones.
    EXPECT_TRUE(test::fileExists(hiveA + ".quern-orig"));
    EXPECT_FALSE(test::fileExists(hiveA + ".quern-orig.2"));
}

namespace {

// Runs work in a child process, which must die of SIGKILL in it.
void dies(const std::function<void()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
}

std::vector<std::string> keptBeside(const std::string& folder, const std::string& name) {
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with("." + name + ".quern-old-"))
            kept.push_back(entry.path().string());
    return kept;
}

} // namespace

TEST_F(BatchRollbackTest, ACrashInTheMiddleLeavesTheOldContentBesideTheFileNeverTakenForIt) {
    // Killed once the old hive has its second name and before the rename: the hive is the old one
    // with that name beside it, which must not pass for a hard link of the user's.
    const std::string hiveBefore = test::readFile(hiveA);
    dies([&] {
        HiveOpenOptions options;
        options.beforeReplace = [](const std::string&) { ::raise(SIGKILL); };
        MemoryRegistry registry;
        if (mountHiveFile(registry, kLocalMachine, u"A2", hiveA, std::move(options)) != Status::Ok) return;
        HKey key = kNoKey;
        (void)registry.createKey(kLocalMachine, u"A2\\Lost", Access::Full, kOptionNone, key);
    });
    EXPECT_EQ(test::readFile(hiveA), hiveBefore);
    EXPECT_EQ(keptBeside(dir / "a", "SYSTEM").size(), 1u);
    MemoryRegistry registry;
    ASSERT_EQ(mountHiveFile(registry, kLocalMachine, u"A2", hiveA), Status::Ok);
    EXPECT_EQ(registry.mountedParts().front()->readOnlyReason, "");
    HKey key = kNoKey;
    EXPECT_EQ(registry.createKey(kLocalMachine, u"A2\\Kept", Access::Full, kOptionNone, key), Status::Ok);

    // Killed after system.reg was replaced and before user.reg: the command is half in place. The
    // next Quern drops the second name of user.reg, keeps system.reg's old content, and says so.
    store.reset();
    const std::string systemBefore = test::readFile(prefix + "/system.reg");
    const std::string userBefore = test::readFile(prefix + "/user.reg");
    dies([&] {
        WinePrefixOptions options = test::testPrefixOptions(prefix, prefix + "/.servers");
        int renames = 0;
        options.beforeReplace = [&](const std::string&) {
            if (++renames == 2) ::raise(SIGKILL);
        };
        WinePrefixStore half(options);
        WriteBatch batch(half);
        for (const HKey root : { kLocalMachine, kCurrentUser }) {
            HKey made = kNoKey;
            (void)half.createKey(root, u"Software\\Half", Access::Full, kOptionNone, made);
        }
        (void)batch.finish();
    });
    EXPECT_NE(test::readFile(prefix + "/system.reg"), systemBefore);
    EXPECT_EQ(test::readFile(prefix + "/user.reg"), userBefore);
    auto reopened = test::openTestRegistry(prefix, false);
    const std::vector<std::string> kept = keptBeside(prefix, "system.reg");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(test::readFile(kept[0]), systemBefore);
    EXPECT_TRUE(keptBeside(prefix, "user.reg").empty());
    ASSERT_EQ(reopened->loadMessages().size(), 1u);
    EXPECT_NE(reopened->loadMessages()[0].find(kept[0]), std::string::npos) << reopened->loadMessages()[0];
    EXPECT_NE(reopened->loadMessages()[0].find(prefix + "/system.reg may hold"), std::string::npos);
    EXPECT_EQ(reopened->readOnlyReason(), "");
    EXPECT_EQ(reopened->createKey(kCurrentUser, u"Software\\After", Access::Full, kOptionNone, key), Status::Ok);
    EXPECT_EQ(keptBeside(prefix, "system.reg"), kept) << "a write leaves it for the user";
}
