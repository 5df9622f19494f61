#include "registry/WinePrefixStore.h"
#include "TestSupport.h"
#include "registry/RegAccessor.h"
#include "registry/Utf.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { test::copySamplePrefix(dir.path()); }

    WinePrefixOptions options() const {
        WinePrefixOptions o;
        o.prefixDir = dir.path();
        o.serverPaths = { tmp.path(), tmp / "upstream", "/nonexistent" };
        o.scanProcesses = false;
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

TEST_F(StoreTest, RootsMapAsWineMapsThem) {
    auto store = open();
    auto identity = [&](HKey root, std::u16string_view path) {
        HKey key = kNoKey;
        KeyInfo info;
        if (store->openKey(root, path, Access::Read, kOptionNone, key) != Status::Ok) return std::uint64_t { 0 };
        (void)store->queryInfo(key, info);
        (void)store->closeKey(key);
        return info.identity;
    };
    EXPECT_NE(identity(kClassesRoot, u""), 0u);
    EXPECT_EQ(identity(kClassesRoot, u""), identity(kLocalMachine, u"Software\\Classes"));
    EXPECT_EQ(identity(kClassesRoot, u".chm"), identity(kLocalMachine, u"SOFTWARE\\classes\\.CHM"));
    EXPECT_EQ(identity(kCurrentConfig, u""),
        identity(kLocalMachine, u"System\\CurrentControlSet\\Hardware Profiles\\Current"));
    EXPECT_EQ(identity(kCurrentUser, u""), identity(kUsers, u"S-1-5-21-0-0-0-1000"));
    EXPECT_NE(identity(kUsers, u".Default\\Software"), 0u);

    std::u16string name;
    std::vector<std::u16string> users;
    for (std::uint32_t i = 0; store->enumKey(kUsers, i, name) == Status::Ok; ++i)
        users.push_back(name);
    EXPECT_EQ(users, (std::vector<std::u16string> { u".Default", u"S-1-5-21-0-0-0-1000" }));
    KeyInfo dyn;
    ASSERT_EQ(store->queryInfo(kDynData, dyn), Status::Ok);
    EXPECT_EQ(dyn.subkeyCount + dyn.valueCount, 0u);
    HKey key = kNoKey;
    EXPECT_EQ(store->createKey(kDynData, u"X", Access::Full, kOptionNone, key), Status::AccessDenied)
        << "HKEY_DYN_DATA is never saved, so nothing may be made in it";
    EXPECT_EQ(store->createKey(kUsers, u"S-1-5-99", Access::Full, kOptionNone, key), Status::AccessDenied);
}

TEST_F(StoreTest, SubkeysEnumerateInCaseInsensitiveOrderAndValuesInCreationOrder) {
    auto store = open();
    HKey key = kNoKey;
    ASSERT_EQ(store->createKey(kCurrentUser, u"Order", Access::Full, kOptionNone, key), Status::Ok);
    for (auto name : { u"b", u"A", u"_x", u"C" }) {
        HKey sub = kNoKey;
        ASSERT_EQ(store->createKey(key, name, Access::Read, kOptionNone, sub), Status::Ok);
        (void)store->closeKey(sub);
        ASSERT_EQ(store->setValue(key, name, kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }), Status::Ok);
    }
    std::u16string name;
    std::vector<std::u16string> keys;
    std::vector<std::u16string> values;
    for (std::uint32_t i = 0; store->enumKey(key, i, name) == Status::Ok; ++i)
        keys.push_back(name);
    for (std::uint32_t i = 0; store->enumValue(key, i, name, nullptr, nullptr) == Status::Ok; ++i)
        values.push_back(name);
    EXPECT_EQ(keys, (std::vector<std::u16string> { u"_x", u"A", u"b", u"C" }));
    EXPECT_EQ(values, (std::vector<std::u16string> { u"b", u"A", u"_x", u"C" }));
    EXPECT_EQ(store->enumKey(key, 4, name), Status::NoMoreItems);
}

TEST_F(StoreTest, AnyTypeAndAnyBytesAreKeptAsTheyAre) {
    {
        auto store = open();
        HKey key = kNoKey;
        ASSERT_EQ(store->createKey(kLocalMachine, u"Software\\Types", Access::Full, kOptionNone, key), Status::Ok);
        const std::vector<std::uint8_t> odd { 0x41, 0x00, 0x42 };
        ASSERT_EQ(store->setValue(key, u"odd", kRegSz, odd), Status::Ok);
        ASSERT_EQ(store->setValue(key, u"big", 0xffff0012u, std::vector<std::uint8_t> { 1, 2, 3 }), Status::Ok);
        ASSERT_EQ(store->setValue(key, u"lone", kRegSz, std::vector<std::uint8_t> { 0x00, 0xd8, 0, 0 }), Status::Ok);
        ASSERT_EQ(store->setValue(key, u"empty", kRegBinary, std::vector<std::uint8_t> {}), Status::Ok);
    }
    auto store = open();
    HKey key = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"software\\types", Access::Read, kOptionNone, key), Status::Ok);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store->queryValue(key, u"ODD", type, data), Status::Ok);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 0x41, 0x00, 0x42 }));
    ASSERT_EQ(store->queryValue(key, u"big", type, data), Status::Ok);
    EXPECT_EQ(type, 0xffff0012u);
    ASSERT_EQ(store->queryValue(key, u"lone", type, data), Status::Ok);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 0x00, 0xd8, 0, 0 }));
    ASSERT_EQ(store->queryValue(key, u"empty", type, data), Status::Ok);
    EXPECT_TRUE(data.empty());
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
    EXPECT_NE(store->lastErrorText().find("system.reg"), std::string::npos) << store->lastErrorText();
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
    EXPECT_EQ(setString(*store, kCurrentUser, u"Software", u"Mine", u"x"), Status::ChangedOnDisk);
    EXPECT_NE(store->lastErrorText().find("refresh"), std::string::npos);
    EXPECT_TRUE(test::readFile(file("user.reg")) == theirs);

    ASSERT_EQ(store->refresh(), Status::Ok);
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kCurrentUser, u"Their\\Key", Access::Read, kOptionNone, key), Status::Ok);
    ASSERT_EQ(setString(*store, kCurrentUser, u"Software", u"Mine", u"x"), Status::Ok);
    EXPECT_NE(test::readFile(file("user.reg")).find("[Their\\\\Key] 1\n"), std::string::npos);
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

TEST_F(StoreTest, DeletingAKeyWithSubkeysIsRefused) {
    auto store = open();
    EXPECT_EQ(store->deleteKey(kLocalMachine, u"Software\\Wine"), Status::HasSubkeys);
    EXPECT_EQ(store->deleteKey(kLocalMachine, u""), Status::AccessDenied);
    EXPECT_EQ(store->deleteKey(kLocalMachine, u"No\\Such"), Status::NotFound);
    HKey key = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT", Access::Full,
                  kOptionNone, key),
        Status::Ok);
    ASSERT_EQ(
        store->deleteKey(kLocalMachine, u"Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT"), Status::Ok);
    KeyInfo info;
    EXPECT_EQ(store->queryInfo(key, info), Status::KeyDeleted) << "a handle to a deleted key says so";
    EXPECT_EQ(store->closeKey(key), Status::Ok);
    EXPECT_EQ(store->closeKey(key), Status::InvalidHandle);
}

TEST_F(StoreTest, BadPathsAreRefused) {
    auto store = open();
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kLocalMachine, u"Software\\\\Wine", Access::Read, kOptionNone, key), Status::BadPath);
    EXPECT_EQ(store->openKey(kLocalMachine, u"\\Software", Access::Read, kOptionNone, key), Status::BadPath);
    EXPECT_EQ(store->openKey(kLocalMachine, u"Software\\", Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(
        store->createKey(kLocalMachine, std::u16string(256, u'k'), Access::Read, kOptionNone, key), Status::BadPath);
    EXPECT_EQ(store->openKey(0x1234, u"", Access::Read, kOptionNone, key), Status::InvalidHandle);
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

TEST_F(StoreTest, ALinkLoopEndsWithAnError) {
    auto store = open();
    auto makeLink = [&](std::u16string_view at, std::u16string_view target) {
        HKey key = kNoKey;
        ASSERT_EQ(store->createKey(kLocalMachine, at, Access::Full, kCreateLink | kOpenLink, key), Status::Ok);
        ASSERT_EQ(store->setValue(key, u"SymbolicLinkValue", kRegLink, test::utf16zBytes(target)), Status::Ok);
        (void)store->closeKey(key);
    };
    makeLink(u"Software\\LoopA", u"\\Registry\\Machine\\Software\\LoopB");
    makeLink(u"Software\\LoopB", u"\\Registry\\Machine\\Software\\LoopA");
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kLocalMachine, u"Software\\LoopA", Access::Read, kOptionNone, key), Status::LinkLoop);
    EXPECT_EQ(
        store->openKey(kLocalMachine, u"Software\\LoopA\\Below", Access::Read, kOptionNone, key), Status::LinkLoop);
    makeLink(u"Software\\ToWine", u"\\REGISTRY\\machine\\software\\wine");
    ASSERT_EQ(store->openKey(kLocalMachine, u"Software\\ToWine\\Ports", Access::Read, kOptionNone, key), Status::Ok);

    // Deleting the link removes the link, never what it leads to.
    ASSERT_EQ(store->deleteKey(kLocalMachine, u"Software\\ToWine"), Status::Ok);
    EXPECT_EQ(store->openKey(kLocalMachine, u"Software\\Wine\\Ports", Access::Read, kOptionNone, key), Status::Ok);
    auto reread = open();
    EXPECT_EQ(reread->openKey(kLocalMachine, u"Software\\LoopB", Access::Read, kOpenLink, key), Status::Ok)
        << "links are written as links";
    KeyInfo info;
    ASSERT_EQ(reread->queryInfo(key, info), Status::Ok);
    EXPECT_TRUE(info.isLink);
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

TEST_F(StoreTest, ASecondQuernOpensTheRegistryReadOnly) {
    auto first = open();
    auto second = open();
    EXPECT_EQ(first->readOnlyReason(), "");
    EXPECT_NE(second->readOnlyReason().find("Another Quern"), std::string::npos);
    first.reset();
    ASSERT_EQ(second->refresh(), Status::Ok);
    EXPECT_EQ(second->readOnlyReason(), "") << "once the first is gone, a refresh takes over";
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
