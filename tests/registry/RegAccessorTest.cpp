#include "registry/RegAccessor.h"
#include "TestSupport.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace quern;
using namespace quern::reg;

namespace {

class AccessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = test::openTestRegistry(dir / "registry");
        registry = std::make_unique<RegAccessor>(*store);
    }

    // A value of any type and bytes, set below the accessor.
    void setRaw(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
        ASSERT_EQ(
            store->setValue(registry->currentKey(), std::u16string(name.begin(), name.end()), type, data), Status::Ok);
    }

    template<typename F> static std::string raisedBy(F&& f) {
        try {
            f();
        } catch (const RegError& error) {
            return error.what();
        }
        return "(nothing raised)";
    }

    test::TempDir dir;
    std::unique_ptr<WinePrefixStore> store;
    std::unique_ptr<RegAccessor> registry;
};

} // namespace

TEST_F(AccessorTest, RootsAndOpening) {
    EXPECT_EQ(registry->currentRoot(), kCurrentUser) << "the current user is the first root";
    EXPECT_EQ(registry->currentKey(), kNoKey);
    ASSERT_TRUE(registry->openKey("\\Software"));
    const HKey software = registry->currentKey();
    EXPECT_EQ(registry->currentPath(), "Software");

    registry->selectRoot(kCurrentUser);
    EXPECT_EQ(registry->currentKey(), software) << "the same root changes nothing";
    EXPECT_FALSE(registry->openKey("\\No\\Such\\Key"));
    EXPECT_EQ(registry->currentKey(), software) << "a failed open changes nothing";

    registry->createKey("Child");
    ASSERT_TRUE(registry->openKey("Child")) << "a relative path starts at the current key";
    EXPECT_EQ(registry->currentPath(), "Software\\Child");
    EXPECT_EQ(store->openHandleCount(), 1u) << "opening closes the key opened before";

    ASSERT_TRUE(registry->openKey("\\"));
    EXPECT_EQ(registry->currentPath(), "") << "a backslash alone is the root itself";
    registry->selectRoot(kLocalMachine);
    EXPECT_EQ(registry->currentKey(), kNoKey) << "another root closes the current key";
    EXPECT_EQ(store->openHandleCount(), 0u);
    ASSERT_TRUE(registry->openKey("Software")) << "with no key open, a relative path starts at the root";
    ASSERT_TRUE(registry->openKeyReadOnly("\\System"));
    EXPECT_THROW(registry->writeString("x", "y"), RegError) << "a key opened for reading cannot be written";
}

TEST_F(AccessorTest, CreateKey) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    const HKey before = registry->currentKey();
    registry->createKey("A\\B\\C");
    registry->createKey("A\\B");
    EXPECT_EQ(registry->currentKey(), before) << "the current key stays as it was";
    EXPECT_TRUE(registry->keyExists("A\\B\\C"));
    EXPECT_EQ(raisedBy([&] { registry->createKey("Bad\\\\Path"); }),
        "Failed to create key Bad\\\\Path: Not a valid key name or path.");
    registry->selectRoot(kDynData);
    EXPECT_EQ(raisedBy([&] { registry->createKey("\\X"); }),
        "Failed to create key \\X: This key belongs to no registry file and cannot be changed.");
}

TEST_F(AccessorTest, DeleteKeyRemovesEverythingBelowIt) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("Tree\\One\\Deep");
    registry->createKey("Tree\\Two");
    ASSERT_TRUE(registry->openKey("Tree\\One"));
    registry->writeString("v", "x");
    ASSERT_TRUE(registry->openKey("\\Software"));
    const std::size_t written = store->filesWritten();
    EXPECT_TRUE(registry->deleteKey("Tree"));
    EXPECT_EQ(store->filesWritten(), written + 1) << "one write for the whole tree";
    EXPECT_FALSE(registry->keyExists("Tree"));
    EXPECT_FALSE(registry->deleteKey("Tree")) << "false when there was nothing to delete";
    EXPECT_FALSE(registry->deleteKey("\\")) << "a root cannot be deleted";
}

TEST_F(AccessorTest, AKeyThatCannotGoTakesNothingBelowItWithIt) {
    const std::string before = test::readFile(dir / "registry/userdef.reg");
    registry->selectRoot(kUsers);
    EXPECT_FALSE(registry->deleteKey("\\.Default")) << "the top of a hive cannot be deleted";
    EXPECT_TRUE(registry->keyExists("\\.Default\\Software"));
    EXPECT_EQ(test::readFile(dir / "registry/userdef.reg"), before) << "and its file is not written";
    registry->selectRoot(kCurrentUser);
    EXPECT_FALSE(registry->deleteKey("\\"));
    EXPECT_TRUE(registry->keyExists("\\Software"));
}

TEST_F(AccessorTest, AnAbandonedBatchLeavesNoTraceOnDiskOrInMemory) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    const std::string before = test::readFile(dir / "registry/user.reg");
    {
        WriteBatch outer(*store);
        registry->writeString("kept", "1");
        {
            WriteBatch inner(*store);
            registry->createKey("Gone\\Deep");
            registry->writeString("gone", "2");
            inner.abandon();
        }
        EXPECT_FALSE(registry->keyExists("Gone"));
        EXPECT_FALSE(registry->valueExists("gone"));
        ASSERT_EQ(outer.finish(), Status::Ok);
    }
    EXPECT_TRUE(registry->valueExists("kept"));
    const std::string after = test::readFile(dir / "registry/user.reg");
    EXPECT_NE(after, before);
    EXPECT_EQ(after.find("Gone"), std::string::npos);
    const std::size_t written = store->filesWritten();
    {
        WriteBatch alone(*store);
        registry->writeString("never", "3");
        alone.abandon();
    }
    EXPECT_EQ(store->filesWritten(), written);
    EXPECT_FALSE(registry->valueExists("never"));
}

TEST_F(AccessorTest, ACommandThatRaisesHalfWayWritesNothing) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    const std::string user = dir / "registry/user.reg";
    const std::string before = test::readFile(user);
    const std::size_t handles = store->openHandleCount();
    EXPECT_THROW(
        {
            WriteBatch batch(*store);
            registry->writeString("first", "half");
            registry->createKey("Half\\Made");
            (void)registry->readInteger("missing"); // raises: the command never reaches finish()
            (void)batch.finish();
        },
        RegError);
    EXPECT_TRUE(test::readFile(user) == before) << "not one byte of the first half reached the file";
    EXPECT_FALSE(registry->valueExists("first"));
    EXPECT_FALSE(registry->keyExists("Half"));
    EXPECT_EQ(store->openHandleCount(), handles);

    // The accessor's error says what failed and, after it, why the store refused.
    test::writeFile(user, before + "\n");
    const std::string raised = raisedBy([&] { registry->writeString("x", "y"); });
    EXPECT_EQ(raised.rfind("Failed to set data for 'x': user.reg was changed on disk", 0), 0u) << raised;
}

TEST_F(AccessorTest, DeleteKeyLeavesALinksTargetAlone) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("Target\\Inside");
    HKey link = kNoKey;
    ASSERT_EQ(
        store->createKey(kCurrentUser, u"Software\\Link", Access::Full, kCreateLink | kOpenLink, link), Status::Ok);
    std::u16string target = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\Target";
    std::vector<std::uint8_t> bytes(target.size() * 2);
    std::memcpy(bytes.data(), target.data(), bytes.size());
    ASSERT_EQ(store->setValue(link, u"SymbolicLinkValue", kRegLink, bytes), Status::Ok);
    EXPECT_TRUE(registry->keyExists("Link\\Inside"));
    EXPECT_TRUE(registry->deleteKey("Link"));
    EXPECT_TRUE(registry->keyExists("Target\\Inside"));
}

TEST_F(AccessorTest, ListsAreClearedThenFilledInRegistryOrder) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("b");
    registry->createKey("A");
    registry->writeString("z", "1");
    registry->writeString("", "default");
    std::vector<std::string> names { "stale" };
    registry->getKeyNames(names);
    EXPECT_EQ(names, (std::vector<std::string> { "A", "b" }));
    registry->getValueNames(names);
    EXPECT_EQ(names, (std::vector<std::string> { "z", "" }));
    registry->closeKey();
    registry->getValueNames(names);
    EXPECT_TRUE(names.empty()) << "none when there is no key to ask";
}

TEST_F(AccessorTest, ValueInfoGivesKindAndSizeAsTheProgramSeesThem) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->writeString("s", "caf\xc3\xa9");
    registry->writeInteger("i", 7);
    registry->writeBinaryData("b", "\x01\x02\x03", 3);
    setRaw("e", kRegExpandSz, { '%', 0, 'P', 0, '%', 0, 0, 0 });
    setRaw("m", kRegMultiSz, { 'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0 });
    setRaw("q", kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    ValueKind kind = ValueKind::String;
    std::size_t size = 99;
    auto info = [&](std::string_view name) {
        const bool ok = registry->getDataInfo(name, kind, size);
        return std::tuple { ok, kind, size };
    };
    EXPECT_EQ(info("s"), std::tuple(true, ValueKind::String, std::size_t { 6 })) << "UTF-8 with its NUL";
    EXPECT_EQ(info("i"), std::tuple(true, ValueKind::Integer, std::size_t { 4 }));
    EXPECT_EQ(info("b"), std::tuple(true, ValueKind::Binary, std::size_t { 3 }));
    EXPECT_EQ(info("e"), std::tuple(true, ValueKind::ExpandString, std::size_t { 4 }));
    EXPECT_EQ(info("m"), std::tuple(true, ValueKind::Other, std::size_t { 5 }));
    EXPECT_EQ(info("q"), std::tuple(true, ValueKind::Other, std::size_t { 8 }));
    EXPECT_EQ(info("missing"), std::tuple(false, ValueKind::Other, std::size_t { 0 }));
}

TEST_F(AccessorTest, ReadString) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->writeString("s", "\xe2\x82\xac uro");
    setRaw("e", kRegExpandSz, { '%', 0, 'P', 0, '%', 0, 0, 0 });
    setRaw("nul", kRegSz, { 'a', 0, 0, 0, 'b', 0, 0, 0 });
    setRaw("empty", kRegBinary, {});
    setRaw("odd", kRegSz, { 'a', 0, 'b' });
    registry->writeInteger("i", 1);
    EXPECT_EQ(registry->readString("s"), "\xe2\x82\xac uro");
    EXPECT_EQ(registry->readString("e"), "%P%") << "not expanded";
    EXPECT_EQ(registry->readString("nul"), "a") << "up to the first NUL";
    EXPECT_EQ(registry->readString("odd"), "a") << "an odd last byte is not a character";
    EXPECT_EQ(registry->readString("missing"), "");
    EXPECT_EQ(registry->readString("empty"), "") << "size 0 is empty whatever the kind";
    EXPECT_EQ(raisedBy([&] { (void)registry->readString("i"); }), "Invalid data type for 'i'");
}

TEST_F(AccessorTest, ReadInteger) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->writeInteger("neg", -1);
    registry->writeInteger("max", 0x7fffffff);
    setRaw("short", kRegDword, { 0x34, 0x12 });
    setRaw("long", kRegDword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    setRaw("sz", kRegSz, { '1', 0, 0, 0 });
    setRaw("longsz", kRegSz, { '1', 0, '2', 0, '3', 0, '4', 0, '5', 0, 0, 0 });
    EXPECT_EQ(registry->readInteger("neg"), -1);
    EXPECT_EQ(registry->readInteger("max"), 0x7fffffff);
    EXPECT_EQ(registry->readInteger("short"), 0x1234);
    EXPECT_EQ(raisedBy([&] { (void)registry->readInteger("long"); }), "Failed to get data for 'long'");
    EXPECT_EQ(raisedBy([&] { (void)registry->readInteger("missing"); }), "Failed to get data for 'missing'");
    EXPECT_EQ(raisedBy([&] { (void)registry->readInteger("sz"); }), "Invalid data type for 'sz'");
    EXPECT_EQ(raisedBy([&] { (void)registry->readInteger("longsz"); }), "Failed to get data for 'longsz'")
        << "the size is checked before the kind";
}

TEST_F(AccessorTest, ReadBinary) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->writeBinaryData("b", "\x00\xff\x10", 3);
    setRaw("m", kRegMultiSz, { 'a', 0, 0, 0, 0xe9, 0, 0, 0, 0, 0 });
    setRaw("q", kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    registry->writeString("s", "x");
    registry->writeInteger("i", 1);
    unsigned char buffer[16] = {};
    EXPECT_EQ(registry->readBinaryData("b", buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::memcmp(buffer, "\x00\xff\x10", 3), 0);
    ASSERT_EQ(registry->readBinaryData("m", buffer, sizeof buffer), 6u) << "a multi-string's text with its NULs";
    EXPECT_EQ(std::memcmp(buffer, "a\0\xc3\xa9\0\0", 6), 0);
    EXPECT_EQ(registry->readBinaryData("q", buffer, sizeof buffer), 8u);
    EXPECT_EQ(registry->readBinaryData("missing", buffer, sizeof buffer), 0u);
    EXPECT_EQ(
        raisedBy([&] { (void)registry->readBinaryData("s", buffer, sizeof buffer); }), "Invalid data type for 's'");
    EXPECT_EQ(
        raisedBy([&] { (void)registry->readBinaryData("i", buffer, sizeof buffer); }), "Invalid data type for 'i'");
    EXPECT_EQ(raisedBy([&] { (void)registry->readBinaryData("q", buffer, 4); }), "Invalid data type for 'q'")
        << "a buffer too small";
}

TEST_F(AccessorTest, WritesReplaceAnyValueOfThatName) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->writeString("v", "text");
    registry->writeInteger("V", 5);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"v", type, data), Status::Ok);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 5, 0, 0, 0 }));
    registry->writeString("v", "");
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"v", type, data), Status::Ok);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 0, 0 })) << "REG_SZ with its NUL";
    registry->closeKey();
    EXPECT_EQ(raisedBy([&] { registry->writeString("w", "x"); }), "Failed to set data for 'w': Not an open key.");
}

TEST_F(AccessorTest, ExistenceQuestions) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("Here");
    registry->writeString("val", "x");
    const HKey current = registry->currentKey();
    EXPECT_TRUE(registry->keyExists("Here"));
    EXPECT_TRUE(registry->keyExists("\\Software\\HERE"));
    EXPECT_FALSE(registry->keyExists("Nowhere"));
    EXPECT_EQ(registry->currentKey(), current);
    EXPECT_TRUE(registry->valueExists("VAL"));
    EXPECT_FALSE(registry->valueExists("other"));
    EXPECT_FALSE(registry->hasSubKeys() == false);
    ASSERT_TRUE(registry->openKey("Here"));
    EXPECT_FALSE(registry->hasSubKeys());
}

TEST_F(AccessorTest, KeyExistsInARegistryThatCannotBeWritten) {
    // Key exists asks for full access; a read-only registry still has its keys.
    test::HeldLock server(test::testRegistryServerLock(dir / "registry"));
    const auto second = test::openTestRegistry(dir / "registry", false);
    ASSERT_NE(second->readOnlyReason(), "");
    RegAccessor readOnly(*second);
    EXPECT_TRUE(readOnly.keyExists("\\Software"));
    EXPECT_FALSE(readOnly.openKey("\\Software"));
    EXPECT_TRUE(readOnly.openKeyReadOnly("\\Software"));
}

TEST_F(AccessorTest, RenameValue) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    setRaw("odd", kRegSz, { 'a', 0, 'b' });
    registry->writeString("other", "x");
    setRaw("empty", kRegBinary, {});
    EXPECT_TRUE(registry->renameValue("odd", "renamed"));
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"renamed", type, data), Status::Ok);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 'a', 0, 'b' })) << "bytes kept exactly, odd count and all";
    EXPECT_FALSE(registry->valueExists("odd"));
    EXPECT_FALSE(registry->renameValue("missing", "new"));
    EXPECT_FALSE(registry->renameValue("renamed", "other")) << "the new name exists";
    EXPECT_TRUE(registry->renameValue("empty", "new")) << "a value of no data is renamed like any other";
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"new", type, data), Status::Ok);
    EXPECT_EQ(type, kRegBinary);
    EXPECT_TRUE(data.empty());
    EXPECT_FALSE(registry->valueExists("empty"));
}

TEST_F(AccessorTest, MoveKeyCopiesEverythingRawAndDeletesTheSource) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("Src\\Sub\\Deep");
    ASSERT_TRUE(registry->openKey("Src"));
    registry->writeString("", "default");
    setRaw("odd", kRegSz, { 0x41, 0x00, 0x42 });
    setRaw("lone", kRegSz, { 0x00, 0xd8, 0x00, 0x00 });
    setRaw("empty", kRegBinary, {});
    setRaw("dev", 0xffff0012u, { 9 });
    ASSERT_TRUE(registry->openKey("Sub\\Deep"));
    registry->writeInteger("d", 4);

    ASSERT_TRUE(registry->openKey("\\Software"));
    EXPECT_TRUE(registry->moveKey("\\Software\\Src", "\\Software\\Dst", true));
    EXPECT_FALSE(registry->keyExists("\\Software\\Src"));
    ASSERT_TRUE(registry->openKey("\\Software\\Dst"));
    std::vector<std::string> names;
    registry->getValueNames(names);
    EXPECT_EQ(names, (std::vector<std::string> { "", "odd", "lone", "empty", "dev" }));
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"odd", type, data), Status::Ok);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 0x41, 0x00, 0x42 }));
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"lone", type, data), Status::Ok);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 0x00, 0xd8, 0x00, 0x00 }));
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"dev", type, data), Status::Ok);
    EXPECT_EQ(type, 0xffff0012u);
    ASSERT_TRUE(registry->openKey("Sub\\Deep"));
    EXPECT_EQ(registry->readInteger("d"), 4);

    // The bytes survive the disk too.
    WinePrefixOptions options;
    options.prefixDir = dir / "registry";
    options.scanProcesses = false;
    registry.reset();
    store.reset();
    WinePrefixStore reread(options);
    HKey key = kNoKey;
    ASSERT_EQ(reread.openKey(kCurrentUser, u"Software\\Dst", Access::Read, kOptionNone, key), Status::Ok);
    ASSERT_EQ(reread.queryValue(key, u"odd", type, data), Status::Ok);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 0x41, 0x00, 0x42 }));
}

TEST_F(AccessorTest, MoveKeyDoesNothingWhenItCannot) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("A\\Inner");
    registry->createKey("B");
    EXPECT_FALSE(registry->moveKey("\\Software\\Missing", "\\Software\\New", true));
    EXPECT_FALSE(registry->moveKey("\\Software\\A", "\\Software\\B", true)) << "the target exists";
    EXPECT_FALSE(registry->moveKey("\\Software\\A", "\\Software\\A\\Inner\\Copy", true)) << "into itself";
    EXPECT_TRUE(registry->keyExists("\\Software\\A\\Inner"));
    EXPECT_FALSE(registry->keyExists("\\Software\\A\\Inner\\Copy"));
    EXPECT_TRUE(registry->moveKey("\\Software\\A", "\\Software\\C", false));
    EXPECT_TRUE(registry->keyExists("\\Software\\A\\Inner")) << "kept when not asked to delete";
    EXPECT_TRUE(registry->keyExists("\\Software\\C\\Inner"));
}

TEST_F(AccessorTest, LinkKeysAreMovedAndDeletedAsLinks) {
    // Target holds values and a subkey; Link points at it. Renaming or deleting Link must leave
    // Target exactly as it was.
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("Target\\Below");
    ASSERT_TRUE(registry->openKey("Target"));
    registry->writeString("kept", "yes");
    {
        HKey link = kNoKey;
        ASSERT_EQ(
            store->createKey(kCurrentUser, u"Software\\Link", Access::Full, kCreateLink | kOpenLink, link), Status::Ok);
        const std::u16string to = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\Target";
        std::vector<std::uint8_t> bytes(to.size() * 2);
        std::memcpy(bytes.data(), to.data(), bytes.size());
        ASSERT_EQ(store->setValue(link, u"SymbolicLinkValue", kRegLink, bytes), Status::Ok);
        (void)store->closeKey(link);
    }
    ASSERT_TRUE(registry->openKey("\\Software\\Link")) << "the link leads to its target";
    EXPECT_EQ(registry->readString("kept"), "yes");
    registry->closeKey();

    EXPECT_TRUE(registry->moveKey("\\Software\\Link", "\\Software\\Moved", true));
    EXPECT_FALSE(registry->keyExists("\\Software\\Link"));
    HKey moved = kNoKey;
    ASSERT_EQ(store->openKey(kCurrentUser, u"Software\\Moved", Access::Read, kOpenLink, moved), Status::Ok);
    KeyInfo info;
    ASSERT_EQ(store->queryInfo(moved, info), Status::Ok);
    EXPECT_TRUE(info.isLink) << "the move made a link, not a copy of the target";
    EXPECT_EQ(info.subkeyCount, 0u);
    (void)store->closeKey(moved);
    ASSERT_TRUE(registry->openKey("\\Software\\Moved"));
    EXPECT_EQ(registry->readString("kept"), "yes") << "and it leads where the old one did";

    EXPECT_TRUE(registry->deleteKey("\\Software\\Moved"));
    EXPECT_FALSE(registry->keyExists("\\Software\\Moved"));
    ASSERT_TRUE(registry->openKey("\\Software\\Target"));
    EXPECT_EQ(registry->readString("kept"), "yes") << "deleting the link leaves its target whole";
    EXPECT_TRUE(registry->keyExists("\\Software\\Target\\Below"));
}

TEST_F(AccessorTest, AMoveOrDeleteThatCannotBeWrittenChangesNothing) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    registry->createKey("Big\\Sub");
    ASSERT_TRUE(registry->openKey("Big"));
    const std::vector<std::uint8_t> block(4000, 0xab);
    for (int i = 0; i < 50; ++i)
        registry->writeBinaryData("v" + std::to_string(i), block.data(), block.size());
    registry->closeKey();
    const std::string before = test::readFile(dir / "registry/user.reg");

    std::string why;
    {
        // A disk that fills up half-way through writing the renamed key.
        test::FileSizeLimit fullDisk(before.size() + 2);
        why = raisedBy([&] { registry->moveKey("\\Software\\Big", "\\Software\\Renamed", true); });
    }
    EXPECT_NE(why.find("Failed to write key"), std::string::npos) << why;
    EXPECT_TRUE(test::readFile(dir / "registry/user.reg") == before) << "the file is as it was";
    EXPECT_TRUE(registry->keyExists("\\Software\\Big\\Sub")) << "and so is the registry in memory";
    EXPECT_FALSE(registry->keyExists("\\Software\\Renamed"));

    // A registry that cannot be written says why and keeps the whole key.
    test::HeldLock server(test::testRegistryServerLock(dir / "registry"));
    const auto second = test::openTestRegistry(dir / "registry", false);
    RegAccessor readOnly(*second);
    const Status refused = readOnly.removeKey("\\Software\\Big");
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.message(), second->readOnlyReason());
    EXPECT_TRUE(readOnly.keyExists("\\Software\\Big\\Sub"));
}

TEST_F(AccessorTest, NamesAndStringsAreUtf8InTheProgram) {
    WinePrefixOptions options;
    test::TempDir sampleDir;
    test::copySamplePrefix(sampleDir.path());
    options.prefixDir = sampleDir.path();
    options.scanProcesses = false;
    options.serverPaths = { dir / "tmp", dir / "upstream", "/nonexistent" };
    WinePrefixStore sample(options);
    RegAccessor reg(sample);
    ASSERT_TRUE(reg.openKey("\\Control Panel\\International"));
    std::vector<std::string> names;
    reg.getKeyNames(names);
    EXPECT_NE(std::find(names.begin(), names.end(), "\xf0\x9f\x8c\x8e\xf0\x9f\x8c\x8f\xf0\x9f\x8c\x8d"), names.end())
        << "the key written as \\xd83c\\xdf0e\\xd83c\\xdf0f\\xd83c\\xdf0d";
    EXPECT_TRUE(reg.openKey("\xf0\x9f\x8c\x8e\xf0\x9f\x8c\x8f\xf0\x9f\x8c\x8d"));
    reg.writeString("na\xc3\xafve", "\xe2\x98\x83");
    EXPECT_EQ(reg.readString("NA\xc3\xafVE"), "\xe2\x98\x83");
    const std::string written = test::readFile(sampleDir / "user.reg");
    EXPECT_NE(written.find("\"na\\xefve\"=\"\\x2603\"\n"), std::string::npos) << "only ASCII is written";
}

TEST_F(AccessorTest, WriteRawKeepsAnyTypeAndStoresStringsAsUtf16) {
    ASSERT_TRUE(registry->openKey("\\Software"));
    // Strings arrive as the program sees them, UTF-8 with their NULs, and reach the store as the
    // registry keeps them; every other type passes byte for byte, whatever its number.
    const std::string multi("Caf\xc3\xa9\0b\0\0", 9);
    registry->writeRaw(
        "multi", kRegMultiSz, std::span(reinterpret_cast<const std::uint8_t*>(multi.data()), multi.size()));
    const std::vector<std::uint8_t> qword { 1, 2, 3, 4, 5, 6, 7, 8 };
    registry->writeRaw("qword", kRegQword, qword);
    const std::vector<std::uint8_t> odd { 0xde, 0xad, 0xbe };
    registry->writeRaw("odd", 0xffff0012u, odd);
    registry->writeRaw("empty", kRegExpandSz, {});

    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"multi", type, data), Status::Ok);
    EXPECT_EQ(type, kRegMultiSz);
    EXPECT_EQ(data, test::utf16Bytes(std::u16string_view(u"Caf\u00e9\0b\0\0", 8)));
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"qword", type, data), Status::Ok);
    EXPECT_EQ(type, kRegQword);
    EXPECT_EQ(data, qword);
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"odd", type, data), Status::Ok);
    EXPECT_EQ(type, 0xffff0012u);
    EXPECT_EQ(data, odd);
    ASSERT_EQ(store->queryValue(registry->currentKey(), u"empty", type, data), Status::Ok);
    EXPECT_EQ(type, kRegExpandSz);
    EXPECT_TRUE(data.empty());

    // What the accessor reads is what it writes back.
    std::vector<std::uint8_t> buffer(64);
    buffer.resize(registry->readBinaryData("multi", buffer.data(), buffer.size()));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), multi);

    registry->closeKey();
    EXPECT_EQ(raisedBy([&] { registry->writeRaw("x", kRegBinary, qword); }).rfind("Failed to set data for 'x'", 0), 0u)
        << "no key open";
}
