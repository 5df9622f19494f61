#include "import/RegImport.h"
#include "TestSupport.h"
#include "codec/Utf.h"
#include "export/RegExport.h"
#include "hive/OfflineHive.h"
#include "import/KeyCopy.h"
#include "import/RegDiff.h"
#include "store/KeyWalk.h"
#include "store/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>

using namespace quern;
using namespace quern::reg;
using Bytes = std::vector<std::uint8_t>;

namespace {

void appendEscaped(std::u16string& out, std::u16string_view text) {
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') out.push_back(u'\\');
        if (c == u'\n' || c == u'\r') {
            out += c == u'\n' ? u"\\n" : u"\\r";
            continue;
        }
        out.push_back(c);
    }
}

// Every key below the roots a file can name, with its values' names, types and bytes, sorted: the
// oracle the round trips compare with. Links are listed as keys, as a file holds them.
std::string dump(RegStore& store, KeyWalk::Links links = KeyWalk::Links::AsKeys) {
    std::vector<std::string> lines;
    for (auto [root, name] : { std::pair { kLocalMachine, "HKLM" }, std::pair { kCurrentUser, "HKCU" } }) {
        KeyWalk walk(store, root, name, links);
        while (walk.next()) {
            std::u16string valueName;
            std::uint32_t type = 0;
            Bytes data;
            lines.push_back(walk.path());
            for (std::uint32_t i = 0; store.enumValue(walk.key(), i, valueName, &type, &data).ok(); ++i) {
                std::u16string escaped;
                appendEscaped(escaped, valueName);
                std::string line = walk.path() + " | " + toUtf8(escaped) + " | " + std::to_string(type) + " |";
                for (std::uint8_t b : data)
                    line += " " + std::to_string(b);
                lines.push_back(line);
            }
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

// The lines one dump has and the other lacks, for a failure that reads like a diff.
std::string difference(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& text) {
        std::vector<std::string> out;
        for (std::size_t start = 0, end; start < text.size(); start = end + 1)
            out.push_back(text.substr(start, (end = text.find('\n', start)) - start));
        return out;
    };
    const auto la = split(a);
    const auto lb = split(b);
    std::vector<std::string> onlyA;
    std::vector<std::string> onlyB;
    std::set_difference(la.begin(), la.end(), lb.begin(), lb.end(), std::back_inserter(onlyA));
    std::set_difference(lb.begin(), lb.end(), la.begin(), la.end(), std::back_inserter(onlyB));
    std::string text;
    for (std::size_t i = 0; i < onlyA.size() && i < 10; ++i)
        text += "- " + onlyA[i] + "\n";
    for (std::size_t i = 0; i < onlyB.size() && i < 10; ++i)
        text += "+ " + onlyB[i] + "\n";
    return text;
}

std::string hex(std::uint32_t number, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, number);
    return text;
}

// A Version 5.00 file of everything below the two roots, written here in the plainest way (every
// value in hex(N): form, bytes wrapped over continuation lines) so that the reader is checked
// against a writer of its own.
std::string version5File(RegStore& store) {
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n";
    for (auto [root, name] :
        { std::pair { kLocalMachine, "HKEY_LOCAL_MACHINE" }, std::pair { kCurrentUser, "HKEY_CURRENT_USER" } }) {
        KeyWalk walk(store, root, name, KeyWalk::Links::AsKeys);
        while (walk.next()) {
            text += u"\r\n[" + toUtf16(walk.path()) + u"]\r\n";
            std::u16string valueName;
            std::uint32_t type = 0;
            Bytes data;
            for (std::uint32_t i = 0; store.enumValue(walk.key(), i, valueName, &type, &data).ok(); ++i) {
                text += u"\"";
                appendEscaped(text, valueName);
                text += u"\"=hex(" + toUtf16(hex(type, 1)) + u"):";
                for (std::size_t b = 0; b < data.size(); ++b) {
                    if (b) text += b % 25 == 0 ? u",\\\r\n  " : u",";
                    text += toUtf16(hex(data[b], 2));
                }
                text += u"\r\n";
            }
        }
    }
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// The same registry as Quern's export writes it in the Version 5.00 form.
std::string exportedFile(RegStore& store) {
    test::TempDir dir;
    RegFileExport file(store);
    EXPECT_EQ(file.OpenRegFile(dir / "x.reg", RegFileForm::Unicode), reg::Status::Ok);
    file.ExportTree("HKEY_LOCAL_MACHINE\\");
    file.ExportTree("HKEY_CURRENT_USER\\");
    EXPECT_EQ(file.CloseRegFile(), reg::Status::Ok);
    EXPECT_TRUE(file.leftOutKeys().empty());
    return test::readFile(dir / "x.reg");
}

RegFileContent parsed(std::string_view bytes) {
    RegFileContent content;
    EXPECT_EQ(parseRegFile(bytes, "t.reg", content), Status::Ok);
    return content;
}

std::u16string randomName(std::mt19937& random, bool forKey) {
    static const std::u16string pieces[] = { u"a", u"Z", u"\"", u"\\", u" ", u"\u00e9", u"\u20ac", u"\u4e2d", u"]",
        u"[", u"=", u";", u"@", u"-", u"\n", u"\r", u"\xD83D\xDE00" };
    std::u16string name;
    const int length = static_cast<int>(random() % 6);
    for (int i = 0; i < length; ++i) {
        const std::u16string& piece = pieces[random() % std::size(pieces)];
        // A key's name holds no backslash and no line break: no registry file can write them.
        if (forKey && (piece == u"\\" || piece == u"\n" || piece == u"\r")) continue;
        name += piece;
    }
    if (forKey && name.empty()) name = u"k";
    return name;
}

// A registry of random keys and values of every type, odd lengths and odd types included.
void fillRandom(RegStore& store, unsigned seed) {
    std::mt19937 random(seed);
    const std::uint32_t types[] = { kRegNone, kRegSz, kRegExpandSz, kRegBinary, kRegDword, kRegDwordBigEndian, kRegLink,
        kRegMultiSz, 8, 9, 10, kRegQword, 0x12345678u, 0xffffffffu };
    std::vector<std::u16string> keys { u"Software\\Random" };
    WriteBatch batch(store);
    for (int k = 0; k < 60; ++k) {
        const std::u16string path = keys[random() % keys.size()] + u"\\" + randomName(random, true);
        keys.push_back(path);
        KeyHandle key(store);
        ASSERT_EQ(store.createKey(k % 2 ? kLocalMachine : kCurrentUser, path, Access::Full, kOptionNone, key.out()),
            Status::Ok);
        for (int v = static_cast<int>(random() % 6); v > 0; --v) {
            Bytes data(random() % 70);
            for (auto& b : data)
                b = static_cast<std::uint8_t>(random());
            ASSERT_EQ(store.setValue(key.get(), randomName(random, false), types[random() % std::size(types)], data),
                Status::Ok);
        }
    }
    ASSERT_EQ(batch.finish(), Status::Ok);
}

// Random changes to a registry fillRandom made: keys deleted with all below them, values changed,
// deleted and added, new keys with values; under both roots.
void changeRandomly(RegStore& store, unsigned seed) {
    std::mt19937 random(seed * 7919u + 1u);
    std::vector<std::pair<HKey, std::u16string>> keys;
    for (HKey root : { kLocalMachine, kCurrentUser }) {
        std::vector<std::u16string> pending { u"Software\\Random" };
        while (!pending.empty()) {
            const std::u16string path = pending.back();
            pending.pop_back();
            keys.emplace_back(root, path);
            KeyHandle key(store);
            if (!store.openKey(root, path, Access::Read, kOptionNone, key.out()).ok()) continue;
            std::u16string name;
            for (std::uint32_t i = 0; store.enumKey(key.get(), i, name).ok(); ++i)
                pending.push_back(path + u"\\" + name);
        }
    }
    WriteBatch batch(store);
    for (int step = 0; step < 40; ++step) {
        const auto& [root, path] = keys[random() % keys.size()];
        KeyHandle key(store);
        if (!store.openKey(root, path, Access::Full, kOptionNone, key.out()).ok()) continue; // deleted already
        std::u16string name;
        switch (random() % 5) {
        case 0:
            if (path != u"Software\\Random") (void)deleteKeyTree(store, root, path);
            break;
        case 1:
            if (store.enumValue(key.get(), 0, name, nullptr, nullptr).ok()) (void)store.deleteValue(key.get(), name);
            break;
        case 2: {
            KeyHandle added(store);
            ASSERT_EQ(
                store.createKey(key.get(), randomName(random, true) + u"+", Access::Full, kOptionNone, added.out()),
                Status::Ok);
            ASSERT_EQ(store.setValue(added.get(), u"", kRegSz, test::utf16zBytes(u"new")), Status::Ok);
            break;
        }
        default: {
            const bool existing = random() % 2 && store.enumValue(key.get(), 0, name, nullptr, nullptr).ok();
            if (!existing) name = randomName(random, false);
            Bytes data(random() % 20);
            for (auto& b : data)
                b = static_cast<std::uint8_t>(random());
            ASSERT_EQ(store.setValue(key.get(), name, random() % 2 ? kRegBinary : kRegMultiSz, data), Status::Ok);
        }
        }
    }
    ASSERT_EQ(batch.finish(), Status::Ok);
}

// Applies the file that compareKeys' changes make to store.
void applyChanges(RegStore& store, const ImportPlan& plan) {
    std::string text;
    ASSERT_EQ(changesAsRegText(plan, text), Status::Ok);
    const std::vector<std::uint8_t> bytes = utf16LEBytes(toUtf16("\xEF\xBB\xBF" + text));
    RegFileContent content;
    ASSERT_EQ(
        parseRegFile(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), "d.reg", content),
        Status::Ok);
    ASSERT_EQ(applyImport(store, content), Status::Ok);
}

HKey opened(RegStore& store, HKey root, std::u16string_view path) {
    HKey key = kNoKey;
    (void)store.openKey(root, path, Access::Read, kOptionNone, key);
    return key;
}

std::vector<std::string> lines(const ImportPlan& plan) {
    std::vector<std::string> out;
    for (const auto& change : plan.changes)
        out.push_back(changeLine(change));
    return out;
}

} // namespace

TEST(RegImport, AGeneratedRegistryRoundTripsThroughAVersion5File) {
    for (unsigned seed : { 1u, 2u, 3u, 4u }) {
        MemoryRegistry source;
        fillRandom(source, seed);
        const RegFileContent content = parsed(seed % 2 ? version5File(source) : exportedFile(source));

        MemoryRegistry target;
        const std::string before = dump(target);
        ImportPlan plan;
        ASSERT_EQ(planImport(target, content, plan), Status::Ok);
        EXPECT_EQ(dump(target), before) << "a plan writes nothing";
        ASSERT_EQ(applyImport(target, content), Status::Ok);
        EXPECT_EQ(difference(dump(source), dump(target)), "") << "seed " << seed;

        // The plan and a comparison of the registries before and after count the same changes.
        MemoryRegistry empty;
        const ImportPlan compared = compareStores(empty, target);
        EXPECT_EQ(plan.keysAdded, compared.keysAdded);
        EXPECT_EQ(plan.valuesAdded, compared.valuesAdded);
        EXPECT_EQ(plan.valuesChanged + plan.valuesDeleted + plan.keysDeleted, 0u);
        // Importing again changes nothing.
        ASSERT_EQ(planImport(target, content, plan), Status::Ok);
        EXPECT_TRUE(plan.empty()) << changeLine(plan.changes.front());
        EXPECT_TRUE(compareStores(source, target).empty());
    }
}

// The file of the changes from one registry to another, imported into the first, gives the second
// exactly; so does the file from one key to a key elsewhere (another root), and the reverse file
// gives the first back. Random registries with every type and odd names, changed at random.
TEST(RegImport, TheChangesFileTurnsOneRegistryOrKeyIntoTheOther) {
    for (unsigned seed : { 1u, 2u, 3u, 4u, 5u }) {
        MemoryRegistry left;
        MemoryRegistry right;
        fillRandom(left, seed);
        fillRandom(right, seed);
        changeRandomly(right, seed);
        const std::string rightDump = dump(right);
        ASSERT_FALSE(compareStores(left, right).empty());

        MemoryRegistry original;
        fillRandom(original, seed);
        applyChanges(left, compareStores(left, right));
        EXPECT_EQ(difference(dump(left), rightDump), "") << "seed " << seed;
        applyChanges(left, compareStores(left, original)); // the reverse: back to where it was
        EXPECT_EQ(difference(dump(left), dump(original)), "") << "seed " << seed;

        // HKCU's key made like HKLM's key of the other registry, and nothing else touched.
        const HKey from = opened(left, kCurrentUser, u"Software\\Random");
        const HKey to = opened(right, kLocalMachine, u"Software\\Random");
        applyChanges(left, compareKeys(left, from, right, to, "HKEY_CURRENT_USER\\Software\\Random"));
        EXPECT_TRUE(compareKeys(left, from, right, to, "HKEY_CURRENT_USER\\Software\\Random").empty()) << seed;
        const HKey machine = opened(left, kLocalMachine, u"Software\\Random");
        const HKey machineBefore = opened(original, kLocalMachine, u"Software\\Random");
        EXPECT_TRUE(compareKeys(left, machine, original, machineBefore, "HKEY_LOCAL_MACHINE").empty());
        (void)left.closeKey(machine);
        (void)original.closeKey(machineBefore);
        (void)left.closeKey(from);
        (void)right.closeKey(to);
    }

    // A link made, or led elsewhere, cannot be written: its line would change the key it leads to.
    MemoryRegistry plain;
    MemoryRegistry linked;
    KeyHandle link(linked);
    ASSERT_EQ(linked.createKey(kCurrentUser, u"Software\\Link", Access::Full, kCreateLink, link.out()), Status::Ok);
    ASSERT_EQ(linked.setValue(link.get(), u"SymbolicLinkValue", kRegLink, test::utf16Bytes(u"\\Registry\\Machine")),
        Status::Ok);
    std::string text;
    const Status refused = changesAsRegText(compareStores(plain, linked), text);
    EXPECT_EQ(refused.code(), StatusCode::InvalidData);
    EXPECT_NE(refused.message().find("HKEY_CURRENT_USER\\Software\\Link"), std::string::npos) << refused.message();
    EXPECT_EQ(changesAsRegText(compareStores(linked, plain), text), Status::Ok) << "deleting a link is written";
}

// A key with every type, odd names, empty data and a link copied from a registry in memory into a
// Wine prefix, from there into a hive, and back into a new registry: each copy is the source again
// (compared through the stores), the plan shown before it lists exactly what it writes, and a second
// copy has nothing left to do.
TEST(RegImport, AKeyCopiedAcrossRegistriesAndHivesComesBackTheSame) {
    test::TempDir dir;
    MemoryRegistry source;
    fillRandom(source, 11);
    {
        KeyHandle link(source);
        ASSERT_EQ(source.createKey(kLocalMachine, u"Software\\Random\\Link", Access::Full, kCreateLink, link.out()),
            Status::Ok);
        ASSERT_EQ(source.setValue(link.get(), u"SymbolicLinkValue", kRegLink,
                      test::utf16Bytes(u"\\Registry\\Machine\\Software\\Random")),
            Status::Ok);
    }
    auto prefix = test::openTestRegistry(dir / "prefix");
    ASSERT_EQ(writeEmptyHive(dir / "SOFT"), Status::Ok);
    MemoryRegistry hive;
    ASSERT_EQ(mountHiveFile(hive, kLocalMachine, u"SOFT", dir / "SOFT"), Status::Ok);
    MemoryRegistry back;

    // From (store, root, path) to (store, root, path), checked as it goes.
    auto copy = [](RegStore& from, HKey fromRoot, std::u16string_view fromPath, RegStore& to, HKey toRoot,
                    std::u16string_view toPath) {
        KeyHandle sourceKey(from);
        ASSERT_EQ(from.openKey(fromRoot, fromPath, Access::Read, kOptionNone, sourceKey.out()), Status::Ok);
        CopyNode tree;
        readCopySource(from, sourceKey.get(), tree, true);
        const ImportPlan before = planCopy(to, kNoKey, tree, "HKEY_X\\Target");
        KeyHandle target(to);
        WriteBatch batch(to);
        ASSERT_EQ(to.createKey(toRoot, toPath, Access::Full, kOptionNone, target.out()), Status::Ok);
        ASSERT_EQ(writeCopy(to, target.get(), tree, "HKEY_X\\Target"), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
        EXPECT_TRUE(compareKeys(from, sourceKey.get(), to, target.get(), "HKEY_X").empty());
        EXPECT_TRUE(planCopy(to, target.get(), tree, "HKEY_X\\Target").empty());
        const ImportPlan made
            = compareKeys(*std::make_unique<MemoryRegistry>(), kNoKey, to, target.get(), "HKEY_X\\Target");
        EXPECT_EQ(before.keysAdded, made.keysAdded);
        EXPECT_EQ(before.valuesAdded, made.valuesAdded);
    };
    copy(source, kLocalMachine, u"Software\\Random", *prefix, kCurrentUser, u"Software\\Copied");
    copy(*prefix, kCurrentUser, u"Software\\Copied", hive, kLocalMachine, u"SOFT\\Copied");
    copy(hive, kLocalMachine, u"SOFT\\Copied", back, kLocalMachine, u"Software\\Back");
    KeyHandle original(source);
    KeyHandle returned(back);
    ASSERT_EQ(
        source.openKey(kLocalMachine, u"Software\\Random", Access::Read, kOptionNone, original.out()), Status::Ok);
    ASSERT_EQ(back.openKey(kLocalMachine, u"Software\\Back", Access::Read, kOptionNone, returned.out()), Status::Ok);
    EXPECT_TRUE(compareKeys(source, original.get(), back, returned.get(), "HKEY_X").empty());
    KeyHandle link(back);
    KeyInfo info;
    ASSERT_EQ(back.openKey(kLocalMachine, u"Software\\Back\\Link", Access::Read, kOpenLink, link.out()), Status::Ok);
    ASSERT_EQ(back.queryInfo(link.get(), info), Status::Ok);
    EXPECT_TRUE(info.isLink) << "a link is copied as a link";
}

TEST(RegImport, TheSamplePrefixRoundTripsThroughAVersion5File) {
    test::TempDir dir;
    test::copySamplePrefix(dir.path());
    WinePrefixStore sample(test::testPrefixOptions(dir.path(), dir / "servers"));
    MemoryRegistry target(MemoryRegistryOptions { {}, {}, false, {} });
    ASSERT_EQ(applyImport(target, parsed(version5File(sample))), Status::Ok);
    EXPECT_EQ(difference(dump(sample), dump(target)), "");
    // Quern's own export follows links, so the keys a link leads to arrive a second time below it.
    MemoryRegistry exported(MemoryRegistryOptions { {}, {}, false, {} });
    ASSERT_EQ(applyImport(exported, parsed(exportedFile(sample))), Status::Ok);
    EXPECT_EQ(difference(dump(sample, KeyWalk::Links::Follow), dump(exported, KeyWalk::Links::Follow)), "");
}

TEST(RegImport, ThePlanListsEachChangeOnceInFileOrder) {
    MemoryRegistry store;
    {
        KeyHandle key(store);
        ASSERT_EQ(store.createKey(kLocalMachine, u"Software\\Classes\\.x\\Sub", Access::Full, kOptionNone, key.out()),
            Status::Ok);
        ASSERT_EQ(store.setValue(key.get(), u"old", kRegSz, test::utf16zBytes(u"1")), Status::Ok);
        ASSERT_EQ(
            store.createKey(kCurrentUser, u"Software\\Gone\\Child", Access::Full, kOptionNone, key.out()), Status::Ok);
        ASSERT_EQ(store.createKey(kCurrentUser, u"Software\\App", Access::Full, kOptionNone, key.out()), Status::Ok);
        ASSERT_EQ(store.setValue(key.get(), u"same", kRegSz, test::utf16zBytes(u"v")), Status::Ok);
        ASSERT_EQ(store.setValue(key.get(), u"old", kRegDword, Bytes { 1, 0, 0, 0 }), Status::Ok);
        ASSERT_EQ(store.setValue(key.get(), u"gone", kRegSz, test::utf16zBytes(u"bye\nnow")), Status::Ok);
        ASSERT_EQ(store.setValue(key.get(), u"nul", kRegSz, test::utf16zBytes(std::u16string(u"a\0b", 3))), Status::Ok);
    }
    const std::string before = dump(store);
    const RegFileContent content = parsed("REGEDIT4\r\n"
                                          "[HKEY_CURRENT_USER\\Software\\App]\r\n"
                                          "\"same\"=\"v\"\r\n"
                                          "\"OLD\"=dword:00000002\r\n"
                                          "\"gone\"=-\r\n"
                                          "\"missing\"=-\r\n"
                                          "\"nul\"=\"a\"\r\n"
                                          "[HKCU\\Software\\New\\Deep]\r\n"
                                          "@=hex:01\r\n"
                                          "[-HKCU\\Software\\Nowhere]\r\n"
                                          "[-HKCU\\Software\\Gone]\r\n"
                                          "[-HKEY_CLASSES_ROOT\\.x]\r\n"
                                          "[HKLM\\Software\\Classes\\.x\\Sub]\r\n"
                                          "\"new\"=\"2\"\r\n"
                                          "[HKCR\\.x\\Sub]\r\n"
                                          "[HKEY_USERS]\r\n");
    ImportPlan plan;
    ASSERT_EQ(planImport(store, content, plan), Status::Ok);
    const std::vector<std::string> expected {
        "value changed: HKEY_CURRENT_USER\\Software\\App \"OLD\" = REG_DWORD 0x1 -> REG_DWORD 0x2",
        "value deleted: HKEY_CURRENT_USER\\Software\\App \"gone\" (was REG_SZ bye\xE2\x90\x8Anow)",
        "value changed: HKEY_CURRENT_USER\\Software\\App \"nul\" = REG_SZ 6100000062000000 -> REG_SZ 61000000",
        "key added: HKEY_CURRENT_USER\\Software\\New",
        "key added: HKEY_CURRENT_USER\\Software\\New\\Deep",
        "value added: HKEY_CURRENT_USER\\Software\\New\\Deep @ = REG_BINARY 01",
        "key deleted: HKEY_CURRENT_USER\\Software\\Gone (with everything below it)",
        // A key deleted and made again differs only in what the file gave it.
        "value deleted: HKEY_CLASSES_ROOT\\.x\\Sub \"old\" (was REG_SZ 1)",
        "value added: HKEY_CLASSES_ROOT\\.x\\Sub \"new\" = REG_SZ 2",
    };
    EXPECT_EQ(lines(plan), expected);
    EXPECT_EQ(planSummary(plan), "2 keys added, 1 key deleted, 2 values added, 2 values changed, 2 values deleted.");
    EXPECT_EQ(plan.changes[3].line, 8u);
    EXPECT_EQ(dump(store), before);

    EXPECT_EQ(lines(planBelow(plan, "HKEY_CURRENT_USER\\SOFTWARE\\new")).size(), 3u);
    EXPECT_EQ(lines(planBelow(plan, "HKEY_CURRENT_USER\\Software\\Gone\\Child")),
        (std::vector<std::string> { "key deleted: HKEY_CURRENT_USER\\Software\\Gone (with everything below it)" }));

    // Once imported, the same file changes nothing; a root's own line, as exports write it, is
    // there already, even one that belongs to no registry file.
    ASSERT_EQ(applyImport(store, content), Status::Ok);
    ASSERT_EQ(planImport(store, content, plan), Status::Ok);
    EXPECT_EQ(lines(plan), std::vector<std::string> {});
}

TEST(RegImport, AnImportThatFailsPartWayWritesNothing) {
    test::TempDir dir;
    test::copySamplePrefix(dir.path());
    const auto files = [&] {
        return test::readFile(dir / "system.reg") + test::readFile(dir / "user.reg")
            + test::readFile(dir / "userdef.reg");
    };
    const std::string before = files();
    WinePrefixStore store(test::testPrefixOptions(dir.path(), dir / "servers"));
    // Good lines in two files, then a key that cannot be made: HKEY_DYN_DATA never changes.
    const RegFileContent content
        = parsed("REGEDIT4\r\n[HKLM\\Software\\A]\r\n\"v\"=\"1\"\r\n[-HKCU\\Software\\Wine]\r\n"
                 "[HKEY_DYN_DATA\\X]\r\n");
    const Status status = applyImport(store, content);
    EXPECT_NE(status, Status::Ok);
    EXPECT_EQ(status.message().rfind("t.reg:5: could not create HKEY_DYN_DATA\\X: ", 0), 0u) << status.message();
    EXPECT_EQ(files(), before);
    EXPECT_EQ(store.filesWritten(), 0u);
    KeyHandle key(store);
    EXPECT_EQ(store.openKey(kLocalMachine, u"Software\\A", Access::Read, kOptionNone, key.out()), Status::NotFound);
    EXPECT_EQ(store.openKey(kCurrentUser, u"Software\\Wine", Access::Read, kOptionNone, key.out()), Status::Ok);

    // A registry that cannot be written says why and changes nothing; the plan still reads it.
    MemoryRegistry readOnly(MemoryRegistryOptions { "A wineserver is running.", {}, true, {} });
    const Status refused = applyImport(readOnly, content);
    EXPECT_EQ(refused, Status::AccessDenied);
    EXPECT_EQ(refused.message(), "t.reg was not imported: A wineserver is running.");
    ImportPlan plan;
    EXPECT_EQ(planImport(readOnly, content, plan), Status::Ok);
    EXPECT_EQ(plan.keysAdded, 2u) << "Software\\A and HKEY_DYN_DATA\\X";
}

TEST(RegImport, DeletingALinkKeyLeavesItsTarget) {
    MemoryRegistry store;
    {
        KeyHandle key(store);
        ASSERT_EQ(store.createKey(kLocalMachine, u"Software\\Target\\Child", Access::Full, kOptionNone, key.out()),
            Status::Ok);
        ASSERT_EQ(store.createKey(kLocalMachine, u"Software\\Link", Access::Full, kCreateLink, key.out()), Status::Ok);
        const Bytes target = test::utf16Bytes(u"\\Registry\\Machine\\Software\\Target");
        ASSERT_EQ(store.setValue(key.get(), u"SymbolicLinkValue", kRegLink, target), Status::Ok);
    }
    ASSERT_EQ(applyImport(store, parsed("REGEDIT4\r\n[-HKLM\\Software\\Link]\r\n")), Status::Ok);
    KeyHandle key(store);
    EXPECT_EQ(store.openKey(kLocalMachine, u"Software\\Link", Access::Read, kOpenLink, key.out()), Status::NotFound);
    EXPECT_EQ(
        store.openKey(kLocalMachine, u"Software\\Target\\Child", Access::Read, kOptionNone, key.out()), Status::Ok);
}

TEST(RegImport, ARegedit4ExportRestoresWhatItsFormHolds) {
    MemoryRegistry source;
    {
        KeyHandle key(source);
        ASSERT_EQ(source.createKey(kCurrentUser, u"Software\\K", Access::Full, kOptionNone, key.out()), Status::Ok);
        const auto set = [&](std::u16string_view name, std::uint32_t type, const Bytes& data) {
            ASSERT_EQ(source.setValue(key.get(), name, type, data), Status::Ok);
        };
        set(u"sz", kRegSz, test::utf16zBytes(u"Caf\u00e9 \"q\" \\"));
        set(u"sz\nbreak", kRegSz, test::utf16zBytes(u"line\r\nbreak \u20ac"));
        set(u"expand break", kRegExpandSz, test::utf16zBytes(u"%a%\n\u00e9"));
        set(u"dword", kRegDword, Bytes { 1, 2, 3, 4 });
        set(u"short dword", kRegDword, Bytes { 1, 2 });
        set(u"binary", kRegBinary, Bytes { 0, 0xff });
        set(u"expand", kRegExpandSz, test::utf16zBytes(u"%PATH%"));
        set(u"multi", kRegMultiSz, test::utf16zBytes(std::u16string(u"a\0\u00e9\0", 4)));
        set(u"qword", kRegQword, Bytes { 1, 2, 3, 4, 5, 6, 7, 8 });
    }
    test::TempDir dir;
    RegFileExport file(source);
    ASSERT_EQ(file.OpenRegFile(dir / "a.reg"), reg::Status::Ok);
    file.ExportTree("HKEY_CURRENT_USER\\Software\\K\\");
    ASSERT_EQ(file.CloseRegFile(), reg::Status::Ok);
    RegFileContent content;
    ASSERT_EQ(readRegFile(dir / "a.reg", content), Status::Ok);
    MemoryRegistry target;
    ASSERT_EQ(applyImport(target, content), Status::Ok);

    // Strings (line breaks and non-ASCII text too), DWORDs of any length and binary data come
    // back as they were; the rest as the form writes them.
    const std::string k = "value changed: HKEY_CURRENT_USER\\Software\\K ";
    const std::vector<std::string> expected {
        k + "\"expand\" = REG_SZ %PATH% -> REG_EXPAND_SZ %PATH%",
        k + "\"multi\" = REG_BINARY 6100C3A90000 -> REG_MULTI_SZ a\\0\xC3\xA9",
        k + "\"qword\" = REG_BINARY 0102030405060708 -> REG_QWORD 0x807060504030201",
    };
    EXPECT_EQ(lines(compareStores(target, source)), expected);
}

TEST(RegImport, AKeyWhoseValuesAnEarlierSectionSetIsNotAddedAgainForItsSubkey) {
    MemoryRegistry store;
    {
        KeyHandle key(store);
        ASSERT_EQ(store.createKey(kCurrentUser, u"Software\\App", Access::Full, kOptionNone, key.out()), Status::Ok);
        ASSERT_EQ(store.setValue(key.get(), u"v", kRegDword, Bytes { 1, 0, 0, 0 }), Status::Ok);
    }
    const RegFileContent content = parsed("REGEDIT4\r\n"
                                          "[HKEY_CURRENT_USER\\Software\\App]\r\n"
                                          "\"v\"=dword:00000002\r\n"
                                          "[HKEY_CURRENT_USER\\Software\\App\\Sub]\r\n");
    ImportPlan plan;
    ASSERT_EQ(planImport(store, content, plan), Status::Ok);
    EXPECT_EQ(lines(plan),
        (std::vector<std::string> {
            "value changed: HKEY_CURRENT_USER\\Software\\App \"v\" = REG_DWORD 0x1 -> REG_DWORD 0x2",
            "key added: HKEY_CURRENT_USER\\Software\\App\\Sub" }));
}

// A progress that says stop, during the plan or the import itself, ends it where it is told to:
// the plan is empty, the files and the registry are as they were, and the status says cancelled.
TEST(RegImport, ACancelledImportOrPlanLeavesEverythingAsItWas) {
    test::TempDir dir;
    test::copySamplePrefix(dir.path());
    const auto files = [&] {
        return test::readFile(dir / "system.reg") + test::readFile(dir / "user.reg")
            + test::readFile(dir / "userdef.reg");
    };
    const std::string before = files();
    WinePrefixStore store(test::testPrefixOptions(dir.path(), dir / "servers"));
    std::string text = "REGEDIT4\r\n";
    for (int k = 0; k < 600; ++k)
        text += "[HKEY_CURRENT_USER\\Software\\Many\\K" + std::to_string(k) + "]\r\n\"v\"=\"1\"\r\n";
    const RegFileContent content = parsed(text);
    std::vector<std::size_t> asked;
    const auto stopAt512 = [&](std::size_t done, std::size_t keys) {
        asked.push_back(done);
        EXPECT_EQ(keys, 600u);
        return done < 512;
    };
    ImportPlan plan;
    const Status planned = planImport(store, content, plan, stopAt512);
    EXPECT_EQ(planned.message(), kImportCancelled);
    EXPECT_EQ(plan.keysAdded, 0u);
    EXPECT_EQ(asked, (std::vector<std::size_t> { 0, 256, 512 }));

    const Status applied = applyImport(store, content, stopAt512);
    EXPECT_EQ(applied.message(), kImportCancelled);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(store.filesWritten(), 0u);
    KeyHandle key(store);
    EXPECT_EQ(store.openKey(kCurrentUser, u"Software\\Many", Access::Read, kOptionNone, key.out()), Status::NotFound);

    EXPECT_EQ(applyImport(store, content, [](std::size_t, std::size_t) { return true; }), Status::Ok);
    EXPECT_EQ(store.openKey(kCurrentUser, u"Software\\Many\\K599", Access::Read, kOptionNone, key.out()), Status::Ok);
}
