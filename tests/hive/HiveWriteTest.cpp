#include "TestSupport.h"
#include "codec/Utf.h"
#include "hive/OfflineHive.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

// What hivex cannot write (big-data records, Windows' hashes and order of subkeys, a new key's
// own time and class name), checked against two readers that share nothing with Quern's writer:
// hivex itself (its tools and its C API) and a small parser below that walks the file as the
// format lays it out and checks every cell, hash and size on the way.

using namespace quern;
using namespace quern::reg;

namespace {

using test::run;

std::uint32_t u16(const std::string& b, std::size_t at) {
    return static_cast<std::uint8_t>(b.at(at))
        | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b.at(at + 1))) << 8;
}
std::uint32_t u32(const std::string& b, std::size_t at) {
    return u16(b, at) | u16(b, at + 2) << 16;
}
void set32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}
std::uint32_t checksumOf(const std::string& b) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 0x1fc; at += 4)
        sum ^= u32(b, at);
    return sum == 0 ? 1 : (sum == 0xffffffffu ? 0xfffffffeu : sum);
}

// Upper case as Windows has it, for the letters these tests name their keys with: ASCII, and a
// table written out by hand from the Unicode charts. ß and CJK have none; surrogates stay.
char16_t referenceUpper(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    static const std::map<char16_t, char16_t> table { { u'\u00e9', u'\u00c9' }, { u'\u00e4', u'\u00c4' },
        { u'\u043b', u'\u041b' }, { u'\u044e', u'\u042e' }, { u'\u0447', u'\u0427' }, { u'\u03ac', u'\u0386' },
        { u'\u03bb', u'\u039b' }, { u'\u03c6', u'\u03a6' }, { u'\u03b1', u'\u0391' }, { u'\u03c2', u'\u03a3' } };
    const auto found = table.find(c);
    return found == table.end() ? c : found->second;
}
std::uint32_t referenceHash(const std::u16string& name) {
    std::uint32_t h = 0;
    for (char16_t c : name)
        h = h * 37 + referenceUpper(c);
    return h;
}
bool referenceLess(const std::u16string& a, const std::u16string& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (referenceUpper(a[i]) != referenceUpper(b[i])) return referenceUpper(a[i]) < referenceUpper(b[i]);
    return a.size() < b.size();
}

// A hive file walked as the format lays it out. Problems are sentences; a sound file has none.
struct ParsedHive {
    struct Node {
        std::u16string name;
        bool compressed = false;
        std::uint64_t time = 0;
        std::u16string className;
        std::map<std::u16string, std::vector<std::uint8_t>> values;
        std::map<std::u16string, std::size_t> children;
    };
    std::string b;
    std::map<std::size_t, std::int32_t> cells; // every cell of every bin, with its size field
    std::set<std::size_t> referenced;
    std::map<std::size_t, Node> nodes;
    std::size_t root = 0;
    std::vector<std::string> problems;

    explicit ParsedHive(std::string bytes)
        : b(std::move(bytes)) {
        if (b.compare(0, 4, "regf") != 0) {
            problem("no regf");
            return;
        }
        if (u32(b, 0x1fc) != checksumOf(b)) problem("the base block's checksum is wrong");
        if (u32(b, 0x28) != b.size() - 0x1000) problem("the size of the bins is not the file's less the base block");
        for (std::size_t bin = 0x1000; bin < b.size();) {
            const std::size_t size = u32(b, bin + 8);
            if (b.compare(bin, 4, "hbin") != 0 || u32(b, bin + 4) != bin - 0x1000 || size == 0 || size % 0x1000
                || bin + size > b.size()) {
                problem("a bin is not one at " + std::to_string(bin));
                return;
            }
            for (std::size_t cell = bin + 0x20; cell < bin + size;) {
                const auto field = static_cast<std::int32_t>(u32(b, cell));
                const std::size_t length
                    = static_cast<std::size_t>(field < 0 ? -static_cast<std::int64_t>(field) : field);
                if (length < 8 || length % 8 || cell + length > bin + size) {
                    problem("a cell crosses its bin at " + std::to_string(cell));
                    return;
                }
                cells[cell] = field;
                cell += length;
            }
            bin += size;
        }
        root = 0x1000 + u32(b, 0x24);
        walk(root, 0);
        for (const auto& [cell, field] : cells) {
            if (field < 0 && !referenced.count(cell))
                problem("cell " + std::to_string(cell) + " is in use but unreferenced");
        }
    }
    void problem(const std::string& what) { problems.push_back(what); }
    // A cell in use holding at least length bytes of record; marked as referenced.
    bool use(std::size_t cell, std::size_t length, const char* what) {
        const auto found = cells.find(cell);
        if (found == cells.end() || found->second >= 0 || static_cast<std::size_t>(-found->second) < length + 4) {
            problem(std::string(what) + " at " + std::to_string(cell) + " is no cell in use");
            return false;
        }
        referenced.insert(cell);
        return true;
    }
    std::u16string nameAt(std::size_t at, std::size_t length, bool compressed) {
        std::u16string n;
        for (std::size_t i = 0; i < length; i += compressed ? 1 : 2)
            n.push_back(compressed ? static_cast<char16_t>(static_cast<std::uint8_t>(b[at + i]))
                                   : static_cast<char16_t>(u16(b, at + i)));
        return n;
    }
    void walk(std::size_t nk, int depth) {
        if (depth > 64 || !use(nk, 0x4c, "a key") || b.compare(nk + 4, 2, "nk") != 0) return problem("not a key");
        const std::size_t r = nk + 4;
        Node& node = nodes[nk];
        node.compressed = u16(b, r + 2) & 0x20;
        node.name = nameAt(r + 0x4c, u16(b, r + 0x48), node.compressed);
        node.time = u32(b, r + 4) | static_cast<std::uint64_t>(u32(b, r + 8)) << 32;
        bool latin1 = true;
        for (char16_t c : node.name)
            latin1 = latin1 && c <= 0xff;
        if (node.compressed != latin1)
            problem("the name of a key is not kept in one byte a character exactly when it can be");
        if (u32(b, r + 0x2c) != 0xffffffffu) referenced.insert(0x1000 + u32(b, r + 0x2c)); // its security, shared
        if (u32(b, r + 0x30) != 0xffffffffu && u16(b, r + 0x4a)) {
            const std::size_t cls = 0x1000 + u32(b, r + 0x30);
            if (use(cls, u16(b, r + 0x4a), "a class name")) node.className = nameAt(cls + 4, u16(b, r + 0x4a), false);
        }
        readValues(nk, node);
        const std::size_t count = u32(b, r + 0x14);
        const std::size_t list = 0x1000 + u32(b, r + 0x1c);
        if (!count) {
            // An emptied list may stay, still named by its key.
            if (u32(b, r + 0x1c) != 0xffffffffu && cells.count(list)) referenced.insert(list);
            return;
        }
        if (!use(list, 4, "a subkey list")) return;
        std::vector<std::size_t> leaves { list };
        if (b.compare(list + 4, 2, "ri") == 0) {
            leaves.clear();
            for (std::size_t i = 0; i < u16(b, list + 6); ++i)
                leaves.push_back(0x1000 + u32(b, list + 8 + 4 * i));
        }
        std::vector<std::u16string> order;
        for (std::size_t leaf : leaves) {
            if (leaf != list && !use(leaf, 4, "a leaf")) continue;
            const std::string kind = b.substr(leaf + 4, 2);
            const std::size_t step = kind == "li" ? 4 : 8;
            for (std::size_t i = 0; i < u16(b, leaf + 6); ++i) {
                const std::size_t child = 0x1000 + u32(b, leaf + 8 + i * step);
                walk(child, depth + 1);
                const std::u16string& name = nodes[child].name;
                order.push_back(name);
                node.children[name] = child;
                std::uint32_t hint = 0;
                for (std::size_t k = 0; k < 4 && k < name.size(); ++k)
                    hint = name[k] > 0xff || hint == 0xffffffffu
                        ? 0xffffffffu
                        : hint | static_cast<std::uint32_t>(name[k]) << (8 * k);
                if (kind == "lh" && u32(b, leaf + 12 + i * 8) != referenceHash(name))
                    problem("the hash of \"" + toUtf8(name) + "\" is not Windows' own");
                if (kind == "lf" && u32(b, leaf + 12 + i * 8) != (hint == 0xffffffffu ? 0 : hint))
                    problem("the hint of \"" + toUtf8(name) + "\" is not its first four characters");
            }
        }
        if (order.size() != count) problem("a key counts other subkeys than its list holds");
        for (std::size_t i = 1; i < order.size(); ++i)
            if (!referenceLess(order[i - 1], order[i]))
                problem("\"" + toUtf8(order[i]) + "\" is out of Windows' order");
    }
    void readValues(std::size_t nk, Node& node) {
        const std::size_t r = nk + 4;
        const std::size_t count = u32(b, r + 0x24);
        if (!count) return;
        const std::size_t list = 0x1000 + u32(b, r + 0x28);
        if (!use(list, 4 * count, "a value list")) return;
        std::size_t largest = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t vk = 0x1000 + u32(b, list + 4 + 4 * i);
            if (!use(vk, 0x14, "a value") || b.compare(vk + 4, 2, "vk") != 0) continue;
            const std::u16string name = nameAt(vk + 4 + 0x14, u16(b, vk + 6), u16(b, vk + 4 + 0x10) & 1);
            const std::uint32_t length = u32(b, vk + 8);
            std::vector<std::uint8_t>& data = node.values[name];
            if (length & 0x80000000u) {
                for (std::size_t k = 0; k < (length & 0x7fffffffu); ++k)
                    data.push_back(static_cast<std::uint8_t>(b[vk + 0xc + k]));
                continue;
            }
            largest = std::max<std::size_t>(largest, length);
            const std::size_t cell = 0x1000 + u32(b, vk + 0xc);
            if (length <= 16344 || u32(b, 0x18) < 4) {
                if (use(cell, length, "value data")) data.assign(b.begin() + cell + 4, b.begin() + cell + 4 + length);
                continue;
            }
            if (!use(cell, 8, "a big-data record") || b.compare(cell + 4, 2, "db") != 0) {
                problem("\"" + toUtf8(name) + "\" is over 16,344 bytes and has no big-data record");
                continue;
            }
            const std::size_t segments = u16(b, cell + 6);
            if (segments != (length + 16343) / 16344) problem("a big-data record counts the wrong number of segments");
            const std::size_t segmentList = 0x1000 + u32(b, cell + 8);
            if (!use(segmentList, 4 * segments, "a segment list")) continue;
            for (std::size_t s = 0; s < segments; ++s) {
                const std::size_t segment = 0x1000 + u32(b, segmentList + 4 + 4 * s);
                const std::size_t part = std::min<std::size_t>(16344, length - s * 16344);
                if (use(segment, part, "a segment"))
                    data.insert(data.end(), b.begin() + segment + 4, b.begin() + segment + 4 + part);
            }
        }
        if (u32(b, r + 0x40) < largest) problem("a key's largest data length is too small");
    }
    // The node at a path of names below the root, or 0.
    std::size_t find(std::initializer_list<std::u16string> path) {
        std::size_t at = root;
        for (const auto& name : path) {
            const auto found = nodes[at].children.find(name);
            if (found == nodes[at].children.end()) return 0;
            at = found->second;
        }
        return at;
    }
};

// Appends a bin to a hive holding these records, each in a cell in use, as another program would
// have written them; their cells' offsets. The base block follows.
std::vector<std::size_t> appendCells(std::string& bytes, const std::vector<std::string>& records) {
    const std::size_t bin = bytes.size();
    bytes.resize(bin + 0x1000, '\0');
    bytes.replace(bin, 4, "hbin");
    set32(bytes, bin + 4, static_cast<std::uint32_t>(bin - 0x1000));
    set32(bytes, bin + 8, 0x1000);
    std::vector<std::size_t> cells;
    std::size_t at = bin + 0x20;
    for (const std::string& record : records) {
        const std::size_t size = (record.size() + 4 + 7) / 8 * 8;
        set32(bytes, at, static_cast<std::uint32_t>(-static_cast<std::int64_t>(size)));
        bytes.replace(at + 4, record.size(), record);
        cells.push_back(at);
        at += size;
    }
    set32(bytes, at, static_cast<std::uint32_t>(bin + 0x1000 - at));
    set32(bytes, 0x28, static_cast<std::uint32_t>(bytes.size() - 0x1000));
    set32(bytes, 0x1fc, checksumOf(bytes));
    return cells;
}

// Reads a value through hivex's C API, as every tool built on it would.
std::vector<std::uint8_t> hivexValue(const std::string& hive, const char* key, const char* value) {
    hive_h* h = hivex_open(hive.c_str(), 0);
    if (!h) return { 0xee };
    std::vector<std::uint8_t> out { 0xee };
    const hive_node_h node = hivex_node_get_child(h, hivex_root(h), key);
    const hive_value_h v = node ? hivex_node_get_value(h, node, value) : 0;
    hive_type type {};
    std::size_t length = 0;
    if (char* data = v ? hivex_value_value(h, v, &type, &length) : nullptr) {
        out.assign(data, data + length);
        std::free(data);
    }
    hivex_close(h);
    return out;
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xff);
    return data;
}

constexpr std::uint64_t kClockTime = 0x01d9aabbccddee00ull;

class HiveWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(writeEmptyHive(path), Status::Ok);
        mount();
    }
    void mount() {
        MemoryRegistryOptions options;
        options.clock = [this] { return clock; };
        store = std::make_unique<MemoryRegistry>(options);
        ASSERT_EQ(mountHiveFile(*store, kLocalMachine, u"TEST", path), Status::Ok);
    }
    HKey open(std::u16string_view below) {
        HKey key = kNoKey;
        EXPECT_EQ(store->createKey(kLocalMachine, u"TEST\\" + std::u16string(below), Access::Full, kOptionNone, key),
            Status::Ok);
        return key;
    }
    ParsedHive parsed() {
        ParsedHive hive(test::readFile(path));
        EXPECT_EQ(hive.problems, std::vector<std::string> {});
        return hive;
    }

    test::TempDir dir;
    std::string path = dir / "SOFTWARE";
    std::uint64_t clock = kClockTime;
    std::unique_ptr<MemoryRegistry> store;
};

} // namespace

TEST_F(HiveWriteTest, ValuesOverOneCellAreWrittenAsBigDataThatHivexAndTheFormatReadBack) {
    std::map<std::u16string, std::vector<std::uint8_t>> expected;
    auto setAll = [&](HKey key, std::initializer_list<std::pair<const char16_t*, std::size_t>> sizes, unsigned seed) {
        WriteBatch batch(*store);
        for (const auto& [name, size] : sizes) {
            expected[name] = pattern(size, seed++);
            ASSERT_EQ(store->setValue(key, name, kRegBinary, expected[name]), Status::Ok) << toUtf8(name);
        }
        ASSERT_EQ(batch.finish(), Status::Ok);
    };
    auto readBack = [&](const char* when) {
        SCOPED_TRACE(when);
        ParsedHive hive = parsed();
        const std::size_t big = hive.find({ u"Big" });
        ASSERT_NE(big, 0u);
        EXPECT_EQ(hive.nodes[big].values, expected);
        for (const auto& [name, data] : expected)
            EXPECT_EQ(hivexValue(path, "Big", toUtf8(name).c_str()), data) << toUtf8(name);
        EXPECT_EQ(run("hivexml '" + path + "' >/dev/null 2>&1; echo $?"), "0\n");
        // And Quern's own reader, from the file.
        mount();
        HKey key = kNoKey;
        ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Big", Access::Full, kOptionNone, key), Status::Ok);
        for (const auto& [name, data] : expected) {
            std::uint32_t type = 0;
            std::vector<std::uint8_t> read;
            EXPECT_EQ(store->queryValue(key, name, type, read), Status::Ok);
            EXPECT_EQ(read, data) << toUtf8(name);
        }
    };

    // Version 1.5 (the empty hive's): each size around a segment's edge, and one of a megabyte,
    // in one batch beside a small value.
    HKey key = open(u"Big");
    setAll(key,
        { { u"edge", 16344 }, { u"over", 16345 }, { u"two", 32688 }, { u"three", 32689 }, { u"mega", 1 << 20 },
            { u"small", 4 } },
        1);
    readBack("written");
    const std::string listed = run("hivexget '" + path + "' '\\Big' over");
    EXPECT_TRUE(listed == std::string(expected[u"over"].begin(), expected[u"over"].end()))
        << "hivexget prints the value whole, " << listed.size() << " bytes";

    // Edited smaller (into one cell, and inline) and larger again: the old segments are freed
    // (the parser finds no cell in use that nothing refers to), and an edit beside them works.
    key = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Big", Access::Full, kOptionNone, key), Status::Ok);
    setAll(key, { { u"mega", 100 }, { u"three", 16344 }, { u"two", 3 } }, 20);
    readBack("smaller");
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Big", Access::Full, kOptionNone, key), Status::Ok);
    setAll(key, { { u"mega", 50000 }, { u"two", 16345 }, { u"beside", 4 } }, 40);
    readBack("larger again");
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Big", Access::Full, kOptionNone, key), Status::Ok);
    setAll(key, { { u"beside", 8 } }, 60);
    readBack("beside them");

    // A key holding big values deleted with its parent: nothing of them stays in use.
    HKey deep = open(u"Gone\\Deep");
    ASSERT_EQ(store->setValue(deep, u"v", kRegBinary, pattern(70000, 9)), Status::Ok);
    ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Gone\\Deep"), Status::Ok);
    ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Gone"), Status::Ok);
    EXPECT_EQ(parsed().find({ u"Gone" }), 0u);
    // A key's only subkey replaced in one batch (as a rename makes it): its emptied list goes too.
    (void)store->closeKey(open(u"Solo\\Only"));
    {
        WriteBatch batch(*store);
        (void)store->closeKey(open(u"Solo\\Other"));
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Solo\\Only"), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    EXPECT_NE(parsed().find({ u"Solo", u"Other" }), 0u);
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Big", Access::Full, kOptionNone, key), Status::Ok);

    // A write that fails while the record is put in (the disk full past what hivex wrote)
    // leaves the hive byte for byte as it was, and memory too.
    const std::string before = test::readFile(path);
    const Status tooLong = store->setValue(key, u"huge", kRegBinary, std::vector<std::uint8_t>(8000001));
    EXPECT_EQ(tooLong, Status::WriteFailed);
    EXPECT_NE(tooLong.message().find("more than hivex reads back"), std::string::npos) << tooLong.message();
    EXPECT_EQ(test::readFile(path), before);
    {
        const test::FileSizeLimit fullDisk(static_cast<unsigned long>(before.size() + 0x4000));
        const Status failed = store->setValue(key, u"huge", kRegBinary, pattern(300000, 3));
        EXPECT_EQ(failed, Status::WriteFailed);
        EXPECT_NE(failed.message().find(path), std::string::npos) << failed.message();
    }
    EXPECT_EQ(test::readFile(path), before);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    EXPECT_EQ(store->queryValue(key, u"huge", type, data), Status::NotFound);
    EXPECT_EQ(run("ls -a '" + dir.path() + "' | grep -v orig | grep -c quern-"), "0\n") << "no temporary file is left";
    expected[u"huge"] = pattern(300000, 3);
    ASSERT_EQ(store->setValue(key, u"huge", kRegBinary, expected[u"huge"]), Status::Ok);
    readBack("after the failure");
}

TEST_F(HiveWriteTest, NewKeysWithAnyNameAreFiledUnderWindowsHashesInWindowsOrder) {
    // Names in one byte a character and in UTF-16, with a surrogate pair, and ASCII names that
    // hivex's own order (lower case) puts elsewhere than Windows' (upper case).
    const std::vector<std::u16string> names { u"Stra\u00dfe", u"caf\u00e9", u"\u041a\u043b\u044e\u0447",
        u"\u03ac\u03bb\u03c6\u03b1\u03c2", u"\u9375", u"\U0001F600key", u"_under", u"Zed", u"abc" };
    {
        WriteBatch batch(*store);
        for (const auto& name : names)
            (void)store->closeKey(open(u"Names\\" + name));
        (void)store->closeKey(open(u"Names\\caf\u00e9\\Inner \u0416"));
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    // One more into the list already written, as a later command adds it.
    (void)store->closeKey(open(u"Names\\\u00e4rger"));

    ParsedHive hive = parsed(); // hashes, order, name encodings
    for (const auto& name : names)
        EXPECT_NE(hive.find({ u"Names", name }), 0u) << toUtf8(name);
    EXPECT_NE(hive.find({ u"Names", u"caf\u00e9", u"Inner \u0416" }), 0u);
    EXPECT_TRUE(hive.nodes[hive.find({ u"Names", u"Stra\u00dfe" })].compressed);
    EXPECT_FALSE(hive.nodes[hive.find({ u"Names", u"\u9375" })].compressed);
    // hivex finds them by name, and Quern reads them back.
    EXPECT_EQ(run("hivexget '" + path + "' '\\Names\\\u041a\u043b\u044e\u0447' 2>&1"), "");
    EXPECT_EQ(run("hivexget '" + path + "' '\\Names\\caf\u00e9\\Inner \u0416' 2>&1"), "");
    mount();
    HKey key = kNoKey;
    EXPECT_EQ(store->openKey(kLocalMachine, u"TEST\\Names\\\U0001F600KEY", Access::Read, kOptionNone, key), Status::Ok);

    // Lone surrogates, which hivex cannot take at all (a value so named crashed it), in key and
    // value names; an edit beside such a value later.
    const std::u16string high = u"A\xd800z", low = u"A\xdc00z";
    key = open(u"Lone\\" + high);
    (void)store->closeKey(open(u"Lone\\" + low));
    ASSERT_EQ(store->setValue(key, low, kRegDword, bytes({ 5, 0, 0, 0 })), Status::Ok);
    ASSERT_EQ(store->setValue(key, u"plain", kRegDword, bytes({ 6, 0, 0, 0 })), Status::Ok);
    hive = parsed();
    ASSERT_NE(hive.find({ u"Lone", high }), 0u);
    EXPECT_NE(hive.find({ u"Lone", low }), 0u);
    EXPECT_EQ(hive.nodes[hive.find({ u"Lone", high })].values.count(low), 1u);
    mount();
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Lone\\" + high, Access::Read, kOptionNone, key), Status::Ok);
    EXPECT_EQ(store->queryValue(key, low, type, data), Status::Ok);
    EXPECT_EQ(data, bytes({ 5, 0, 0, 0 }));

    // A list of the older kind ("lf", four characters as hints) gets hints, not hashes.
    (void)store->closeKey(open(u"Fast\\Seed"));
    store.reset();
    std::string bytes = test::readFile(path);
    {
        ParsedHive before(bytes);
        const std::size_t fast = before.find({ u"Fast" });
        ASSERT_NE(fast, 0u);
        const std::size_t list = 0x1000 + u32(bytes, fast + 4 + 0x1c);
        ASSERT_EQ(bytes.substr(list + 4, 2), "lh");
        bytes.replace(list + 4, 2, "lf");
        bytes.replace(list + 12, 4, "Seed");
        test::writeFile(path, bytes);
        ASSERT_EQ(ParsedHive(bytes).problems, std::vector<std::string> {});
    }
    mount();
    {
        WriteBatch batch(*store);
        for (const auto* name : { u"\u00c4rger", u"\u041a\u043b\u044e\u0447", u"ab", u"Zz" })
            (void)store->closeKey(open(std::u16string(u"Fast\\") + name));
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    hive = parsed();
    EXPECT_EQ(hive.nodes[hive.find({ u"Fast" })].children.size(), 5u);

    // A list of lists ("ri", as a key of many subkeys has it): the keys added are ordered across
    // all its leaves.
    {
        WriteBatch batch(*store);
        for (const auto* name : { u"a", u"c", u"e", u"g" })
            (void)store->closeKey(open(std::u16string(u"Many\\") + name));
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    store.reset();
    bytes = test::readFile(path);
    {
        const std::size_t many = ParsedHive(bytes).find({ u"Many" });
        const std::size_t first = 0x1000 + u32(bytes, many + 4 + 0x1c);
        ASSERT_EQ(bytes.substr(first + 4, 4), std::string("lh\x04\0", 4));
        std::string second = "lh" + std::string("\x02\0", 2) + bytes.substr(first + 8 + 16, 16);
        const std::size_t leaf = appendCells(bytes, { second })[0];
        bytes[first + 6] = 2;
        std::string index = "ri" + std::string("\x02\0", 2) + std::string(8, '\0');
        set32(index, 4, static_cast<std::uint32_t>(first - 0x1000));
        set32(index, 8, static_cast<std::uint32_t>(leaf - 0x1000));
        const std::size_t ri = appendCells(bytes, { index })[0];
        set32(bytes, many + 4 + 0x1c, static_cast<std::uint32_t>(ri - 0x1000));
        set32(bytes, 0x1fc, checksumOf(bytes));
        test::writeFile(path, bytes);
        ASSERT_EQ(ParsedHive(bytes).problems, std::vector<std::string> {});
        ASSERT_EQ(ParsedHive(bytes).nodes[many].children.size(), 4u);
    }
    mount();
    {
        WriteBatch batch(*store);
        for (const auto* name : { u"h", u"b", u"\u00c4rger", u"d", u"_" })
            (void)store->closeKey(open(std::u16string(u"Many\\") + name));
        ASSERT_EQ(batch.finish(), Status::Ok);
    }
    hive = parsed();
    EXPECT_EQ(hive.nodes[hive.find({ u"Many" })].children.size(), 9u);
    EXPECT_EQ(hive.b.substr(0x1000 + u32(hive.b, hive.find({ u"Many" }) + 4 + 0x1c) + 4, 2), "ri");
    EXPECT_EQ(run("hivexget '" + path + "' '\\Many\\\u00c4rger' 2>&1"), "");
}

TEST_F(HiveWriteTest, ANewKeyHasItsOwnTimeAndAKeyBroughtBackKeepsItsClassName) {
    (void)store->closeKey(open(u"Parent"));
    clock = kClockTime + 1000;
    (void)store->closeKey(open(u"Parent\\Child"));
    ParsedHive hive = parsed();
    EXPECT_EQ(hive.nodes[hive.find({ u"Parent", u"Child" })].time, kClockTime + 1000);
    EXPECT_EQ(hive.nodes[hive.find({ u"Parent" })].time, kClockTime + 1000) << "its parent changed then too";

    // A key with a class name, put into the file by hand in a bin of its own (as another program
    // would have written it).
    store.reset();
    std::string bytes = test::readFile(path);
    const std::size_t child = ParsedHive(bytes).find({ u"Parent", u"Child" });
    const std::u16string className = u"Kl\u00e4sse";
    std::string record;
    for (char16_t c : className)
        record += { static_cast<char>(c & 0xff), static_cast<char>(c >> 8) };
    const std::size_t cls = appendCells(bytes, { record })[0];
    set32(bytes, child + 4 + 0x30, static_cast<std::uint32_t>(cls - 0x1000));
    bytes[child + 4 + 0x4a] = static_cast<char>(className.size() * 2);
    test::writeFile(path, bytes);
    ASSERT_EQ(ParsedHive(bytes).nodes[child].className, className);
    mount();

    // Deleted, then brought back by Undo: the key is added anew, with its class name and time.
    clock = kClockTime + 5000;
    {
        WriteBatch batch(*store);
        ASSERT_EQ(store->deleteKey(kLocalMachine, u"TEST\\Parent\\Child"), Status::Ok);
        ASSERT_EQ(batch.finish(ChangeLabel { "Delete", "HKEY_LOCAL_MACHINE\\TEST\\Parent\\Child", {} }), Status::Ok);
    }
    ASSERT_EQ(parsed().find({ u"Parent", u"Child" }), 0u);
    ASSERT_EQ(store->undoChange(), Status::Ok);
    hive = parsed();
    const ParsedHive::Node& back = hive.nodes[hive.find({ u"Parent", u"Child" })];
    EXPECT_EQ(back.className, className);
    EXPECT_EQ(back.time, kClockTime + 1000);
    mount();
    HKey key = kNoKey;
    ASSERT_EQ(store->openKey(kLocalMachine, u"TEST\\Parent\\Child", Access::Read, kOptionNone, key), Status::Ok);
    KeyInfo info;
    ASSERT_EQ(store->queryInfo(key, info), Status::Ok);
    EXPECT_EQ(info.className, className);
    EXPECT_EQ(info.lastWriteTime, kClockTime + 1000);
}
