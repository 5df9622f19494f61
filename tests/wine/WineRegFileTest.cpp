#include "wine/WineRegFile.h"
#include "TestSupport.h"
#include "codec/Utf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

namespace {

// Changes one value of the sample system.reg's tree, SHAREDMEMLOCATION from "9000" to "1234",
// and returns its key.
Key* changeSharedMemLocation(Key& root) {
    Key* key = &root;
    for (std::u16string_view name : { u"Software", u"Borland", u"Database Engine", u"Settings", u"SYSTEM", u"INIT" })
        if (key) key = key->findSubkey(name);
    if (!key) return nullptr;
    key->values[0].data = test::utf16Bytes(std::u16string(u"1234\0", 5));
    key->dirty = true;
    return key;
}

} // namespace

TEST(WineRegFile, CopiedBlocksKeepTheirBytesWhenOnlyOneKeyChanges) {
    const std::string original = test::readFile(test::samplePrefixDir() + "/system.reg");
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(original, root);
    ASSERT_NE(changeSharedMemLocation(root), nullptr);
    std::string out;
    std::vector<BlockPlacement> placements;
    serializeRegFile(root, original, parsed.prefixLength, parsed.relativeTo, out, placements);
    std::string expected = original;
    const std::string before = "\"SHAREDMEMLOCATION\"=\"9000\"";
    expected.replace(expected.find(before), before.size(), "\"SHAREDMEMLOCATION\"=\"1234\"");
    EXPECT_TRUE(out == expected);
}

// The old text handed out a read at a time, each read good only until the next, as the store
// reads it from disk; reads past failAfter fail, as a file cut short since it was checked.
class PiecewiseOriginal final : public RegFileOriginal {
public:
    explicit PiecewiseOriginal(const std::string& text, std::size_t failAfter = SIZE_MAX)
        : m_text(text)
        , m_failAfter(failAfter) { }
    [[nodiscard]] std::uint64_t size() const override { return m_text.size(); }
    std::optional<std::string_view> read(std::uint64_t offset, std::uint64_t length) override {
        if (reads++ >= m_failAfter || offset + length > m_text.size()) return std::nullopt;
        m_window.assign(m_text, offset, length);
        return m_window;
    }
    std::size_t reads = 0;

private:
    const std::string& m_text;
    std::size_t m_failAfter;
    std::string m_window;
};

TEST(WineRegFile, AStreamedWriteIsTheWholeWriteInPiecesWithTheSamePlacements) {
    const std::string original = test::readFile(test::samplePrefixDir() + "/system.reg");
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(original, root);
    Key* init = changeSharedMemLocation(root);
    ASSERT_NE(init, nullptr);
    // A block larger than the buffer, written anew between copied ones.
    Key* big = root.findSubkey(u"Software")->addSubkey(u"Big");
    big->dirty = true;
    big->appendValue({ u"blob", kRegBinary, std::vector<std::uint8_t>(3000, 0xab) });
    std::string whole;
    std::vector<BlockPlacement> wholePlacements;
    const std::uint64_t wholeHeader
        = serializeRegFile(root, original, parsed.prefixLength, parsed.relativeTo, whole, wholePlacements);
    ASSERT_NE(whole.find("\"SHAREDMEMLOCATION\"=\"1234\""), std::string::npos);

    for (const std::size_t bufferSize : { std::size_t(1), std::size_t(1000), std::size_t(4096), kRegFileWriteBuffer }) {
        SCOPED_TRACE(bufferSize);
        PiecewiseOriginal source(original);
        std::string streamed;
        std::size_t pieces = 0;
        std::size_t largest = 0;
        std::vector<BlockPlacement> placements;
        std::uint64_t headerLength = 0;
        std::uint64_t length = 0;
        ASSERT_TRUE(serializeRegFile(
            root, source, parsed.prefixLength, parsed.relativeTo,
            [&](std::string_view piece) {
                streamed += piece;
                ++pieces;
                largest = std::max(largest, piece.size());
                return true;
            },
            placements, headerLength, length, bufferSize));
        EXPECT_TRUE(streamed == whole);
        EXPECT_EQ(length, whole.size());
        EXPECT_EQ(headerLength, wholeHeader);
        ASSERT_EQ(placements.size(), wholePlacements.size());
        for (std::size_t i = 0; i < placements.size(); ++i) {
            EXPECT_EQ(placements[i].key, wholePlacements[i].key);
            EXPECT_EQ(placements[i].range.offset, wholePlacements[i].range.offset);
            EXPECT_EQ(placements[i].range.length, wholePlacements[i].range.length);
        }
        if (bufferSize < original.size()) {
            EXPECT_GT(pieces, 1u);
        }
        // Never much more than a buffer at once, besides the largest block.
        EXPECT_LE(largest, std::max<std::size_t>(bufferSize + 16384, 9100));
    }

    // An old text that cannot be read back, or a file that refuses a piece: the write says so.
    PiecewiseOriginal failing(original, 100);
    std::vector<BlockPlacement> placements;
    std::uint64_t headerLength = 0;
    std::uint64_t length = 0;
    EXPECT_FALSE(serializeRegFile(
        root, failing, parsed.prefixLength, parsed.relativeTo, [](std::string_view) { return true; }, placements,
        headerLength, length, 4096));
    EXPECT_EQ(failing.reads, 101u) << "the write stops at the failed read";
    PiecewiseOriginal source(original);
    std::size_t offered = 0;
    EXPECT_FALSE(serializeRegFile(
        root, source, parsed.prefixLength, parsed.relativeTo, [&](std::string_view) { return ++offered < 3; },
        placements, headerLength, length, 4096));
    EXPECT_EQ(offered, 3u) << "nothing more is offered once a piece was refused";
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
    raw.clear();
    pos = 0;
    ASSERT_TRUE(parseEscaped("bad \xff byte\"", pos, '"', raw));
    EXPECT_EQ(raw, u"bad  byte") << "wineserver drops a byte that is not UTF-8";
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

    // A block of a key spelt otherwise than a key line before it spelt it moves ahead of that line
    // in tree order: written as it stood, it would make its own spelling the first.
    const std::string spelt = kHeader + "\n[B\\\\x] 1\n\"v\"=dword:1\n\n[b] 2\n\"w\"=dword:2\n";
    const std::string copied = roundTrip(spelt, false);
    Key again(u"", nullptr, nullptr);
    (void)parseRegFile(copied, again);
    ASSERT_EQ(again.subkeys.size(), 1u);
    EXPECT_EQ(again.subkeys[0]->name, u"B") << copied;
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

// Every odd line below was given to Wine 8's wineserver, which read the block and wrote it back
// as kWineWrote: trailing text after numbers and quotes ignored, numbers read as strtoul reads
// them, bytes that are not UTF-8 dropped, a line after a continuation backslash taken whatever it
// holds. Values whose data it could not read it made empty (hex(0):).
const std::string kOddBlock
    = "\n[Odd] 1\n#time=1dd86825f2528c0zz\n#class=\"cls\" junk\n#linkage\n"
      "\"a\"=dword:0000000a ; comment\n\"b\"=\"text\" trailing\n\"c\"=dword:fffffffff\n"
      "\"d\"=dword: 1\n\"e\"=hex:01,\\ junk\n  02\n\"f\"=hex(2 ):41,00\n\"g\"=hex():01\n"
      "\"h\"=hex:0x1,100000001\n\"i\"=hex:123\n\"j\"=dword:-2\n\"k\"=dword:0x10\n\"l\"=bogus\n"
      "@x=1\n\"m\"=str(1):\"x\"\n\"n\"=hex:1 2,3\n\"o\"=\"caf\xe9 x\"\n\"p\xff\"=dword:1\n"
      "\"q\"=\"\xed\xa0\x80\"\n\"r\"=\"\xc0\xaf|\xf4\x90\x80\x80|\xe2\x82\"\n"
      "\"s\"=\"x\\q\\\xc3\xa9\"\n\"t\"=str(2):\"a\" junk\n  \"u\"  =  \"sp\"\n\"v\"=hex:01,\\\n\n"
      "\"w\"=dword:1\n\"X\"=hex:01,\\\n[OddSwallowed] 1\n\"y\"=dword:2\n\"i\"=dword:9\n"
      "\"z\"=dword:1\n\"z\"=hex:zz\n\"hex\"=hex: 01\n\"big\"=hex(100000002):01\n"
      "\"neg\"=hex(-1):\n\"str\"=str:\"s\"\n; comment\n#unknown\n";
const std::string kWineWrote
    = "\n[Odd] 1796672239\n#time=1dd86825f2528c0\n#class=\"cls\"\n#link\n"
      "\"a\"=dword:0000000a\n\"b\"=\"text\"\n\"big\"=hex(2):01\n\"c\"=dword:ffffffff\n"
      "\"d\"=dword:00000001\n\"e\"=hex:01,02\n\"f\"=hex(0):\n\"g\"=hex(0):01\n\"h\"=hex:01,01\n"
      "\"hex\"=hex(0):\n\"i\"=dword:00000009\n\"j\"=dword:fffffffe\n\"k\"=dword:00000010\n"
      "\"l\"=hex(0):\n\"m\"=hex(0):\n\"n\"=hex:01,02,03\n\"neg\"=hex(ffffffff):\n"
      "\"o\"=\"caf x\"\n\"p\"=dword:00000001\n\"q\"=\"\\xd800\"\n\"r\"=\"||\"\n"
      "\"s\"=\"xq\\xe9\"\n\"str\"=\"s\"\n\"t\"=str(2):\"a\"\n\"u\"=\"sp\"\n\"v\"=hex:01\n"
      "\"w\"=dword:00000001\n\"X\"=hex(0):\n\"y\"=dword:00000002\n\"z\"=hex(0):\n";

std::vector<RawValue> sortedValues(const Key& key) {
    std::vector<RawValue> values(key.values.begin(), key.values.end());
    std::sort(values.begin(), values.end(),
        [](const RawValue& a, const RawValue& b) { return compareNames(a.name, b.name) < 0; });
    return values;
}

// The values a key's kept lines leave empty for Wine: those whose last line Quern could not read.
std::vector<std::u16string> emptiedByKeptLines(const Key& key) {
    std::vector<std::u16string> names;
    if (key.extra)
        for (const KeptLine& line : key.extra->kept)
            if (line.namesValue && !line.overridden) names.push_back(line.valueName);
    return names;
}

TEST(WineRegFile, ReadsOddLinesAsWineDoes) {
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(kHeader + kOddBlock, root);
    const Key* odd = root.findSubkey(u"Odd");
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(root.findSubkey(u"OddSwallowed"), nullptr) << "a key line taken as hex data is no key";

    Key wineRoot(u"", nullptr, nullptr);
    (void)parseRegFile(kHeader + kWineWrote, wineRoot);
    const Key* wine = wineRoot.findSubkey(u"Odd");
    ASSERT_NE(wine, nullptr);
    // Quern holds what Wine holds, but for the values Wine made empty: Quern keeps their lines.
    const std::vector<std::u16string> emptied = emptiedByKeptLines(*odd);
    EXPECT_EQ(emptied, (std::vector<std::u16string> { u"f", u"l", u"m", u"X", u"z", u"hex" }));
    std::vector<RawValue> expected;
    for (const RawValue& value : sortedValues(*wine)) {
        const bool isEmptied = std::any_of(
            emptied.begin(), emptied.end(), [&](const std::u16string& n) { return sameName(n, value.name); });
        if (!isEmptied)
            expected.push_back(value);
        else
            EXPECT_TRUE(value.type == kRegNone && value.data.empty());
    }
    EXPECT_EQ(sortedValues(*odd), expected);
    EXPECT_EQ(odd->modified, wine->modified);
    EXPECT_TRUE(odd->isLink);
    EXPECT_EQ(odd->extra->className, u"cls");

    std::vector<std::size_t> lines;
    for (const auto& p : parsed.problems)
        lines.push_back(p.line);
    EXPECT_EQ(lines, (std::vector<std::size_t> { 16, 19, 22, 23, 24, 36, 41, 42 })) << "comments and options are not";
    EXPECT_TRUE(parsed.writeRefused.empty());

    // Written anew, the key's kept lines stand before its values, so that what Quern writes wins.
    Key* changed = root.findSubkey(u"Odd");
    changed->dirty = true;
    std::string out;
    std::vector<BlockPlacement> placements;
    (void)serializeRegFile(root, kHeader + kOddBlock, parsed.prefixLength, parsed.relativeTo, out, placements);
    EXPECT_EQ(out,
        kHeader
            + "\n[Odd] 1796672239\n#time=1dd86825f2528c0\n#class=\"cls\"\n#link\n\"f\"=hex(2 ):41,00\n\"i\"=hex:123\n"
              "\"l\"=bogus\n@x=1\n\"m\"=str(1):\"x\"\n\"X\"=hex:01,\\\n[OddSwallowed] 1\n\"z\"=hex:zz\n"
              "\"hex\"=hex: 01\n; comment\n#unknown\n"
              "\"a\"=dword:0000000a\n\"b\"=\"text\"\n\"big\"=hex(2):01\n\"c\"=dword:ffffffff\n\"d\"=dword:00000001\n"
              "\"e\"=hex:01,02\n\"g\"=hex(0):01\n\"h\"=hex:01,01\n\"i\"=dword:00000009\n\"j\"=dword:fffffffe\n"
              "\"k\"=dword:00000010\n\"n\"=hex:01,02,03\n\"neg\"=hex(ffffffff):\n\"o\"=\"caf x\"\n"
              "\"p\"=dword:00000001\n\"q\"=\"\\xd800\"\n\"r\"=\"||\"\n\"s\"=\"xq\\xe9\"\n\"str\"=\"s\"\n"
              "\"t\"=str(2):\"a\"\n\"u\"=\"sp\"\n\"v\"=hex:01\n\"w\"=dword:00000001\n\"y\"=dword:00000002\n");
}

TEST(WineRegFile, ReadsKeyLinesAsWineDoes) {
    const std::string n256(256, 'N');
    const std::string content = kHeader
        + "\n[A\\\\\\\\B] 1\n\"v\"=dword:1\n\n[C\\\\] 1\n\"v\"=dword:2\n\n[\\\\\\\\E] 1\n\"v\"=dword:3\n"
          "\n[Caf\xe9] 1\n\"v\"=dword:4\n\n[F\\\\"
        + n256 + "] 1\n\"v\"=dword:5\n\n[G\\\\" + n256 + "N] 1\n\"v\"=dword:6\n\n[\\\\] 1\n\"v\"=dword:7\n"
        + "\n[\\0x] 1\n\"w\"=dword:8\n   [H] 1 junk\n\"v\"=dword:9\n\n[\\\\\\0y] 1\n\"v\"=dword:10\n";
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(content, root);
    auto value = [&](std::initializer_list<std::u16string_view> path, std::u16string_view name) -> int {
        const Key* key = &root;
        for (auto part : path)
            if (!(key = key->findSubkey(part))) return -1;
        const auto index = key->findValue(name);
        return index < 0 ? -1 : key->values[static_cast<std::size_t>(index)].data[0];
    };
    EXPECT_EQ(value({ u"A", u"B" }, u"v"), 1) << "empty parts of a path are skipped";
    EXPECT_EQ(value({ u"C" }, u"v"), 2);
    EXPECT_EQ(value({ u"E" }, u"v"), 3);
    EXPECT_EQ(value({ u"Caf" }, u"v"), 4) << "a byte that is not UTF-8 is dropped";
    EXPECT_EQ(value({ u"F", std::u16string(256, u'N') }, u"v"), 5);
    EXPECT_EQ(root.findSubkey(u"G"), nullptr) << "a name longer than wineserver allows";
    EXPECT_EQ(value({}, u"v"), 7) << "a path of backslashes names the hive's own key";
    EXPECT_EQ(value({}, u"w"), 8) << "so does one starting with a NUL";
    EXPECT_EQ(value({ u"H" }, u"v"), 9);
    EXPECT_EQ(value({ std::u16string_view(u"\0y", 2) }, u"v"), 0x10) << "after a backslash, a NUL is part of a name";
    ASSERT_EQ(parsed.problems.size(), 1u);
    EXPECT_EQ(parsed.problems[0].what, "unreadable key line");

    // Written anew, every key reads back as the same key.
    Key again(u"", nullptr, nullptr);
    (void)parseRegFile(roundTrip(content, true), again);
    ASSERT_NE(again.findSubkey(std::u16string_view(u"\0y", 2)), nullptr);
    EXPECT_EQ(again.findValue(u"v"), root.findValue(u"v"));
    EXPECT_EQ(again.subkeys.size(), root.subkeys.size());
}

TEST(WineRegFile, KeptLinesMeanToWineWhatTheyMeantWhenTheirKeyIsWrittenAnew) {
    constexpr std::uint64_t kTime = 0x1dd86825f2528c0ull;
    const std::string header = kHeader;
    // K: a value Wine made empty, a line a later one overrides; L: the file ends in hex data that a
    // backslash says goes on, which Wine makes empty.
    const std::string original
        = header + "\n[K] 1\n\"a\"=bogus\n\"b\"=bogus\n\"b\"=dword:2\n\"c\"=dword:3\n\n[L] 2\n\"t\"=hex:01,02,\\";
    auto change = [](Key* key) {
        key->dirty = true;
        key->modified = kTime;
        return key;
    };
    auto write = [&](Key& root, const ParsedFile& parsed) {
        std::string out;
        std::vector<BlockPlacement> placements;
        (void)serializeRegFile(root, original, parsed.prefixLength, parsed.relativeTo, out, placements);
        return out;
    };
    {
        // a set and b deleted in K, M added after L.
        Key root(u"", nullptr, nullptr);
        const ParsedFile parsed = parseRegFile(original, root);
        Key* k = change(root.findSubkey(u"K"));
        ASSERT_EQ(k->findValue(u"a"), -1);
        k->appendValue({ u"a", kRegDword, { 7, 0, 0, 0 } });
        k->eraseValue(static_cast<std::size_t>(k->findValue(u"b")));
        change(root.addSubkey(u"M"))->appendValue({ u"m", kRegDword, { 1, 0, 0, 0 } });
        const std::string out = write(root, parsed);
        EXPECT_EQ(out,
            header
                + "\n[K] 1796672239\n#time=1dd86825f2528c0\n\"a\"=bogus\n\"a\"=dword:00000007\n\"c\"=dword:00000003\n"
                  "\n[L] 2\n\"t\"=hex:01,02,\\\n;; the value above was cut short at the end of the file\n"
                  "\n[M] 1796672239\n#time=1dd86825f2528c0\n\"m\"=dword:00000001\n");

        // Read back as Wine reads it: what Quern wrote, and t still empty.
        Key again(u"", nullptr, nullptr);
        (void)parseRegFile(out, again);
        const Key* k2 = again.findSubkey(u"K");
        EXPECT_EQ(sortedValues(*k2),
            (std::vector<RawValue> { { u"a", kRegDword, { 7, 0, 0, 0 } }, { u"c", kRegDword, { 3, 0, 0, 0 } } }));
        EXPECT_TRUE(emptiedByKeptLines(*k2).empty());
        const Key* l2 = again.findSubkey(u"L");
        EXPECT_TRUE(l2->values.empty());
        EXPECT_EQ(emptiedByKeptLines(*l2), std::vector<std::u16string> { u"t" });
        EXPECT_FALSE(l2->extra->kept.back().cutShort);
        EXPECT_EQ(again.findSubkey(u"M")->values.size(), 1u);
    }
    {
        // A value added to L: its block is written anew, the cut-short line ended before the value.
        Key root(u"", nullptr, nullptr);
        const ParsedFile parsed = parseRegFile(original, root);
        change(root.findSubkey(u"L"))->appendValue({ u"u", kRegDword, { 1, 0, 0, 0 } });
        const std::string l = "\n[L] 1796672239\n#time=1dd86825f2528c0\n\"t\"=hex:01,02,\\\n"
                              ";; the value above was cut short at the end of the file\n\"u\"=dword:00000001\n";
        std::string first;
        std::vector<BlockPlacement> placements;
        const auto headerLength
            = serializeRegFile(root, original, parsed.prefixLength, parsed.relativeTo, first, placements);
        EXPECT_EQ(first, header + "\n[K] 1\n\"a\"=bogus\n\"b\"=bogus\n\"b\"=dword:2\n\"c\"=dword:3\n" + l);

        // Written again with a key after L, as a running store does: L's block is copied, and the
        // line it ended stays ended once.
        for (const auto& placed : placements) {
            placed.key->source = placed.range;
            placed.key->dirty = false;
        }
        change(root.addSubkey(u"M"));
        std::string second;
        (void)serializeRegFile(root, first, headerLength, parsed.relativeTo, second, placements);
        EXPECT_EQ(second, first + "\n[M] 1796672239\n#time=1dd86825f2528c0\n");
    }
    {
        // Nothing changed: the file stays as it was, without a line end it did not have.
        Key root(u"", nullptr, nullptr);
        const ParsedFile parsed = parseRegFile(original, root);
        EXPECT_EQ(write(root, parsed), original);
    }
}

TEST(WineRegFile, BlocksNoKeyOwnsStayWhereTheyStood) {
    constexpr std::uint64_t kTime = 0x1dd86825f2528c0ull;
    const std::string header = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n"
                               "; a note above the keys\n[Early\\\\No end\n\"early\"=dword:1\n\n#arch=win64\n";
    const std::string unread = "[A\\\\Sub\n\"lost\"=dword:2\n#arch=win64\n";
    const std::string p = "[P] 2\n; P's comment\n#p-option\n\"bad\"=zzz\n";
    const std::string original = header + "\n[] 5\n#link\n\n[A] 1\n\"v\"=dword:1\n\n" + unread + "\n" + p
        + "\n[P\\\\Q] 3\n\"q\"=dword:3\n\n[Z] 4\n\"z\"=dword:4\n";
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(original, root);
    EXPECT_EQ(parsed.prefixLength, header.size());
    EXPECT_TRUE(root.isLink);

    // A deleted (the hive's key changes with it), Z changed; P, which has a subkey and no values,
    // keeps its block and its lines.
    root.subkeys.erase(root.subkeys.begin() + static_cast<std::ptrdiff_t>(root.subkeyPosition(u"A")));
    root.dirty = true;
    root.modified = kTime;
    Key* z = root.findSubkey(u"Z");
    z->dirty = true;
    z->modified = kTime;
    z->values[0].data = { 5, 0, 0, 0 };
    std::string first;
    std::vector<BlockPlacement> placements;
    const std::uint64_t headerLength
        = serializeRegFile(root, original, parsed.prefixLength, parsed.relativeTo, first, placements);
    EXPECT_EQ(first,
        header + "\n[] 1796672239\n#time=1dd86825f2528c0\n#link\n\n" + unread + "\n" + p
            + "\n[P\\\\Q] 3\n\"q\"=dword:3\n\n[Z] 1796672239\n#time=1dd86825f2528c0\n\"z\"=dword:00000005\n");
    EXPECT_EQ(headerLength, header.size()) << "the header ends before the first key Wine reads, not at the first '['";

    // A second write from the first, as a running store makes it: P changed now.
    for (const auto& placed : placements) {
        placed.key->source = placed.range;
        placed.key->dirty = false;
    }
    Key* pKey = root.findSubkey(u"P");
    pKey->dirty = true;
    pKey->modified = kTime;
    std::string second;
    (void)serializeRegFile(root, first, headerLength, parsed.relativeTo, second, placements);
    EXPECT_EQ(second,
        header + "\n[] 1796672239\n#time=1dd86825f2528c0\n#link\n\n" + unread
            + "\n[P] 1796672239\n#time=1dd86825f2528c0\n; P's comment\n#p-option\n\"bad\"=zzz\n"
              "\n[P\\\\Q] 3\n\"q\"=dword:3\n\n[Z] 1796672239\n#time=1dd86825f2528c0\n\"z\"=dword:00000005\n");
}

TEST(WineRegFile, FilesWineWouldReadDifferentlyOnceWrittenAreReadOnly) {
    // With this header wineserver's line buffer holds 62 bytes when the key's lines come: a line
    // holding a NUL ends there, and what lies past 62 bytes is read as a line of its own.
    const std::string nulLine = std::string("\"a\"=dword:1\0", 12) + std::string(50, 'x') + "\"b\"=dword:2\n";
    const std::string withNul
        = kHeader + "\n[K] 1\n" + nulLine + std::string("\"c\"=\"short\0junk\"\n", 17) + "\"d\"=dword:4\n";
    Key root(u"", nullptr, nullptr);
    ParsedFile parsed = parseRegFile(withNul, root);
    const Key* k = root.findSubkey(u"K");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(sortedValues(*k),
        (std::vector<RawValue> { { u"a", kRegDword, { 1, 0, 0, 0 } }, { u"b", kRegDword, { 2, 0, 0, 0 } },
            { u"d", kRegDword, { 4, 0, 0, 0 } } }));
    EXPECT_EQ(emptiedByKeptLines(*k), std::vector<std::u16string> { u"c" });
    EXPECT_NE(parsed.writeRefused.find("line 7 holds a NUL byte"), std::string::npos) << parsed.writeRefused;

    // wineserver stops reading at an #arch line it does not accept, and never writes the file.
    const std::string after = "\n[After] 1\n\"v\"=dword:1\n";
    for (const std::string& content : { "WINE REGISTRY Version 2\n#arch=win64\n#arch=win32\n" + after,
             "WINE REGISTRY Version 2\n#arch=win64 \n" + after,
             kHeader + "\n[Before] 1\n\n[Unread\n#arch=arm\n" + after }) {
        Key stopped(u"", nullptr, nullptr);
        parsed = parseRegFile(content, stopped);
        EXPECT_NE(parsed.writeRefused.find("Wine stops reading it at line"), std::string::npos) << content;
        EXPECT_EQ(stopped.findSubkey(u"After"), nullptr) << content;
    }
    Key fine(u"", nullptr, nullptr);
    parsed = parseRegFile(kHeader + "\n[Unread\n#arch=win64\n" + after, fine);
    EXPECT_TRUE(parsed.writeRefused.empty());
    EXPECT_EQ(parsed.arch, "win64");
    EXPECT_NE(fine.findSubkey(u"After"), nullptr);
}

TEST(WineRegFile, ValuesKeepTheirOrderAndNamesThroughDeletionsAndTheirUndoing) {
    // The list against a plain vector, with deletions front, back and middle, appends between them
    // and deletions undone in reverse order, in a list small enough to be scanned and one large
    // enough to be indexed.
    for (const std::size_t count : { std::size_t { 20 }, std::size_t { 300 } }) {
        Key key(u"K", nullptr, nullptr);
        std::vector<RawValue> model;
        auto named = [](std::size_t i) {
            return RawValue { u"v" + toUtf16(std::to_string(i)), kRegDword, { static_cast<std::uint8_t>(i) } };
        };
        for (std::size_t i = 0; i < count; ++i) {
            key.appendValue(named(i));
            model.push_back(named(i));
        }
        auto check = [&](const char* when) {
            ASSERT_EQ(key.values.size(), model.size()) << when;
            std::vector<RawValue> listed(key.values.begin(), key.values.end());
            ASSERT_EQ(listed, model) << when;
            for (std::size_t i = 0; i < model.size(); ++i) {
                ASSERT_EQ(key.values[i], model[i]) << when;
                std::u16string upper = model[i].name;
                upper[0] = u'V';
                ASSERT_EQ(key.findValue(upper), static_cast<std::ptrdiff_t>(i)) << when;
            }
            ASSERT_EQ(key.findValue(u"gone"), -1) << when;
        };
        std::uint32_t seed = 12345;
        auto random = [&](std::size_t below) {
            seed = seed * 1103515245u + 12345u;
            return static_cast<std::size_t>((seed >> 8) % below);
        };
        std::vector<std::pair<std::size_t, RawValue>> undo;
        auto erase = [&](std::size_t index) {
            // Moved out before it is erased, as the store keeps it for undoing.
            undo.emplace_back(index, std::move(key.values[index]));
            key.eraseValue(index);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(index));
        };
        for (std::size_t i = 0; i < count / 4; ++i)
            erase(0);
        check("after deleting from the front");
        for (std::size_t i = 0; i < count / 8; ++i)
            erase(model.size() - 1);
        for (std::size_t i = 0; i < count / 4; ++i)
            erase(random(model.size()));
        check("after deleting from the back and the middle");
        while (!undo.empty()) {
            key.insertValue(undo.back().first, undo.back().second);
            model.insert(model.begin() + static_cast<std::ptrdiff_t>(undo.back().first), undo.back().second);
            undo.pop_back();
        }
        check("after undoing every deletion");
        for (std::size_t round = 0; round < count; ++round) {
            if (random(3) == 0) {
                key.appendValue(named(count + round));
                model.push_back(named(count + round));
            } else if (!model.empty()) {
                erase(random(model.size()));
            }
        }
        check("after deletions and appends mixed");
        while (!model.empty())
            erase(0);
        check("once empty");
    }
}

TEST(WineRegFile, TruncatedFileKeepsItsLastLine) {
    const std::string full = test::readFile(test::samplePrefixDir() + "/system.reg");
    for (std::size_t cut : { full.size() - 1, full.size() / 2, std::size_t { 30 }, kHeader.size() + 3 }) {
        const std::string content = full.substr(0, cut);
        ParsedFile parsed;
        const std::string copied = roundTrip(content, false, &parsed);
        EXPECT_TRUE(parsed.isRegistryFile);
        EXPECT_TRUE(copied == content) << "what was there is kept, without a line end it lacked; cut at " << cut;
    }
}

TEST(WineRegFile, PathsDeeperThanTheRegistryAllowsAreKeptUnread) {
    std::string path = "K";
    for (std::size_t i = 0; i < kMaxKeyDepth; ++i)
        path += "\\\\K";
    const std::string content = kHeader + "\n[" + path + "] 1\n\"v\"=dword:1\n";
    Key root(u"", nullptr, nullptr);
    const ParsedFile parsed = parseRegFile(content, root);
    ASSERT_FALSE(parsed.problems.empty());
    EXPECT_EQ(parsed.problems.front().what, "unreadable key line");
    EXPECT_TRUE(root.subkeys.empty());
}
