// Registry files with lines Quern does not read, written by a running store: what Quern keeps must
// mean to Wine after each write what it meant before, and where Wine is installed, Wine itself
// checks that it reads what Quern reads.

#include "TestSupport.h"
#include "codec/Utf.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace quern;
using namespace quern::reg;

namespace {

constexpr std::uint64_t kTime = 0x1dd86825f2528c0ull; // 1796672239 in a key line
const std::string kHeader = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n";
const std::string kTimeLines = "1796672239\n#time=1dd86825f2528c0\n";

WinePrefixOptions optionsFor(const test::TempDir& dir, const test::TempDir& servers) {
    WinePrefixOptions o;
    o.prefixDir = dir.path();
    o.serverPaths = { servers.path(), servers / "upstream", "/nonexistent" };
    o.scanProcesses = false;
    o.clock = [] { return kTime; };
    return o;
}

Status setValue(RegStore& store, HKey root, std::u16string_view path, std::u16string_view name, std::uint32_t type,
    const std::vector<std::uint8_t>& data) {
    HKey key = kNoKey;
    if (Status st = store.openKey(root, path, Access::Full, kOptionNone, key); st != Status::Ok) return st;
    const Status st = store.setValue(key, name, type, data);
    (void)store.closeKey(key);
    return st;
}

Status deleteValue(RegStore& store, HKey root, std::u16string_view path, std::u16string_view name) {
    HKey key = kNoKey;
    if (Status st = store.openKey(root, path, Access::Full, kOptionNone, key); st != Status::Ok) return st;
    const Status st = store.deleteValue(key, name);
    (void)store.closeKey(key);
    return st;
}

std::vector<RawValue> valuesOf(RegStore& store, HKey root, std::u16string_view path) {
    std::vector<RawValue> values;
    HKey key = kNoKey;
    if (store.openKey(root, path, Access::Read, kOptionNone, key) != Status::Ok) return values;
    RawValue value;
    for (std::uint32_t i = 0; store.enumValue(key, i, value.name, &value.type, &value.data) == Status::Ok; ++i)
        values.push_back(value);
    (void)store.closeKey(key);
    return values;
}

} // namespace

TEST(WineRegFileOddLines, OneRunningStoreWritingThreeTimesKeepsEveryLineItDoesNotRead) {
    test::TempDir dir;
    test::TempDir servers;
    const std::string header
        = kHeader + "; a note above the keys\n[Early\\\\No end\n\"early\"=dword:1\n\n#arch=win64\n";
    const std::string a = "[A] " + kTimeLines + "\"v\"=dword:00000001\n";
    const std::string unread = "[A\\\\Sub\n\"lost\"=dword:2\n";
    const std::string p = "[P] " + kTimeLines + "; P's comment\n\"bad\"=zzz\n";
    const std::string q = "[P\\\\Q] " + kTimeLines + "\"q\"=dword:00000003\n";
    const std::string z = "[Z] " + kTimeLines;
    test::writeFile(dir / "system.reg",
        header + "\n" + a + "\n" + unread + "\n" + p + "\n" + q + "\n" + z + "\"z\"=dword:00000004\n");
    auto store = std::make_unique<WinePrefixStore>(optionsFor(dir, servers));
    ASSERT_EQ(store->readOnlyReason(), "");

    // An unrelated key changes: P, which has a subkey and nothing but kept lines, keeps its block.
    ASSERT_EQ(setValue(*store, kLocalMachine, u"Z", u"z", kRegDword, { 5, 0, 0, 0 }), Status::Ok);
    const std::string zNow = z + "\"z\"=dword:00000005\n";
    EXPECT_EQ(
        test::readFile(dir / "system.reg"), header + "\n" + a + "\n" + unread + "\n" + p + "\n" + q + "\n" + zNow);

    // A deleted: the block after it, whose key line Wine cannot read, stays; so does the header,
    // whose lines the second write copies too.
    HKey machine = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"", Access::Full, kOptionNone, machine), Status::Ok);
    ASSERT_EQ(store->deleteKey(machine, u"A"), Status::Ok);
    (void)store->closeKey(machine);
    EXPECT_EQ(test::readFile(dir / "system.reg"), header + "\n" + unread + "\n" + p + "\n" + q + "\n" + zNow);

    // The value P's kept line names is set: the kept line stays, before the value, which wins.
    ASSERT_EQ(setValue(*store, kLocalMachine, u"P", u"bad", kRegDword, { 7, 0, 0, 0 }), Status::Ok);
    EXPECT_EQ(test::readFile(dir / "system.reg"),
        header + "\n" + unread + "\n[P] " + kTimeLines + "; P's comment\n\"bad\"=zzz\n\"bad\"=dword:00000007\n\n" + q
            + "\n" + zNow);
    EXPECT_EQ(store->filesWritten(), 3u);

    // Read again, the file holds what the store held.
    store.reset();
    WinePrefixStore again(optionsFor(dir, servers));
    EXPECT_EQ(valuesOf(again, kLocalMachine, u"P"), (std::vector<RawValue> { { u"bad", kRegDword, { 7, 0, 0, 0 } } }));
    EXPECT_EQ(valuesOf(again, kLocalMachine, u"A").size(), 0u);
}

// What stands between blocks is the file's own: its empty lines as they were (CR LF, spaces, two of
// them), and a block that followed a line directly (a kept line) stays without an empty line
// before it, as long as it still follows that line. Only the changed block is written anew.
TEST(WineRegFileOddLines, TheLinesBetweenUnchangedBlocksKeepTheirBytes) {
    test::TempDir dir;
    test::TempDir servers;
    const std::string header = "WINE REGISTRY Version 2\r\n;; All keys relative to REGISTRY\\\\Machine\r\n"
                               "\r\n#arch=win64\r\n";
    const std::string a = "[A] 1796672239\r\n\"x\"=\"1\"\r\n";
    const std::string b = "[B] 1796672239\r\nthis is no line Wine reads\r\n\"y\"=\"2\"\r\njunk\r\n";
    const std::string c = "[C] 1796672239\r\n\"z\"=\"3\"\r\n";
    const std::string d = "[D] 1796672239\n\"w\"=dword:00000001\n";
    const std::string file = header + "\r\n" + a + "\r\n \t\r\n\r\n" + b + c + "\r\n" + d;
    test::writeFile(dir / "system.reg", file);
    {
        WinePrefixStore store(optionsFor(dir, servers));
        ASSERT_EQ(setValue(store, kLocalMachine, u"D", u"w", kRegDword, { 2, 0, 0, 0 }), Status::Ok);
    }
    const std::string dNow = "[D] " + kTimeLines + "\"w\"=dword:00000002\n";
    EXPECT_EQ(test::readFile(dir / "system.reg"), header + "\r\n" + a + "\r\n \t\r\n\r\n" + b + c + "\r\n" + dNow);

    // B rewritten: C no longer follows the line it followed, and gets an empty line of its own.
    {
        WinePrefixStore store(optionsFor(dir, servers));
        ASSERT_EQ(setValue(store, kLocalMachine, u"B", u"y", kRegSz, test::utf16zBytes(u"4")), Status::Ok);
    }
    const std::string written = test::readFile(dir / "system.reg");
    EXPECT_TRUE(written.starts_with(header + "\r\n" + a + "\r\n[B] ")) << written;
    EXPECT_TRUE(written.ends_with("\n\n" + c + "\r\n" + dNow)) << written;
}

TEST(WineRegFileOddLines, AFailedBatchOfDeletionsPutsEveryValueBackInItsPlace) {
    // Deleting every value of a large key, front first as quern-reg's /va does, then a write that
    // cannot happen: every value is back, in its place and found by its name.
    test::TempDir dir;
    test::TempDir servers;
    std::string content = kHeader + "\n#arch=win64\n\n[Bulk] " + kTimeLines;
    std::vector<RawValue> expected;
    for (int i = 0; i < 500; ++i) {
        const std::string name = "value" + std::to_string((i * 7919) % 500);
        content += "\"" + name + "\"=dword:0000000" + std::to_string(i % 10) + "\n";
        expected.push_back({ toUtf16(name), kRegDword, { static_cast<std::uint8_t>(i % 10), 0, 0, 0 } });
    }
    test::writeFile(dir / "system.reg", content);
    WinePrefixStore store(optionsFor(dir, servers));
    HKey key = kNoKey;
    ASSERT_EQ(store.openKey(kLocalMachine, u"Bulk", Access::Full, kOptionNone, key), Status::Ok);
    store.beginBatch();
    for (const RawValue& value : expected)
        ASSERT_EQ(store.deleteValue(key, value.name), Status::Ok);
    test::writeFile(dir / "system.reg", content + "\n"); // changed behind the store's back
    EXPECT_EQ(store.endBatch(), Status::ChangedOnDisk);
    EXPECT_EQ(valuesOf(store, kLocalMachine, u"Bulk"), expected);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store.queryValue(key, u"VALUE123", type, data), Status::Ok);
    (void)store.closeKey(key);
}

TEST(WineRegFileOddLines, FilesWineWouldReadDifferentlyAreReadOnlyWithTheReason) {
    test::TempDir dir;
    test::TempDir servers;
    // system.reg without #arch makes the prefix 32-bit for wineserver, which then stops reading a
    // user.reg that says win64 at that line; userdef.reg holds a NUL byte.
    test::writeFile(dir / "system.reg", kHeader + "\n[Software] " + kTimeLines);
    test::writeFile(dir / "user.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n"
        "\n[Software] "
            + kTimeLines + "\"v\"=dword:00000001\n");
    test::writeFile(dir / "userdef.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n[Software] " + kTimeLines
            + std::string("\"v\"=\"a\0b\"\n", 10));
    WinePrefixStore store(optionsFor(dir, servers));
    EXPECT_NE(
        store.hive(WinePrefixStore::kUser).readOnlyReason.find("Wine stops reading it at line 4"), std::string::npos)
        << store.hive(WinePrefixStore::kUser).readOnlyReason;
    EXPECT_TRUE(valuesOf(store, kCurrentUser, u"Software").empty()) << "nothing after that line is read, as in Wine";
    EXPECT_NE(
        store.hive(WinePrefixStore::kUserDefault).readOnlyReason.find("line 6 holds a NUL byte"), std::string::npos);
    EXPECT_EQ(store.hive(WinePrefixStore::kSystem).readOnlyReason, "");
    EXPECT_EQ(setValue(store, kUsers, u".Default\\Software", u"w", kRegDword, { 1, 0, 0, 0 }), Status::AccessDenied);
    EXPECT_EQ(setValue(store, kLocalMachine, u"Software", u"w", kRegDword, { 1, 0, 0, 0 }), Status::Ok);
}

namespace {

// Wine, run on a prefix of its own made for the test: the registry as wineserver reads it from the
// files, obtained by letting it write the files back.
class Wine {
public:
    static bool installed() {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "";
        for (std::size_t start = 0; start <= dirs.size();) {
            std::size_t end = dirs.find(':', start);
            if (end == std::string::npos) end = dirs.size();
            const std::string dir = dirs.substr(start, end - start);
            if (!dir.empty() && ::access((dir + "/wine").c_str(), X_OK) == 0
                && ::access((dir + "/wineserver").c_str(), X_OK) == 0)
                return true;
            start = end + 1;
        }
        return false;
    }

    explicit Wine(std::string prefix)
        : m_prefix(std::move(prefix)) { }
    ~Wine() { (void)run("wineserver -k"); }
    Wine(const Wine&) = delete;
    Wine& operator=(const Wine&) = delete;

    bool makePrefix() { return run("wineboot -i") && run("wineserver -w") && test::fileExists(m_prefix + "/user.reg"); }

    // Starts Wine, which reads the files, changes a key of its own so that it writes user.reg back
    // whole, and waits until it has.
    bool readAndWriteBack(const std::string& probeKey) {
        return run("wine reg add 'HKCU\\" + probeKey + "' /v p /d 1 /f") && run("wineserver -w");
    }

private:
    bool run(const std::string& command) const {
        const std::string line = "WINEPREFIX='" + m_prefix
            + "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' timeout 300 " + command + " >/dev/null 2>&1";
        return std::system(line.c_str()) == 0;
    }
    std::string m_prefix;
};

std::vector<std::u16string> emptiedByKeptLines(const Key& key) {
    std::vector<std::u16string> names;
    if (key.extra)
        for (const KeptLine& line : key.extra->kept)
            if (line.namesValue && !line.overridden) names.push_back(line.valueName);
    return names;
}

// Compares a key as Quern read it with the same key as Wine read it: the same values, but for those
// whose last line Quern keeps unread, which Wine makes empty; the same subkeys, alike.
void expectSameReading(const Key& quern, const Key& wine, const std::string& path) {
    const std::vector<std::u16string> emptied = emptiedByKeptLines(quern);
    for (const RawValue& value : wine.values) {
        const auto index = quern.findValue(value.name);
        if (index >= 0) {
            const RawValue& ours = quern.values[static_cast<std::size_t>(index)];
            EXPECT_TRUE(ours.type == value.type && ours.data == value.data)
                << path << " value " << toUtf8(value.name) << " reads differently";
            continue;
        }
        const bool isEmptied = std::any_of(
            emptied.begin(), emptied.end(), [&](const std::u16string& n) { return sameName(n, value.name); });
        EXPECT_TRUE(isEmptied && value.type == kRegNone && value.data.empty())
            << path << " value " << toUtf8(value.name) << " is Wine's only";
    }
    for (const RawValue& value : quern.values)
        EXPECT_GE(wine.findValue(value.name), 0) << path << " value " << toUtf8(value.name) << " is Quern's only";
    for (const std::u16string& name : emptied)
        EXPECT_GE(wine.findValue(name), 0) << path << " value " << toUtf8(name) << " is not empty in Wine";
    EXPECT_EQ(quern.subkeys.size(), wine.subkeys.size()) << path;
    for (const auto& sub : quern.subkeys) {
        const Key* other = wine.findSubkey(sub->name);
        if (other)
            expectSameReading(*sub, *other, path + "\\" + toUtf8(sub->name));
        else
            ADD_FAILURE() << path << "\\" << toUtf8(sub->name) << " is Quern's only";
    }
}

// The keys of a user.reg whose names start with prefix, as Quern reads the file.
void expectSameKeys(const std::string& quernText, const std::string& wineText, std::u16string_view prefix) {
    Key quern(u"", nullptr, nullptr);
    Key wine(u"", nullptr, nullptr);
    (void)parseRegFile(quernText, quern);
    (void)parseRegFile(wineText, wine);
    std::size_t compared = 0;
    for (const auto& top : wine.subkeys) {
        if (!top->name.starts_with(prefix)) continue;
        const Key* ours = quern.findSubkey(top->name);
        if (!ours) {
            ADD_FAILURE() << toUtf8(top->name) << " is Wine's only";
            continue;
        }
        expectSameReading(*ours, *top, toUtf8(top->name));
        ++compared;
    }
    for (const auto& top : quern.subkeys)
        if (top->name.starts_with(prefix) && !wine.findSubkey(top->name))
            ADD_FAILURE() << toUtf8(top->name) << " is Quern's only";
    EXPECT_GT(compared, 0u);
}

} // namespace

TEST(WineRegFileOddLines, WineReadsOddLinesAsQuernDoesBeforeAndAfterQuernWrites) {
    if (!Wine::installed()) GTEST_SKIP() << "Wine is not installed";
    test::TempDir work;
    const std::string prefix = work / "wine";
    Wine wine(prefix);
    if (!wine.makePrefix()) GTEST_SKIP() << "Wine cannot make a prefix here";

    // Appended to the user.reg Wine made: odd lines of every kind, a block whose key line Wine
    // cannot read, a key with a subkey and nothing but kept lines, and at the very end hex data cut
    // short. The blocks are out of order, so Quern's write moves the last one into the middle.
    const std::string odd = "\n[QuernOdd] 1\n#time=1dd86825f2528c0zz\n#class=\"cls\" junk\n"
                            "\"a\"=dword:0000000a ; comment\n\"b\"=\"text\" trailing\n\"c\"=dword:fffffffff\n"
                            "\"d\"=dword: 1\n\"e\"=hex:01,\\ junk\n  02\n\"f\"=hex(2 ):41,00\n\"g\"=hex():01\n"
                            "\"h\"=hex:0x1,100000001\n\"i\"=hex:123\n\"j\"=dword:-2\n\"k\"=dword:0x10\n\"l\"=bogus\n"
                            "@x=1\n\"m\"=str(1):\"x\"\n\"n\"=hex:1 2,3\n\"o\"=\"caf\xe9 x\"\n\"p\xff\"=dword:1\n"
                            "\"q\"=\"\xed\xa0\x80\"\n\"r\"=\"\xc0\xaf|\xf4\x90\x80\x80|\xe2\x82\"\n"
                            "\"s\"=\"x\\q\\\xc3\xa9\"\n\"t\"=str(2):\"a\" junk\n  \"u\"  =  \"sp\"\n\"v\"=hex:01,\\\n\n"
                            "\"w\"=dword:1\n\"X\"=hex:01,\\\n[QuernSwallowed] 1\n\"y\"=dword:2\n\"i\"=dword:9\n"
                            "\"z\"=dword:1\n\"z\"=hex:zz\n\"big\"=hex(100000002):01\n; comment\n#unknown\n"
                            "\n[QuernCaf\xe9\\\\\\\\Sub\\\\] 1\n\"v\"=dword:4\n"
                            "\n[QuernA] 1\n\"v\"=dword:1\n\n[QuernA\\\\Bad\n\"lost\"=dword:2\n"
                            "\n[QuernB] 1\n; B's comment\n\"bad\"=zzz\n\n[QuernB\\\\C] 1\n\"c\"=dword:3\n"
                            "\n[QuernLast] 1\n\"w\"=dword:1\n\"trunc\"=hex:01,02,\\";
    const std::string oddFile = test::readFile(prefix + "/user.reg") + odd;

    // As Wine reads the file.
    test::writeFile(prefix + "/user.reg", oddFile);
    ASSERT_TRUE(wine.readAndWriteBack("ProbeForQuern"));
    expectSameKeys(oddFile, test::readFile(prefix + "/user.reg"), u"Quern");

    // As Wine reads what Quern writes after changing it.
    test::writeFile(prefix + "/user.reg", oddFile);
    {
        WinePrefixOptions options;
        options.prefixDir = prefix;
        WinePrefixStore store(options);
        ASSERT_EQ(store.readOnlyReason(), "");
        // A value whose last line Wine cannot read, set; one an unreadable line stood before, deleted.
        ASSERT_EQ(setValue(store, kCurrentUser, u"QuernOdd", u"l", kRegSz, test::utf16zBytes(u"new")), Status::Ok);
        ASSERT_EQ(deleteValue(store, kCurrentUser, u"QuernOdd", u"i"), Status::Ok);
        // The key before the block Wine cannot read, deleted.
        HKey user = kNoKey;
        ASSERT_EQ(store.openKey(kCurrentUser, u"", Access::Full, kOptionNone, user), Status::Ok);
        ASSERT_EQ(store.deleteKey(user, u"QuernA"), Status::Ok);
        (void)store.closeKey(user);
        // A value beside a kept line of the same name, and one in the key whose data was cut short.
        ASSERT_EQ(setValue(store, kCurrentUser, u"QuernB", u"bad", kRegDword, { 7, 0, 0, 0 }), Status::Ok);
        ASSERT_EQ(setValue(store, kCurrentUser, u"QuernLast", u"x", kRegDword, { 1, 0, 0, 0 }), Status::Ok);
    }
    const std::string quernWrote = test::readFile(prefix + "/user.reg");
    ASSERT_TRUE(wine.readAndWriteBack("ProbeForQuern2"));
    const std::string wineWrote = test::readFile(prefix + "/user.reg");
    expectSameKeys(quernWrote, wineWrote, u"Quern");

    // And what Wine read is what the changes meant.
    Key wineRoot(u"", nullptr, nullptr);
    (void)parseRegFile(wineWrote, wineRoot);
    const Key* quernOdd = wineRoot.findSubkey(u"QuernOdd");
    ASSERT_NE(quernOdd, nullptr);
    const auto l = quernOdd->findValue(u"l");
    ASSERT_GE(l, 0);
    EXPECT_EQ(quernOdd->values[static_cast<std::size_t>(l)].data, test::utf16zBytes(u"new"));
    EXPECT_EQ(quernOdd->findValue(u"i"), -1);
    EXPECT_EQ(wineRoot.findSubkey(u"QuernA"), nullptr);
    const Key* last = wineRoot.findSubkey(u"QuernLast");
    ASSERT_NE(last, nullptr);
    const auto trunc = last->findValue(u"trunc");
    ASSERT_GE(trunc, 0);
    EXPECT_TRUE(last->values[static_cast<std::size_t>(trunc)].data.empty()) << "still cut short for Wine";
}
