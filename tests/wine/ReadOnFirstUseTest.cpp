// A Wine file read on first use must be the file read whole: the whole file's reader is the
// oracle. Random files, in wineserver's order and out of it, with odd names and lines, are opened
// both ways, walked, changed the same way and written; the files on disk must come out byte for
// byte the same.
#include "TestSupport.h"
#include "codec/Utf.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace quern;
using namespace quern::reg;

namespace {

constexpr std::uint64_t kFixedTime = 0x1dd9000000000000ull;

std::unique_ptr<WinePrefixStore> openPrefix(const std::string& dir, bool onFirstUse) {
    WinePrefixOptions options = test::testPrefixOptions(dir, dir + "/.servers");
    options.clock = [] { return kFixedTime; };
    options.readOnFirstUseFrom = onFirstUse ? 0 : ~std::uint64_t { 0 };
    return std::make_unique<WinePrefixStore>(options);
}

std::string hexOf(const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : data) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

// Everything the store tells of a key and the keys below it, links not followed, one line each.
void dumpKey(RegStore& store, HKey key, const std::string& path, std::string& out, std::vector<std::string>* paths) {
    KeyInfo info;
    if (store.queryInfo(key, info) != Status::Ok) {
        out += path + " unreadable\n";
        return;
    }
    if (paths) paths->push_back(path);
    out += path + " subkeys=" + std::to_string(info.subkeyCount) + " values=" + std::to_string(info.valueCount)
        + " time=" + std::to_string(info.lastWriteTime) + " class=" + toUtf8(info.className)
        + (info.isLink ? " link" : "") + " longest=" + std::to_string(info.maxSubkeyNameLength) + "/"
        + std::to_string(info.maxValueNameLength) + "/" + std::to_string(info.maxValueDataLength) + "\n";
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; store.enumValue(key, i, name, &type, &data) == Status::Ok; ++i)
        out += "  " + toUtf8(name) + " " + std::to_string(type) + " " + hexOf(data) + "\n";
    std::vector<std::u16string> subkeys;
    for (std::uint32_t i = 0; store.enumKey(key, i, name) == Status::Ok; ++i)
        subkeys.push_back(name);
    for (const auto& sub : subkeys) {
        HKey child = kNoKey;
        if (store.openKey(key, sub, Access::Read, kOpenLink, child) != Status::Ok) {
            out += path + "\\" + toUtf8(sub) + " does not open\n";
            continue;
        }
        dumpKey(store, child, path + "\\" + toUtf8(sub), out, paths);
        (void)store.closeKey(child);
    }
}

// The first line where two dumps differ, with the line before, for a readable failure.
std::string firstDifference(const std::string& a, const std::string& b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    if (at == a.size() && at == b.size()) return {};
    const std::size_t from = a.rfind('\n', a.rfind('\n', at == 0 ? 0 : at - 1) - 1);
    const std::size_t start = from == std::string::npos ? 0 : from + 1;
    return "first:\n" + a.substr(start, 300) + "\nsecond:\n" + b.substr(start, 300);
}

std::string dump(RegStore& store, std::vector<std::string>* paths = nullptr) {
    std::string out;
    dumpKey(store, kLocalMachine, "HKLM", out, paths);
    dumpKey(store, kUsers, "HKU", out, paths);
    return out;
}

// Names as they stand in a key line: plain ones first, then escaped ones and raw UTF-8.
const char* const kNames[] = { "Software", "Alpha", "alpha", "_under", "with space", "Zed", "a1", "A1", "x", "caf\\xe9",
    "\xc3\x9cnicode", "br\\[a\\]cket", "tab\\tname" };
constexpr std::size_t kPlainNames = 9;

// Value lines, some of which wineserver cannot read.
const char* const kValues[] = { "@=\"default\"", "\"Str\"=\"text with \\\"quote\\\"\"", "\"Exp\"=str(2):\"%PATH%\"",
    "\"Multi\"=str(7):\"a\\0b\\0\"", "\"Dw\"=dword:0000001f", "\"Bin\"=hex:de,ad,be,ef",
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
    "  19,1a,1b,1c,1d,1e,1f",
    "\"Q\"=hex(b):01,00,00,00,00,00,00,00", "\"Caf\\xe9\"=\"x\"", "\"Spaced\" = dword:2" };
const char* const kOddLines[]
    = { ";; a comment", "#unknown=1", "\"Bad\"=hex:zz,", "garbage line", "\"Dw\"=dword:00000002", "\"Str\"=str(x):1" };

struct Block {
    std::vector<std::u16string> sortKey; // the path's parts as names, to order blocks as wineserver does
    std::string text;
};

// A system.reg of random keys. In wineserver's order its keys each stand once, spelled one way;
// otherwise blocks are shuffled, may be repeated or have key lines that cannot be read, and unless
// the names are plain, a key may be spelled two ways.
std::string randomRegFile(std::mt19937& rng, bool wineOrder, bool oddLines, bool plainNames) {
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    std::vector<Block> blocks;
    std::vector<std::pair<std::string, std::vector<std::u16string>>> level { { "", {} } };
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
        std::vector<std::pair<std::string, std::vector<std::u16string>>> next;
        for (const auto& [parent, parts] : level) {
            const int children = depth == 0 ? 5 : static_cast<int>(rng() % 4);
            std::vector<std::u16string> taken;
            for (int c = 0; c < children; ++c) {
                const std::string raw = kNames[rng() % (plainNames ? kPlainNames : std::size(kNames))];
                std::u16string name;
                std::size_t pos = 0;
                (void)parseEscaped(raw + "]", pos, ']', name);
                const bool clash = std::any_of(taken.begin(), taken.end(), [&](const std::u16string& t) {
                    return wineOrder || plainNames ? compareNames(t, name) == 0 : t == name;
                });
                if (clash) continue;
                taken.push_back(name);
                std::vector<std::u16string> childParts = parts;
                childParts.push_back(name);
                const std::string path = parent.empty() ? raw : parent + "\\\\" + raw;
                next.emplace_back(path, childParts);
                const bool leaf = depth == 3;
                if (!leaf && !chance(50)) continue;
                std::string text = "[" + path + "] 1700000000\n";
                if (chance(80)) text += "#time=1d9" + std::to_string(rng() % 10) + "0000000000\n";
                if (chance(10)) text += "#class=\"cls\"\n";
                const int values = static_cast<int>(rng() % 4);
                std::vector<std::string> lines;
                for (int v = 0; v < values; ++v)
                    lines.push_back(kValues[rng() % std::size(kValues)]);
                if (oddLines && chance(30)) lines.push_back(kOddLines[rng() % std::size(kOddLines)]);
                for (const auto& line : lines)
                    text += line + "\n";
                blocks.push_back({ childParts, text });
            }
        }
        level = std::move(next);
    }
    if (wineOrder || plainNames) {
        std::stable_sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) {
            return std::lexicographical_compare(a.sortKey.begin(), a.sortKey.end(), b.sortKey.begin(), b.sortKey.end(),
                [](const std::u16string& x, const std::u16string& y) { return compareNames(x, y) < 0; });
        });
        // Out of order only in that the top keys stand last to first, each with its keys in order.
        if (!wineOrder)
            std::stable_sort(blocks.begin(), blocks.end(),
                [](const Block& a, const Block& b) { return compareNames(a.sortKey[0], b.sortKey[0]) > 0; });
    } else {
        std::shuffle(blocks.begin(), blocks.end(), rng);
        if (!blocks.empty() && chance(50)) blocks.push_back(blocks[rng() % blocks.size()]);
        if (chance(30))
            blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(rng() % blocks.size()),
                { {}, "[Broken\n\"v\"=dword:1\n" });
    }
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    // Blocks stand apart by an empty line, as wineserver writes them, or two, or none at all.
    for (const Block& block : blocks)
        text += (chance(10) ? "\n\n" : (chance(10) ? "" : "\n")) + block.text;
    // A file may end inside hex data that says it goes on.
    if (oddLines && chance(20))
        text += "\"Cut\"=hex:00,01,\\";
    else if (chance(15))
        text.pop_back(); // no line end after the last line
    if (chance(10)) {
        std::string crlf;
        for (char c : text)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        text = crlf;
    }
    return text;
}

// A random change, made the same way in both stores; each must answer it alike.
void changeBoth(std::mt19937& rng, RegStore& whole, RegStore& onFirstUse, const std::vector<std::string>& paths) {
    const std::string& at = paths[rng() % paths.size()];
    const HKey root = at.starts_with("HKLM") ? kLocalMachine : kUsers;
    const std::u16string path = toUtf16(at.substr(at.find('\\') == std::string::npos ? at.size() : at.find('\\') + 1));
    const int what = static_cast<int>(rng() % 5);
    const std::u16string name = what == 0 ? u"Str" : u"New" + toUtf16(std::to_string(rng() % 5));
    std::vector<Status> results;
    for (RegStore* store : { &whole, &onFirstUse }) {
        HKey key = kNoKey;
        Status st = store->openKey(root, path, Access::Full, kOpenLink, key);
        if (st.ok()) {
            if (what <= 1) st = store->setValue(key, name, kRegDword, std::vector<std::uint8_t> { 1, 2, 3, 4 });
            if (what == 2) st = store->deleteValue(key, u"Dw");
            if (what == 3) {
                HKey made = kNoKey;
                st = store->createKey(key, name, Access::Read, kOptionNone, made);
                if (st.ok()) (void)store->closeKey(made);
            }
            (void)store->closeKey(key);
        }
        if (what == 4 && !path.empty()) st = store->deleteKey(root, path);
        results.push_back(st);
    }
    EXPECT_EQ(results[0].code(), results[1].code()) << at;
}

} // namespace

TEST(ReadOnFirstUse, RandomFilesReadAndWrittenAsTheWholeFileReaderDoes) {
    std::mt19937 rng(20261208);
    int indexed = 0;
    for (int round = 0; round < 80; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool wineOrder = round % 4 != 3;
        const std::string text = randomRegFile(rng, wineOrder, round % 2 == 1, round % 3 == 0);
        test::TempDir wholeDir;
        test::TempDir lazyDir;
        for (const auto* dir : { &wholeDir, &lazyDir }) {
            test::copySamplePrefix(dir->path());
            test::writeFile(*dir / "system.reg", text);
        }
        auto whole = openPrefix(wholeDir.path(), false);
        std::vector<std::string> paths;
        const std::string expected = dump(*whole, &paths);
        {
            auto lazy = openPrefix(lazyDir.path(), true);
            if (lazy->hive(WinePrefixStore::kSystem).index) ++indexed;
            EXPECT_EQ(firstDifference(dump(*lazy), expected), "");
            // Lines Wine cannot read are told once, as the whole read tells them.
            EXPECT_LE(std::count_if(lazy->loadMessages().begin(), lazy->loadMessages().end(),
                          [](const std::string& m) { return m.find("system.reg, line") != std::string::npos; }),
                1);
        }
        // Changed where the lazy store has read nothing yet: the keys it never read are copied.
        auto lazy = openPrefix(lazyDir.path(), true);
        for (int batch = 0; batch < 4; ++batch) {
            WriteBatch wholeBatch(*whole);
            WriteBatch lazyBatch(*lazy);
            for (int change = 0; change < 2; ++change)
                changeBoth(rng, *whole, *lazy, paths);
            const Status wholeEnd = wholeBatch.finish(ChangeLabel { "change", "", "" });
            const Status lazyEnd = lazyBatch.finish(ChangeLabel { "change", "", "" });
            EXPECT_EQ(wholeEnd.code(), lazyEnd.code()) << lazyEnd.message();
            // Undo puts deleted keys back and writes them anew, values and all.
            if (rng() % 3 == 0) {
                EXPECT_EQ(whole->undoChange().code(), lazy->undoChange().code());
            }
            for (const char* name : { "system.reg", "user.reg" })
                ASSERT_EQ(firstDifference(test::readFile(lazyDir / name), test::readFile(wholeDir / name)), "") << name;
            paths.clear();
            (void)dump(*whole, &paths);
        }
        EXPECT_EQ(firstDifference(dump(*lazy), dump(*whole)), "");
        // Read again, both tell what the files say (values in the file's order, times of keys
        // without a block from the first block below them).
        EXPECT_EQ(
            firstDifference(dump(*openPrefix(lazyDir.path(), true)), dump(*openPrefix(wholeDir.path(), false))), "");
    }
    // Most files in wineserver's order are read on first use; the rest fall back to a whole read.
    EXPECT_GT(indexed, 40);
}

TEST(ReadOnFirstUse, AFileChangedUnderItsMappingIsSaidToBeChangedNeverMisread) {
    test::TempDir dir;
    test::copySamplePrefix(dir.path());
    const std::string original = test::readFile(dir / "system.reg");
    // Rewritten in place as an editor that saves in place does; cut short far before the keys asked
    // for next; cut inside its last page, whose end then reads as zeros, and read at once.
    for (const int change : { 0, 1, 2 }) {
        SCOPED_TRACE(change == 0 ? "written in place" : (change == 1 ? "cut short" : "cut inside its last page"));
        test::writeFile(dir / "system.reg", original);
        auto store = openPrefix(dir.path(), true);
        ASSERT_TRUE(store->hive(WinePrefixStore::kSystem).index);
        const std::u16string parent = change == 2 ? u"System" : u"Software";
        const std::u16string child = change == 2 ? u"Select" : u"Classes";
        HKey above = kNoKey;
        ASSERT_EQ(store->openKey(kLocalMachine, parent, Access::Read, kOptionNone, above), Status::Ok);
        {
            const int fd = ::open((dir / "system.reg").c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            if (change == 0) {
                const std::string garbage(original.size() / 2, 'x');
                ASSERT_EQ(::pwrite(fd, garbage.data(), garbage.size(), 4096), static_cast<ssize_t>(garbage.size()));
            } else {
                ASSERT_EQ(::ftruncate(fd, change == 1 ? 4096 : static_cast<off_t>(original.size() - 20)), 0);
            }
            ::close(fd);
        }
        if (change != 2) ::usleep(60000); // past the interval within which a file is looked at once
        KeyInfo info;
        HKey key = kNoKey;
        Status st = store->openKey(above, child, Access::Read, kOptionNone, key);
        if (st.ok()) st = store->queryInfo(key, info);
        EXPECT_EQ(st, Status::ChangedOnDisk);
        EXPECT_NE(st.message().find("system.reg was changed on disk"), std::string::npos) << st.message();
        (void)store->closeKey(key);
        (void)store->closeKey(above);
        // A refresh reads the file as it is now.
        EXPECT_EQ(store->refresh(), Status::Ok);
        EXPECT_EQ(firstDifference(dump(*store), dump(*openPrefix(dir.path(), false))), "");
    }
}

// A large file is indexed in two halves at once; a key out of order where they meet must be found
// as anywhere else.
TEST(ReadOnFirstUse, ALargeFileReadInTwoHalvesIsTheFileReadWhole) {
    const std::string sample = test::readFile(test::samplePrefixDir() + "/system.reg");
    const std::size_t firstBlock = sample.find("\n[") + 1;
    auto copies = [&](const std::vector<int>& order) {
        std::string text = sample.substr(0, firstBlock);
        for (int copy : order) {
            const std::string prefix = "[Copy" + std::to_string(copy) + "\\\\";
            for (std::size_t pos = firstBlock; pos < sample.size();) {
                std::size_t end = sample.find('\n', pos);
                end = end == std::string::npos ? sample.size() : end + 1;
                text += sample[pos] == '[' ? prefix + sample.substr(pos + 1, end - pos - 1)
                                           : sample.substr(pos, end - pos);
                pos = end;
            }
        }
        return text;
    };
    for (const bool inOrder : { true, false }) {
        SCOPED_TRACE(inOrder ? "in order" : "two keys swapped where the halves meet");
        test::TempDir dir;
        test::copySamplePrefix(dir.path());
        test::writeFile(
            dir / "system.reg", copies(inOrder ? std::vector { 0, 1, 2, 3, 4, 5 } : std::vector { 0, 1, 3, 2, 4, 5 }));
        auto lazy = openPrefix(dir.path(), true);
        EXPECT_EQ(lazy->hive(WinePrefixStore::kSystem).index != nullptr, inOrder);
        EXPECT_EQ(firstDifference(dump(*lazy), dump(*openPrefix(dir.path(), false))), "");
    }
}

// A file whose last line has no line end gets one when a key is written after it: the block stays
// the one its key was read from, both readers write the same file, and a second write in the same
// session writes what it would after the file was read again.
TEST(ReadOnFirstUse, AKeyWrittenAfterALastLineWithoutItsEndKeepsTheBlockBeforeReadable) {
    std::string text = test::readFile(test::samplePrefixDir() + "/system.reg");
    text.pop_back();
    test::TempDir wholeDir;
    test::TempDir lazyDir;
    for (const auto* dir : { &wholeDir, &lazyDir }) {
        test::copySamplePrefix(dir->path());
        test::writeFile(*dir / "system.reg", text);
    }
    for (const bool onFirstUse : { false, true }) {
        auto store = openPrefix(onFirstUse ? lazyDir.path() : wholeDir.path(), onFirstUse);
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        HKey select = kNoKey;
        ASSERT_EQ(store->openKey(kLocalMachine, u"System\\Select", Access::Read, kOptionNone, select), Status::Ok);
        EXPECT_EQ(store->queryValue(select, u"Current", type, data), Status::Ok);
        HKey after = kNoKey;
        ASSERT_EQ(store->createKey(kLocalMachine, u"Zzz", Access::Read, kOptionNone, after), Status::Ok);
        EXPECT_EQ(store->queryValue(select, u"Current", type, data), Status::Ok);
        EXPECT_EQ(data, (std::vector<std::uint8_t> { 1, 0, 0, 0 }));
        (void)store->closeKey(after);
        (void)store->closeKey(select);
    }
    EXPECT_EQ(firstDifference(test::readFile(lazyDir / "system.reg"), test::readFile(wholeDir / "system.reg")), "");
    // Two writes in one session, against the second made after the file was read again.
    auto makeKey = [](RegStore& store, std::u16string_view path) {
        HKey key = kNoKey;
        EXPECT_EQ(store.createKey(kLocalMachine, path, Access::Read, kOptionNone, key), Status::Ok);
        (void)store.closeKey(key);
    };
    std::string expected;
    for (const int mode : { 0, 1, 2 }) { // read again between the writes; one session, whole; on first use
        test::TempDir dir;
        test::copySamplePrefix(dir.path());
        test::writeFile(dir / "system.reg", text);
        auto store = openPrefix(dir.path(), mode == 2);
        makeKey(*store, u"Zzz");
        if (mode == 0) store = openPrefix(dir.path(), false);
        makeKey(*store, u"Aaa"); // before the rest, which is copied
        if (mode == 0)
            expected = test::readFile(dir / "system.reg");
        else
            EXPECT_EQ(firstDifference(test::readFile(dir / "system.reg"), expected), "") << "mode " << mode;
    }
}
