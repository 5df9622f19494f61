#include "wine/WinePrefixStore.h"
#include "TestSupport.h"
#include "codec/Utf.h"
#include "registry/RegAccessor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quern;
using namespace quern::reg;

namespace {

constexpr std::uint64_t kFixedTime = 0x1dd9000000000000ull;

struct FileIdentity {
    ino_t inode = 0;
    long long mtimeNs = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

FileIdentity identityOf(const std::string& path) {
    struct stat st { };
    ::stat(path.c_str(), &st);
    return { st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec };
}

// The blocks of a registry file, keyed by their header line without the time.
std::map<std::string, std::string> blocksOf(const std::string& content) {
    std::map<std::string, std::string> blocks;
    std::size_t pos = content.find("\n[");
    while (pos != std::string::npos) {
        const std::size_t next = content.find("\n[", pos + 1);
        const std::string block
            = content.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        blocks[block.substr(0, block.find("] ") + 1)] = block;
        pos = next;
    }
    return blocks;
}

// A wineserver as far as the registry files go: it takes its lock, waiting while someone else holds
// it (as the Wine program that starts a server keeps trying), and reads system.reg the moment it has
// it, as a server reads the registry at its start. It keeps the lock until it goes.
class StartingServer {
public:
    StartingServer(const std::string& lockPath, const std::string& registryFile, unsigned delayMicroseconds = 0) {
        test::makeServerFolders(lockPath);
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            ::usleep(delayMicroseconds);
            const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock { };
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            if (fd < 0 || ::fcntl(fd, F_SETLKW, &lock) != 0) ::_exit(1);
            const std::string text = test::readFile(registryFile);
            std::string_view content = text;
            while (!content.empty()) {
                const ssize_t n = ::write(fds[1], content.data(), content.size());
                if (n <= 0) ::_exit(1);
                content.remove_prefix(static_cast<std::size_t>(n));
            }
            ::close(fds[1]);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        m_pipe = fds[0];
    }
    ~StartingServer() {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        ::close(m_pipe);
    }
    StartingServer(const StartingServer&) = delete;
    StartingServer& operator=(const StartingServer&) = delete;

    // What it read, once it has the lock: waits for that.
    const std::string& whatItRead() {
        char buffer[65536];
        for (ssize_t n; !m_done && (n = ::read(m_pipe, buffer, sizeof buffer)) != 0;)
            if (n > 0) m_read.append(buffer, static_cast<std::size_t>(n));
        m_done = true;
        return m_read;
    }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
    std::string m_read;
    bool m_done = false;
};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { test::copySamplePrefix(dir.path()); }

    WinePrefixOptions options() const {
        WinePrefixOptions o = test::testPrefixOptions(dir.path(), tmp.path());
        o.clock = [] { return kFixedTime; };
        return o;
    }
    std::unique_ptr<WinePrefixStore> open() const { return std::make_unique<WinePrefixStore>(options()); }
    std::string file(const char* name) const { return dir / name; }
    std::string sample(const char* name) const { return test::readFile(test::samplePrefixDir() + "/" + name); }

    // Sets one value through a handle opened for writing.
    static Status setString(
        RegStore& store, HKey root, std::u16string_view path, std::u16string_view name, std::u16string_view text) {
        HKey key = kNoKey;
        if (Status st = store.openKey(root, path, Access::Full, kOptionNone, key); st != Status::Ok) return st;
        const Status st = store.setValue(key, name, kRegSz, test::utf16zBytes(text));
        (void)store.closeKey(key);
        return st;
    }

    std::string upstreamLock() const { return tmp / "upstream/" + serverFolderName(dir.path()) + "/lock"; }

    test::TempDir dir;
    test::TempDir tmp;
};

} // namespace

// --- Loading ---------------------------------------------------------------------------------

TEST_F(StoreTest, LoadsTheSamplePrefixWithoutComplaint) {
    auto store = open();
    EXPECT_TRUE(store->loadMessages().empty());
    EXPECT_EQ(store->readOnlyReason(), "");
    EXPECT_EQ(store->hive(WinePrefixStore::kSystem).parsed.blockCount, 8733u);
    EXPECT_EQ(store->hive(WinePrefixStore::kSystem).parsed.valueCount, 15394u);
    EXPECT_EQ(store->hive(WinePrefixStore::kUser).parsed.blockCount, 48u);
}

// --- Writing ---------------------------------------------------------------------------------

TEST_F(StoreTest, NothingIsWrittenWithoutAChange) {
    const auto before = identityOf(file("system.reg"));
    {
        auto store = open();
        HKey key = kNoKey;
        ASSERT_EQ(store->openKey(kLocalMachine, u"Software", Access::Full, kOptionNone, key), Status::Ok);
        store->beginBatch();
        EXPECT_EQ(store->endBatch(), Status::Ok);
        EXPECT_EQ(store->refresh(), Status::Ok);
        EXPECT_EQ(store->filesWritten(), 0u);
    }
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        EXPECT_TRUE(test::readFile(file(name)) == sample(name));
    EXPECT_TRUE(identityOf(file("system.reg")) == before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "no stray files";
}

TEST_F(StoreTest, OneChangedValueChangesOnlyItsKeysBlockAndOnlyItsFile) {
    const auto userBefore = identityOf(file("user.reg"));
    auto store = open();
    ASSERT_EQ(setString(*store, kLocalMachine, u"Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT",
                  u"SHAREDMEMLOCATION", u"1234"),
        Status::Ok);
    EXPECT_EQ(store->filesWritten(), 1u);
    EXPECT_TRUE(identityOf(file("user.reg")) == userBefore);

    const auto before = blocksOf(sample("system.reg"));
    const auto after = blocksOf(test::readFile(file("system.reg")));
    ASSERT_EQ(before.size(), after.size());
    std::vector<std::string> changed;
    for (const auto& [header, block] : before)
        if (after.at(header) != block) changed.push_back(header);
    ASSERT_EQ(
        changed, std::vector<std::string> { "[Software\\\\Borland\\\\Database Engine\\\\Settings\\\\SYSTEM\\\\INIT]" });
    // The key got the new time in both forms, as wineserver writes it.
    EXPECT_EQ(after.at(changed[0]),
        "[Software\\\\Borland\\\\Database Engine\\\\Settings\\\\SYSTEM\\\\INIT] 1567093192\n"
        "#time=1dd9000000000000\n\"SHAREDMEMLOCATION\"=\"1234\"\n");
    EXPECT_EQ(test::readFile(file("system.reg")).substr(0, 100), sample("system.reg").substr(0, 100));

    // Written twice, the second write copies the first's blocks as they now are.
    ASSERT_EQ(setString(*store, kLocalMachine, u"Software\\Wine", u"New", u"x"), Status::Ok);
    auto reread = open();
    EXPECT_TRUE(reread->loadMessages().empty());
}

TEST_F(StoreTest, AValueLargerThanTheWriteBufferIsWrittenAndCopiedWhole) {
    // 2 MB of data, about 6 MB of text: more than the buffer a write streams through, and a block
    // the next write copies from the file on disk rather than from memory.
    std::vector<std::uint8_t> blob(2 << 20);
    std::mt19937 random(7);
    for (auto& byte : blob)
        byte = static_cast<std::uint8_t>(random());
    auto store = open();
    HKey key = kNoKey;
    ASSERT_EQ(store->createKey(kLocalMachine, u"Software\\Big", Access::Full, kOptionNone, key), Status::Ok);
    ASSERT_EQ(store->setValue(key, u"blob", kRegBinary, blob), Status::Ok);
    (void)store->closeKey(key);
    const std::string first = test::readFile(file("system.reg"));
    const auto firstBlocks = blocksOf(first);

    // Each write checks the file against the one before it: a second and third write succeeding
    // means the streamed text is what the store believes it wrote.
    const std::u16string_view init = u"Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT";
    ASSERT_EQ(setString(*store, kLocalMachine, init, u"SHAREDMEMLOCATION", u"1"), Status::Ok);
    ASSERT_EQ(setString(*store, kLocalMachine, init, u"SHAREDMEMLOCATION", u"2"), Status::Ok);
    const auto thirdBlocks = blocksOf(test::readFile(file("system.reg")));
    ASSERT_EQ(firstBlocks.size(), thirdBlocks.size());
    std::vector<std::string> changed;
    for (const auto& [header, block] : firstBlocks)
        if (thirdBlocks.at(header) != block) changed.push_back(header);
    EXPECT_EQ(
        changed, std::vector<std::string> { "[Software\\\\Borland\\\\Database Engine\\\\Settings\\\\SYSTEM\\\\INIT]" });
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "no stray files";

    auto reread = open();
    EXPECT_TRUE(reread->loadMessages().empty());
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(reread->openKey(kLocalMachine, u"Software\\Big", Access::Read, kOptionNone, key), Status::Ok);
    ASSERT_EQ(reread->queryValue(key, u"blob", type, data), Status::Ok);
    EXPECT_EQ(type, kRegBinary);
    EXPECT_TRUE(data == blob);
}

TEST_F(StoreTest, ABatchWritesEachChangedFileOnce) {
    auto store = open();
    {
        WriteBatch batch(*store);
        HKey key = kNoKey;
        ASSERT_EQ(store->createKey(kCurrentUser, u"Software\\Many", Access::Full, kOptionNone, key), Status::Ok);
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(store->setValue(
                          key, u"v" + toUtf16(std::to_string(i)), kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }),
                Status::Ok);
        ASSERT_EQ(setString(*store, kLocalMachine, u"Software", u"Touched", u"yes"), Status::Ok);
        EXPECT_EQ(store->filesWritten(), 0u);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    EXPECT_EQ(store->filesWritten(), 2u);
    RegAccessor registry(*store);
    ASSERT_TRUE(registry.openKey("\\Software\\Many"));
    ASSERT_TRUE(registry.moveKey("\\Software\\Many", "\\Software\\Moved", true));
    EXPECT_EQ(store->filesWritten(), 3u) << "a key move that copies a thousand values writes once";
}

TEST_F(StoreTest, AWriteInterruptedBeforeTheRenameLeavesTheOldFile) {
    const pid_t child = ::fork();
    if (child == 0) {
        auto options = this->options();
        options.beforeReplace = [](const std::string&) { ::raise(SIGKILL); };
        WinePrefixStore store(options);
        (void)setString(store, kLocalMachine, u"Software", u"Lost", u"never written");
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(test::readFile(file("system.reg")) == sample("system.reg"));
    auto store = open(); // and the next Quern that may write clears the dead one's temporary file
    EXPECT_TRUE(store->loadMessages().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
}

TEST_F(StoreTest, AFailedWriteChangesNothingOnDiskOrInMemory) {
    auto store = open();
    Status st = Status::Ok;
    {
        test::FileSizeLimit fullDisk(100000);
        st = setString(*store, kLocalMachine, u"Software", u"Lost", u"never written");
    }

    EXPECT_EQ(st, Status::WriteFailed);
    EXPECT_NE(st.message().find("system.reg"), std::string::npos) << st.message();
    EXPECT_TRUE(test::readFile(file("system.reg")) == sample("system.reg"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "the temporary file is gone";
    HKey key = kNoKey;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store->openKey(kLocalMachine, u"Software", Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(store->queryValue(key, u"Lost", type, data), Status::NotFound) << "the change was undone";
    ASSERT_EQ(setString(*store, kLocalMachine, u"Software", u"Kept", u"now"), Status::Ok)
        << "and the store still works";
}

TEST_F(StoreTest, AFailedBatchUndoesEveryKindOfChange) {
    auto store = open();
    RegAccessor registry(*store);
    ASSERT_TRUE(registry.openKey("\\Software\\Wine"));
    std::vector<std::string> keysBefore;
    std::vector<std::string> valuesBefore;
    registry.getKeyNames(keysBefore);
    const std::string before = test::readFile(file("user.reg"));
    {
        WriteBatch batch(*store);
        registry.createKey("New\\Deeper");
        registry.writeString("Added", "x");
        ASSERT_TRUE(registry.deleteKey("Fonts"));
        test::writeFile(file("user.reg"), before + "\n"); // someone else writes the file meanwhile
        EXPECT_EQ(batch.finish(), Status::ChangedOnDisk);
    }
    std::vector<std::string> keysAfter;
    registry.getKeyNames(keysAfter);
    EXPECT_EQ(keysAfter, keysBefore);
    EXPECT_FALSE(registry.valueExists("Added"));
    EXPECT_TRUE(registry.keyExists("Fonts\\External Fonts"));
}

TEST_F(StoreTest, AFileChangedOnDiskIsNeverOverwritten) {
    auto store = open();
    const std::string theirs = sample("user.reg") + "\n[Their\\\\Key] 1\n#time=1\n\"v\"=dword:00000001\n";
    test::writeFile(file("user.reg"), theirs);
    const Status refused = setString(*store, kCurrentUser, u"Software", u"Mine", u"x");
    EXPECT_EQ(refused, Status::ChangedOnDisk);
    EXPECT_NE(refused.message().find("refresh"), std::string::npos) << refused.message();
    EXPECT_TRUE(test::readFile(file("user.reg")) == theirs);

    ASSERT_EQ(store->refresh(), Status::Ok);
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kCurrentUser, u"Their\\Key", Access::Read, kOptionNone, key), Status::Ok);
    ASSERT_EQ(setString(*store, kCurrentUser, u"Software", u"Mine", u"x"), Status::Ok);
    EXPECT_NE(test::readFile(file("user.reg")).find("[Their\\\\Key] 1\n"), std::string::npos);

    // Replaced while Quern writes, after its last look: the other program's file stays, and the
    // change is taken back in memory too. Saved as most editors save (a new file renamed over it),
    // and written in place.
    for (const bool inPlace : { false, true }) {
        const std::string theirsNow = test::readFile(file("user.reg")) + (inPlace ? ";; in place\n" : ";; renamed\n");
        WinePrefixOptions o = options();
        o.beforeReplace = [&](const std::string&) {
            if (inPlace) {
                test::writeFile(file("user.reg"), theirsNow);
            } else {
                test::writeFile(dir / "theirs.tmp", theirsNow);
                std::filesystem::rename(dir / "theirs.tmp", file("user.reg"));
            }
        };
        WinePrefixStore racing(o);
        const Status lost = setString(racing, kCurrentUser, u"Software", u"Mine", u"z");
        EXPECT_EQ(lost, Status::ChangedOnDisk) << lost.message();
        EXPECT_NE(lost.message().find("changed on disk while Quern wrote it"), std::string::npos) << lost.message();
        EXPECT_TRUE(test::readFile(file("user.reg")) == theirsNow);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "nothing left beside";
        std::vector<std::uint8_t> data;
        std::uint32_t type = 0;
        HKey software = kNoKey;
        ASSERT_EQ(racing.openKey(kCurrentUser, u"Software", Access::Read, kOptionNone, software), Status::Ok);
        ASSERT_EQ(racing.queryValue(software, u"Mine", type, data), Status::Ok);
        EXPECT_EQ(data, test::utf16zBytes(u"x")) << "the change is taken back";
        (void)racing.closeKey(software);
    }
}

TEST_F(StoreTest, AChangedKeyGetsANewLastWriteTime) {
    auto store = open();
    HKey key = kNoKey;
    KeyInfo info;
    ASSERT_EQ(store->openKey(kLocalMachine, u"Software\\Wine", Access::Full, kOptionNone, key), Status::Ok);
    ASSERT_EQ(store->queryInfo(key, info), Status::Ok);
    EXPECT_NE(info.lastWriteTime, kFixedTime);
    ASSERT_EQ(store->setValue(key, u"x", kRegDword, std::vector<std::uint8_t> { 0, 0, 0, 0 }), Status::Ok);
    ASSERT_EQ(store->queryInfo(key, info), Status::Ok);
    EXPECT_EQ(info.lastWriteTime, kFixedTime);
}

// --- Links -----------------------------------------------------------------------------------

TEST_F(StoreTest, LinksOfTheSamplePrefixAreFollowed) {
    auto store = open();
    HKey link = kNoKey;
    HKey target = kNoKey;
    KeyInfo a;
    KeyInfo b;
    ASSERT_EQ(
        store->openKey(kLocalMachine, u"Software\\Wow6432Node\\Classes", Access::Read, kOptionNone, link), Status::Ok);
    ASSERT_EQ(store->queryInfo(link, a), Status::Ok);
    EXPECT_FALSE(a.isLink);
    EXPECT_GT(a.subkeyCount, 0u);
    ASSERT_EQ(
        store->openKey(kLocalMachine, u"Software\\Wow6432Node\\Classes", Access::Read, kOpenLink, target), Status::Ok);
    ASSERT_EQ(store->queryInfo(target, b), Status::Ok);
    EXPECT_TRUE(b.isLink);
    EXPECT_NE(a.identity, b.identity);
}

// --- Read-only registries ----------------------------------------------------------------------

TEST_F(StoreTest, ARunningWineserverMakesTheRegistryReadOnly) {
    const std::string before = sample("system.reg");
    for (bool upstream : { false, true }) {
        const std::string lock = upstream ? tmp / "upstream/" + serverFolderName(dir.path()) + "/lock"
                                          : test::debianLockPath(dir.path(), tmp.path());
        test::HeldLock server(lock);
        auto store = open();
        EXPECT_NE(store->readOnlyReason().find("wineserver"), std::string::npos) << store->readOnlyReason();
        EXPECT_NE(store->readOnlyReason().find(std::to_string(server.pid())), std::string::npos);
        HKey key = kNoKey;
        EXPECT_EQ(store->openKey(kLocalMachine, u"Software", Access::Full, kOptionNone, key), Status::AccessDenied);
        ASSERT_EQ(store->openKey(kLocalMachine, u"Software", Access::Read, kOptionNone, key), Status::Ok);
        EXPECT_EQ(
            store->setValue(key, u"x", kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }), Status::AccessDenied);
        EXPECT_EQ(
            store->createKey(kLocalMachine, u"Software\\New", Access::Read, kOptionNone, key), Status::AccessDenied);
        EXPECT_TRUE(test::readFile(file("system.reg")) == before);
    }
}

TEST_F(StoreTest, AWineserverThatStartsLaterStopsTheNextChange) {
    auto store = open();
    ASSERT_EQ(store->readOnlyReason(), "");
    HKey key = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"Software", Access::Full, kOptionNone, key), Status::Ok);
    test::HeldLock server(test::debianLockPath(dir.path(), tmp.path()));
    EXPECT_EQ(store->setValue(key, u"x", kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }), Status::AccessDenied);
    EXPECT_NE(store->readOnlyReason().find("wineserver"), std::string::npos);
    EXPECT_TRUE(test::readFile(file("system.reg")) == sample("system.reg"));
}

// --- Writers, one at a time --------------------------------------------------------------------

TEST_F(StoreTest, QuernsWriteOneAtATimeWithoutMakingEachOtherReadOnly) {
    auto first = open();
    auto second = open();
    EXPECT_EQ(second->readOnlyReason(), "") << "reading takes no lock";
    ASSERT_EQ(setString(*second, kLocalMachine, u"Software", u"Second", u"x"), Status::Ok);
    EXPECT_EQ(setString(*first, kLocalMachine, u"Software", u"First", u"y"), Status::ChangedOnDisk)
        << "what the other wrote is never overwritten";
    EXPECT_EQ(setString(*first, kCurrentUser, u"Software", u"First", u"y"), Status::Ok);

    // A write that finds another under way waits for it, then gives up and changes nothing.
    auto options = this->options();
    options.writerWaitMilliseconds = 100;
    WinePrefixStore third(options);
    const int other = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const std::string before = test::readFile(file("system.reg"));
    const Status waited = setString(third, kLocalMachine, u"Software", u"Third", u"z");
    EXPECT_EQ(waited, Status::WriteFailed);
    EXPECT_NE(waited.message().find("Another Quern is writing"), std::string::npos) << waited.message();
    EXPECT_TRUE(test::readFile(file("system.reg")) == before);
    HKey key = kNoKey;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(third.openKey(kLocalMachine, u"Software", Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(third.queryValue(key, u"Third", type, data), Status::NotFound) << "the refused change was undone";

    // One that ends within the wait is waited for.
    options.writerWaitMilliseconds = 60000;
    WinePrefixStore fourth(options);
    std::thread otherEnds([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::close(other);
    });
    EXPECT_EQ(setString(fourth, kLocalMachine, u"Software", u"Fourth", u"w"), Status::Ok);
    otherEnds.join();
    EXPECT_NE(test::readFile(file("system.reg")).find("\"Fourth\"=\"w\""), std::string::npos);
}

TEST_F(StoreTest, APrefixFolderThatCannotBeLockedIsNeverWritten) {
    // Files in a folder that may be written but not opened can be replaced, but the writers' lock on
    // the folder cannot be taken: the registry is read-only. Root opens any folder, so then the
    // store runs as nobody, in a child process.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0) {
            for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
                if (::chown(entry.path().c_str(), 65534, 65534) != 0) ::_exit(10);
            if (::chown(dir.path().c_str(), 65534, 65534) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(11);
        }
        if (::chmod(dir.path().c_str(), 0300) != 0) ::_exit(12);
        WinePrefixStore store(options());
        int failures = 0;
        if (store.readOnlyReason().find("cannot be opened") == std::string::npos) failures |= 1;
        if (setString(store, kLocalMachine, u"Software", u"Unlocked", u"x") != Status::AccessDenied) failures |= 2;
        ::_exit(failures);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not read-only, 2: written all the same, 10+: the test's own setup";
    EXPECT_TRUE(test::readFile(file("system.reg")) == sample("system.reg"));
}

// --- Wine programs that start while Quern writes ------------------------------------------------

TEST_F(StoreTest, AServerThatStartsDuringAWriteReadsTheNewFile) {
    for (bool debian : { true, false }) {
        SCOPED_TRACE(debian ? "Debian's place" : "upstream's place");
        test::copySamplePrefix(dir.path());
        std::filesystem::remove(file("wineserver"));
        const std::string lock = debian ? test::debianLockPath(dir.path(), tmp.path()) : upstreamLock();
        auto options = this->options();
        std::unique_ptr<StartingServer> server;
        options.beforeReplace = [&](const std::string&) {
            // The new file is complete and not yet in place: the worst moment for a server to start.
            server = std::make_unique<StartingServer>(lock, file("system.reg"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        };
        WinePrefixStore store(options);
        ASSERT_EQ(setString(store, kLocalMachine, u"Software", u"Raced", u"x"), Status::Ok);
        ASSERT_TRUE(server);
        EXPECT_NE(server->whatItRead().find("\"Raced\"=\"x\""), std::string::npos) << "it read the old file";
    }
}

TEST_F(StoreTest, AServerThatStartsWhereTheLockDidNotReachFailsTheWrite) {
    // With no "wineserver" file in the prefix, Debian's wine names a new folder at its start: no
    // lock could be taken there beforehand. The store finds the server after the rename and says
    // the change may not last rather than report a success.
    auto options = this->options();
    std::unique_ptr<StartingServer> server;
    options.beforeReplace = [&](const std::string&) {
        server = std::make_unique<StartingServer>(test::debianLockPath(dir.path(), tmp.path()), file("system.reg"));
        (void)server->whatItRead(); // it has the lock, and the old file
    };
    WinePrefixStore store(options);
    const Status raced = setString(store, kLocalMachine, u"Software", u"Raced", u"x");
    EXPECT_EQ(raced, Status::WriteFailed);
    EXPECT_NE(raced.message().find("may be lost"), std::string::npos) << raced.message();
    EXPECT_NE(store.readOnlyReason().find("wineserver"), std::string::npos);
    EXPECT_NE(test::readFile(file("system.reg")).find("\"Raced\"=\"x\""), std::string::npos)
        << "the file was written all the same";
}

TEST_F(StoreTest, AWriteRacingAStartingServerLandsBeforeItOrIsRefused) {
    // The server starts at random moments around the write. Whatever the timing, a write that
    // reports success is one the server read; one that did not land changed nothing.
    std::mt19937 random(13);
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        test::copySamplePrefix(dir.path());
        std::filesystem::remove(file("wineserver"));
        const std::string lock = round % 2 ? upstreamLock() : test::debianLockPath(dir.path(), tmp.path());
        auto options = this->options();
        const unsigned pause = random() % 4000;
        options.beforeReplace = [pause](const std::string&) { ::usleep(pause); };
        WinePrefixStore store(options);
        StartingServer server(lock, file("system.reg"), random() % 8000);
        const std::u16string value = u"round " + toUtf16(std::to_string(round));
        const Status st = setString(store, kLocalMachine, u"Software", u"Raced", value);
        const bool sawIt = server.whatItRead().find("\"Raced\"=\"" + toUtf8(value) + "\"") != std::string::npos;
        if (st == Status::Ok) {
            EXPECT_TRUE(sawIt) << "a success the server never read";
        } else {
            EXPECT_EQ(st, Status::AccessDenied);
            EXPECT_TRUE(test::readFile(file("system.reg")) == sample("system.reg"));
        }
    }
}

TEST_F(StoreTest, AFolderThatCannotBeFlushedAfterTheRenameTakesTheChangeBack) {
    auto options = this->options();
    options.syncFolder = [](int) {
        errno = EIO;
        return -1;
    };
    WinePrefixStore store(options);
    const Status st = setString(store, kLocalMachine, u"Software", u"Flushed", u"x");
    EXPECT_EQ(st, Status::WriteFailed);
    EXPECT_NE(st.message().find("could not be flushed"), std::string::npos) << st.message();
    EXPECT_NE(st.message().find(std::strerror(EIO)), std::string::npos);
    EXPECT_NE(st.message().find("may still bring the new content back"), std::string::npos)
        << "the old file is back, but its folder cannot be flushed either: " << st.message();
    EXPECT_TRUE(test::readFile(file("system.reg")) == sample("system.reg"));
    auto reread = open();
    HKey key = kNoKey;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(reread->openKey(kLocalMachine, u"Software", Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(reread->queryValue(key, u"Flushed", type, data), Status::NotFound)
        << "a change that may not last is not kept";
}

// --- Bad files ---------------------------------------------------------------------------------

TEST_F(StoreTest, AFileThatIsNotARegistryFileIsLeftAlone) {
    const std::string binary("\x7f"
                             "ELF\x02\x01\x01\0\0\0garbage",
        17);
    test::writeFile(file("user.reg"), binary);
    auto store = open();
    ASSERT_EQ(store->loadMessages().size(), 1u);
    EXPECT_NE(store->loadMessages()[0].find(file("user.reg")), std::string::npos);
    EXPECT_NE(store->readOnlyReason().find("user.reg"), std::string::npos);
    EXPECT_EQ(setString(*store, kCurrentUser, u"", u"x", u"y"), Status::AccessDenied);
    EXPECT_EQ(setString(*store, kLocalMachine, u"Software", u"x", u"y"), Status::Ok) << "the other files still work";
    EXPECT_TRUE(test::readFile(file("user.reg")) == binary);
}

TEST_F(StoreTest, AnUnreadableFileOpensNothingFromItAndIsNotWritten) {
    std::filesystem::remove(file("userdef.reg"));
    std::filesystem::create_directory(file("userdef.reg"));
    auto store = open();
    ASSERT_EQ(store->loadMessages().size(), 1u);
    EXPECT_NE(store->loadMessages()[0].find("userdef.reg"), std::string::npos);
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kUsers, u".Default", Access::Full, kOptionNone, key), Status::AccessDenied);
    EXPECT_EQ(store->openKey(kUsers, u".Default", Access::Read, kOptionNone, key), Status::Ok);
}

TEST_F(StoreTest, OddFilesAreNeitherReadNorWrittenAndHangNothing) {
    struct Case {
        const char* what;
        void (*make)(const std::string& path);
        const char* said;
    };
    const Case cases[] = {
        { "a FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, "is a FIFO" },
        { "/dev/zero", [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
            "is a character device" },
        { "a file larger than any registry",
            [](const std::string& p) {
                test::writeFile(p, "WINE REGISTRY Version 2\n");
                std::filesystem::resize_file(p, kMaxRegistryFileSize + 1); // sparse: takes no room
            },
            "is larger than 1 GiB" },
        { "a folder", [](const std::string& p) { std::filesystem::create_directory(p); }, "is a folder" },
        { "a link that leads nowhere", [](const std::string& p) { std::filesystem::create_symlink(p + ".gone", p); },
            "which does not exist" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::copySamplePrefix(dir.path());
        std::filesystem::remove(file("user.reg"));
        c.make(file("user.reg"));
        const auto kindBefore = std::filesystem::symlink_status(file("user.reg")).type();
        auto store = open();
        ASSERT_EQ(store->loadMessages().size(), 1u);
        const std::string& message = store->loadMessages()[0];
        EXPECT_TRUE(message.starts_with(file("user.reg") + " is") && message.find(c.said) != std::string::npos)
            << message;
        EXPECT_NE(store->readOnlyReason().find(c.said), std::string::npos) << store->readOnlyReason();
        EXPECT_EQ(setString(*store, kCurrentUser, u"", u"x", u"y"), Status::AccessDenied);
        EXPECT_EQ(store->refresh(), Status::Ok);
        EXPECT_EQ(setString(*store, kLocalMachine, u"Software", u"x", u"y"), Status::Ok) << "the other files work";
        EXPECT_EQ(std::filesystem::symlink_status(file("user.reg")).type(), kindBefore);
        std::filesystem::remove(file("user.reg"));
    }
}

TEST_F(StoreTest, AFileBehindASymbolicLinkIsReplacedThroughIt) {
    test::TempDir elsewhere;
    std::filesystem::rename(file("user.reg"), elsewhere / "user-real.reg");
    std::filesystem::create_symlink(elsewhere / "user-real.reg", file("user.reg"));
    auto store = open();
    ASSERT_EQ(store->readOnlyReason(), "");
    ASSERT_EQ(setString(*store, kCurrentUser, u"Software", u"Linked", u"once"), Status::Ok);
    ASSERT_EQ(setString(*store, kCurrentUser, u"Software", u"Linked", u"twice"), Status::Ok);
    EXPECT_TRUE(std::filesystem::is_symlink(file("user.reg"))) << "the link stays a link";
    EXPECT_NE(test::readFile(elsewhere / "user-real.reg").find("\"Linked\"=\"twice\""), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere.path()), {}), 1) << "no temporary file left";

    // A Quern that died while writing through the link left its temporary file beside the target.
    test::writeFile(elsewhere / ".user-real.reg.quern-AbCdEf", "half");
    ASSERT_EQ(setString(*open(), kCurrentUser, u"Software", u"Linked", u"thrice"), Status::Ok);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere.path()), {}), 1);
}

TEST_F(StoreTest, AFileWithOtherHardLinksIsReadButNeverWritten) {
    test::TempDir elsewhere;
    std::filesystem::create_hard_link(file("user.reg"), elsewhere / "user-too.reg");
    auto store = open();
    EXPECT_NE(store->readOnlyReason().find("user.reg has 1 other name"), std::string::npos) << store->readOnlyReason();
    ASSERT_EQ(store->loadMessages().size(), 1u);
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kCurrentUser, u"Software\\Wine", Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(setString(*store, kCurrentUser, u"Software", u"x", u"y"), Status::AccessDenied);
    EXPECT_EQ(setString(*store, kLocalMachine, u"Software", u"x", u"y"), Status::Ok) << "the other files work";

    // A link made after the file was read stops the write that comes next, and nothing splits.
    std::filesystem::remove(elsewhere / "user-too.reg");
    ASSERT_EQ(store->refresh(), Status::Ok);
    ASSERT_EQ(store->readOnlyReason(), "");
    std::filesystem::create_hard_link(file("user.reg"), elsewhere / "user-too.reg");
    const Status linked = setString(*store, kCurrentUser, u"Software", u"x", u"y");
    EXPECT_EQ(linked, Status::AccessDenied);
    EXPECT_NE(linked.message().find("other name"), std::string::npos) << linked.message();
    EXPECT_TRUE(std::filesystem::equivalent(file("user.reg"), elsewhere / "user-too.reg"));
    EXPECT_TRUE(test::readFile(file("user.reg")) == sample("user.reg"));
}

// Files whose replacement would lose something are read and never written: two of the prefix's
// names for one file (the write of one would throw away the other's), and a file its owner
// marked read-only (root could replace it all the same). The other files stay writable.
TEST_F(StoreTest, FilesThatMustNotBeReplacedAreReadOnlyWithTheReason) {
    std::filesystem::remove(file("user.reg"));
    std::filesystem::create_symlink("system.reg", file("user.reg"));
    ::chmod(file("userdef.reg").c_str(), 0444);
    auto store = open();
    const std::string reason = store->readOnlyReason();
    EXPECT_NE(reason.find("system.reg and user.reg are one file"), std::string::npos) << reason;
    EXPECT_NE(reason.find("userdef.reg is marked read-only (mode 444)"), std::string::npos) << reason;
    EXPECT_EQ(setString(*store, kLocalMachine, u"Software", u"x", u"y"), Status::AccessDenied);
    EXPECT_EQ(setString(*store, kCurrentUser, u"Software", u"x", u"y"), Status::AccessDenied);
    EXPECT_EQ(setString(*store, kUsers, u".Default", u"x", u"y"), Status::AccessDenied);
    EXPECT_TRUE(test::readFile(file("system.reg")) == sample("system.reg"));
    EXPECT_TRUE(test::readFile(file("userdef.reg")) == sample("userdef.reg"));
    EXPECT_TRUE(std::filesystem::is_symlink(file("user.reg")));

    // Marked read-only while it is open: the next change finds it out (a chmod leaves the stamp).
    ::chmod(file("userdef.reg").c_str(), 0644);
    auto userDefault = open();
    ::chmod(file("userdef.reg").c_str(), 0444);
    const Status marked = setString(*userDefault, kUsers, u".Default", u"x", u"y");
    EXPECT_EQ(marked, Status::AccessDenied);
    EXPECT_NE(marked.message().find("mode 444"), std::string::npos) << marked.message();
    EXPECT_TRUE(test::readFile(file("userdef.reg")) == sample("userdef.reg"));

    // Once the names are two files again and the mode allows it, a refresh makes them writable.
    std::filesystem::remove(file("user.reg"));
    test::writeFile(file("user.reg"), sample("user.reg"));
    ::chmod(file("userdef.reg").c_str(), 0644);
    ASSERT_EQ(store->refresh(), Status::Ok);
    EXPECT_EQ(store->readOnlyReason(), "");
    EXPECT_EQ(setString(*store, kUsers, u".Default", u"x", u"y"), Status::Ok);
}

TEST_F(StoreTest, MalformedLinesAreReportedOnceAndSurviveAWrite) {
    std::string content = sample("user.reg");
    content.insert(content.find("\"Locale\"=dword:00000000"), "\"Broken\"=what:1\n\"Also\"=\"unterminated\n");
    test::writeFile(file("user.reg"), content);
    auto store = open();
    ASSERT_EQ(store->loadMessages().size(), 1u);
    const std::string& message = store->loadMessages()[0];
    EXPECT_NE(message.find("user.reg, line 12"), std::string::npos) << message;
    EXPECT_NE(message.find("1 more"), std::string::npos) << message;
    ASSERT_EQ(
        setString(*store, kCurrentUser, u"Control Panel\\Accessibility\\AudioDescription", u"On", u"1"), Status::Ok);
    const std::string after = test::readFile(file("user.reg"));
    EXPECT_NE(after.find("\"Broken\"=what:1\n\"Also\"=\"unterminated\n"), std::string::npos);
}

TEST_F(StoreTest, AMissingPrefixFolderIsSaidAndNothingIsMade) {
    auto options = this->options();
    options.prefixDir = dir / "missing";
    WinePrefixStore store(options);
    EXPECT_NE(store.readOnlyReason().find("does not exist"), std::string::npos);
    EXPECT_FALSE(test::fileExists(dir / "missing"));
}

TEST_F(StoreTest, QuernsOwnRegistryIsMadeOnFirstUse) {
    auto options = this->options();
    options.prefixDir = dir / "own/quern/registry";
    options.createIfMissing = true;
    {
        WinePrefixStore store(options);
        EXPECT_EQ(store.readOnlyReason(), "");
        EXPECT_TRUE(store.loadMessages().empty());
    }
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        EXPECT_TRUE(test::fileExists(options.prefixDir + "/" + name)) << name;
    EXPECT_TRUE(
        test::readFile(options.prefixDir + "/user.reg")
            .starts_with("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                         "\n#arch=win64\n\n[Software] "));
    WinePrefixStore again(options);
    RegAccessor registry(again);
    for (auto [root, path] : { std::pair { kClassesRoot, "" }, { kCurrentConfig, "" }, { kCurrentUser, "Software" },
             { kUsers, ".Default" }, { kLocalMachine, "System\\CurrentControlSet" } }) {
        registry.selectRoot(root);
        EXPECT_TRUE(registry.keyExists(std::string("\\") + path)) << path;
    }
    EXPECT_EQ(again.filesWritten(), 0u) << "made once, then only read";
}

TEST(ChooseRegistry, FollowsWineprefixThenHomeThenQuernsOwn) {
    test::TempDir home;
    auto withEnv = [&](const char* prefix, const char* data) {
        prefix ? ::setenv("WINEPREFIX", prefix, 1) : ::unsetenv("WINEPREFIX");
        data ? ::setenv("XDG_DATA_HOME", data, 1) : ::unsetenv("XDG_DATA_HOME");
        ::setenv("HOME", home.path().c_str(), 1);
        return chooseRegistry();
    };
    const char* savedHome = std::getenv("HOME");
    const std::string homeCopy = savedHome ? savedHome : "";
    EXPECT_EQ(withEnv("/some/prefix", nullptr).prefixDir, "/some/prefix");
    EXPECT_FALSE(withEnv("/some/prefix", nullptr).ownRegistry);
    EXPECT_EQ(withEnv(nullptr, nullptr).prefixDir, home / ".local/share/quern/registry");
    EXPECT_TRUE(withEnv(nullptr, nullptr).ownRegistry);
    EXPECT_EQ(withEnv("", "/data").prefixDir, "/data/quern/registry");
    std::filesystem::create_directories(home / ".wine");
    test::writeFile(home / ".wine/system.reg", "WINE REGISTRY Version 2\n");
    EXPECT_EQ(withEnv(nullptr, "/data").prefixDir, home / ".wine");
    ::unsetenv("WINEPREFIX");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", homeCopy.c_str(), 1);
}

TEST(OwnRegistry, StaysWritableWhenAFileItMadeIsReadAgain) {
    test::TempDir dir;
    auto store = test::openTestRegistry(dir / "registry");
    ASSERT_EQ(store->readOnlyReason(), "");
    // Another program writes user.reg again with the same bytes: the file is read again on refresh,
    // and the architecture its header names is the one of the files Quern made.
    test::writeFile(dir / "registry/user.reg", test::readFile(dir / "registry/user.reg"));
    ASSERT_EQ(store->refresh(), Status::Ok);
    EXPECT_EQ(store->readOnlyReason(), "");
    EXPECT_TRUE(store->loadMessages().empty()) << store->loadMessages().front();
    HKey key = kNoKey;
    EXPECT_EQ(store->createKey(kCurrentUser, u"Software\\After", Access::Full, kOptionNone, key), Status::Ok);
}
