#include "cli/RegCommand.h"
#include "TestSupport.h"
#include "codec/Utf.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <unordered_set>

using namespace quern;
using namespace quern::reg;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
    std::size_t filesWritten = 0;
};

constexpr std::u16string_view kUserHive = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\";

class RegCommandTest : public ::testing::Test {
protected:
    void SetUp() override { test::copySamplePrefix(dir.path()); }

    WinePrefixOptions options() const { return test::testPrefixOptions(dir.path(), tmp.path()); }

    // Runs one command on a registry opened for it alone, as one run of quern-reg does.
    Result run(const std::vector<std::string>& args, const std::string& input = "") const {
        WinePrefixStore store(options());
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream err;
        Result result;
        result.code = cli::runRegCommand(args, store, in, out, err);
        result.out = out.str();
        result.err = err.str();
        result.filesWritten = store.filesWritten();
        return result;
    }

    std::string files() const {
        std::string all;
        for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
            all += test::readFile(dir / name) + '\f';
        return all;
    }

    // Keys and values made straight in the store, so that a test of one command leans on no other.
    void setValue(
        HKey root, std::u16string_view path, std::u16string_view name, std::uint32_t type, const Bytes& data) const {
        WinePrefixStore store(options());
        HKey key = kNoKey;
        ASSERT_EQ(store.createKey(root, path, Access::Full, kOptionNone, key), Status::Ok);
        ASSERT_EQ(store.setValue(key, name, type, data), Status::Ok);
        (void)store.closeKey(key);
    }
    void createKey(HKey root, std::u16string_view path) const {
        WinePrefixStore store(options());
        HKey key = kNoKey;
        ASSERT_EQ(store.createKey(root, path, Access::Full, kOptionNone, key), Status::Ok);
        (void)store.closeKey(key);
    }
    void makeLink(HKey root, std::u16string_view path, std::u16string_view target) const {
        WinePrefixStore store(options());
        HKey key = kNoKey;
        ASSERT_EQ(store.createKey(root, path, Access::Full, kCreateLink | kOpenLink, key), Status::Ok);
        ASSERT_EQ(store.setValue(key, u"SymbolicLinkValue", kRegLink, test::utf16Bytes(target)), Status::Ok);
        (void)store.closeKey(key);
    }
    std::optional<RawValue> value(HKey root, std::u16string_view path, std::u16string_view name) const {
        WinePrefixStore store(options());
        HKey key = kNoKey;
        RawValue result { std::u16string(name), 0, {} };
        if (store.openKey(root, path, Access::Read, kOptionNone, key) != Status::Ok
            || store.queryValue(key, name, result.type, result.data) != Status::Ok)
            return std::nullopt;
        return result;
    }
    // Whether the key exists, as itself: a link key is not followed.
    std::optional<KeyInfo> keyInfo(HKey root, std::u16string_view path) const {
        WinePrefixStore store(options());
        HKey key = kNoKey;
        KeyInfo info;
        if (store.openKey(root, path, Access::Read, kOpenLink, key) != Status::Ok) return std::nullopt;
        (void)store.queryInfo(key, info);
        return info;
    }

    test::TempDir dir;
    test::TempDir tmp;
};

// A key with a value of every kind, a default value, and subkeys with and without values.
class QueryTest : public RegCommandTest {
protected:
    void SetUp() override {
        RegCommandTest::SetUp();
        const std::u16string_view at = u"Software\\Layout";
        setValue(kCurrentUser, at, u"Name", kRegSz, test::utf16zBytes(u"text"));
        setValue(kCurrentUser, at, u"Count", kRegDword, { 0x2a, 0, 0, 0 });
        setValue(kCurrentUser, at, u"Big", kRegQword, { 0x89, 0x67, 0x45, 0x23, 0x01, 0, 0, 0 });
        setValue(kCurrentUser, at, u"Blob", kRegBinary, { 0x01, 0xab });
        setValue(kCurrentUser, at, u"List", kRegMultiSz, test::utf16Bytes(std::u16string_view(u"a\0b\0\0", 5)));
        setValue(kCurrentUser, at, u"Path", kRegExpandSz, test::utf16zBytes(u"%P%\\x"));
        setValue(kCurrentUser, at, u"Empty", kRegBinary, {});
        setValue(kCurrentUser, at, u"Odd", 0xffff0012u, { 0xff });
        setValue(kCurrentUser, at, u"", kRegSz, test::utf16zBytes(u"d\u00e9fault"));
        setValue(kCurrentUser, u"Software\\Layout\\Sub", u"x", kRegSz, test::utf16zBytes(u"1"));
        createKey(kCurrentUser, u"Software\\Layout\\Sub\\Deeper");
        createKey(kCurrentUser, u"Software\\Layout\\bare");
    }

    // Values come back in the order the file keeps them: the default first, then by name.
    static constexpr std::string_view kValues = "    (Default)    REG_SZ    d\xc3\xa9"
                                                "fault\n"
                                                "    Big    REG_QWORD    0x123456789\n"
                                                "    Blob    REG_BINARY    01AB\n"
                                                "    Count    REG_DWORD    0x2a\n"
                                                "    Empty    REG_BINARY    \n"
                                                "    List    REG_MULTI_SZ    a\\0b\n"
                                                "    Name    REG_SZ    text\n"
                                                "    Odd    0xffff0012    FF\n"
                                                "    Path    REG_EXPAND_SZ    %P%\\x\n";
};

} // namespace

// --- Arguments -------------------------------------------------------------------------------

TEST_F(RegCommandTest, BadArgumentsPrintTheUsageAndExitOneWithoutWriting) {
    const std::string before = files();
    const std::vector<std::vector<std::string>> cases {
        {},
        { "frobnicate", "HKCU\\Software" },
        { "query" },
        { "query", "HKCU\\Software", "/x" },
        { "query", "HKCU\\Software", "extra" },
        { "query", "HKCU\\Software", "/s", "/s" },
        { "query", "HKCU\\Software", "/v" },
        { "query", "HKCU\\Software", "/v", "a", "/ve" },
        { "query", "HKCU\\Software", "/f" },
        { "query", "HKCU\\Software", "/reg:32" },
        { "query", "HKXX\\Software" },
        { "query", "HKCUX\\Software" },
        { "query", "\\\\server\\HKLM\\Software" },
        { "query", "HKCU\\Software\\\\Wine" },
        { "query", "HKCU\\\\" },
        { "query", "HKCU\\" + std::string(256, 'k') },
        { "query", "HKCU\\Software\xff" },
        { "query", "/?", "extra" },
        { "add", "HKCU\\Software\\New", "/t" },
        { "add", "HKCU\\Software\\New", "/s", "ab", "/d", "x" },
        { "add", "HKCU\\Software\\New", "/d", "a", "/d", "b" },
        { "add", "HKCU\\Software\\New", "/va" },
        { "add", "HKCU\\Software\\New", "/v", std::string(16384, 'v'), "/d", "x" },
        { "delete", "HKCU\\Software\\Wine", "/v", "a", "/va" },
        { "delete", "HKCU\\Software\\Wine", "/ve", "/va" },
        { "delete", "HKCU\\Software\\Wine", "/s" },
        { "copy", "HKCU\\Software\\Wine" },
        { "copy", "HKCU\\Software\\Wine", "HKCU\\Software\\Copy", "/v", "x" },
        { "export", "HKCU\\Software\\Wine" },
        { "export", "--selection", "keys.qks" },
        { "export", "HKCU\\Software\\Wine", "out.reg", "/f" },
    };
    for (const auto& args : cases) {
        const Result result = run(args);
        std::string shown;
        for (const auto& arg : args)
            shown += arg.substr(0, 40) + ' ';
        EXPECT_EQ(result.code, 1) << shown;
        EXPECT_TRUE(result.out.empty()) << shown;
        EXPECT_NE(result.err.find("quern-reg: "), std::string::npos) << shown;
        EXPECT_NE(result.err.find("Usage: "), std::string::npos) << shown << result.err;
        EXPECT_EQ(result.filesWritten, 0u) << shown;
    }
    EXPECT_TRUE(files() == before);
}

TEST_F(RegCommandTest, HelpIsAskedWithASlashOrDashQuestionMarkOrH) {
    for (const auto& args : std::vector<std::vector<std::string>> {
             { "/?" }, { "-h" }, { "--help" }, { "query", "/?" }, { "ADD", "-?" }, { "copy", "/H" } }) {
        const Result result = run(args);
        EXPECT_EQ(result.code, 0) << args[0];
        EXPECT_NE(result.out.find("Usage: quern-reg "), std::string::npos) << args[0];
        EXPECT_NE(result.out.find("HKEY_CURRENT_CONFIG | HKCC"), std::string::npos);
        EXPECT_TRUE(result.err.empty());
    }
    EXPECT_NE(run({ "add", "/?" }).out.find("/s SEPARATOR"), std::string::npos);
}

TEST_F(RegCommandTest, RootsHaveLongAndShortNamesInAnyLetterCase) {
    const Result longName = run({ "query", "HKEY_CURRENT_USER\\Software\\Wine\\Fonts" });
    ASSERT_EQ(longName.code, 0) << longName.err;
    EXPECT_EQ(longName.out,
        "\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\n"
        "    Codepages    REG_SZ    1252,437\n"
        "    LogPixels    REG_DWORD    0x60\n\n"
        "HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts\n");
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Wine\\Fonts" }).out, longName.out);
    EXPECT_EQ(run({ "query", "hkcu\\Software\\Wine\\Fonts\\" }).out, longName.out) << "a closing backslash";
    EXPECT_EQ(run({ "query", "hKeY_cUrReNt_UsEr\\Software\\Wine\\Fonts", "-reg:64" }).out, longName.out);

    // The same keys under their other names.
    const Result classes = run({ "query", "HKLM\\Software\\Classes\\.chm" });
    const Result hkcr = run({ "query", "HKCR\\.chm" });
    ASSERT_EQ(hkcr.code, 0);
    EXPECT_EQ(hkcr.out.substr(hkcr.out.find("\n    ")), classes.out.substr(classes.out.find("\n    ")));
    EXPECT_TRUE(hkcr.out.starts_with("\nHKEY_CLASSES_ROOT\\.chm\n")) << hkcr.out;
    EXPECT_EQ(run({ "query", "HKU\\S-1-5-21-0-0-0-1000\\Software\\Wine\\Fonts", "/v", "LogPixels" }).code, 0);
    EXPECT_EQ(run({ "query", "HKCC" }).code, 0);
}

// --- query -----------------------------------------------------------------------------------

TEST_F(QueryTest, ListsTheValuesThenTheSubkeyNames) {
    const Result result = run({ "query", "HKCU\\Software\\Layout" });
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
        "\nHKEY_CURRENT_USER\\Software\\Layout\n" + std::string(kValues)
            + "\n"
              "HKEY_CURRENT_USER\\Software\\Layout\\bare\n"
              "HKEY_CURRENT_USER\\Software\\Layout\\Sub\n");
    EXPECT_TRUE(result.err.empty());
    EXPECT_EQ(result.out.find('\r'), std::string::npos);

    EXPECT_EQ(run({ "query", "HKCU\\Software\\Layout\\Sub\\Deeper" }).out, "\n") << "nothing to list";
    EXPECT_EQ(run({ "query", "HKCU\\software\\LAYOUT\\sub" }).out,
        "\nHKEY_CURRENT_USER\\software\\LAYOUT\\sub\n    x    REG_SZ    1\n\n"
        "HKEY_CURRENT_USER\\software\\LAYOUT\\sub\\Deeper\n")
        << "the path as typed, the names below it as stored";
}

TEST_F(RegCommandTest, QueryShowsALoneSurrogateAsItsEscape) {
    setValue(kCurrentUser, u"Software\\Odd\xd800", u"v\xdc01", kRegSz, { 'a', 0, 0x00, 0xd8, 0, 0 });
    EXPECT_EQ(run({ "query", "HKCU\\Software", "/s", "/v", "v\xed\xb0\x81" }).out,
        "\nHKEY_CURRENT_USER\\Software\\Odd<U+D800>\n    v<U+DC01>    REG_SZ    a<U+D800>\n\n"
        "Search complete. Number of matches found: 1\n");
}

// find prints each hit on a line of its own, odd units and line breaks shown as the window shows
// them, and takes a start position in the same form.
TEST_F(RegCommandTest, FindListsEveryHitInTheOrderOfTheWalk) {
    setValue(kCurrentUser, u"Software\\Caf\u00e9\xd800", u"na\u00efve", kRegSz, test::utf16zBytes(u"gr\u00fcn"));
    setValue(kCurrentUser, u"Software\\Caf\u00e9\xd800", u"line\nbreak", kRegDword, { 0xff, 0xff, 0xff, 0xff });
    const std::string key = "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Caf\xc3\xa9<U+D800>";
    EXPECT_EQ(run({ "find", "*CAF\xc3\xa9*", "/k" }).out, key + "\n");
    const Result values = run({ "find", "NOT *", "/from", "HKCU\\Software\\Caf\xc3\xa9<U+D800>", "/v", "/d" });
    EXPECT_EQ(values.code, 1) << "nothing is the empty text";
    EXPECT_EQ(run({ "find", "-1 OR gr\xc3\xbcn", "/d", "/from", "HKCU\\Software\\Caf\xc3\xa9<U+D800>" }).out,
        "HKEY_CURRENT_USER\\Software\\Caf\xc3\xa9<U+D800>\\\\line\xe2\x90\x8a"
        "break\n"
        "HKEY_CURRENT_USER\\Software\\Caf\xc3\xa9<U+D800>\\\\na\xc3\xafve\n"
            + key
            + "\\\\line\xe2\x90\x8a"
              "break\n"
            + key + "\\\\na\xc3\xafve\n");
    const Result nothing = run({ "find", "no such name" });
    EXPECT_EQ(nothing.code, 1);
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(run({ "find", "x", "/from", "HKCU\\Software\\Missing" }).err,
        "quern-reg: The key HKEY_CURRENT_USER\\Software\\Missing does not exist.\n");
    EXPECT_EQ(run({ "find", "" }).code, 1);
}

// What a listing shows is what the commands take: a key or value printed with an escaped odd unit
// can be queried, exported and deleted by that text.
TEST_F(RegCommandTest, ALoneSurrogateShownAsItsEscapeIsTakenBack) {
    setValue(kCurrentUser, u"Software\\Odd\xd800", u"v\xdc01", kRegSz, { 'a', 0, 0, 0 });
    setValue(kCurrentUser, u"Software\\Odd\xd800", u"w", kRegSz, { 'b', 0, 0, 0 });
    const std::string key = "HKCU\\Software\\Odd<U+D800>";
    EXPECT_EQ(run({ "query", key, "/v", "v<U+DC01>" }).out,
        "\nHKEY_CURRENT_USER\\Software\\Odd<U+D800>\n    v<U+DC01>    REG_SZ    a\n\n");
    const Result exported = run({ "export", key, dir / "odd.reg", "/y" });
    EXPECT_EQ(exported.code, 0) << exported.err;
    EXPECT_EQ(run({ "delete", key, "/v", "v<U+DC01>", "/f" }).code, 0);
    EXPECT_EQ(run({ "query", key }).out, "\nHKEY_CURRENT_USER\\Software\\Odd<U+D800>\n    w    REG_SZ    b\n\n");
    EXPECT_EQ(run({ "delete", key, "/f" }).code, 0);
    EXPECT_EQ(run({ "query", key }).code, 1);
}

TEST_F(QueryTest, RecursiveListingHeadsEveryKeyBelowTheFirst) {
    const Result result = run({ "query", "HKCU\\Software\\Layout", "/s" });
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
        "\nHKEY_CURRENT_USER\\Software\\Layout\n" + std::string(kValues)
            + "\n"
              "HKEY_CURRENT_USER\\Software\\Layout\\bare\n\n"
              "HKEY_CURRENT_USER\\Software\\Layout\\Sub\n"
              "    x    REG_SZ    1\n\n"
              "HKEY_CURRENT_USER\\Software\\Layout\\Sub\\Deeper\n\n");
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Layout\\bare", "/s" }).out, "\n");
}

TEST_F(QueryTest, OneValueByNameOrTheDefault) {
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Layout", "/v", "count" }).out,
        "\nHKEY_CURRENT_USER\\Software\\Layout\n    Count    REG_DWORD    0x2a\n\n");
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Layout", "/ve" }).out,
        "\nHKEY_CURRENT_USER\\Software\\Layout\n    (Default)    REG_SZ    d\xc3\xa9"
        "fault\n\n");
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Layout\\Sub", "/ve" }).out,
        "\nHKEY_CURRENT_USER\\Software\\Layout\\Sub\n    (Default)    REG_SZ    (value not set)\n\n");

    const Result missing = run({ "query", "HKCU\\Software\\Layout", "/v", "Nope" });
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "quern-reg: The value 'Nope' does not exist in HKEY_CURRENT_USER\\Software\\Layout.\n");
}

TEST_F(QueryTest, RecursiveSearchForAValueCountsTheMatches) {
    setValue(kCurrentUser, u"Software\\Layout\\Sub\\Deeper", u"X", kRegDword, { 7, 0, 0, 0 });
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Layout", "/v", "x", "/s" }).out,
        "\n"
        "HKEY_CURRENT_USER\\Software\\Layout\\Sub\n    x    REG_SZ    1\n\n"
        "HKEY_CURRENT_USER\\Software\\Layout\\Sub\\Deeper\n    X    REG_DWORD    0x7\n\n"
        "Search complete. Number of matches found: 2\n");
    const Result none = run({ "query", "HKCU\\Software\\Layout", "/v", "Nope", "/s" });
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.out, "\nSearch complete. Number of matches found: 0\n");
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Layout", "/ve", "/s" }).out,
        "\nHKEY_CURRENT_USER\\Software\\Layout\n    (Default)    REG_SZ    d\xc3\xa9"
        "fault\n\nSearch complete. Number of matches found: 1\n");
}

TEST_F(QueryTest, AMissingKeyFails) {
    const Result result = run({ "query", "HKCU\\Software\\Nope", "/s" });
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "quern-reg: The key HKEY_CURRENT_USER\\Software\\Nope does not exist.\n");
}

TEST_F(QueryTest, RecursiveListingFollowsLinksButNeverBackUp) {
    makeLink(kCurrentUser, u"Software\\Layout\\Sub\\ToBare", std::u16string(kUserHive) + u"Software\\Layout\\bare");
    makeLink(kCurrentUser, u"Software\\Layout\\Sub\\Up", std::u16string(kUserHive) + u"Software\\Layout");
    setValue(kCurrentUser, u"Software\\Layout\\bare", u"seen", kRegSz, test::utf16zBytes(u"twice"));
    const Result result = run({ "query", "HKCU\\Software\\Layout\\Sub", "/s" });
    ASSERT_EQ(result.code, 0);
    EXPECT_EQ(result.out,
        "\nHKEY_CURRENT_USER\\Software\\Layout\\Sub\n    x    REG_SZ    1\n\n"
        "HKEY_CURRENT_USER\\Software\\Layout\\Sub\\Deeper\n\n"
        "HKEY_CURRENT_USER\\Software\\Layout\\Sub\\ToBare\n    seen    REG_SZ    twice\n\n"
        "HKEY_CURRENT_USER\\Software\\Layout\\Sub\\Up\n"
            + std::string(kValues)
            + "\n"
              "HKEY_CURRENT_USER\\Software\\Layout\\Sub\\Up\\bare\n    seen    REG_SZ    twice\n\n");
}

TEST_F(RegCommandTest, TheWholeSampleRegistryIsListed) {
    const Result result = run({ "query", "HKLM", "/s" });
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out.find('\r'), std::string::npos);
    // Every key that has a block of its own in system.reg heads its lines (a walk that stopped
    // early or skipped keys would miss some), and those below links once more.
    std::unordered_set<std::string_view> lines;
    for (std::size_t pos = 0; pos < result.out.size();) {
        const std::size_t end = result.out.find('\n', pos);
        lines.insert(std::string_view(result.out).substr(pos, end - pos));
        pos = end + 1;
    }
    const std::string file = test::readFile(dir / "system.reg");
    std::size_t blocks = 0;
    for (std::size_t pos = 0; (pos = file.find("\n[", pos)) != std::string::npos; ++pos) {
        std::string path = file.substr(pos + 2, file.find("] ", pos) - pos - 2);
        for (std::size_t at = 0; (at = path.find("\\\\", at)) != std::string::npos; ++at)
            path.erase(at, 1);
        if (path.find_first_of("\"") != std::string::npos || path.find("\\x") != std::string::npos) continue;
        ++blocks;
        EXPECT_TRUE(lines.contains("HKEY_LOCAL_MACHINE\\" + path)) << path;
    }
    EXPECT_GT(blocks, 8000u);
    EXPECT_TRUE(lines.contains("HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\CLSID")) << "a link followed";
}

// --- add -------------------------------------------------------------------------------------

TEST_F(RegCommandTest, AddStoresEachTypeAsTheRegistryHoldsIt) {
    struct Case {
        std::vector<std::string> switches;
        std::uint32_t type;
        Bytes data;
    };
    const std::vector<Case> cases {
        { { "/d", "text" }, kRegSz, test::utf16zBytes(u"text") },
        { { "/t", "REG_SZ", "/d", "\xc3\xa9" }, kRegSz, test::utf16zBytes(u"\u00e9") },
        { { "/t", "REG_EXPAND_SZ", "/d", "%PATH%" }, kRegExpandSz, test::utf16zBytes(u"%PATH%") },
        { { "/t", "reg_multi_sz", "/d", "a\\0b" }, kRegMultiSz, test::utf16Bytes(std::u16string_view(u"a\0b\0\0", 5)) },
        { { "/t", "REG_MULTI_SZ", "/s", "|", "/d", "a|b" }, kRegMultiSz,
            test::utf16Bytes(std::u16string_view(u"a\0b\0\0", 5)) },
        { { "/t", "REG_DWORD", "/d", "0x2a" }, kRegDword, { 0x2a, 0, 0, 0 } },
        { { "/t", "REG_QWORD", "/d", "1" }, kRegQword, { 1, 0, 0, 0, 0, 0, 0, 0 } },
        { { "/t", "REG_BINARY", "/d", "00ff" }, kRegBinary, { 0x00, 0xff } },
        { { "/t", "REG_BINARY" }, kRegBinary, {} },
        { { "/t", "REG_NONE", "/d", "x" }, kRegNone, test::utf16zBytes(u"x") },
        { {}, kRegSz, test::utf16zBytes(u"") },
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "v" + std::to_string(n++);
        std::vector<std::string> args { "add", "HKCU\\Software\\Added", "/v", name };
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        const Result result = run(args);
        EXPECT_EQ(result.code, 0) << name << result.err;
        EXPECT_EQ(result.out, "The operation completed successfully.\n");
        EXPECT_EQ(result.filesWritten, 1u) << "one write for the key and its value";
        const auto stored = value(kCurrentUser, u"Software\\Added", toUtf16(name));
        ASSERT_TRUE(stored) << name;
        EXPECT_EQ(stored->type, c.type) << name;
        EXPECT_EQ(stored->data, c.data) << name;
    }
}

TEST_F(RegCommandTest, AddWithoutAValueSwitchOnlyMakesTheKey) {
    const Result result = run({ "add", "HKLM\\Software\\New\\Deep\\Key" });
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.filesWritten, 1u);
    const auto made = keyInfo(kLocalMachine, u"Software\\New\\Deep\\Key");
    ASSERT_TRUE(made);
    EXPECT_EQ(made->valueCount, 0u) << "no default value is made";

    const std::string before = files();
    const Result again = run({ "add", "HKLM\\Software\\New\\Deep\\Key" });
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.filesWritten, 0u) << "a key that exists is no change";
    EXPECT_TRUE(files() == before);
}

TEST_F(RegCommandTest, AddWithDataButNoNameSetsTheDefaultValue) {
    EXPECT_EQ(run({ "add", "HKCU\\Software\\D", "/d", "one" }).code, 0);
    EXPECT_EQ(value(kCurrentUser, u"Software\\D", u"")->data, test::utf16zBytes(u"one"));
    EXPECT_EQ(run({ "add", "HKCU\\Software\\D", "/ve", "/d", "two", "/f" }).code, 0);
    EXPECT_EQ(value(kCurrentUser, u"Software\\D", u"")->data, test::utf16zBytes(u"two"));
    EXPECT_EQ(run({ "add", "HKCU\\Software\\E", "/ve" }).code, 0);
    EXPECT_EQ(value(kCurrentUser, u"Software\\E", u"")->data, test::utf16zBytes(u""));
}

TEST_F(RegCommandTest, AddAsksBeforeReplacingAValue) {
    setValue(kCurrentUser, u"Software\\Ask", u"v", kRegSz, test::utf16zBytes(u"old"));
    const std::string before = files();
    for (const std::string answer : { "", "n\n", "no\n", "nope\n", "yess\n", "\n" }) {
        const Result result = run({ "add", "HKCU\\Software\\Ask", "/v", "v", "/d", "new" }, answer);
        EXPECT_EQ(result.code, 0) << answer;
        EXPECT_EQ(result.err,
            "The registry value 'v' already exists. Do you want to overwrite it? (Yes|No) "
                + std::string(answer.empty() ? "\n" : ""))
            << answer;
        EXPECT_EQ(result.out, "quern-reg: The operation was canceled; nothing was changed.\n");
        EXPECT_EQ(result.filesWritten, 0u);
    }
    EXPECT_TRUE(files() == before);

    EXPECT_EQ(run({ "add", "HKCU\\Software\\Ask", "/v", "v", "/d", "yes" }, " Y \n").code, 0);
    EXPECT_EQ(value(kCurrentUser, u"Software\\Ask", u"v")->data, test::utf16zBytes(u"yes"));
    const Result forced = run({ "add", "HKCU\\Software\\Ask", "/v", "v", "/t", "REG_DWORD", "/d", "1", "/f" });
    EXPECT_EQ(forced.code, 0);
    EXPECT_TRUE(forced.err.empty()) << "/f asks nothing";
    EXPECT_EQ(value(kCurrentUser, u"Software\\Ask", u"v")->type, kRegDword);
    EXPECT_EQ(run({ "add", "HKCU\\Software\\Ask", "/v", "new", "/d", "x" }).err, "") << "a new value asks nothing";
}

TEST_F(RegCommandTest, AddRefusesBadDataBeforeChangingAnything) {
    const std::string before = files();
    const std::vector<std::vector<std::string>> cases {
        { "/v", "x", "/t", "REG_FOO", "/d", "1" },
        { "/v", "x", "/t", "REG_DWORD" },
        { "/v", "x", "/t", "REG_QWORD" },
        { "/v", "x", "/t", "REG_DWORD", "/d", "4294967296" },
        { "/v", "x", "/t", "REG_DWORD", "/d", "-1" },
        { "/v", "x", "/t", "REG_BINARY", "/d", "xyz" },
        { "/v", "x", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b" },
    };
    for (const auto& switches : cases) {
        std::vector<std::string> args { "add", "HKCU\\Software\\Bad\\Key" };
        args.insert(args.end(), switches.begin(), switches.end());
        const Result result = run(args);
        EXPECT_EQ(result.code, 1) << switches[3];
        EXPECT_TRUE(result.err.starts_with("quern-reg: ")) << result.err;
        EXPECT_EQ(result.err.find("Usage"), std::string::npos) << "the arguments were fine, the data was not";
    }
    EXPECT_FALSE(keyInfo(kCurrentUser, u"Software\\Bad"));
    EXPECT_TRUE(files() == before);
    EXPECT_EQ(run({ "add", "HKCU\\Software\\Bad", "/v", "x", "/t", "REG_FOO" }).err,
        "quern-reg: Unsupported type [REG_FOO].\n");
}

TEST_F(RegCommandTest, AddCannotMakeKeysBelowHkeyUsers) {
    const std::string before = files();
    const Result result = run({ "add", "HKU\\S-1-5-99", "/f" });
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("HKEY_USERS\\S-1-5-99 cannot be changed"), std::string::npos) << result.err;
    EXPECT_TRUE(files() == before);
}

// --- delete ----------------------------------------------------------------------------------

TEST_F(RegCommandTest, DeleteRemovesAKeyWithAllBelowItAndLinksAsLinks) {
    setValue(kCurrentUser, u"Software\\Gone\\A\\B", u"v", kRegSz, test::utf16zBytes(u"1"));
    setValue(kCurrentUser, u"Software\\Gone\\C", u"v", kRegSz, test::utf16zBytes(u"2"));
    setValue(kCurrentUser, u"Software\\Kept", u"v", kRegSz, test::utf16zBytes(u"3"));
    makeLink(kCurrentUser, u"Software\\Gone\\Link", std::u16string(kUserHive) + u"Software\\Kept");
    const Result result = run({ "delete", "HKCU\\Software\\Gone", "/f" });
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "The operation completed successfully.\n");
    EXPECT_EQ(result.filesWritten, 1u);
    EXPECT_FALSE(keyInfo(kCurrentUser, u"Software\\Gone"));
    ASSERT_TRUE(value(kCurrentUser, u"Software\\Kept", u"v")) << "what a link points to stays";

    // A link named by the command goes itself; its target stays.
    makeLink(kCurrentUser, u"Software\\Link", std::u16string(kUserHive) + u"Software\\Kept");
    EXPECT_EQ(run({ "delete", "HKCU\\Software\\Link", "/f" }).code, 0);
    EXPECT_FALSE(keyInfo(kCurrentUser, u"Software\\Link"));
    EXPECT_TRUE(value(kCurrentUser, u"Software\\Kept", u"v"));
}

TEST_F(RegCommandTest, DeleteAsksFirstAndOnlyYesDeletes) {
    createKey(kCurrentUser, u"Software\\Asked");
    const std::string before = files();
    for (const std::string answer : { "", "n\n", "all\n", "\n" }) {
        const Result result = run({ "delete", "HKCU\\Software\\Asked" }, answer);
        EXPECT_EQ(result.code, 0);
        EXPECT_TRUE(result.err.starts_with(
            "Are you sure you want to delete the registry key 'HKEY_CURRENT_USER\\Software\\Asked'? (Yes|No) "));
        EXPECT_EQ(result.filesWritten, 0u);
    }
    EXPECT_TRUE(files() == before);
    EXPECT_EQ(run({ "delete", "HKCU\\Software\\Asked" }, "yes\n").code, 0);
    EXPECT_FALSE(keyInfo(kCurrentUser, u"Software\\Asked"));
}

TEST_F(RegCommandTest, DeleteValuesByNameTheDefaultOrAll) {
    for (auto name : { u"a", u"b", u"" })
        setValue(kCurrentUser, u"Software\\Vals", name, kRegSz, test::utf16zBytes(u"x"));
    createKey(kCurrentUser, u"Software\\Vals\\Sub");

    EXPECT_EQ(run({ "delete", "HKCU\\Software\\Vals", "/v", "A", "/f" }).code, 0);
    EXPECT_FALSE(value(kCurrentUser, u"Software\\Vals", u"a"));
    EXPECT_TRUE(value(kCurrentUser, u"Software\\Vals", u"b"));

    const Result asked = run({ "delete", "HKCU\\Software\\Vals", "/ve" }, "y\n");
    EXPECT_EQ(asked.err, "Are you sure you want to delete the registry value '(Default)'? (Yes|No) ");
    EXPECT_FALSE(value(kCurrentUser, u"Software\\Vals", u""));

    const Result missing = run({ "delete", "HKCU\\Software\\Vals", "/ve", "/f" });
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "quern-reg: The value '(Default)' does not exist in HKEY_CURRENT_USER\\Software\\Vals.\n");

    setValue(kCurrentUser, u"Software\\Vals", u"c", kRegSz, test::utf16zBytes(u"x"));
    const Result all = run({ "delete", "HKCU\\Software\\Vals", "/va" }, "y\n");
    EXPECT_EQ(all.code, 0);
    EXPECT_EQ(all.filesWritten, 1u);
    const auto left = keyInfo(kCurrentUser, u"Software\\Vals");
    ASSERT_TRUE(left);
    EXPECT_EQ(left->valueCount, 0u);
    EXPECT_EQ(left->subkeyCount, 1u) << "subkeys stay";
}

TEST_F(RegCommandTest, DeleteRefusesRootsAndMissingKeys) {
    const std::string before = files();
    for (auto target : { "HKCU", "HKLM\\", "HKCR", "HKCC", "HKU", "HKU\\.Default", "HKU\\S-1-5-21-0-0-0-1000",
             "HKCU\\Software\\Nope" }) {
        const Result result = run({ "delete", target, "/f" });
        EXPECT_EQ(result.code, 1) << target;
        EXPECT_TRUE(result.err.starts_with("quern-reg: ")) << target;
    }
    EXPECT_EQ(run({ "delete", "HKCU\\Software\\Nope", "/v", "x", "/f" }).code, 1);
    EXPECT_EQ(run({ "delete", "HKCU\\Software\\Wine", "/v", "Nope", "/f" }).code, 1);
    EXPECT_TRUE(files() == before);
}

// --- copy ------------------------------------------------------------------------------------

TEST_F(RegCommandTest, CopyTakesValuesRawAndSubkeysOnlyWithS) {
    const Bytes odd { 0x41, 0x00, 0x42 }; // a string of an odd byte count: kept, not converted
    setValue(kCurrentUser, u"Software\\Src", u"odd", kRegSz, odd);
    setValue(kCurrentUser, u"Software\\Src", u"dev", 0xffff0012u, { 1, 2, 3 });
    setValue(kCurrentUser, u"Software\\Src\\Sub\\Deeper", u"v", kRegDword, { 9, 0, 0, 0 });
    setValue(kLocalMachine, u"Software\\Dst", u"own", kRegSz, test::utf16zBytes(u"kept"));

    EXPECT_EQ(run({ "copy", "HKCU\\Software\\Src", "HKLM\\Software\\Dst" }).code, 0);
    EXPECT_EQ(value(kLocalMachine, u"Software\\Dst", u"odd")->data, odd);
    EXPECT_EQ(value(kLocalMachine, u"Software\\Dst", u"dev")->type, 0xffff0012u);
    EXPECT_FALSE(keyInfo(kLocalMachine, u"Software\\Dst\\Sub"));

    const Result result = run({ "copy", "HKCU\\Software\\Src", "HKLM\\Software\\Dst", "/s" });
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.filesWritten, 1u);
    EXPECT_EQ(value(kLocalMachine, u"Software\\Dst\\Sub\\Deeper", u"v")->data, (Bytes { 9, 0, 0, 0 }));
    EXPECT_TRUE(value(kLocalMachine, u"Software\\Dst", u"own")) << "what only the destination has stays";

    EXPECT_EQ(run({ "copy", "HKCU\\Software\\Src", "HKCU\\Software\\New\\Place", "/s" }).code, 0);
    EXPECT_TRUE(value(kCurrentUser, u"Software\\New\\Place\\Sub\\Deeper", u"v"));
}

TEST_F(RegCommandTest, CopyOfAWholeBranchIsOneWrite) {
    const Result result = run({ "copy", "HKLM\\Software\\Microsoft", "HKLM\\Software\\Backup", "/s", "/f" });
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.filesWritten, 1u);
    const Result source = run({ "query", "HKLM\\Software\\Microsoft", "/s" });
    const Result copy = run({ "query", "HKLM\\Software\\Backup", "/s" });
    // The copy lists as the source does, name for name, once the paths are the same.
    std::string renamed = copy.out;
    for (std::size_t pos = 0; (pos = renamed.find("\\Backup", pos)) != std::string::npos;)
        renamed.replace(pos, 7, "\\Microsoft");
    EXPECT_TRUE(renamed == source.out);
}

TEST_F(RegCommandTest, CopyTakesLinksAsLinks) {
    setValue(kCurrentUser, u"Software\\Target", u"v", kRegSz, test::utf16zBytes(u"t"));
    const std::u16string target = std::u16string(kUserHive) + u"Software\\Target";
    makeLink(kCurrentUser, u"Software\\Src\\Link", target);
    EXPECT_EQ(run({ "copy", "HKCU\\Software\\Src", "HKCU\\Software\\Dst", "/s" }).code, 0);
    const auto link = keyInfo(kCurrentUser, u"Software\\Dst\\Link");
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->isLink);
    EXPECT_EQ(link->valueCount, 1u) << "only the link's own value, nothing of its target";
    EXPECT_EQ(value(kCurrentUser, u"Software\\Dst\\Link", u"v")->data, test::utf16zBytes(u"t")) << "and it leads there";

    // A link where the destination has a plain key (or the other way round) is refused whole.
    createKey(kCurrentUser, u"Software\\Plain\\Link");
    const std::string before = files();
    const Result clash = run({ "copy", "HKCU\\Software\\Src", "HKCU\\Software\\Plain", "/s", "/f" });
    EXPECT_EQ(clash.code, 1);
    EXPECT_NE(clash.err.find("HKEY_CURRENT_USER\\Software\\Plain\\Link is not a link key"), std::string::npos)
        << clash.err;
    EXPECT_TRUE(files() == before);
}

TEST_F(RegCommandTest, CopyRefusesTheSameKeyAndADestinationInsideTheSource) {
    setValue(kLocalMachine, u"Software\\Classes\\Src\\Sub", u"v", kRegSz, test::utf16zBytes(u"1"));
    const std::string before = files();
    const Result same = run({ "copy", "HKCR\\Src", "HKLM\\software\\classes\\SRC", "/s" });
    EXPECT_EQ(same.code, 1);
    EXPECT_EQ(same.err, "quern-reg: The source and destination keys are the same key.\n");
    const Result inside = run({ "copy", "HKCR\\Src", "HKLM\\Software\\Classes\\Src\\Sub\\Copy", "/s" });
    EXPECT_EQ(inside.code, 1);
    EXPECT_NE(inside.err.find("cannot be copied into itself"), std::string::npos);
    EXPECT_EQ(run({ "copy", "HKLM", "HKLM\\Software\\All", "/s" }).code, 1);
    EXPECT_TRUE(files() == before);

    // Without /s only the values are copied, and below the source is a fine place for them.
    EXPECT_EQ(run({ "copy", "HKCR\\Src\\Sub", "HKCR\\Src\\Sub\\Copy" }).code, 0);
    EXPECT_TRUE(value(kClassesRoot, u"Src\\Sub\\Copy", u"v"));
    EXPECT_EQ(run({ "copy", "HKCU\\Software\\Nope", "HKCU\\Software\\Copy" }).code, 1);
}

TEST_F(RegCommandTest, CopyAsksBeforeReplacingAValueThatDiffers) {
    for (auto name : { u"a", u"b", u"c", u"same" })
        setValue(kCurrentUser, u"Software\\Src", name, kRegSz, test::utf16zBytes(u"new"));
    for (auto name : { u"a", u"b", u"c" })
        setValue(kCurrentUser, u"Software\\Dst", name, kRegSz, test::utf16zBytes(u"old"));
    setValue(kCurrentUser, u"Software\\Dst", u"same", kRegSz, test::utf16zBytes(u"new"));

    const Result result = run({ "copy", "HKCU\\Software\\Src", "HKCU\\Software\\Dst" }, "n\nall\n");
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.err,
        "The value 'HKEY_CURRENT_USER\\Software\\Dst\\a' already exists in the destination key. Do you want to "
        "overwrite it? (Yes|No|All) "
        "The value 'HKEY_CURRENT_USER\\Software\\Dst\\b' already exists in the destination key. Do you want to "
        "overwrite it? (Yes|No|All) ")
        << "two questions: All answers the third, and equal values need none";
    EXPECT_EQ(value(kCurrentUser, u"Software\\Dst", u"a")->data, test::utf16zBytes(u"old"));
    EXPECT_EQ(value(kCurrentUser, u"Software\\Dst", u"b")->data, test::utf16zBytes(u"new"));
    EXPECT_EQ(value(kCurrentUser, u"Software\\Dst", u"c")->data, test::utf16zBytes(u"new"));

    EXPECT_EQ(run({ "copy", "HKCU\\Software\\Src", "HKCU\\Software\\Dst", "/f" }).err, "");
    EXPECT_EQ(value(kCurrentUser, u"Software\\Dst", u"a")->data, test::utf16zBytes(u"new"));
    const std::string before = files();
    const Result again = run({ "copy", "HKCU\\Software\\Src", "HKCU\\Software\\Dst", "/s" });
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(again.filesWritten, 0u) << "a copy onto an equal copy changes nothing";
    EXPECT_TRUE(files() == before);
}

// --- a running wineserver --------------------------------------------------------------------

TEST_F(RegCommandTest, EveryWriteFailsWhileAWineserverRunsAndNothingChanges) {
    setValue(kCurrentUser, u"Software\\Held", u"v", kRegSz, test::utf16zBytes(u"x"));
    const std::string before = files();
    test::HeldLock server(test::debianLockPath(dir.path(), tmp.path()));
    const std::vector<std::vector<std::string>> writes {
        { "add", "HKCU\\Software\\Held", "/v", "v", "/d", "y", "/f" },
        { "add", "HKCU\\Software\\Held\\New" },
        { "add", "HKCU\\Software\\Held" },
        { "delete", "HKCU\\Software\\Held", "/f" },
        { "delete", "HKCU\\Software\\Held", "/v", "v", "/f" },
        { "delete", "HKCU\\Software\\Held", "/va", "/f" },
        { "copy", "HKCU\\Software\\Held", "HKLM\\Software\\Held", "/s", "/f" },
        { "copy", "HKCU\\Software\\Held", "HKCU\\Software\\Held2" },
    };
    for (const auto& args : writes) {
        const Result result = run(args, "y\ny\n");
        EXPECT_EQ(result.code, 1) << args[0] << " " << args[1];
        EXPECT_NE(result.err.find("wineserver (process " + std::to_string(server.pid()) + ")"), std::string::npos)
            << result.err;
        EXPECT_EQ(result.err.find("(Yes|No"), std::string::npos) << "nothing is asked that cannot be done";
        EXPECT_EQ(result.filesWritten, 0u);
    }
    EXPECT_TRUE(files() == before);
    EXPECT_EQ(run({ "query", "HKCU\\Software\\Held" }).code, 0) << "reading is fine";
}

// --- export ----------------------------------------------------------------------------------

namespace {

// The bytes of a Unicode registry file that holds this text: the byte-order mark and UTF-16LE.
std::string unicodeFile(std::string_view text) {
    const Bytes bytes = utf16LEBytes(toUtf16(text));
    return "\xFF\xFE" + std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST_F(RegCommandTest, ExportWritesAKeyWithAllBelowIt) {
    const std::string out = dir / "out.reg";
    const Result result = run({ "export", "HKCU\\Software\\Wine\\Fonts", out });
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.filesWritten, 0u) << "an export only reads";
    const std::string text = test::readFile(out);
    EXPECT_TRUE(text.starts_with(
        unicodeFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]\r\n")))
        << "a key is written in the lossless form by default";
    EXPECT_NE(text.find(unicodeFile("\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\External Fonts]\r\n").substr(2)),
        std::string::npos);

    EXPECT_EQ(run({ "export", "HKCU\\No\\Such", dir / "none.reg" }).code, 1);
    EXPECT_FALSE(test::fileExists(dir / "none.reg"));
    test::writeFile(out, "earlier");
    const Result no = run({ "export", "HKCU\\Software\\Wine\\Fonts", out }, "n\n");
    EXPECT_NE(no.err.find("already exists"), std::string::npos);
    EXPECT_EQ(test::readFile(out), "earlier") << "without /y the file is kept unless the answer is yes";
    EXPECT_EQ(run({ "export", "HKCU\\Software\\Wine\\Fonts", out, "/y" }).code, 0);
    EXPECT_EQ(test::readFile(out), text);
}

TEST_F(RegCommandTest, TheFormSwitchesChooseTheFileFormAnywhere) {
    const std::string key = "HKCU\\Software\\Wine\\Fonts";
    const std::string qks = dir / "fonts.qks";
    test::writeFile(qks, "HKEY_CURRENT_USER\\Software\\Wine\\Fonts\r\n");
    const std::string regedit4 = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]\r\n";
    const std::string unicode
        = unicodeFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]\r\n");
    struct Case {
        std::vector<std::string> args;
        std::string start; // of the file written; empty when the command must fail
    };
    const std::string out = dir / "out.reg";
    const std::vector<Case> cases {
        { { "export", key, out, "/regedit4", "/y" }, regedit4 }, { { "export", key, out, "-UNICODE", "/y" }, unicode },
        { { "export", "--selection", qks, out, "/y" }, regedit4 }, // what the window writes
        { { "export", "--selection", qks, out, "/unicode", "/y" }, unicode },
        { { "export", "/regedit4", key, out }, "" }, // switches follow the key and the file
    };
    for (const auto& [args, start] : cases) {
        test::writeFile(out, "");
        const Result result = run(args);
        EXPECT_EQ(result.code, start.empty() ? 1 : 0) << args[1] << args[3] << result.err;
        if (!start.empty()) {
            EXPECT_TRUE(test::readFile(out).starts_with(start)) << args[1] << args[3];
        }
    }
    const Result both = run({ "export", key, dir / "f.reg", "/regedit4", "/unicode" });
    EXPECT_EQ(both.code, 1);
    EXPECT_NE(both.err.find("Only one of /regedit4 and /unicode"), std::string::npos) << both.err;
    EXPECT_FALSE(test::fileExists(dir / "f.reg"));
}

TEST_F(RegCommandTest, ExportOfASavedSelectionIsTheWindowsExport) {
    const std::string qks = dir / "backup.qks";
    test::writeFile(qks,
        "HKEY_CURRENT_USER\\Software\\Wine\\Fonts\r\n"
        "HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT\\\\SHAREDMEMLOCATION\r\n");
    const Result result = run({ "export", "--selection", qks, dir / "sel.reg" });
    EXPECT_EQ(result.code, 0) << result.err;
    const std::string text = test::readFile(dir / "sel.reg");
    EXPECT_TRUE(text.starts_with("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]\r\n"));
    EXPECT_EQ(text.find("External Fonts"), std::string::npos) << "an alone entry: no subkeys";
    EXPECT_TRUE(text.ends_with("[HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT]\r\n"
                               "\"SHAREDMEMLOCATION\"=\"9000\"\r\n\r\n"));
    EXPECT_EQ(run({ "export", "--selection", dir / "missing.qks", dir / "x.reg" }).code, 1);
}

TEST_F(RegCommandTest, ExportOfASelectionNamesEachLineThatIsNotThere) {
    const std::string qks = dir / "backup.qks";
    test::writeFile(qks,
        "HKLM\\Software\\Wine\\\r\n"
        "HKEY_CURRENT_USER\\Software\\Nope\r\n"
        "HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\\\LogPixels\r\n"
        "HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\\\Missing\r\n"
        "hkey_current_user\\Software\\Wine\r\n");
    const Result result = run({ "export", "--selection", qks, dir / "sel.reg" });
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err,
        "quern-reg: line 1, HKLM\\Software\\Wine\\: 'HKLM' is not a root key (a selection names roots in full, as "
        "HKEY_LOCAL_MACHINE); nothing was exported for it.\n"
        "quern-reg: line 2, HKEY_CURRENT_USER\\Software\\Nope: the key does not exist; nothing was exported for it.\n"
        "quern-reg: line 4, HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\\\Missing: the value does not exist; nothing "
        "was exported for it.\n"
        "quern-reg: line 5, hkey_current_user\\Software\\Wine: 'hkey_current_user' is not a root key (a selection "
        "names roots in full, as HKEY_LOCAL_MACHINE); nothing was exported for it.\n"
        "quern-reg: "
            + dir / "sel.reg" + " was written without what is named above.\n");
    // The file the window writes for these entries: the empty line of each that is not there.
    EXPECT_EQ(test::readFile(dir / "sel.reg"),
        "REGEDIT4\r\n\r\n\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]\r\n\"LogPixels\"=dword:60\r\n\r\n\r\n");

    // A blank line, here the last, stands for the whole registry: exported, and named.
    test::writeFile(qks, "HKEY_CURRENT_USER\\Software\\Wine\\Fonts\r\n\r\n");
    const Result blank = run({ "export", "--selection", qks, dir / "all.reg" });
    EXPECT_EQ(blank.code, 0) << blank.err;
    EXPECT_EQ(blank.err,
        "quern-reg: warning: line 2 is empty, and an empty line stands for the whole registry: all of it was "
        "exported.\n");
    EXPECT_NE(test::readFile(dir / "all.reg").find("\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine]\r\n"), std::string::npos);
}

TEST_F(RegCommandTest, ExportNamesTheKeysItLeavesOutAndKeepsEveryValueWhole) {
    const std::u16string_view at = u"Software\\Odd";
    setValue(kCurrentUser, at, u"two\nlines", kRegSz, test::utf16zBytes(u"x"));
    setValue(kCurrentUser, at, u"wide", kRegDword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    setValue(kCurrentUser, u"Software\\Odd\\Key\r\nBreak\\Below", u"v", kRegSz, test::utf16zBytes(u"lost"));
    setValue(kCurrentUser, u"Software\\Odd\\Next", u"v", kRegSz, test::utf16zBytes(u"y"));
    const std::string out = dir / "odd.reg";
    const Result result = run({ "export", "HKCU\\Software\\Odd", out, "/regedit4" });
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err,
        "quern-reg: these keys hold a line break in their names, which a registry file cannot hold, and were left "
        "out with all below them:\n"
        "    HKEY_CURRENT_USER\\Software\\Odd\\Key\u240D\u240ABreak\n"
        "quern-reg: "
            + out + " was written without what is named above.\n");
    EXPECT_EQ(test::readFile(out),
        "REGEDIT4\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Odd]\r\n"
        "\"two\\nlines\"=\"x\"\r\n"
        "\"wide\"=hex(4):1,2,3,4,5,6,7,8\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Odd\\Next]\r\n"
        "\"v\"=\"y\"\r\n"
        "\r\n");
}

TEST_F(RegCommandTest, ImportWritesTheWholeFileOrNothing) {
    const std::string file = tmp / "in.reg";
    test::writeFile(file,
        "REGEDIT4\r\n\r\n[HKCU\\Software\\Imported]\r\n\"v\"=\"caf\xC3\xA9\"\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Wine]\r\n");
    Result result = run({ "import", file });
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "The operation completed successfully.\n");
    EXPECT_EQ(result.filesWritten, 1u) << "one batch: user.reg written once";
    EXPECT_EQ(value(kCurrentUser, u"Software\\Imported", u"v")->data, test::utf16zBytes(u"caf\u00e9"));
    EXPECT_FALSE(keyInfo(kCurrentUser, u"Software\\Wine"));

    // A line the reader cannot take, and a change the registry refuses: nothing is written.
    const std::string before = files();
    test::writeFile(file, "REGEDIT4\r\n[HKCU\\Software\\Other]\r\n\"v\"=dword:1\r\n\"w\"=hex(zz):00\r\n");
    result = run({ "import", file });
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err,
        "quern-reg: " + file
            + ":4: expected hex: or hex(TYPE): with TYPE in 1 to 8 hex digits"
              "; nothing was imported.\n");
    test::writeFile(file, "REGEDIT4\r\n[HKCU\\Software\\Other]\r\n[HKEY_DYN_DATA\\X]\r\n");
    result = run({ "import", file });
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find(file + ":3: could not create HKEY_DYN_DATA\\X"), std::string::npos) << result.err;
    EXPECT_EQ(result.filesWritten, 0u);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(run({ "import", tmp / "missing.reg" }).code, 1);
}

TEST_F(RegCommandTest, CompareListsWhatAnImportWouldChangeWithItsExitCode) {
    setValue(kCurrentUser, u"Software\\App", u"n", kRegDword, { 1, 0, 0, 0 });
    const std::string file = tmp / "b.reg";
    test::writeFile(file, "REGEDIT4\r\n[HKCU\\Software\\App]\r\n\"n\"=dword:2\r\n[HKCU\\Software\\Other]\r\n");
    const std::string before = files();
    Result result = run({ "compare", file });
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out,
        "value changed: HKEY_CURRENT_USER\\Software\\App \"n\" = REG_DWORD 0x1 -> REG_DWORD 0x2\n"
        "key added: HKEY_CURRENT_USER\\Software\\Other\n"
        "1 key added, 1 value changed.\n");
    result = run({ "compare", file, "HKCU\\Software\\Other" });
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out, "key added: HKEY_CURRENT_USER\\Software\\Other\n1 key added.\n");
    EXPECT_EQ(files(), before);
    EXPECT_EQ(run({ "compare", file, "HKCU\\Software\\Elsewhere" }).out, "No changes.\n");
    EXPECT_EQ(run({ "compare", file, "HKCU\\Software\\Elsewhere" }).code, 0);
    ASSERT_EQ(run({ "import", file }).code, 0);
    EXPECT_EQ(run({ "compare", file }).code, 0);

    // Two backups: what differs from the first to the second.
    const std::string newer = tmp / "c.reg";
    test::writeFile(newer, "REGEDIT4\r\n[HKCU\\Software\\App]\r\n\"n\"=dword:2\r\n\"m\"=\"x\"\r\n");
    result = run({ "compare", file, newer });
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out,
        "value added: HKEY_CURRENT_USER\\Software\\App \"m\" = REG_SZ x\n"
        "key deleted: HKEY_CURRENT_USER\\Software\\Other (with everything below it)\n"
        "1 key deleted, 1 value added.\n");
    EXPECT_EQ(run({ "compare", file, file }).code, 0);

    // Errors are told from both answers.
    test::writeFile(newer, "REGEDIT4\r\n[HKCU\\Software\\App\r\n");
    result = run({ "compare", newer });
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.err, "quern-reg: " + newer + ":2: expected ] at the end of the key line\n");
    EXPECT_EQ(run({ "compare", file, newer }).code, 2);
    EXPECT_EQ(run({ "compare" }).code, 2);
    EXPECT_EQ(run({ "compare", file, newer, "x" }).code, 2);
}
