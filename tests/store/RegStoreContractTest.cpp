#include "TestSupport.h"
#include "hive/OfflineHive.h"
#include "store/MemoryRegistry.h"
#include "store/RegStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// What every backend of the registry store must do, whatever keeps the registry: the program
// above relies on it. A new backend joins by adding its factory to the list at the end.

using namespace quern;
using namespace quern::reg;

namespace {

constexpr std::uint64_t kFixedTime = 0x1dd9000000000000ull;
constexpr const char* kTestReadOnlyReason = "This registry is read-only for the test.";

// One backend as the tests need it: a registry with the keys every registry has and nothing else.
class Backend {
public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<RegStore> open() = 0;
    // The registry read again from where it is kept; null for a registry that lives in memory only.
    virtual std::unique_ptr<RegStore> reread() = 0;
    // The same registry, refusing every change.
    virtual std::unique_ptr<RegStore> openReadOnly() = 0;
    // Where the tests work for a root: the root itself, or the key a backend that keeps only a
    // part of the registry mounts it as.
    virtual HKey root(RegStore&, HKey predefined) { return predefined; }
    // How a link names HKEY_LOCAL_MACHINE's test area.
    [[nodiscard]] virtual std::u16string linkBase() const { return u"\\Registry\\Machine"; }
    [[nodiscard]] virtual bool mapsWineRoots() const { return true; }
    // Subkeys ordered as in a Windows hive (upper-cased) instead of a Wine prefix (lower-cased).
    [[nodiscard]] virtual bool upperCaseOrder() const { return false; }
};

class MemoryBackend final : public Backend {
public:
    std::unique_ptr<RegStore> open() override { return std::make_unique<MemoryRegistry>(options({})); }
    std::unique_ptr<RegStore> reread() override { return nullptr; }
    std::unique_ptr<RegStore> openReadOnly() override {
        return std::make_unique<MemoryRegistry>(options(kTestReadOnlyReason));
    }

private:
    static MemoryRegistryOptions options(std::string readOnly) {
        return { std::move(readOnly), [] { return kFixedTime; }, true, {} };
    }
};

// Quern's own registry in a temporary folder: three files made on first use.
// onFirstUse: every file is read on first use, however small, as large files are.
class WinePrefixBackend final : public Backend {
public:
    explicit WinePrefixBackend(bool onFirstUse = false)
        : m_onFirstUse(onFirstUse) { }
    std::unique_ptr<RegStore> open() override { return opened(true); }
    std::unique_ptr<RegStore> reread() override { return opened(false); }
    // A wineserver that runs for the prefix owns its registry.
    std::unique_ptr<RegStore> openReadOnly() override {
        (void)open();
        m_server = std::make_unique<test::HeldLock>(test::testRegistryServerLock(m_dir.path()));
        return opened(true);
    }

private:
    std::unique_ptr<RegStore> opened(bool create) {
        WinePrefixOptions options = test::testPrefixOptions(m_dir.path(), m_dir.path() + "/.servers");
        options.createIfMissing = create;
        if (m_onFirstUse) options.readOnFirstUseFrom = 0;
        return std::make_unique<WinePrefixStore>(options);
    }
    test::TempDir m_dir;
    std::unique_ptr<test::HeldLock> m_server;
    bool m_onFirstUse;
};

// Two hive files made by the test, mounted into a registry in memory as HKEY_LOCAL_MACHINE\QuernTest
// and HKEY_USERS\QuernTest, standing in for the two roots the tests work in.
class HiveBackend final : public Backend {
public:
    std::unique_ptr<RegStore> open() override {
        const bool fresh = !test::fileExists(m_dir / "MACHINE");
        if (fresh) {
            EXPECT_EQ(writeEmptyHive(m_dir / "MACHINE"), Status::Ok);
            EXPECT_EQ(writeEmptyHive(m_dir / "USER"), Status::Ok);
        }
        auto store = mounted({});
        if (fresh)
            for (HKey at : { kLocalMachine, kCurrentUser }) {
                HKey key = kNoKey;
                EXPECT_EQ(store->createKey(root(*store, at), u"Software", Access::Read, kOptionNone, key), Status::Ok);
                (void)store->closeKey(key);
            }
        return store;
    }
    std::unique_ptr<RegStore> reread() override { return mounted({}); }
    std::unique_ptr<RegStore> openReadOnly() override {
        (void)open();
        return mounted(kTestReadOnlyReason);
    }
    HKey root(RegStore& in, HKey predefined) override {
        HKey key = kNoKey;
        const HKey mountedAt = predefined == kCurrentUser ? kUsers : kLocalMachine;
        EXPECT_EQ(in.openKey(mountedAt, u"QuernTest", Access::Read, kOptionNone, key), Status::Ok);
        return key;
    }
    [[nodiscard]] std::u16string linkBase() const override { return u"\\Registry\\Machine\\QuernTest"; }
    [[nodiscard]] bool mapsWineRoots() const override { return false; }
    [[nodiscard]] bool upperCaseOrder() const override { return true; }

private:
    std::unique_ptr<RegStore> mounted(const std::string& userReadOnly) {
        auto store
            = std::make_unique<MemoryRegistry>(MemoryRegistryOptions { {}, [] { return kFixedTime; }, true, {} });
        EXPECT_EQ(mountHiveFile(*store, kLocalMachine, u"QuernTest", m_dir / "MACHINE"), Status::Ok);
        HiveOpenOptions options;
        options.readOnlyReason = userReadOnly;
        EXPECT_EQ(mountHiveFile(*store, kUsers, u"QuernTest", m_dir / "USER", options), Status::Ok);
        return store;
    }
    test::TempDir m_dir;
};

struct BackendFactory {
    const char* name;
    std::function<std::unique_ptr<Backend>()> make;
};

// A failure names the backend, not the factory's bytes.
void PrintTo(const BackendFactory& factory, std::ostream* out) {
    *out << factory.name;
}

class StoreContract : public ::testing::TestWithParam<BackendFactory> {
protected:
    void SetUp() override {
        backend = GetParam().make();
        store = backend->open();
    }

    HKey machine() { return backend->root(*store, kLocalMachine); }
    HKey machine(RegStore& in) { return backend->root(in, kLocalMachine); }
    HKey user() { return backend->root(*store, kCurrentUser); }
    HKey user(RegStore& in) { return backend->root(in, kCurrentUser); }

    // Creates (or opens) a key for full access; the test fails when it cannot.
    HKey create(HKey root, std::u16string_view path, unsigned options = kOptionNone) {
        HKey key = kNoKey;
        EXPECT_EQ(store->createKey(root, path, Access::Full, options, key), Status::Ok) << "creating a test key";
        return key;
    }
    void makeLink(std::u16string_view at, std::u16string_view target) {
        const HKey key = create(machine(), at, kCreateLink | kOpenLink);
        ASSERT_EQ(store->setValue(key, u"SymbolicLinkValue", kRegLink, test::utf16zBytes(target)), Status::Ok);
        (void)store->closeKey(key);
    }
    // What tells a key from every other; 0 where the path does not open.
    static std::uint64_t identity(RegStore& in, HKey root, std::u16string_view path, unsigned options = kOptionNone) {
        HKey key = kNoKey;
        KeyInfo info;
        if (in.openKey(root, path, Access::Read, options, key) != Status::Ok) return 0;
        (void)in.queryInfo(key, info);
        (void)in.closeKey(key);
        return info.identity;
    }
    static std::vector<std::u16string> subkeys(RegStore& in, HKey key) {
        std::vector<std::u16string> names;
        std::u16string name;
        for (std::uint32_t i = 0; in.enumKey(key, i, name) == Status::Ok; ++i)
            names.push_back(name);
        return names;
    }
    static std::vector<RawValue> values(RegStore& in, HKey key) {
        std::vector<RawValue> list;
        RawValue value;
        for (std::uint32_t i = 0; in.enumValue(key, i, value.name, &value.type, &value.data) == Status::Ok; ++i)
            list.push_back(value);
        return list;
    }
    // The values by name: a backend that keeps them in a file may read them back in its own order.
    static std::vector<RawValue> sortedByName(std::vector<RawValue> list) {
        std::sort(list.begin(), list.end(), [](const RawValue& a, const RawValue& b) { return a.name < b.name; });
        return list;
    }
    // The registry as it is kept: read again where the backend keeps it, else the one in memory.
    RegStore& kept() {
        m_reread = backend->reread();
        return m_reread ? *m_reread : *store;
    }

    std::unique_ptr<Backend> backend;
    std::unique_ptr<RegStore> store;

private:
    std::unique_ptr<RegStore> m_reread;
};

} // namespace

TEST_P(StoreContract, HandlesOpenCloseAndOutliveTheirKeysSafely) {
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(0x1234, u"", Access::Read, kOptionNone, key), Status::InvalidHandle);
    EXPECT_EQ(store->openKey(machine(), u"No\\Such", Access::Read, kOptionNone, key), Status::NotFound);
    EXPECT_EQ(key, kNoKey) << "a failed open leaves the handle alone";
    EXPECT_EQ(store->closeKey(machine()), Status::Ok) << "roots need no closing";

    const HKey gone = create(machine(), u"Software\\Gone\\Deeper");
    const HKey parent = create(machine(), u"Software\\Gone");
    EXPECT_EQ(store->deleteKey(machine(), u"Software\\Gone"), Status::HasSubkeys);
    EXPECT_EQ(store->deleteKey(machine(), u"Software\\Gone\\Deeper"), Status::Ok);
    KeyInfo info;
    EXPECT_EQ(store->queryInfo(gone, info), Status::KeyDeleted) << "a handle to a deleted key says so";
    EXPECT_EQ(store->setValue(gone, u"v", kRegDword, std::vector<std::uint8_t>(4)), Status::KeyDeleted);
    EXPECT_EQ(store->closeKey(gone), Status::Ok);
    EXPECT_EQ(store->closeKey(gone), Status::InvalidHandle);
    // Closed stays closed, however many handles are opened and closed after it.
    for (int i = 0; i < 20000; ++i) {
        HKey again = kNoKey;
        ASSERT_EQ(store->openKey(parent, u"", Access::Read, kOptionNone, again), Status::Ok);
        ASSERT_NE(again, gone);
        ASSERT_EQ(store->closeKey(again), Status::Ok);
    }
    EXPECT_EQ(store->queryInfo(gone, info), Status::InvalidHandle);
    ASSERT_EQ(store->queryInfo(parent, info), Status::Ok);
    EXPECT_EQ(info.subkeyCount, 0u);
    EXPECT_EQ(store->closeKey(parent), Status::Ok);

    EXPECT_EQ(store->deleteKey(machine(), u""), Status::AccessDenied) << "a root cannot go";
    EXPECT_EQ(store->deleteKey(machine(), u"No\\Such"), Status::NotFound);
}

TEST_P(StoreContract, NamesCompareWithoutCaseAndKeepTheSpellingTheyWereMadeWith) {
    const HKey key = create(user(), u"Software\\MixedCase");
    bool created = true;
    HKey again = kNoKey;
    ASSERT_EQ(store->createKey(user(), u"SOFTWARE\\mixedcase", Access::Read, kOptionNone, again, &created), Status::Ok);
    EXPECT_FALSE(created);
    EXPECT_EQ(identity(*store, user(), u"software\\MIXEDCASE"), identity(*store, user(), u"Software\\MixedCase"));
    EXPECT_EQ(subkeys(*store, user()), std::vector<std::u16string> { u"Software" });
    EXPECT_EQ(subkeys(*store, again), std::vector<std::u16string> {});

    ASSERT_EQ(store->setValue(key, u"Value", kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }), Status::Ok);
    ASSERT_EQ(store->setValue(again, u"VALUE", kRegSz, test::utf16zBytes(u"x")), Status::AccessDenied)
        << "a key opened for reading is not written";
    ASSERT_EQ(store->setValue(key, u"VALUE", kRegSz, test::utf16zBytes(u"x")), Status::Ok);
    const auto list = values(*store, key);
    ASSERT_EQ(list.size(), 1u) << "one value, replaced whatever its type";
    EXPECT_EQ(list[0], (RawValue { u"Value", kRegSz, test::utf16zBytes(u"x") }));
    EXPECT_EQ(store->deleteValue(key, u"vALUE"), Status::Ok);
    EXPECT_EQ(store->deleteValue(key, u"value"), Status::NotFound);
    (void)store->closeKey(again);
    (void)store->closeKey(key);

    HKey bad = kNoKey;
    EXPECT_EQ(store->openKey(machine(), u"Software\\\\Classes", Access::Read, kOptionNone, bad), Status::BadPath);
    EXPECT_EQ(store->openKey(machine(), u"\\Software", Access::Read, kOptionNone, bad), Status::BadPath);
    EXPECT_EQ(store->openKey(machine(), u"Software\\", Access::Read, kOptionNone, bad), Status::Ok);
    (void)store->closeKey(bad);
    EXPECT_EQ(store->createKey(machine(), std::u16string(256, u'k'), Access::Read, kOptionNone, bad), Status::BadPath);
    EXPECT_EQ(store->createKey(machine(), u"Software\\Fine\\\\Bad", Access::Read, kOptionNone, bad), Status::BadPath);
    EXPECT_EQ(identity(*store, machine(), u"Software\\Fine"), 0u) << "a bad name late in a path makes nothing";
}

TEST_P(StoreContract, RootsMapAsWineMapsThem) {
    if (!backend->mapsWineRoots()) GTEST_SKIP() << "the backend keeps a part of the registry, not its roots";
    (void)store->closeKey(create(kLocalMachine, u"Software\\Classes\\.CHM"));
    EXPECT_NE(identity(*store, kClassesRoot, u""), 0u);
    EXPECT_EQ(identity(*store, kClassesRoot, u""), identity(*store, kLocalMachine, u"Software\\Classes"));
    EXPECT_EQ(identity(*store, kClassesRoot, u".chm"), identity(*store, kLocalMachine, u"SOFTWARE\\classes\\.CHM"));
    EXPECT_EQ(identity(*store, kCurrentConfig, u""),
        identity(*store, kLocalMachine, u"System\\CurrentControlSet\\Hardware Profiles\\Current"));
    EXPECT_EQ(identity(*store, kCurrentUser, u""), identity(*store, kUsers, u"S-1-5-21-0-0-0-1000"));
    EXPECT_NE(identity(*store, kUsers, u".Default\\Software"), 0u);
    EXPECT_EQ(subkeys(*store, kUsers), (std::vector<std::u16string> { u".Default", u"S-1-5-21-0-0-0-1000" }));

    KeyInfo dyn;
    ASSERT_EQ(store->queryInfo(kDynData, dyn), Status::Ok);
    EXPECT_EQ(dyn.subkeyCount + dyn.valueCount, 0u);
    HKey key = kNoKey;
    EXPECT_EQ(store->createKey(kDynData, u"X", Access::Full, kOptionNone, key), Status::AccessDenied)
        << "HKEY_DYN_DATA is never kept, so nothing may be made in it";
    EXPECT_EQ(store->createKey(kUsers, u"S-1-5-99", Access::Full, kOptionNone, key), Status::AccessDenied);
}

TEST_P(StoreContract, LinksAreFollowedAndAChainThatLoopsEndsWithAnError) {
    (void)store->closeKey(create(machine(), u"Software\\Target\\Inside"));
    const std::u16string base = backend->linkBase();
    makeLink(u"Software\\LoopA", base + u"\\Software\\LoopB");
    makeLink(u"Software\\LoopB", base + u"\\Software\\LoopA");
    makeLink(u"Software\\ToTarget", u"\\REGISTRY\\machine" + base.substr(17) + u"\\software\\target");
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(machine(), u"Software\\LoopA", Access::Read, kOptionNone, key), Status::LinkLoop);
    EXPECT_EQ(store->openKey(machine(), u"Software\\LoopA\\Below", Access::Read, kOptionNone, key), Status::LinkLoop);
    EXPECT_EQ(identity(*store, machine(), u"Software\\ToTarget\\Inside"),
        identity(*store, machine(), u"Software\\Target\\Inside"));

    // With kOpenLink the last key on the path is the link itself, which says so.
    ASSERT_EQ(store->openKey(machine(), u"Software\\ToTarget", Access::Read, kOpenLink, key), Status::Ok);
    KeyInfo info;
    ASSERT_EQ(store->queryInfo(key, info), Status::Ok);
    EXPECT_TRUE(info.isLink);
    EXPECT_NE(info.identity, identity(*store, machine(), u"Software\\Target"));
    (void)store->closeKey(key);

    // Deleting the link removes the link, never what it leads to.
    ASSERT_EQ(store->deleteKey(machine(), u"Software\\ToTarget"), Status::Ok);
    EXPECT_NE(identity(*store, machine(), u"Software\\Target\\Inside"), 0u);
    RegStore& again = kept();
    EXPECT_EQ(identity(again, machine(again), u"Software\\ToTarget"), 0u);
    ASSERT_EQ(again.openKey(machine(again), u"Software\\LoopB", Access::Read, kOpenLink, key), Status::Ok)
        << "links are kept as links";
    ASSERT_EQ(again.queryInfo(key, info), Status::Ok);
    EXPECT_TRUE(info.isLink);
}

TEST_P(StoreContract, SubkeysEnumerateInCaseInsensitiveOrderAndValuesInCreationOrder) {
    const HKey key = create(user(), u"Order");
    for (auto name : { u"b", u"A", u"_x", u"C" }) {
        (void)store->closeKey(create(key, name));
        ASSERT_EQ(store->setValue(key, name, kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }), Status::Ok);
    }
    ASSERT_EQ(store->deleteValue(key, u"A"), Status::Ok);
    ASSERT_EQ(store->setValue(key, u"a", kRegDword, std::vector<std::uint8_t> { 2, 0, 0, 0 }), Status::Ok);
    // A Wine prefix lower-cases names to order them, a Windows hive upper-cases them.
    EXPECT_EQ(subkeys(*store, key),
        backend->upperCaseOrder() ? (std::vector<std::u16string> { u"A", u"b", u"C", u"_x" })
                                  : (std::vector<std::u16string> { u"_x", u"A", u"b", u"C" }));
    std::vector<std::u16string> names;
    for (const auto& value : values(*store, key))
        names.push_back(value.name);
    EXPECT_EQ(names, (std::vector<std::u16string> { u"b", u"_x", u"C", u"a" })) << "a value set anew goes last";
    std::u16string name;
    EXPECT_EQ(store->enumKey(key, 4, name), Status::NoMoreItems);
    EXPECT_EQ(store->enumValue(key, 4, name, nullptr, nullptr), Status::NoMoreItems);
    (void)store->closeKey(key);
}

// The status bar shows when the selected key was last written and how many subkeys and values it
// has: every backend tells them, and keeps the time with the key where it keeps the registry.
TEST_P(StoreContract, AKeysLastWriteTimeAndCountsAreToldAndKept) {
    const HKey key = create(user(), u"Software\\Written");
    for (auto name : { u"One", u"Two" })
        (void)store->closeKey(create(key, name));
    for (auto name : { u"a", u"b", u"c" })
        ASSERT_EQ(store->setValue(key, name, kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }), Status::Ok);
    KeyInfo info;
    ASSERT_EQ(store->queryInfo(key, info), Status::Ok);
    EXPECT_EQ(info.subkeyCount, 2u);
    EXPECT_EQ(info.valueCount, 3u);
    constexpr std::uint64_t kYear2000 = 125911584000000000ull; // FILETIME of 2000-01-01
    EXPECT_GT(info.lastWriteTime, kYear2000) << "a change gives its key the time of the change";

    RegStore& again = kept();
    HKey reread = kNoKey;
    ASSERT_EQ(again.openKey(user(again), u"software\\written", Access::Read, kOptionNone, reread), Status::Ok);
    KeyInfo after;
    ASSERT_EQ(again.queryInfo(reread, after), Status::Ok);
    EXPECT_EQ(after.lastWriteTime, info.lastWriteTime);
    EXPECT_EQ(after.subkeyCount, 2u);
    EXPECT_EQ(after.valueCount, 3u);
}

TEST_P(StoreContract, AnyTypeAndAnyBytesAreKeptAsTheyAre) {
    const std::vector<RawValue> odd {
        { u"odd", kRegSz, { 0x41, 0x00, 0x42 } }, // a string type with an odd byte count
        { u"lone", kRegSz, { 0x00, 0xd8, 0, 0 } }, // a lone surrogate
        { u"big", 0xffff0012u, { 1, 2, 3 } },
        { u"", kRegNone, {} },
        { u"empty", kRegBinary, {} },
        { u"short dword", kRegDword, { 1, 2 } },
        { u"nul inside", kRegMultiSz, test::utf16zBytes(std::u16string(u"a\0b\0", 4)) },
    };
    const HKey key = create(machine(), u"Software\\Types");
    for (const auto& value : odd)
        ASSERT_EQ(store->setValue(key, value.name, value.type, value.data), Status::Ok);
    (void)store->closeKey(key);

    RegStore& again = kept();
    HKey types = kNoKey;
    ASSERT_EQ(again.openKey(machine(again), u"software\\types", Access::Read, kOptionNone, types), Status::Ok);
    EXPECT_EQ(sortedByName(values(again, types)), sortedByName(odd));
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(again.queryValue(types, u"ODD", type, data), Status::Ok);
    EXPECT_EQ(data, odd[0].data);
}

TEST_P(StoreContract, ABatchThatIsNotFinishedTakesBackEverythingItDid) {
    const HKey key = create(user(), u"Software\\Batch");
    ASSERT_EQ(store->setValue(key, u"replaced", kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }), Status::Ok);
    ASSERT_EQ(store->setValue(key, u"deleted", kRegDword, std::vector<std::uint8_t> { 2, 0, 0, 0 }), Status::Ok);
    (void)store->closeKey(create(key, u"Removed"));
    const auto valuesBefore = values(*store, key);
    const auto keysBefore = subkeys(*store, key);
    KeyInfo before;
    ASSERT_EQ(store->queryInfo(key, before), Status::Ok);

    auto changeEverything = [&] {
        ASSERT_EQ(store->setValue(key, u"replaced", kRegSz, test::utf16zBytes(u"new")), Status::Ok);
        ASSERT_EQ(store->setValue(key, u"added", kRegBinary, std::vector<std::uint8_t> { 3 }), Status::Ok);
        ASSERT_EQ(store->deleteValue(key, u"deleted"), Status::Ok);
        ASSERT_EQ(store->deleteKey(key, u"Removed"), Status::Ok);
        (void)store->closeKey(create(key, u"Made\\Deeper"));
    };
    auto expectAsBefore = [&](const char* how) {
        SCOPED_TRACE(how);
        EXPECT_EQ(values(*store, key), valuesBefore);
        EXPECT_EQ(subkeys(*store, key), keysBefore);
        KeyInfo after;
        ASSERT_EQ(store->queryInfo(key, after), Status::Ok);
        EXPECT_EQ(after.lastWriteTime, before.lastWriteTime);
    };
    {
        WriteBatch batch(*store);
        changeEverything();
        batch.abandon();
    }
    expectAsBefore("abandoned");
    const HKey other = create(user(), u"Software\\Other");
    {
        WriteBatch outer(*store);
        ASSERT_EQ(store->setValue(other, u"outer", kRegDword, std::vector<std::uint8_t>(4)), Status::Ok);
        {
            WriteBatch inner(*store); // never finished: it goes as if abandoned
            changeEverything();
        }
        ASSERT_EQ(outer.finish(), Status::Ok);
    }
    expectAsBefore("inner batch not finished");
    {
        WriteBatch unfinished(*store);
        changeEverything();
    }
    expectAsBefore("batch not finished");
    (void)store->closeKey(key);
    (void)store->closeKey(other);

    RegStore& again = kept();
    HKey reread = kNoKey;
    ASSERT_EQ(again.openKey(user(again), u"Software\\Batch", Access::Read, kOptionNone, reread), Status::Ok);
    EXPECT_EQ(sortedByName(values(again, reread)), sortedByName(valuesBefore));
    EXPECT_EQ(subkeys(again, reread), keysBefore);
    ASSERT_EQ(again.openKey(user(again), u"Software\\Other", Access::Read, kOptionNone, reread), Status::Ok);
    EXPECT_EQ(values(again, reread).size(), 1u) << "what the outer batch did is kept";
}

TEST_P(StoreContract, AReadOnlyRegistryRefusesEveryChangeAndSaysWhy) {
    store.reset();
    auto readOnly = backend->openReadOnly();
    const std::string reason = readOnly->readOnlyReason();
    EXPECT_FALSE(reason.empty());
    HKey key = kNoKey;
    const Status full = readOnly->openKey(user(*readOnly), u"Software", Access::Full, kOptionNone, key);
    EXPECT_EQ(full, Status::AccessDenied);
    EXPECT_EQ(full.message(), reason);
    EXPECT_EQ(
        readOnly->createKey(user(*readOnly), u"Software\\New", Access::Read, kOptionNone, key), Status::AccessDenied);
    EXPECT_EQ(readOnly->deleteKey(user(*readOnly), u"Software"), Status::AccessDenied);
    ASSERT_EQ(readOnly->openKey(user(*readOnly), u"Software", Access::Read, kOptionNone, key), Status::Ok)
        << "reading goes on";
    EXPECT_EQ(readOnly->setValue(key, u"v", kRegDword, std::vector<std::uint8_t>(4)), Status::AccessDenied);
    EXPECT_EQ(readOnly->deleteValue(key, u"v"), Status::NotFound);
    EXPECT_EQ(identity(*readOnly, user(*readOnly), u"Software\\New"), 0u);
    (void)readOnly->closeKey(key);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreContract,
    ::testing::Values(BackendFactory { "MemoryRegistry", [] { return std::make_unique<MemoryBackend>(); } },
        BackendFactory { "WinePrefixStore", [] { return std::make_unique<WinePrefixBackend>(); } },
        BackendFactory { "WinePrefixReadOnFirstUse", [] { return std::make_unique<WinePrefixBackend>(true); } },
        BackendFactory { "OfflineHive", [] { return std::make_unique<HiveBackend>(); } }),
    [](const ::testing::TestParamInfo<BackendFactory>& param) { return std::string(param.param.name); });
