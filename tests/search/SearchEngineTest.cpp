#include "search/SearchEngine.h"

#include "TestSupport.h"
#include "codec/Utf.h"
#include "hive/OfflineHive.h"
#include "store/KeyWalk.h"
#include "store/MemoryRegistry.h"

#include <gtest/gtest.h>

using namespace quern;
using namespace quern::reg;

namespace {

class SearchEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = test::openTestRegistry(dir / "registry");
        registry = std::make_unique<RegAccessor>(*store);
        setString(kCurrentUser, u"Software\\A", u"", u"d");
        setString(kCurrentUser, u"Software\\A", u"x", u"x1");
        set(kCurrentUser, u"Software\\A", u"Y", kRegDword, { 1, 0, 0, 0 });
        setString(kCurrentUser, u"Software\\A\\Sub", u"v", u"v1");
        setString(kCurrentUser, u"Software\\B", u"b", u"b1");
        setString(kClassesRoot, u".txt", u"", u"txtfile");
        setString(kLocalMachine, u"Software\\Vendor", u"w", u"w1");
    }

    void set(HKey root, std::u16string_view path, std::u16string_view name, std::uint32_t type,
        const std::vector<std::uint8_t>& data) {
        KeyHandle key(*store);
        ASSERT_EQ(store->createKey(root, path, Access::Full, kOptionNone, key.out()), Status::Ok);
        ASSERT_EQ(store->setValue(key.get(), name, type, data), Status::Ok);
    }
    void setString(HKey root, std::u16string_view path, std::u16string_view name, std::u16string_view text) {
        set(root, path, name, kRegSz, test::utf16zBytes(text));
    }

    // Search again, over and over, each time from the match before, as the window does when its
    // focus follows each match: every position the walk stops at, in order.
    std::vector<std::string> allMatches(std::string position, const std::string& expression = "*") {
        state.expression = expression;
        RegistrySearch search(registry->store(), state);
        std::vector<std::string> matches;
        while (matches.size() < 100 && search.SearchRegistry(position, true))
            matches.push_back(position);
        return matches;
    }

    test::TempDir dir;
    std::unique_ptr<WinePrefixStore> store;
    std::unique_ptr<RegAccessor> registry;
    SearchState state;
};

const std::string U = "HKEY_CURRENT_USER\\Software";
const std::string M = "HKEY_LOCAL_MACHINE";
const std::string S = "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software";

} // namespace

// From a key: its values, each subkey (name, then contents), the following siblings, up to the
// root; then HKEY_LOCAL_MACHINE and HKEY_USERS, never HKEY_CURRENT_USER again or the other roots.
TEST_F(SearchEngineTest, TheWalkVisitsInItsOrderFromAKey) {
    EXPECT_EQ(allMatches(U + "\\A"),
        (std::vector<std::string> { U + "\\A\\\\", U + "\\A\\\\x", U + "\\A\\\\Y", U + "\\A\\Sub", U + "\\A\\Sub\\\\v",
            U + "\\B", U + "\\B\\\\b", M + "\\Software", M + "\\Software\\Classes", M + "\\Software\\Classes\\.txt",
            M + "\\Software\\Classes\\.txt\\\\", M + "\\Software\\Vendor", M + "\\Software\\Vendor\\\\w",
            M + "\\System", M + "\\System\\CurrentControlSet", M + "\\System\\CurrentControlSet\\Hardware Profiles",
            M + "\\System\\CurrentControlSet\\Hardware Profiles\\Current", "HKEY_USERS\\.Default",
            "HKEY_USERS\\.Default\\Software", "HKEY_USERS\\S-1-5-21-0-0-0-1000", S, S + "\\A", S + "\\A\\\\",
            S + "\\A\\\\x", S + "\\A\\\\Y", S + "\\A\\Sub", S + "\\A\\Sub\\\\v", S + "\\B", S + "\\B\\\\b" }));
}

TEST_F(SearchEngineTest, EveryStartHasItsOwnContinuation) {
    auto first = [&](std::string position, const std::string& expression = "*") {
        const auto matches = allMatches(std::move(position), expression);
        return matches.empty() ? std::string("(none)") : matches.front();
    };
    // A value: the next value of the key; the default value sorts first; a value that has gone
    // since starts the key again.
    EXPECT_EQ(first(U + "\\A\\\\x"), U + "\\A\\\\Y");
    EXPECT_EQ(first(U + "\\A\\\\"), U + "\\A\\\\x");
    EXPECT_EQ(first(U + "\\A\\\\gone"), U + "\\A\\\\");
    // The top node: HKEY_LOCAL_MACHINE, then HKEY_USERS, and nothing of HKEY_CURRENT_USER itself.
    EXPECT_EQ(first(""), M + "\\Software");
    EXPECT_EQ(allMatches("", "b1").size(), 1u);
    EXPECT_EQ(allMatches("", "b1").front(), S + "\\B\\\\b");
    // Inside HKEY_CLASSES_ROOT: on into HKEY_LOCAL_MACHINE (where it is seen again) and HKEY_USERS.
    EXPECT_EQ(allMatches("HKEY_CLASSES_ROOT", "txtfile"),
        (std::vector<std::string> { "HKEY_CLASSES_ROOT\\.txt\\\\", M + "\\Software\\Classes\\.txt\\\\" }));
    EXPECT_EQ(allMatches("HKEY_CLASSES_ROOT\\.txt", "b1"), std::vector<std::string> { S + "\\B\\\\b" });
    // HKEY_CURRENT_CONFIG: that root only.
    setString(kCurrentConfig, u"Cfg", u"c", u"b1");
    EXPECT_EQ(allMatches("HKEY_CURRENT_CONFIG", "b1"), std::vector<std::string> { "HKEY_CURRENT_CONFIG\\Cfg\\\\c" });
    // A start key that cannot be opened ends the search at once.
    EXPECT_EQ(first(U + "\\Missing"), "(none)");
    EXPECT_EQ(first("HKLM\\Software"), "(none)") << "root names are written in full";
}

// Searching from HKEY_CLASSES_ROOT itself leaves out HKEY_LOCAL_MACHINE\Software\CLASSES, the same
// key under its other name, when the walk reaches it; the name is compared as it is written.
TEST_F(SearchEngineTest, TheClassesRule) {
    // A registry whose classes key is spelt in capitals, as a file can hold it.
    test::TempDir bare;
    test::writeFile(bare / "system.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
        "[Software\\\\CLASSES\\\\k] 1700000000\n\"needle\"=\"\"\n");
    test::writeFile(bare / "user.reg", "WINE REGISTRY Version 2\n");
    test::writeFile(bare / "userdef.reg", "WINE REGISTRY Version 2\n");
    registry.reset();
    store = test::openTestRegistry(bare.path(), false);
    registry = std::make_unique<RegAccessor>(*store);
    // Its name is tested only by a search that did not start exactly at HKEY_CLASSES_ROOT.
    state.SearchValueNames = state.SearchData = false;
    EXPECT_EQ(allMatches("HKEY_CLASSES_ROOT", "CLASSES"), std::vector<std::string> {});
    EXPECT_EQ(allMatches("HKEY_CLASSES_ROOT\\k", "CLASSES"), std::vector<std::string> { M + "\\Software\\CLASSES" });
    // Nor is anything below it visited: from the root, the value is met once, under its own root.
    state.SearchKeys = state.SearchValueNames = true;
    state.expression = "needle";
    RegistrySearch search(registry->store(), state);
    std::string position = "HKEY_CLASSES_ROOT";
    ASSERT_TRUE(search.SearchRegistry(position, true));
    EXPECT_EQ(position, "HKEY_CLASSES_ROOT\\k\\\\needle");
}

// The text each kind of data is matched as.
TEST_F(SearchEngineTest, DataIsMatchedAsItsTextForm) {
    const std::u16string key = u"Software\\Data";
    set(kCurrentUser, key, u"minus", kRegDword, { 0xff, 0xff, 0xff, 0xff });
    set(kCurrentUser, key, u"byte", kRegDword, { 255, 0, 0, 0 });
    set(kCurrentUser, key, u"wide", kRegDword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    set(kCurrentUser, key, u"bin", kRegBinary, { 0x41, 0x00, 0x42 });
    set(kCurrentUser, key, u"multi", kRegMultiSz, test::utf16zBytes(std::u16string(u"a\0b\0", 4)));
    set(kCurrentUser, key, u"str", kRegSz, test::utf16zBytes(std::u16string(u"caf\u00e9\0hidden", 11)));
    state.SearchKeys = state.SearchValueNames = false;
    RegistrySearch search(registry->store(), state);
    KeyHandle handle(*store);
    ASSERT_EQ(store->openKey(kCurrentUser, key, Access::Read, kOptionNone, handle.out()), Status::Ok);
    auto matches = [&](std::string_view name, const std::string& expression) {
        state.expression = expression;
        return search.MatchValue(handle.get(), name);
    };
    EXPECT_TRUE(matches("minus", "-1"));
    EXPECT_TRUE(matches("byte", "255"));
    EXPECT_FALSE(matches("wide", "?*")) << "data too long for a number is the empty text";
    EXPECT_TRUE(matches("wide", "NOT ?*"));
    EXPECT_TRUE(matches("bin", "A*B"));
    EXPECT_FALSE(matches("bin", "AB"));
    EXPECT_TRUE(matches("multi", "*"));
    EXPECT_FALSE(matches("multi", "a*"));
    EXPECT_TRUE(matches("str", "caf\xc3\xa9")) << "up to the first zero, in UTF-8";
    EXPECT_FALSE(matches("str", "*hidden*"));
    state.SearchData = false;
    EXPECT_FALSE(matches("byte", "255")) << "without data switched on, only names count";
    state.SearchValueNames = true;
    EXPECT_TRUE(matches("byte", "BY*")) << "names without regard to letter case";
}

// The window can cancel between two keys; a link back up is not followed, so a walk ends.
TEST_F(SearchEngineTest, TheWalkCanBeCancelledAndNeverLoops) {
    KeyHandle link(*store);
    ASSERT_EQ(store->createKey(kCurrentUser, u"Software\\A\\Loop", Access::Full, kCreateLink | kOpenLink, link.out()),
        Status::Ok);
    ASSERT_EQ(store->setValue(link.get(), u"SymbolicLinkValue", kRegLink,
                  test::utf16Bytes(u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software")),
        Status::Ok);
    link.reset();
    EXPECT_EQ(allMatches(U, "v1"), (std::vector<std::string> { U + "\\A\\Sub\\\\v", S + "\\A\\Sub\\\\v" }));
    EXPECT_EQ(allMatches(U, "loop"), (std::vector<std::string> { U + "\\A\\Loop", S + "\\A\\Loop" }))
        << "the link's own name is tested";

    int pumped = 0;
    state.expression = "nothing matches this";
    RegistrySearch search(registry->store(), state, [&] {
        if (++pumped == 5) state.SearchCancelled = true;
    });
    std::vector<std::string> shown;
    const RegistrySearch::Progress progress = [&](const std::string& position) { shown.push_back(position); };
    std::string position = U;
    EXPECT_FALSE(search.SearchRegistry(position, true, &progress));
    EXPECT_TRUE(state.SearchCancelled);
    EXPECT_EQ(pumped, 5) << "nothing more is visited once cancelled";
    EXPECT_EQ(shown, (std::vector<std::string> { U, M })) << "the start, then the root the walk went on to";
}

// Every hit in one walk is what Search again finds from each match in turn: checked on the sample
// Wine prefix, whose links and thousands of keys the small registry above does not have.
TEST(SearchEngine, FindAllMeetsWhatSearchAgainMeets) {
    test::TempDir dir;
    test::copySamplePrefix(dir.path());
    const auto store = test::openTestRegistry(dir.path(), false);
    RegAccessor registry(*store);
    struct Case {
        std::string expression;
        std::string from;
        bool keys, names, data;
    };
    const Case cases[] = { { "*font*", "", true, true, true }, { "s*", "HKEY_CLASSES_ROOT", true, false, false },
        { "1", "HKEY_CURRENT_USER\\Software\\Wine", false, false, true },
        { "*dll* AND NOT *32*", "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\\\", true, true, true } };
    for (const auto& c : cases) {
        SearchState state { c.expression, c.keys, c.names, c.data };
        RegistrySearch search(registry.store(), state);
        std::vector<std::string> again;
        for (std::string position = c.from; again.size() < 100000 && search.SearchRegistry(position, true);)
            again.push_back(position);
        std::vector<std::string> all;
        const std::size_t count = search.FindAll(c.from, [&](const std::string& hit) {
            all.push_back(hit);
            return true;
        });
        EXPECT_EQ(count, all.size());
        EXPECT_EQ(all, again) << c.expression;
        EXPECT_FALSE(all.empty()) << c.expression;
    }
}

// A loaded hive lists its subkeys in upper-case order, where '[' and '_' come after the letters:
// Search again goes on up in that order too, so it meets every key the walk down meets.
TEST(SearchEngine, SearchAgainKeepsALoadedHivesOwnOrder) {
    test::TempDir dir;
    MemoryRegistry store;
    ASSERT_EQ(writeEmptyHive(dir / "hive"), Status::Ok);
    ASSERT_EQ(mountHiveFile(store, kLocalMachine, u"HIVE", dir / "hive"), Status::Ok);
    for (const std::u16string_view name : { u"HIVE\\_b", u"HIVE\\a", u"HIVE\\[x]", u"HIVE\\C" }) {
        KeyHandle key(store);
        ASSERT_EQ(store.createKey(kLocalMachine, name, Access::Full, kOptionNone, key.out()), Status::Ok);
    }
    SearchState state { "*", true, false, false };
    RegistrySearch search(store, state);
    std::vector<std::string> again;
    for (std::string position = "HKEY_LOCAL_MACHINE\\HIVE"; again.size() < 10 && search.SearchRegistry(position, true);)
        again.push_back(position);
    const std::string hive = "HKEY_LOCAL_MACHINE\\HIVE\\";
    ASSERT_GE(again.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(again.begin(), again.begin() + 4),
        (std::vector<std::string> { hive + "a", hive + "C", hive + "[x]", hive + "_b" }));
}
