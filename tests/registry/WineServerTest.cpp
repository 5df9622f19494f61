#include "registry/WineServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
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
