#include "hive/OfflineHive.h"
#include "RegistryDump.h"
#include "TestSupport.h"
#include "codec/Utf.h"
#include "import/RegFileReader.h"
#include "import/RegImport.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The hive backend checked against hivex's own tools (hivexget, hivexml), which read the files it
// writes without any of Quern's code: what they see is what Windows would load.

using namespace quern;
using namespace quern::reg;

namespace {

using test::run;

std::string hivexget(const std::string& hive, const std::string& key, const std::string& value = {}) {
    return run("hivexget '" + hive + "' '" + key + "'" + (value.empty() ? "" : " '" + value + "'") + " 2>&1");
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

std::uint32_t le32At(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at]))
        | static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8
        | static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16
        | static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
}

void putLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xff);
    // A field of the base block: its checksum (the XOR of the 127 words before it) follows.
    if (at < 0x1fc) {
        std::uint32_t sum = 0;
        for (std::size_t w = 0; w < 0x1fc; w += 4)
            sum ^= le32At(bytes, w);
        putLe32(bytes, 0x1fc, sum);
    }
}

class HiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(writeEmptyHive(path), Status::Ok);
        mount();
    }
    void mount(HiveOpenOptions options = {}) {
        store = std::make_unique<MemoryRegistry>();
        ASSERT_EQ(mountHiveFile(*store, kLocalMachine, u"TEST", path, std::move(options)), Status::Ok);
    }
    HKey create(std::u16string_view below) {
        HKey key = kNoKey;
        EXPECT_EQ(store->createKey(kLocalMachine, u"TEST\\" + std::u16string(below), Access::Full, kOptionNone, key),
            Status::Ok);
        return key;
    }
    OfflineHive& part() { return static_cast<OfflineHive&>(*store->mountedParts().front()); }

    test::TempDir dir;
    std::string path = dir / "SYSTEM";
    std::unique_ptr<MemoryRegistry> store;
};

} // namespace

namespace {

std::string hexOf(const void* data, std::size_t size) {
    std::string out;
    char digits[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<const std::uint8_t*>(data)[i]);
        out += digits;
    }
    return out;
}

// Every key of a hive by its path below the root, with its values in their stored order, as
// hivex's own reader sees the file.
void hivexKeys(hive_h* h, hive_node_h node, const std::string& path, std::map<std::string, std::string>& out) {
    std::string& lines = out[path];
    hive_value_h* values = hivex_node_values(h, node);
    for (std::size_t i = 0; values && values[i]; ++i) {
        char* name = hivex_value_key(h, values[i]);
        hive_type type {};
        std::size_t length = 0;
        char* data = hivex_value_value(h, values[i], &type, &length);
        // Any 32-bit type may stand there, which the enum does not name: read as the bytes it is.
        std::uint32_t raw = 0;
        std::memcpy(&raw, &type, sizeof raw);
        lines += std::string(name ? name : "?") + " " + std::to_string(raw) + " " + hexOf(data, length) + "\n";
        std::free(name);
        std::free(data);
    }
    std::free(values);
    hive_node_h* children = hivex_node_children(h, node);
    for (std::size_t i = 0; children && children[i]; ++i) {
        char* name = hivex_node_name(h, children[i]);
        hivexKeys(h, children[i], path + "\\" + name, out);
        std::free(name);
    }
    std::free(children);
}

// The same through the store, which reads the hive when each key is first asked for.
void storeKeys(RegStore& store, HKey key, const std::string& path, std::map<std::string, std::string>& out) {
    std::string& lines = out[path];
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; store.enumValue(key, i, name, &type, &data) == Status::Ok; ++i)
        lines += toUtf8(name) + " " + std::to_string(type) + " " + hexOf(data.data(), data.size()) + "\n";
    for (std::uint32_t i = 0; store.enumKey(key, i, name) == Status::Ok; ++i) {
        HKey sub = kNoKey;
        ASSERT_EQ(store.openKey(key, name, Access::Read, kOpenLink, sub), Status::Ok);
        storeKeys(store, sub, path + "\\" + toUtf8(name), out);
        (void)store.closeKey(sub);
    }
}

} // namespace

// A hive written by hivex itself, not by Quern, read key by key on first use: every key and value
// the store shows is what hivex's own reader shows, whichever order they were first asked for in,
// and reading writes nothing.
TEST_F(HiveTest, AHiveReadOnFirstUseIsWhatHivexReadsKeyForKey) {
    for (const std::uint32_t minor : { 3u, 5u }) {
        SCOPED_TRACE("version 1." + std::to_string(minor));
        store.reset();
        ASSERT_EQ(writeEmptyHive(path), Status::Ok);
        std::string header = test::readFile(path);
        putLe32(header, 0x18, minor);
        test::writeFile(path, header);
        {
            hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
            ASSERT_NE(h, nullptr);
            const char* names[]
                = { "Zeta", "alpha", "Beta", "_under", "A.B", "\xc3\x9cml\xc3\xa4ut", "Nummer 10", "Nummer 9" };
            std::vector<std::uint8_t> big(40000 + 16); // each value starts a few bytes further in
            for (std::size_t i = 0; i < big.size(); ++i)
                big[i] = static_cast<std::uint8_t>(i * 7);
            std::vector<hive_node_h> level { hivex_root(h) };
            for (int depth = 0; depth < 3; ++depth) {
                std::vector<hive_node_h> next;
                for (std::size_t p = 0; p < level.size(); ++p)
                    for (std::size_t n = 0; n < (depth == 0 ? 8u : 3u); ++n) {
                        const hive_node_h child = hivex_node_add_child(h, level[p], names[(n + p) % 8]);
                        ASSERT_NE(child, 0u);
                        next.push_back(child);
                        // Values of every shape the format has: inline data, a cell, empty, the
                        // default value, an unknown type, a non-ASCII name, data past one cell.
                        const std::size_t sizes[] = { 0, 1, 4, 5, 100, 16344, 16345, 40000 };
                        std::vector<hive_set_value> values;
                        std::vector<std::string> valueNames;
                        const std::size_t count = next.size() % 4 == 0 ? 0 : 2 + next.size() % 7;
                        valueNames.reserve(count);
                        for (std::size_t v = 0; v < count; ++v) {
                            valueNames.push_back(v == 0 ? ""
                                    : v == 1            ? "Gr\xc3\xb6\xc3\x9f"
                                                          "e"
                                                        : "v" + std::to_string(v));
                            // Big values only where hivex writes what Windows reads.
                            std::size_t size = sizes[(v + next.size()) % 8];
                            if (minor >= 4 && size > 16344) size = 16344;
                            values.push_back(
                                { valueNames.back().data(), static_cast<hive_type>(v == 3 ? 0x12345678 : v % 12), size,
                                    reinterpret_cast<char*>(big.data() + v) });
                        }
                        ASSERT_EQ(hivex_node_set_values(h, child, values.size(), values.data(), 0), 0);
                    }
                level = std::move(next);
            }
            ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
            hivex_close(h);
        }
        const std::string written = test::readFile(path);
        std::map<std::string, std::string> expected;
        {
            hive_h* h = hivex_open(path.c_str(), 0);
            ASSERT_NE(h, nullptr);
            hivexKeys(h, hivex_root(h), "", expected);
            hivex_close(h);
        }
        ASSERT_GT(expected.size(), 100u);
        mount();
        // Some keys first asked for out of order, their values by name, before the whole walk.
        const auto deepest = std::find_if(expected.rbegin(), expected.rend(), [](const auto& key) {
            return std::count(key.first.begin(), key.first.end(), '\\') == 3
                && key.second.find("Gr") != std::string::npos;
        });
        ASSERT_NE(deepest, expected.rend());
        HKey deep = kNoKey;
        ASSERT_EQ(store->openKey(kLocalMachine, u"TEST" + toUtf16(deepest->first), Access::Read, kOptionNone, deep),
            Status::Ok);
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        EXPECT_EQ(store->queryValue(deep, u"gr\u00d6\u00dfE", type, data), Status::Ok);
        KeyInfo info;
        ASSERT_EQ(store->queryInfo(deep, info), Status::Ok);
        (void)store->closeKey(deep);
        HKey root = kNoKey;
        ASSERT_EQ(store->openKey(kLocalMachine, u"TEST", Access::Read, kOptionNone, root), Status::Ok);
        std::map<std::string, std::string> seen;
        storeKeys(*store, root, "", seen);
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(test::readFile(path), written);
    }
}

// A hive cut short by another program while it is loaded (hivex and Windows rewrite hives in
// place) ends no process: what was cut off reads as a change on disk, and nothing is written.
TEST_F(HiveTest, AHiveCutShortUnderneathSaysItChangedAndEndsNothing) {
    {
        WriteBatch batch(*store);
        for (int i = 0; i < 200; ++i)
            (void)store->closeKey(create(u"Key" + toUtf16(std::to_string(i)) + u"\\Below"));
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    mount();
    // A SIGBUS that is no fault of a hive's pages (another process sent it) still ends the process.
    EXPECT_EXIT(
        {
            ::raise(SIGBUS);
            std::exit(0);
        },
        [](int status) { return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0); }, "");
    ASSERT_EQ(::truncate(path.c_str(), 0x2000), 0);
    std::string dump = test::dumpRegistry(*store);
    EXPECT_NE(dump.find("TEST"), std::string::npos);
    HKey key = kNoKey;
    EXPECT_EQ(
        store->openKey(kLocalMachine, u"TEST\\Key150\\Below", Access::Read, kOptionNone, key), Status::ChangedOnDisk);
    EXPECT_EQ(store->createKey(kLocalMachine, u"TEST\\New", Access::Full, kOptionNone, key), Status::ChangedOnDisk);
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0x2000);
}

TEST_F(HiveTest, EveryValueTypeWrittenIsWhatHivexReadsBack) {
    // Version 1.3, which keeps a large value in one long cell as hivex writes it.
    std::string v13 = test::readFile(path);
    putLe32(v13, 0x18, 3);
    test::writeFile(path, v13);
    mount();
    const HKey key = create(u"Types");
    std::vector<std::uint8_t> large(40000);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<std::uint8_t>(i * 7);
    const std::vector<RawValue> written {
        { u"", kRegSz, test::utf16zBytes(u"default") },
        { u"sz", kRegSz, test::utf16zBytes(u"caf\u00e9") },
        { u"expand", kRegExpandSz, test::utf16zBytes(u"%SystemRoot%") },
        { u"bin", kRegBinary, bytes({ 0xde, 0xad, 0xbe, 0xef, 0x00 }) },
        { u"dword", kRegDword, bytes({ 0x2a, 0, 0, 0 }) },
        { u"big-endian", kRegDwordBigEndian, bytes({ 0, 0, 0, 7 }) },
        { u"multi", kRegMultiSz, test::utf16zBytes(std::u16string(u"a\0bc\0", 5)) },
        { u"qword", kRegQword, bytes({ 1, 2, 3, 4, 5, 6, 7, 8 }) },
        { u"none", kRegNone, {} },
        { u"odd type", 0xffff0012u, bytes({ 9, 8, 7 }) },
        { u"large", kRegBinary, large }, // past what a cell of a 1.4 hive may hold
        { u"caf\u00e9 \u0416", kRegDword, bytes({ 1, 0, 0, 0 }) },
    };
    for (const auto& value : written)
        ASSERT_EQ(store->setValue(key, value.name, value.type, value.data), Status::Ok) << toUtf8(value.name);

    EXPECT_EQ(hivexget(path, "\\Types", "sz"), "caf\u00e9\n");
    EXPECT_EQ(hivexget(path, "\\Types", "@"), "default\n");
    EXPECT_EQ(hivexget(path, "\\Types", "dword"), "42\n");
    EXPECT_EQ(hivexget(path, "\\Types", "qword"), "578437695752307201\n");
    const std::string listed = hivexget(path, "\\Types");
    for (const char* line :
        { "\"bin\"=hex(3):de,ad,be,ef,00\n", "\"multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\n",
            "\"big-endian\"=dword:00000007\n", "\"odd type\"=hex(4294901778):09,08,07\n", "\"none\"=hex(0):\n",
            "\"caf\u00e9 \u0416\"=dword:00000001\n", "\"expand\"=str(2):\"%SystemRoot%\"\n" })
        EXPECT_NE(listed.find(line), std::string::npos) << line << " in " << listed.substr(0, 400);
    EXPECT_EQ(run("hivexml '" + path + "' >/dev/null 2>&1; echo $?"), "0\n") << "hivexml reads the whole hive";

    // Read back by a registry of its own: every value in the order it was set, byte for byte.
    mount();
    HKey again = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\types", Access::Read, kOptionNone, again), Status::Ok);
    std::vector<RawValue> read;
    RawValue value;
    for (std::uint32_t i = 0; store->enumValue(again, i, value.name, &value.type, &value.data) == Status::Ok; ++i)
        read.push_back(value);
    EXPECT_EQ(read, written);
}

TEST_F(HiveTest, ARenameAndADeleteAreWhatHivexSeesAndTheOriginalIsKeptOnce) {
    const std::string original = test::readFile(path);
    struct stat before { };
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    {
        WriteBatch batch(*store);
        (void)store->closeKey(create(u"Services\\Old\\Deep"));
        (void)store->closeKey(create(u"Services\\Gone"));
        const HKey old = create(u"Services\\Old");
        ASSERT_EQ(store->setValue(old, u"Start", kRegDword, bytes({ 3, 0, 0, 0 })), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    EXPECT_EQ(part().writes(), 1u) << "one batch, one write";
    EXPECT_EQ(part().backupPath(), path + ".quern-orig");
    EXPECT_EQ(test::readFile(path + ".quern-orig"), original) << "the copy is the hive before Quern first wrote it";
    // Kept as a second name of the file as it was (the hive is replaced, never written in place),
    // so the first write costs no copy.
    struct stat kept { };
    ASSERT_EQ(::stat((path + ".quern-orig").c_str(), &kept), 0);
    EXPECT_EQ(kept.st_ino, before.st_ino);

    // A rename as the program makes one: a copy, then the old key deleted, in one batch.
    {
        WriteBatch batch(*store);
        const HKey renamed = create(u"Services\\New");
        ASSERT_EQ(store->setValue(renamed, u"Start", kRegDword, bytes({ 3, 0, 0, 0 })), Status::Ok);
        (void)store->closeKey(create(u"Services\\New\\Deep"));
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Services\\Old\\Deep"), Status::Ok);
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Services\\Old"), Status::Ok);
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Services\\Gone"), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    EXPECT_EQ(hivexget(path, "\\Services\\New", "Start"), "3\n");
    EXPECT_NE(hivexget(path, "\\Services\\Old").find("not found"), std::string::npos);
    const std::string xml = run("hivexml '" + path + "' 2>&1");
    EXPECT_EQ(xml.find("\"Old\""), std::string::npos) << xml;
    EXPECT_EQ(xml.find("\"Gone\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<node name=\"Deep\""), std::string::npos) << xml;
    EXPECT_EQ(test::readFile(path + ".quern-orig"), original) << "later writes leave the copy alone";

    // A write that linked the copy and then never replaced the hive (Quern ended) leaves the copy
    // a second name of the hive itself: the hive is no less writable, and the copy serves.
    const std::string now = test::readFile(path);
    ASSERT_EQ(std::remove((path + ".quern-orig").c_str()), 0);
    ASSERT_EQ(::link(path.c_str(), (path + ".quern-orig").c_str()), 0);
    mount();
    EXPECT_EQ(store->readOnlyReason(), "");
    (void)store->closeKey(create(u"AfterACrash"));
    EXPECT_EQ(part().backupPath(), path + ".quern-orig");
    EXPECT_EQ(test::readFile(path + ".quern-orig"), now);
    EXPECT_EQ(hivexget(path, "\\AfterACrash"), "");
}

TEST_F(HiveTest, AFailedWriteLeavesTheHiveAsItWasAndTheNextOneWorks) {
    const HKey key = create(u"Key");
    ASSERT_EQ(store->setValue(key, u"kept", kRegDword, bytes({ 1, 0, 0, 0 })), Status::Ok);
    const std::string before = test::readFile(path);
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    {
        const test::FileSizeLimit fullDisk(static_cast<unsigned long>(st.st_size / 2));
        const Status failed = store->setValue(key, u"lost", kRegBinary, std::vector<std::uint8_t>(100));
        EXPECT_EQ(failed, Status::WriteFailed);
        EXPECT_NE(failed.message().find(path), std::string::npos) << failed.message();
    }
    EXPECT_EQ(test::readFile(path), before) << "the old hive is byte for byte as it was";
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    EXPECT_EQ(store->queryValue(key, u"lost", type, data), Status::NotFound) << "and memory is as it was";
    EXPECT_EQ(run("ls -a '" + dir.path() + "' | grep -c quern-"), "1\n") << "only the copy of the original is left";

    ASSERT_EQ(store->setValue(key, u"later", kRegDword, bytes({ 2, 0, 0, 0 })), Status::Ok);
    EXPECT_EQ(hivexget(path, "\\Key", "later"), "2\n");
    EXPECT_EQ(hivexget(path, "\\Key", "kept"), "1\n");
}

TEST_F(HiveTest, AHiveChangedOnDiskOrReadOnlyIsNeverWritten) {
    const HKey key = create(u"Key");
    const std::string mine = test::readFile(path);
    // Someone else writes the hive: the next change is refused, and the hive is theirs.
    std::string theirs = mine;
    theirs[0x1000 + 0x30] ^= 1;
    test::writeFile(path, theirs);
    const Status refused = store->setValue(key, u"v", kRegDword, bytes({ 1, 0, 0, 0 }));
    EXPECT_EQ(refused, Status::ChangedOnDisk);
    EXPECT_NE(refused.message().find("SYSTEM was changed on disk"), std::string::npos) << refused.message();
    EXPECT_EQ(test::readFile(path), theirs);
    (void)store->closeKey(key);

    // Someone else renames their copy over it while Quern writes, after its last look: the
    // rename itself finds it out, and their hive stays.
    test::writeFile(path, mine);
    HiveOpenOptions racing;
    racing.beforeReplace = [&](const std::string&) {
        test::writeFile(path + ".theirs", theirs);
        ASSERT_EQ(::rename((path + ".theirs").c_str(), path.c_str()), 0);
    };
    mount(racing);
    HKey raced = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Key", Access::Full, kOptionNone, raced), Status::Ok);
    const Status lost = store->setValue(raced, u"v", kRegDword, bytes({ 2, 0, 0, 0 }));
    EXPECT_EQ(lost, Status::ChangedOnDisk) << lost.message();
    EXPECT_EQ(test::readFile(path), theirs);
    (void)store->closeKey(raced);

    // A hive its owner marked read-only is read-only, even for root; one root writes keeps its owner.
    test::writeFile(path, mine);
    ::chmod(path.c_str(), 0444);
    mount();
    EXPECT_NE(store->readOnlyReason().find("SYSTEM is marked read-only (mode 444)"), std::string::npos)
        << store->readOnlyReason();
    ::chmod(path.c_str(), 0644);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
        mount();
        (void)store->closeKey(create(u"Owned"));
        struct stat owned { };
        ASSERT_EQ(::stat(path.c_str(), &owned), 0);
        EXPECT_EQ(owned.st_uid, 1234u);
        EXPECT_EQ(owned.st_gid, 5678u);
        ::unlink((path + ".quern-orig.2").c_str());
    }

    // Read only: a reason, and a browse that writes nothing.
    test::writeFile(path, mine);
    ASSERT_EQ(::unlink((path + ".quern-orig").c_str()), 0);
    HiveOpenOptions options;
    options.readOnlyReason = "Read-only for the test.";
    mount(options);
    EXPECT_EQ(store->readOnlyReason(), "Read-only for the test.");
    HKey opened = kNoKey;
    EXPECT_EQ(store->openKey(kLocalMachine, u"TEST\\Key", Access::Full, kOptionNone, opened), Status::AccessDenied);
    struct stat before { };
    ::stat(path.c_str(), &before);
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Key", Access::Read, kOptionNone, opened), Status::Ok);
    EXPECT_EQ(store->refresh(), Status::Ok);
    struct stat after { };
    ::stat(path.c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_FALSE(test::fileExists(path + ".quern-orig"));
}

TEST_F(HiveTest, SubkeysComeInTheHivesUpperCaseOrderAndUnloadingDropsHandles) {
    // '_' sorts after the upper-cased letters and before the lower-cased ones.
    for (auto name : { u"b", u"_x", u"A" })
        (void)store->closeKey(create(std::u16string(u"Order\\") + name));
    mount();
    HKey order = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Order", Access::Read, kOptionNone, order), Status::Ok);
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; store->enumKey(order, i, name) == Status::Ok; ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::u16string> { u"A", u"b", u"_x" }));
    EXPECT_EQ(hivexget(path, "\\Order\\_X").find("not found"), std::string::npos) << "hivex finds each one";

    EXPECT_EQ(store->unmount(kLocalMachine, u"Software"), Status::NotFound) << "only a hive is unloaded";
    ASSERT_EQ(store->unmount(kLocalMachine, u"test"), Status::Ok);
    KeyInfo info;
    EXPECT_EQ(store->queryInfo(order, info), Status::KeyDeleted);
    EXPECT_TRUE(store->mountedParts().empty());
    EXPECT_EQ(mountHiveFile(*store, kLocalMachine, u"Software", path), Status::BadPath) << "a name that is taken";
    EXPECT_EQ(mountHiveFile(*store, kCurrentUser, u"X", path), Status::AccessDenied);
}

TEST_F(HiveTest, ADamagedHiveIsRefusedWithAClearMessageAndNeverWritten) {
    (void)store->closeKey(create(u"Aa"));
    (void)store->closeKey(create(u"Ab"));
    (void)store->closeKey(create(u"Ac"));
    store.reset();
    const std::string good = test::readFile(path);
    // Where the root key's subkey list is, as the format lays it out.
    const std::size_t root = 0x1000 + le32At(good, 0x24);
    const std::size_t list = 0x1000 + le32At(good, root + 4 + 0x1c);
    ASSERT_TRUE(good.compare(list + 4, 2, "lf") == 0 || good.compare(list + 4, 2, "lh") == 0);
    const std::size_t firstChild = 0x1000 + le32At(good, list + 8);

    struct Damage {
        const char* what;
        std::function<void(std::string&)> apply;
        const char* said;
    };
    const Damage damages[] = {
        { "cut short", [](std::string& h) { h.resize(5000); }, "it is cut short, 5000 bytes" },
        { "cut short inside its bin", [](std::string& h) { h.resize(h.size() - 100); }, "it is cut short" },
        { "wrong signature", [](std::string& h) { h.replace(0, 4, "rexf"); }, "does not begin with \"regf\"" },
        { "a subkey outside the file", [&](std::string& h) { putLe32(h, list + 8, 0x7ffff000u); }, path.c_str() },
        { "a subkey list that leads back to the root",
            [&](std::string& h) { putLe32(h, list + 8, static_cast<std::uint32_t>(root - 0x1000)); },
            "the subkeys of the root key lead back to a key already read" },
        { "a key name past the file's end",
            [&](std::string& h) {
                h[firstChild + 4 + 0x48] = '\xff';
                h[firstChild + 4 + 0x49] = '\x7f';
            },
            path.c_str() },
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::string bad = good;
        damage.apply(bad);
        test::writeFile(path, bad);
        MemoryRegistry registry;
        const Status refused = mountHiveFile(registry, kLocalMachine, u"TEST", path);
        EXPECT_FALSE(refused.ok());
        EXPECT_NE(refused.message().find(damage.said), std::string::npos) << refused.message();
        EXPECT_NE(refused.message().find(path), std::string::npos) << refused.message();
        EXPECT_TRUE(registry.mountedParts().empty());
        EXPECT_EQ(test::readFile(path), bad);
    }

    // Two subkeys that are one name to the registry: shown once, and the hive is never written,
    // as a write would drop the other.
    // The hive with the root's nth subkey (named was) given another two-letter name.
    auto renamedChild = [&](std::size_t nth, const char* was, const char* name) {
        std::string changed = good;
        const std::size_t child = 0x1000 + le32At(good, list + 8 + 8 * nth) + 4 + 0x4c;
        EXPECT_EQ(changed.substr(child, 2), was);
        changed.replace(child, 2, name);
        test::writeFile(path, changed);
        return changed;
    };
    const std::string twins = renamedChild(1, "Ab", "AA");
    mount();
    EXPECT_NE(store->readOnlyReason().find("two subkeys named \"AA\""), std::string::npos) << store->readOnlyReason();
    HKey key = kNoKey;
    EXPECT_EQ(store->createKey(kLocalMachine, u"TEST\\New", Access::Full, kOptionNone, key), Status::AccessDenied);
    EXPECT_EQ(test::readFile(path), twins);
    // Also when the two are not side by side, in a list out of the hive's order.
    (void)renamedChild(2, "Ac", "AA");
    mount();
    EXPECT_NE(store->readOnlyReason().find("two subkeys named \"AA\""), std::string::npos) << store->readOnlyReason();

    // A name no path can reach (a backslash in it) is left out, and the hive read-only likewise.
    const std::string slashed = renamedChild(1, "Ab", "A\\");
    mount();
    EXPECT_NE(store->readOnlyReason().find("name the registry does not allow"), std::string::npos);
    EXPECT_EQ(test::readFile(path), slashed);

    // Two values that are one name: the first is shown, and the hive is read-only likewise.
    test::writeFile(path, good);
    mount();
    const HKey valued = create(u"Valued");
    ASSERT_EQ(store->setValue(valued, u"Ab", kRegDword, bytes({ 1, 0, 0, 0 })), Status::Ok);
    ASSERT_EQ(store->setValue(valued, u"Ac", kRegDword, bytes({ 2, 0, 0, 0 })), Status::Ok);
    store.reset();
    std::string valueTwins = test::readFile(path);
    std::size_t record = 0;
    while ((record = valueTwins.find(std::string("vk\x02\0", 4), record + 1)) != std::string::npos
        && valueTwins.compare(record + 0x14, 2, "Ac") != 0) { }
    ASSERT_NE(record, std::string::npos);
    valueTwins.replace(record + 0x14, 2, "AB");
    test::writeFile(path, valueTwins);
    mount();
    EXPECT_NE(store->readOnlyReason().find("two values named \"AB\""), std::string::npos) << store->readOnlyReason();
    HKey key2 = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Valued", Access::Read, kOptionNone, key2), Status::Ok);
    std::u16string name;
    EXPECT_EQ(store->enumValue(key2, 0, name, nullptr, nullptr), Status::Ok);
    EXPECT_EQ(name, u"Ab");
    EXPECT_EQ(store->enumValue(key2, 1, name, nullptr, nullptr), Status::NoMoreItems);
    EXPECT_EQ(test::readFile(path), valueTwins);
}

TEST_F(HiveTest, UndoAndRedoOfADeletedTreeReachTheHiveOnDisk) {
    {
        WriteBatch batch(*store);
        const HKey deep = create(u"Services\\Old\\Deep");
        ASSERT_EQ(store->setValue(deep, u"Start", kRegDword, bytes({ 3, 0, 0, 0 })), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    {
        WriteBatch batch(*store);
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Services\\Old\\Deep"), Status::Ok);
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Services\\Old"), Status::Ok);
        ASSERT_EQ(batch.finish(ChangeLabel { "Delete", "HKEY_LOCAL_MACHINE\\TEST\\Services\\Old", {} }), Status::Ok);
    }
    ASSERT_NE(hivexget(path, "\\Services\\Old").find("not found"), std::string::npos);
    ASSERT_EQ(store->undoChange(), Status::Ok);
    EXPECT_EQ(hivexget(path, "\\Services\\Old\\Deep", "Start"), "3\n") << "the tree is back, with its value";
    ASSERT_EQ(store->redoChange(), Status::Ok);
    EXPECT_NE(hivexget(path, "\\Services\\Old").find("not found"), std::string::npos);
    ASSERT_EQ(store->undoChange(), Status::Ok);
    mount();
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    HKey deep = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Services\\Old\\Deep", Access::Read, kOptionNone, deep), Status::Ok);
    EXPECT_EQ(store->queryValue(deep, u"Start", type, data), Status::Ok);
    EXPECT_EQ(run("hivexml '" + path + "' >/dev/null 2>&1; echo $?"), "0\n");
    (void)store->closeKey(deep);

    // The same from a hive read afresh, the key's values never asked for: they come back from
    // where the file held them, not from where hivex puts the key anew.
    mount();
    {
        WriteBatch batch(*store);
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Services\\Old\\Deep"), Status::Ok);
        ASSERT_EQ(
            batch.finish(ChangeLabel { "Delete", "HKEY_LOCAL_MACHINE\\TEST\\Services\\Old\\Deep", {} }), Status::Ok);
    }
    ASSERT_NE(hivexget(path, "\\Services\\Old\\Deep").find("not found"), std::string::npos);
    const Status undone = store->undoChange();
    ASSERT_EQ(undone, Status::Ok) << undone.message();
    EXPECT_EQ(hivexget(path, "\\Services\\Old\\Deep", "Start"), "3\n");
    EXPECT_EQ(store->readOnlyReason(), "");
    EXPECT_EQ(store->redoChange(), Status::Ok);
    EXPECT_NE(hivexget(path, "\\Services\\Old\\Deep").find("not found"), std::string::npos);
}

TEST_F(HiveTest, AHiveUnderAWinePrefixStaysOutOfItsFilesAndOutlivesARefresh) {
    const HKey select = create(u"Select");
    ASSERT_EQ(store->setValue(select, u"Current", kRegDword, bytes({ 1, 0, 0, 0 })), Status::Ok);
    store.reset();
    test::TempDir prefix;
    test::copySamplePrefix(prefix.path());
    auto wine = test::openTestRegistry(prefix.path(), false);
    ASSERT_EQ(mountHiveFile(*wine, kLocalMachine, u"SYS", path), Status::Ok);
    // One command that changes the prefix and the hive: each file gets its own part.
    {
        WriteBatch batch(*wine);
        HKey key = kNoKey;
        ASSERT_EQ(wine->createKey(kLocalMachine, u"Software\\FromQuern", Access::Full, kOptionNone, key), Status::Ok);
        ASSERT_EQ(wine->createKey(kLocalMachine, u"SYS\\Select\\Added", Access::Full, kOptionNone, key), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    const std::string system = test::readFile(prefix / "system.reg");
    EXPECT_NE(system.find("[Software\\\\FromQuern]"), std::string::npos);
    EXPECT_EQ(system.find("[SYS\\\\"), std::string::npos) << "the hive is not written into system.reg";
    EXPECT_EQ(system.find("Added"), std::string::npos);
    EXPECT_EQ(hivexget(path, "\\Select\\Added").find("not found"), std::string::npos);

    // system.reg changed by someone else and read again: the hive stays loaded below the new root.
    test::writeFile(prefix / "system.reg", system + "\n[Software\\\\FromOutside] 1700000000\n");
    ASSERT_EQ(wine->refresh(), Status::Ok);
    HKey key = kNoKey;
    EXPECT_EQ(wine->openKey(kLocalMachine, u"Software\\FromOutside", Access::Read, kOptionNone, key), Status::Ok);
    ASSERT_EQ(wine->openKey(kLocalMachine, u"SYS\\Select", Access::Full, kOptionNone, key), Status::Ok);
    ASSERT_EQ(wine->setValue(key, u"Current", kRegDword, bytes({ 2, 0, 0, 0 })), Status::Ok);
    EXPECT_EQ(hivexget(path, "\\Select", "Current"), "2\n");
    EXPECT_EQ(test::readFile(prefix / "system.reg").find("[SYS\\\\"), std::string::npos);
    (void)wine->closeKey(key);

    // The hive changed by someone else: a refresh of the prefix reads it again too.
    {
        MemoryRegistry other;
        ASSERT_EQ(mountHiveFile(other, kLocalMachine, u"O", path), Status::Ok);
        HKey outside = kNoKey;
        ASSERT_EQ(
            other.createKey(kLocalMachine, u"O\\Select\\FromOutside", Access::Full, kOptionNone, outside), Status::Ok);
        (void)other.closeKey(outside);
    }
    EXPECT_NE(wine->createKey(kLocalMachine, u"SYS\\Select\\Mine", Access::Full, kOptionNone, key), Status::Ok);
    ASSERT_EQ(wine->refresh(), Status::Ok);
    EXPECT_EQ(wine->openKey(kLocalMachine, u"SYS\\Select\\FromOutside", Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(wine->readOnlyReasonAt(kLocalMachine, u"SYS\\Select"), "");
}

namespace {

// Temporary files left beside a hive or a registry file (NAME.quern-XXXXXX), not the copy of the original.
std::string leftovers(const std::string& folder) {
    return run("ls -a '" + folder + "' | grep -c 'quern-......$'");
}

// Quern's own registry (three Wine files) with a hive mounted beside it as HKLM\T: a batch may
// change both.
class PrefixAndHiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(writeEmptyHive(hivePath), Status::Ok);
        store = test::openTestRegistry(dir / "prefix");
        ASSERT_EQ(store->readOnlyReason(), "");
        ASSERT_EQ(mountHiveFile(*store, kLocalMachine, u"T", hivePath), Status::Ok);
    }
    Status setIn(HKey root, std::u16string_view path, std::u16string_view name, std::size_t size) {
        HKey key = kNoKey;
        if (Status st = store->createKey(root, path, Access::Full, kOptionNone, key); !st.ok()) return st;
        const Status st = store->setValue(key, name, kRegBinary, std::vector<std::uint8_t>(size, 0x5a));
        (void)store->closeKey(key);
        return st;
    }
    bool has(HKey root, std::u16string_view path) {
        HKey key = kNoKey;
        if (store->openKey(root, path, Access::Read, kOptionNone, key) != Status::Ok) return false;
        (void)store->closeKey(key);
        return true;
    }

    test::TempDir dir;
    std::string hivePath = dir / "SYSTEM";
    std::string userReg = dir / "prefix/user.reg";
    std::unique_ptr<WinePrefixStore> store;
};

} // namespace

TEST_F(PrefixAndHiveTest, ABatchOverAHiveAndThePrefixIsKeptWholeOrNotAtAll) {
    // The hive's write fails (hivex itself takes no value over about a megabyte, even in a hive of
    // version 1.3) after the prefix's change was made: user.reg must not be written either.
    ASSERT_EQ(store->unmount(kLocalMachine, u"T"), Status::Ok);
    std::string v13 = test::readFile(hivePath);
    putLe32(v13, 0x18, 3);
    test::writeFile(hivePath, v13);
    ASSERT_EQ(mountHiveFile(*store, kLocalMachine, u"T", hivePath), Status::Ok);
    const std::string userBefore = test::readFile(userReg);
    const std::string hiveBefore = test::readFile(hivePath);
    {
        WriteBatch batch(*store);
        ASSERT_EQ(setIn(kCurrentUser, u"Software\\QuernHalf", u"v", 4), Status::Ok);
        ASSERT_EQ(setIn(kLocalMachine, u"T\\H", u"huge", 1100000), Status::Ok);
        const Status failed = batch.finish();
        EXPECT_EQ(failed, Status::WriteFailed);
        EXPECT_NE(failed.message().find("could not be set"), std::string::npos) << failed.message();
    }
    EXPECT_EQ(test::readFile(userReg), userBefore);
    EXPECT_EQ(test::readFile(hivePath), hiveBefore);
    EXPECT_FALSE(has(kCurrentUser, u"Software\\QuernHalf")) << "memory is as it was, on both sides";
    EXPECT_FALSE(has(kLocalMachine, u"T\\H"));
    EXPECT_EQ(leftovers(dir.path()), "0\n");
    EXPECT_EQ(leftovers(dir / "prefix"), "0\n");

    // Both sides written when both can be.
    {
        WriteBatch batch(*store);
        ASSERT_EQ(setIn(kCurrentUser, u"Software\\QuernWhole", u"v", 4), Status::Ok);
        ASSERT_EQ(setIn(kLocalMachine, u"T\\W", u"v", 4), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    EXPECT_NE(test::readFile(userReg).find("QuernWhole"), std::string::npos);
    EXPECT_NE(hivexget(hivePath, "\\W").find("\"v\"=hex(3):5a,5a,5a,5a\n"), std::string::npos);

    // The prefix's side fails (user.reg changed on disk while the batch ran) once the hive's new
    // file is complete: the hive is not replaced, and its change is taken back.
    const std::string hiveKept = test::readFile(hivePath);
    {
        WriteBatch batch(*store);
        ASSERT_EQ(setIn(kCurrentUser, u"Software\\QuernLate", u"v", 4), Status::Ok);
        test::writeFile(userReg, test::readFile(userReg) + "\n");
        ASSERT_EQ(setIn(kLocalMachine, u"T\\Late", u"v", 4), Status::Ok);
        EXPECT_EQ(batch.finish(), Status::ChangedOnDisk);
    }
    EXPECT_EQ(test::readFile(hivePath), hiveKept);
    EXPECT_FALSE(has(kLocalMachine, u"T\\Late"));
    EXPECT_EQ(leftovers(dir.path()), "0\n");
    EXPECT_NE(hivexget(hivePath, "\\W").find("\"v\"=hex(3):5a,5a,5a,5a\n"), std::string::npos);
}

TEST_F(HiveTest, AnUndoThatCannotBeWrittenStaysInTheHistoryToBeTriedAgain) {
    {
        WriteBatch batch(*store);
        const HKey key = create(u"Old");
        ASSERT_EQ(store->setValue(key, u"Start", kRegDword, bytes({ 3, 0, 0, 0 })), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    {
        WriteBatch batch(*store);
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Old"), Status::Ok);
        ASSERT_EQ(batch.finish(ChangeLabel { "Delete", "HKEY_LOCAL_MACHINE\\TEST\\Old", {} }), Status::Ok);
    }
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    auto present = [&] {
        HKey key = kNoKey;
        return store->openKey(kLocalMachine, u"TEST\\Old", Access::Read, kOptionNone, key) == Status::Ok;
    };
    auto onFullDisk = [&](Status (RegStore::*step)()) {
        const std::string before = test::readFile(path);
        const test::FileSizeLimit fullDisk(static_cast<unsigned long>(st.st_size / 2));
        const Status failed = ((*store).*step)();
        EXPECT_EQ(test::readFile(path), before);
        return failed;
    };
    EXPECT_EQ(onFullDisk(&RegStore::undoChange), Status::WriteFailed);
    EXPECT_FALSE(present());
    ASSERT_NE(store->undoLabel(), nullptr) << "the entry is still there, to be tried again";
    EXPECT_EQ(store->undoLabel()->keyPath, "HKEY_LOCAL_MACHINE\\TEST\\Old");
    ASSERT_EQ(store->undoChange(), Status::Ok);
    EXPECT_EQ(hivexget(path, "\\Old", "Start"), "3\n");

    EXPECT_EQ(onFullDisk(&RegStore::redoChange), Status::WriteFailed);
    EXPECT_TRUE(present());
    ASSERT_NE(store->redoLabel(), nullptr);
    ASSERT_EQ(store->redoChange(), Status::Ok);
    EXPECT_NE(hivexget(path, "\\Old").find("not found"), std::string::npos);
    EXPECT_NE(store->undoLabel(), nullptr);
}

TEST_F(HiveTest, ALargeValueIsOneCellInVersion13AndItsKeyCanStillBeEditedOnceStamped15) {
    // Version 1.3 keeps a large value in one cell, as hivex writes it; the same hive stamped 1.5
    // holds a value in a form Windows no longer reads there, which the next write of its key
    // turns into a big-data record.
    std::string v13 = test::readFile(path);
    putLe32(v13, 0x18, 3);
    test::writeFile(path, v13);
    mount();
    const HKey big = create(u"Big");
    ASSERT_EQ(store->setValue(big, u"large", kRegBinary, std::vector<std::uint8_t>(20000, 7)), Status::Ok);
    std::string v15 = test::readFile(path);
    const std::size_t before = v15.size();
    putLe32(v15, 0x18, 5);
    test::writeFile(path, v15);
    mount();
    HKey key = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Big", Access::Full, kOptionNone, key), Status::Ok);
    ASSERT_EQ(store->setValue(key, u"small", kRegDword, bytes({ 1, 0, 0, 0 })), Status::Ok);
    EXPECT_NE(hivexget(path, "\\Big").find("\"large\"=hex(3):07,07,"), std::string::npos);
    EXPECT_GT(test::readFile(path).size(), before) << "its segments went into a bin of their own";
}

TEST_F(HiveTest, AHiveWithChangesWaitingInItsLogsIsReadOnlyAndSaysWhy) {
    create(u"Kept");
    std::string content = test::readFile(path);
    putLe32(content, 0x04, le32At(content, 0x08) + 1);
    test::writeFile(path, content);
    mount();
    EXPECT_NE(store->readOnlyReason().find("changes in its log files"), std::string::npos) << store->readOnlyReason();
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kLocalMachine, u"TEST\\Kept", Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(store->createKey(kLocalMachine, u"TEST\\New", Access::Full, kOptionNone, key), Status::AccessDenied);
    EXPECT_EQ(test::readFile(path), content);
}

TEST_F(HiveTest, UndoCannotBringBackAKeyWhereAHiveIsNowLoaded) {
    store = std::make_unique<MemoryRegistry>();
    for (const char* what : { "Create", "Delete" }) {
        WriteBatch batch(*store);
        HKey key = kNoKey;
        if (std::string(what) == "Create") {
            ASSERT_EQ(store->createKey(kLocalMachine, u"SYS", Access::Full, kOptionNone, key), Status::Ok);
            (void)store->closeKey(key);
        } else {
            ASSERT_EQ(store->deleteKey(kLocalMachine, u"SYS"), Status::Ok);
        }
        ASSERT_EQ(batch.finish(ChangeLabel { what, "HKEY_LOCAL_MACHINE\\SYS", {} }), Status::Ok);
    }
    // An edit elsewhere stays undoable.
    {
        WriteBatch batch(*store);
        HKey key = kNoKey;
        ASSERT_EQ(store->createKey(kLocalMachine, u"Software\\Elsewhere", Access::Full, kOptionNone, key), Status::Ok);
        ASSERT_EQ(store->setValue(key, u"v", kRegDword, bytes({ 1, 0, 0, 0 })), Status::Ok);
        (void)store->closeKey(key);
        ASSERT_EQ(batch.finish(ChangeLabel { "New", "HKEY_LOCAL_MACHINE\\Software\\Elsewhere", {} }), Status::Ok);
    }
    ASSERT_EQ(mountHiveFile(*store, kLocalMachine, u"SYS", path), Status::Ok);
    ASSERT_EQ(store->undoChange(), Status::Ok) << "the edit below Software";
    const Status refused = store->undoChange();
    EXPECT_EQ(refused, Status::ChangedOnDisk);
    EXPECT_NE(refused.message().find("hive was loaded"), std::string::npos) << refused.message();
    std::size_t named = 0;
    std::u16string name;
    for (std::uint32_t i = 0; store->enumKey(kLocalMachine, i, name) == Status::Ok; ++i)
        named += name == u"SYS";
    EXPECT_EQ(named, 1u);
    EXPECT_EQ(store->unmount(kLocalMachine, u"SYS"), Status::Ok);
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kLocalMachine, u"SYS", Access::Read, kOptionNone, key), Status::NotFound);
}

TEST_F(HiveTest, AnImportIntoAHiveLoadedBesideNoPrefixIsRefusedOnlyWhereTheFileReachesOutside) {
    // As quern-reg /hive without a Wine prefix: only the loaded hive may change.
    MemoryRegistryOptions options;
    options.fixedPartsReadOnlyReason = "No Wine prefix is open.";
    store = std::make_unique<MemoryRegistry>(options);
    ASSERT_EQ(mountHiveFile(*store, kLocalMachine, u"TEST", path), Status::Ok);
    auto import = [&](const std::string& text) {
        RegFileContent content;
        EXPECT_EQ(parseRegFile("Windows Registry Editor Version 5.00\r\n\r\n" + text, "f.reg", content), Status::Ok);
        return applyImport(*store, content);
    };
    ASSERT_EQ(import("[HKEY_LOCAL_MACHINE\\TEST\\Imported]\r\n\"v\"=dword:00000001\r\n"), Status::Ok);
    EXPECT_EQ(hivexget(path, "\\Imported", "v"), "1\n");

    const std::string before = test::readFile(path);
    const Status refused = import("[HKEY_LOCAL_MACHINE\\TEST\\Also]\r\n\"v\"=dword:00000002\r\n\r\n"
                                  "[HKEY_CURRENT_USER\\Software\\Outside]\r\n\"v\"=dword:00000002\r\n");
    EXPECT_EQ(refused, Status::AccessDenied);
    EXPECT_EQ(refused.message(), "f.reg was not imported: No Wine prefix is open.");
    EXPECT_EQ(test::readFile(path), before);
}
