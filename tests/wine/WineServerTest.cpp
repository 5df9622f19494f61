#include "wine/WineServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quern;
using namespace quern::reg;

TEST(WineServer, ServerFolderIsNamedAfterThePrefixsDeviceAndInode) {
    test::TempDir prefix;
    struct stat st { };
    ASSERT_EQ(::stat(prefix.path().c_str(), &st), 0);
    char expected[64];
    std::snprintf(expected, sizeof expected, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
        static_cast<unsigned long long>(st.st_ino));
    EXPECT_EQ(serverFolderName(prefix.path()), expected);
    EXPECT_EQ(serverFolderName(prefix / "missing"), "");
}

TEST(WineServer, FoundByItsLockInEitherPlaceOnlyWhileItHoldsIt) {
    test::TempDir prefix;
    test::TempDir tmp;
    const ServerSearchPaths paths { tmp.path(), tmp / "upstream", "/nonexistent" };
    EXPECT_FALSE(findWineServer(prefix.path(), paths).running);
    {
        test::HeldLock lock(test::debianLockPath(prefix.path(), tmp.path()));
        const ServerState state = findWineServer(prefix.path(), paths);
        EXPECT_TRUE(state.running);
        EXPECT_EQ(state.pid, lock.pid());
    }
    EXPECT_FALSE(findWineServer(prefix.path(), paths).running) << "a lock file nobody holds is a server that ended";
    {
        test::HeldLock lock(tmp / "upstream/" + serverFolderName(prefix.path()) + "/lock");
        EXPECT_TRUE(findWineServer(prefix.path(), paths).running);
    }
}

TEST(WineServer, FoundAmongProcessesWhenItsFolderIsElsewhere) {
    test::TempDir prefix;
    test::TempDir proc;
    const ServerSearchPaths paths { proc / "none", proc / "none", proc.path() };
    auto process = [&](const std::string& pid, const std::string& comm, const std::string& cwd) {
        std::filesystem::create_directories(proc / pid + "/fd");
        test::writeFile(proc / pid + "/comm", comm + "\n");
        std::filesystem::create_directory_symlink(cwd, proc / pid + "/cwd");
    };
    process("100", "bash", prefix.path());
    process("200", "wineserver64", "/");
    EXPECT_FALSE(findWineServer(prefix.path(), paths).running);
    std::filesystem::create_directory_symlink(prefix.path(), proc / "200/fd/7");
    const ServerState state = findWineServer(prefix.path(), paths);
    EXPECT_TRUE(state.running) << "it holds the prefix folder open";
    EXPECT_EQ(state.pid, 200);
    EXPECT_FALSE(findWineServer(prefix.path(), paths, false).running) << "unless the process scan is left out";
    process("300", "wineserver", "/tmp/elsewhere/" + serverFolderName(prefix.path()));
    std::filesystem::remove(proc / "200/fd/7");
    EXPECT_EQ(findWineServer(prefix.path(), paths).pid, 300) << "its working folder is the prefix's server folder";
    // Where the kernel lists the locks, a server holds one; a wineserver that found the lock taken
    // and is leaving holds none.
    test::writeFile(proc / "locks",
        "1: POSIX  ADVISORY  WRITE 100 fe:00:1234 0 0\n"
        "2: -> POSIX  ADVISORY  WRITE 300 fe:00:1234 0 0\n");
    EXPECT_FALSE(findWineServer(prefix.path(), paths).running);
    test::writeFile(proc / "locks", "1: POSIX  ADVISORY  WRITE 300 fe:00:1234 0 0\n");
    EXPECT_EQ(findWineServer(prefix.path(), paths).pid, 300);
}

TEST(WineServer, ARealWineserverIsFound) {
    if (std::system("command -v wineserver >/dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed";
    test::TempDir prefix;
    const std::string env = "WINEPREFIX='" + prefix.path() + "' ";
    ASSERT_EQ(std::system((env + "wineserver -p5 >/dev/null 2>&1").c_str()), 0);
    ServerState state;
    for (int i = 0; i < 100 && !state.running; ++i) {
        state = findWineServer(prefix.path(), defaultServerSearchPaths(), false);
        if (!state.running) ::usleep(50000);
    }
    const ServerState scanned = findWineServer(prefix.path(), { "/nonexistent", "/nonexistent", "/proc" });
    (void)std::system((env + "wineserver -k >/dev/null 2>&1").c_str());
    EXPECT_TRUE(state.running) << "by its lock";
    EXPECT_TRUE(scanned.running) << "among the processes";
}

namespace {

// Whether another process could take the lock at lockPath just now.
bool anotherProcessCouldLock(const std::string& lockPath) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(lockPath.c_str(), O_RDWR);
        struct flock lock { };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_len = 1;
        ::_exit(fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

mode_t modeOf(const std::string& path) {
    struct stat st { };
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

} // namespace

TEST(ServerLock, TakenWhereAServerWouldTakeItInFoldersAsWineserverMakesThem) {
    test::TempDir prefix;
    test::TempDir tmp;
    const ServerSearchPaths paths { tmp.path(), tmp / "upstream", "/nonexistent" };
    const std::string upstream = tmp / "upstream/" + serverFolderName(prefix.path());
    {
        ServerLock lock; // Quern's own registry: taken only where a server has been
        ASSERT_EQ(lock.acquire(prefix.path(), paths, false).status, Status::Ok);
        EXPECT_EQ(lock.placesHeld(), 0u);
        EXPECT_FALSE(std::filesystem::exists(tmp / "upstream"));
    }
    {
        ServerLock lock; // no "wineserver" file in the prefix: upstream's place alone
        ASSERT_EQ(lock.acquire(prefix.path(), paths).status, Status::Ok);
        EXPECT_EQ(lock.placesHeld(), 1u);
        EXPECT_EQ(modeOf(tmp / "upstream"), S_IFDIR | 0700);
        EXPECT_EQ(modeOf(upstream), S_IFDIR | 0700);
        EXPECT_EQ(modeOf(upstream + "/lock"), S_IFREG | 0600);
        EXPECT_FALSE(anotherProcessCouldLock(upstream + "/lock"));
        EXPECT_FALSE(findWineServer(prefix.path(), paths, false).running) << "its own lock is no server";
        EXPECT_FALSE(anotherProcessCouldLock(upstream + "/lock")) << "and looking did not let it go";
        // A server that starts at a place the lock did not cover is found.
        test::HeldLock late(test::debianLockPath(prefix.path(), tmp.path()));
        const ServerState found = lock.serverStartedElsewhere(false);
        EXPECT_TRUE(found.running);
        EXPECT_EQ(found.pid, late.pid());
    }
    EXPECT_TRUE(anotherProcessCouldLock(upstream + "/lock")) << "let go when it goes";
    {
        ServerLock lock;
        ASSERT_EQ(lock.acquire(prefix.path(), paths, false).status, Status::Ok);
        EXPECT_EQ(lock.placesHeld(), 2u) << "where the folders and the lock file are there already";
    }

    const std::string debianFolder = tmp / "wine-querntest/" + serverFolderName(prefix.path());
    std::filesystem::remove_all(tmp / "wine-querntest"); // as after a reboot: the prefix names a folder that is gone
    {
        ServerLock lock;
        ASSERT_EQ(lock.acquire(prefix.path(), paths).status, Status::Ok);
        EXPECT_EQ(lock.placesHeld(), 2u) << "Debian's place too";
        EXPECT_EQ(modeOf(tmp / "wine-querntest"), S_IFDIR | 0700);
        EXPECT_EQ(modeOf(debianFolder + "/lock"), S_IFREG | 0600);
        EXPECT_FALSE(anotherProcessCouldLock(debianFolder + "/lock"));
    }
    // Debian's wine gives a server a new folder when the file naming it has another mode than 0400.
    std::filesystem::permissions(
        prefix / "wineserver", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    {
        ServerLock lock;
        ASSERT_EQ(lock.acquire(prefix.path(), paths).status, Status::Ok);
        EXPECT_EQ(lock.placesHeld(), 1u);
    }
    // Where wineserver could not start either, nothing is made or taken: a folder open to others.
    std::filesystem::permissions(
        tmp / "upstream", std::filesystem::perms::group_read, std::filesystem::perm_options::add);
    {
        ServerLock lock;
        ASSERT_EQ(lock.acquire(prefix.path(), paths).status, Status::Ok);
        EXPECT_EQ(lock.placesHeld(), 0u);
    }
    std::filesystem::permissions(tmp / "upstream", std::filesystem::perms::owner_all);
    {
        test::HeldLock server(upstream + "/lock");
        ServerLock lock;
        const ServerLock::Taken taken = lock.acquire(prefix.path(), paths);
        EXPECT_EQ(taken.status, Status::AccessDenied);
        EXPECT_EQ(taken.holder, server.pid());
        EXPECT_EQ(lock.placesHeld(), 0u);
    }
}

TEST(ServerLock, ARealWineserverLeavesWhileItIsHeldAndStartsInTheFoldersItWasMadeIn) {
    if (std::system("command -v wineserver >/dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed";
    test::TempDir prefix;
    const std::string env = "WINEPREFIX='" + prefix.path() + "' ";
    const ServerSearchPaths paths = defaultServerSearchPaths();
    const std::string upstream = paths.upstreamDir + "/" + serverFolderName(prefix.path());
    // A first server names its folder in the prefix where the wine is Debian's; then the folders
    // go, as after a reboot, so that the lock makes them.
    ASSERT_EQ(std::system((env + "wineserver -p >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(std::system((env + "wineserver -k >/dev/null 2>&1; " + env + "wineserver -w").c_str()), 0);
    const std::string debianName = test::readFile(prefix / "wineserver");
    const std::string debianRoot = debianName.empty() ? "" : paths.tmpDir + "/" + debianName;
    if (!debianRoot.empty()) std::filesystem::remove_all(debianRoot);
    std::filesystem::remove_all(upstream);

    ServerLock lock;
    ASSERT_EQ(lock.acquire(prefix.path(), paths).status, Status::Ok);
    EXPECT_EQ(lock.placesHeld(), debianRoot.empty() ? 1u : 2u);
    const int held = std::system((env + "wineserver -p >/dev/null 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(held) && WEXITSTATUS(held) == 2) << "a server that finds the lock held leaves at once, "
                                                              "for its Wine program to try again";
    lock.release();
    EXPECT_EQ(std::system((env + "wineserver -p >/dev/null 2>&1").c_str()), 0) << "it starts normally";
    ServerState state;
    for (int i = 0; i < 100 && !state.running; ++i) {
        state = findWineServer(prefix.path(), paths, false);
        if (!state.running) ::usleep(50000);
    }
    (void)std::system((env + "wineserver -k >/dev/null 2>&1").c_str());
    EXPECT_TRUE(state.running);
    if (!debianRoot.empty()) std::filesystem::remove_all(debianRoot);
    std::filesystem::remove_all(upstream);
}
