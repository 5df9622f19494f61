#include "registry/WineRegFile.h"
#include "TestSupport.h"
#include "registry/Utf.h"

#include <gtest/gtest.h>

#include <functional>

using namespace quern;
using namespace quern::reg;

namespace {

void markAllDirty(Key& key) {
    std::vector<Key*> stack { &key };
    while (!stack.empty()) {
        Key* k = stack.back();
        stack.pop_back();
        k->dirty = true;
        for (auto& sub : k->subkeys)
            stack.push_back(sub.get());
    }
}

std::string roundTrip(const std::string& content, bool regenerate, ParsedFile* parsedOut = nullptr) {
    Key root(u"", nullptr, nullptr);
    ParsedFile parsed = parseRegFile(content, root);
    if (parsedOut) *parsedOut = parsed;
    if (regenerate) markAllDirty(root);
    std::string out;
    std::vector<BlockPlacement> placements;
    serializeRegFile(root, content, parsed.prefixLength, parsed.relativeTo, out, placements);
    return out;
}

std::string escaped(std::u16string_view text, bool dropFinalNul = false) {
    std::string out;
    appendEscaped(out, text, "\"\"", dropFinalNul);
    return out;
}

const RawValue* valueOf(const Key& key, std::u16string_view name) {
    const auto index = key.findValue(name);
    return index < 0 ? nullptr : &key.values[static_cast<std::size_t>(index)];
}

const std::string kHeader = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";

} // namespace

TEST(WineRegFile, SampleFilesAreWrittenAnewExactlyAsWineWroteThem) {
    // Every block generated from what was parsed, none copied: the writer must match wineserver's to the byte.
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" }) {
        const std::string original = test::readFile(test::samplePrefixDir() + "/" + name);
        ASSERT_FALSE(original.empty()) << name;
        ParsedFile parsed;
        const std::string rewritten = roundTrip(original, true, &parsed);
        EXPECT_TRUE(parsed.problems.empty()) << name << " line " << parsed.problems.front().line;
        EXPECT_TRUE(rewritten == original) << name << " differs when every block is written anew";
    }
}

TEST(WineRegFile, SampleSystemFileHasAllItsBlocksAndValues) {
    const std::string original = test::readFile(test::samplePrefixDir() + "/system.reg");
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(original, root);
    EXPECT_EQ(parsed.blockCount, 8733u);
    EXPECT_EQ(parsed.valueCount, 15394u);
    EXPECT_EQ(parsed.relativeTo, "REGISTRY\\\\Machine");

    std::size_t values = 0;
    std::function<void(const Key&)> count = [&](const Key& k) {
        values += k.values.size();
        for (const auto& sub : k.subkeys)
            count(*sub);
    };
    count(root);
    EXPECT_EQ(values, 15394u);

    const Key* inproc = root.findSubkey(u"Software")->findSubkey(u"Classes")->findSubkey(u"CLSID");
    ASSERT_NE(inproc, nullptr);
    const Key* fonts = root.findSubkey(u"software")->findSubkey(u"MICROSOFT")->findSubkey(u"windows nt");
    ASSERT_NE(fonts, nullptr) << "names are found whatever their case";
    EXPECT_EQ(fonts->name, u"Windows NT") << "and keep the case they were written with";
}

TEST(WineRegFile, CopiedBlocksKeepTheirBytesWhenOnlyOneKeyChanges) {
    const std::string original = test::readFile(test::samplePrefixDir() + "/system.reg");
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(original, root);
    Key* key = root.findSubkey(u"Software")
                   ->findSubkey(u"Borland")
                   ->findSubkey(u"Database Engine")
                   ->findSubkey(u"Settings")
                   ->findSubkey(u"SYSTEM")
                   ->findSubkey(u"INIT");
    ASSERT_NE(key, nullptr);
    key->values[0].data = test::utf16Bytes(std::u16string(u"1234\0", 5));
    key->dirty = true;
    std::string out;
    std::vector<BlockPlacement> placements;
    serializeRegFile(root, original, parsed.prefixLength, parsed.relativeTo, out, placements);
    std::string expected = original;
    const std::string before = "\"SHAREDMEMLOCATION\"=\"9000\"";
    expected.replace(expected.find(before), before.size(), "\"SHAREDMEMLOCATION\"=\"1234\"");
    EXPECT_TRUE(out == expected);
}

TEST(WineRegFile, EscapesAsWineserverDoes) {
    EXPECT_EQ(escaped(u"a\\b\"c"), "a\\\\b\\\"c");
    EXPECT_EQ(escaped(u"\a\b\t\n\v\f\r\x1b"), "\\a\\b\\t\\n\\v\\f\\r\\e");
    EXPECT_EQ(escaped(u"\x01x"), "\\1x");
    EXPECT_EQ(escaped(u"\x02"
                      u"1"),
        "\\0021")
        << "a digit after an octal escape forces three digits";
    EXPECT_EQ(escaped(u"\x1f"), "\\37");
    EXPECT_EQ(escaped(std::u16string(u"a\0b", 3)), "a\\0b");
    EXPECT_EQ(escaped(std::u16string(u"ab\0", 3), true), "ab") << "the terminator is not written";
    EXPECT_EQ(escaped(std::u16string(u"a\0\0", 3), true), "a\\0") << "only the last NUL is the terminator";
    EXPECT_EQ(escaped(u"\u00e9t\u00e9"), "\\xe9t\\xe9");
    EXPECT_EQ(escaped(u"\u00e9a"), "\\x00e9a") << "a hex digit after the escape forces four digits";
    EXPECT_EQ(escaped(u"\U0001F30E"), "\\xd83c\\xdf0e");
    std::string key;
    appendEscaped(key, u"[x]", "[]", false);
    EXPECT_EQ(key, "\\[x\\]");
}

TEST(WineRegFile, ReadsEscapesBack) {
    const std::u16string samples[] = { u"plain", u"a\\b\"c", u"\a\b\t\n\v\f\r\x1b",
        u"\x01x\x02"
        u"1\x1f",
        std::u16string(u"a\0b\0"
                       u"7",
            5),
        u"\u00e9a\u00e9\U0001F30E", u"x\uffff9" };
    for (const auto& text : samples) {
        std::string line = escaped(text) + "\"";
        std::u16string back;
        std::size_t pos = 0;
        ASSERT_TRUE(parseEscaped(line, pos, '"', back)) << line;
        EXPECT_EQ(back, text) << line;
        EXPECT_EQ(pos, line.size());
    }
    std::u16string raw;
    std::size_t pos = 0;
    ASSERT_TRUE(parseEscaped("caf\xc3\xa9 \\xz\"", pos, '"', raw)) << "raw UTF-8 and a \\x without digits";
    EXPECT_EQ(raw, u"caf\u00e9 xz");
    pos = 0;
    EXPECT_FALSE(parseEscaped("bad \xff byte\"", pos, '"', raw));
    pos = 0;
    EXPECT_FALSE(parseEscaped("no end", pos, '"', raw));
}

TEST(WineRegFile, ReadsEveryValueNotation) {
    const std::string content = kHeader
        + "\n[Key] 1796672239\n"
          "#time=1dd86825f2528c0\n"
          "@=\"default\"\n"
          "\"sz\"=\"text\"\n"
          "\"str\"=str:\"also\"\n"
          "\"expand\"=str(2):\"%PATH%\"\n"
          "\"multi\"=str(7):\"a\\0b\\0\"\n"
          "\"dword\"=dword:0000001f\n"
          "\"bin\"=hex:de,ad,\\\n  be,ef\n"
          "\"empty\"=hex:\n"
          "\"qword\"=hex(b):01,02,03,04,05,06,07,08\n"
          "\"dev\"=hex(ffff0012):01\n"
          "\"odd\"=hex(1):41,00,42\n"
          "  \"spaced\" = dword:1\n";
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(content, root);
    ASSERT_TRUE(parsed.problems.empty()) << parsed.problems.front().line;
    const Key* key = root.findSubkey(u"key");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->modified, 0x1dd86825f2528c0ull);
    ASSERT_EQ(key->values.size(), 12u);
    EXPECT_EQ(key->values[0].name, u"") << "values keep the order of their lines";
    EXPECT_EQ(valueOf(*key, u"")->data, test::utf16Bytes(std::u16string(u"default\0", 8)));
    EXPECT_EQ(valueOf(*key, u"str")->type, kRegSz);
    EXPECT_EQ(valueOf(*key, u"expand")->type, kRegExpandSz);
    EXPECT_EQ(valueOf(*key, u"multi")->data, test::utf16Bytes(std::u16string(u"a\0b\0\0", 5)));
    EXPECT_EQ(valueOf(*key, u"dword")->data, (std::vector<std::uint8_t> { 0x1f, 0, 0, 0 }));
    EXPECT_EQ(valueOf(*key, u"bin")->data, (std::vector<std::uint8_t> { 0xde, 0xad, 0xbe, 0xef }));
    EXPECT_TRUE(valueOf(*key, u"empty")->data.empty());
    EXPECT_EQ(valueOf(*key, u"qword")->type, 0xbu);
    EXPECT_EQ(valueOf(*key, u"dev")->type, 0xffff0012u);
    EXPECT_EQ(valueOf(*key, u"odd")->data, (std::vector<std::uint8_t> { 0x41, 0, 0x42 }));
    EXPECT_EQ(valueOf(*key, u"spaced")->data, (std::vector<std::uint8_t> { 1, 0, 0, 0 }));
}

TEST(WineRegFile, WritesValuesInWineserversNotations) {
    Key root(u"", nullptr, nullptr);
    Key* key = root.addSubkey(u"K");
    key->modified = 0x1dd86825f2528c0ull;
    key->appendValue({ u"z", kRegSz, test::utf16Bytes(std::u16string(u"x\0", 2)) });
    key->appendValue({ u"", kRegSz, test::utf16Bytes(std::u16string(u"d\0", 2)) });
    key->appendValue({ u"odd", kRegSz, { 0x41, 0, 0x42 } });
    key->appendValue({ u"unterminated", kRegExpandSz, test::utf16Bytes(u"ab") });
    key->appendValue({ u"multi", kRegMultiSz, test::utf16Bytes(std::u16string(u"a\0b\0\0", 5)) });
    key->appendValue({ u"short dword", kRegDword, { 1, 2 } });
    key->appendValue({ u"A", kRegDword, { 0xef, 0xbe, 0xad, 0xde } });
    key->appendValue({ u"_x", kRegNone, {} });
    std::string out;
    appendKeyBlock(out, *key, root);
    EXPECT_EQ(out,
        "[K] 1796672239\n"
        "#time=1dd86825f2528c0\n"
        "@=\"d\"\n"
        "\"_x\"=hex(0):\n"
        "\"A\"=dword:deadbeef\n"
        "\"multi\"=str(7):\"a\\0b\\0\"\n"
        "\"odd\"=hex(1):41,00,42\n"
        "\"short dword\"=hex(4):01,02\n"
        "\"unterminated\"=hex(2):61,00,62,00\n"
        "\"z\"=\"x\"\n");
}

TEST(WineRegFile, BreaksLongHexLinesWhereWineDoes) {
    Key root(u"", nullptr, nullptr);
    Key* key = root.addSubkey(u"K");
    key->appendValue({ u"bin", kRegBinary, std::vector<std::uint8_t>(30, 0xab) });
    std::string out;
    appendKeyBlock(out, *key, root);
    const std::string hex = out.substr(out.find("\"bin\""));
    // The name counts towards the first line: 6 + 4 characters, then 3 per byte, break past column 76.
    EXPECT_EQ(hex,
        "\"bin\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\n"
        "  ab,ab,ab,ab,ab,ab,ab\n");
}

TEST(WineRegFile, LoaderAcceptsCrLfAndMissingArch) {
    const std::string content = "WINE REGISTRY Version 2\r\n;; All keys relative to REGISTRY\\\\Machine\r\n\r\n"
                                "[A\\\\B] 1\r\n\"v\"=\"caf\xc3\xa9\"\r\n";
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(content, root);
    EXPECT_TRUE(parsed.problems.empty());
    const Key* b = root.findSubkey(u"A")->findSubkey(u"B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(valueOf(*b, u"v")->data, test::utf16Bytes(std::u16string(u"caf\u00e9\0", 5)));
}

TEST(WineRegFile, KeysDifferingOnlyInCaseAreOneKeyAndTheFirstSpellingWins) {
    const std::string content = kHeader + "\n[Soft\\\\App] 1\n\"a\"=dword:1\n\n[SOFT\\\\APP] 2\n\"b\"=dword:2\n";
    Key root(u"", nullptr, nullptr);
    (void)parseRegFile(content, root);
    ASSERT_EQ(root.subkeys.size(), 1u);
    const Key* app = root.subkeys[0]->subkeys[0].get();
    EXPECT_EQ(root.subkeys[0]->name, u"Soft");
    EXPECT_EQ(app->name, u"App");
    EXPECT_EQ(app->values.size(), 2u);
    EXPECT_TRUE(app->merged);
}

TEST(WineRegFile, SubkeysSortAfterLowerCasingSoUnderscoreComesBeforeLetters) {
    Key root(u"", nullptr, nullptr);
    root.addSubkey(u"b");
    root.addSubkey(u"A");
    root.addSubkey(u"_x");
    root.addSubkey(u"a1");
    std::vector<std::u16string> names;
    for (const auto& k : root.subkeys)
        names.push_back(k->name);
    EXPECT_EQ(names, (std::vector<std::u16string> { u"_x", u"A", u"a1", u"b" }));
}

TEST(WineRegFile, NotARegistryFileIsRefusedWhole) {
    Key root(u"", nullptr, nullptr);
    for (const std::string& content : { std::string("\x7f"
                                                    "ELF\x02\x01\x01\0\0\0",
                                            10),
             std::string("REGEDIT4\r\n\r\n[HKEY]\r\n"), std::string(), std::string("WINE REGISTRY Version 1\n") }) {
        const ParsedFile parsed = parseRegFile(content, root);
        EXPECT_FALSE(parsed.isRegistryFile);
        EXPECT_FALSE(parsed.error.empty());
        EXPECT_TRUE(root.subkeys.empty());
    }
}

TEST(WineRegFile, UnreadableLinesAreKeptAndWrittenBackUnchanged) {
    const std::string content = kHeader
        + "\n[Good] 1\n#time=1\n\"ok\"=dword:1\n\"broken\"=bogus:12\n\"alsobroken\"=\"no end\n"
          "; a comment\n#unknown option\n"
          "\n[Bad\\\\\\\\Key] \n\"lost\"=dword:2\n"
          "\n[Next] 2\n#time=2\n\"n\"=hex:01,\\\n  zz\n"
        + std::string("\n[Nul] 3\n\"x\"=\"a\0b\"\n", 19) + "garbage line\n";
    ParsedFile parsed;
    const std::string copied = roundTrip(content, false, &parsed);
    EXPECT_EQ(copied, content);
    std::vector<std::size_t> lines;
    for (const auto& p : parsed.problems)
        lines.push_back(p.line);
    EXPECT_EQ(lines, (std::vector<std::size_t> { 9, 10, 14, 19, 23, 24 }));

    // Written anew, each key keeps its unreadable lines after the values it could read.
    Key root(u"", nullptr, nullptr);
    (void)parseRegFile(content, root);
    const Key* good = root.findSubkey(u"Good");
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->values.size(), 1u);
    ASSERT_TRUE(good->extra);
    EXPECT_EQ(good->extra->rawLines,
        "\"broken\"=bogus:12\n\"alsobroken\"=\"no end\n; a comment\n#unknown option\n"
        "[Bad\\\\\\\\Key] \n\"lost\"=dword:2\n");
    EXPECT_EQ(root.findSubkey(u"Next")->values.size(), 0u);
    EXPECT_EQ(root.findSubkey(u"Bad"), nullptr) << "values after an unreadable key name go nowhere";
}

TEST(WineRegFile, TruncatedFileKeepsItsLastLine) {
    const std::string full = test::readFile(test::samplePrefixDir() + "/system.reg");
    for (std::size_t cut : { full.size() - 1, full.size() / 2, std::size_t { 30 }, kHeader.size() + 3 }) {
        const std::string content = full.substr(0, cut);
        ParsedFile parsed;
        const std::string copied = roundTrip(content, false, &parsed);
        EXPECT_TRUE(parsed.isRegistryFile);
        // What was there is kept; a line end may be added after a cut line.
        EXPECT_EQ(copied.substr(0, content.size()), content) << cut;
        EXPECT_LE(copied.size(), content.size() + 1) << cut;
    }
}

TEST(WineRegFile, PathsDeeperThanTheRegistryAllowsAreKeptUnread) {
    std::string path = "K";
    for (std::size_t i = 0; i < kMaxKeyDepth; ++i)
        path += "\\\\K";
    const std::string content = kHeader + "\n[" + path + "] 1\n\"v\"=dword:1\n";
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(content, root);
    EXPECT_EQ(parsed.problems.size(), 1u);
    EXPECT_TRUE(root.subkeys.empty());
}
