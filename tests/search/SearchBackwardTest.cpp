#include "search/SearchEngine.h"

#include "TestSupport.h"
#include "codec/Utf.h"
#include "hive/OfflineHive.h"
#include "store/KeyWalk.h"
#include "store/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

using namespace quern;
using namespace quern::reg;

namespace {

// Names that sort differently by lower and by upper case ('_' and '[' lie between 'Z' and 'a'),
// and that differ only in case, so every ordering rule of the walk is exercised.
const std::u16string kNames[] = { u"a", u"A1", u"b", u"_b", u"B_", u"c", u"[x]", u"\u00e9t\u00e9" };
const std::u16string kData[] = { u"", u"a", u"ab", u"b1", u"_", u"x" };

class RandomRegistry {
public:
    RandomRegistry(unsigned seed, const std::string& hiveFile)
        : m_random(seed) {
        WriteBatch batch(m_store);
        fill(kLocalMachine, u"Software", 3);
        fill(kLocalMachine, u"R", 3);
        fill(kCurrentUser, u"Software", 2);
        fill(kUsers, u".Default", 2);
        addLink(kLocalMachine, u"R\\link");
        EXPECT_EQ(batch.finish(), Status::Ok);
        // A loaded hive keeps its subkeys in its own order: upper case, as Windows does.
        if (m_random() % 2 == 0) {
            EXPECT_EQ(writeEmptyHive(hiveFile), Status::Ok);
            EXPECT_EQ(mountHiveFile(m_store, kLocalMachine, u"HIVE", hiveFile), Status::Ok);
            WriteBatch inHive(m_store);
            fill(kLocalMachine, u"HIVE", 2);
            EXPECT_EQ(inHive.finish(), Status::Ok);
        }
    }
    MemoryRegistry& store() { return m_store; }

private:
    std::size_t pick(std::size_t n) { return m_random() % n; }

    void fill(HKey root, const std::u16string& path, int depth) {
        KeyHandle key(m_store);
        ASSERT_EQ(m_store.createKey(root, path, Access::Full, kOptionNone, key.out()), Status::Ok);
        for (std::size_t v = pick(4); v-- > 0;) {
            const std::u16string name = pick(4) == 0 ? u"" : kNames[pick(std::size(kNames))];
            const std::u16string& text = kData[pick(std::size(kData))];
            ASSERT_EQ(m_store.setValue(key.get(), name, kRegSz, test::utf16zBytes(text)), Status::Ok);
        }
        if (depth == 0) return;
        for (std::size_t k = pick(4); k-- > 0;)
            fill(root, path + u"\\" + kNames[pick(std::size(kNames))], depth - 1);
    }

    // A link to a key elsewhere, or to its own parent: a loop the walk must not enter. (A link to
    // nothing ends Search again and Find previous alike, as a start that cannot be opened does.)
    void addLink(HKey root, std::u16string_view path) {
        static const std::u16string kTargets[] = { u"\\Registry\\Machine\\Software", u"\\Registry\\Machine\\R" };
        KeyHandle link(m_store);
        ASSERT_EQ(m_store.createKey(root, path, Access::Full, kCreateLink | kOpenLink, link.out()), Status::Ok);
        ASSERT_EQ(m_store.setValue(link.get(), u"SymbolicLinkValue", kRegLink,
                      test::utf16Bytes(kTargets[pick(std::size(kTargets))])),
            Status::Ok);
    }

    std::mt19937 m_random;
    MemoryRegistry m_store;
};

struct Expression {
    std::string text;
    bool keys, names, data;
};

// Search again, or Find previous, over and over from the match before, as the window does when
// its focus follows each match.
std::vector<std::string> stepAll(RegStore& store, const Expression& e, bool backwards) {
    SearchState state { e.text, e.keys, e.names, e.data };
    RegistrySearch search(store, state);
    std::vector<std::string> matches;
    std::string position;
    while (
        matches.size() < 20000 && (backwards ? search.SearchBackward(position) : search.SearchRegistry(position, true)))
        matches.push_back(position);
    return matches;
}

} // namespace

// Find previous from the end meets exactly what Search again meets from the start, in the reverse
// order, on registries made at random: values and subkeys at every depth, names whose order
// depends on case, a link (elsewhere, or back up) and sometimes a loaded hive.
TEST(SearchBackward, MeetsWhatSearchAgainMeetsInTheReverseOrder) {
    const Expression expressions[] = { { "*", true, true, true }, { "a*", true, false, false },
        { "*b*", false, true, true }, { "NOT *a*", true, true, false }, { "?", true, true, true },
        { "*_* OR A1", true, true, false }, { "b1", false, false, true }, { "*1 AND NOT c*", true, true, true } };
    std::size_t compared = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        test::TempDir dir;
        RandomRegistry registry(seed, dir / "hive");
        for (const Expression& e : expressions) {
            const std::vector<std::string> forwards = stepAll(registry.store(), e, false);
            std::vector<std::string> backwards = stepAll(registry.store(), e, true);
            std::reverse(backwards.begin(), backwards.end());
            if (backwards != forwards) {
                std::size_t i = 0;
                while (i < backwards.size() && i < forwards.size() && backwards[i] == forwards[i])
                    ++i;
                auto at = [](const std::vector<std::string>& v, std::size_t j) {
                    return j < v.size() ? v[j] : std::string("(end)");
                };
                ADD_FAILURE() << "seed " << seed << ", expression " << e.text << ": " << forwards.size()
                              << " forwards, " << backwards.size() << " backwards; first apart at " << i << ": before "
                              << at(forwards, i - 1) << ", forwards " << at(forwards, i) << ", backwards "
                              << at(backwards, i);
                return;
            }
            compared += forwards.size();
        }
    }
    EXPECT_GT(compared, 5000u) << "the registries hold enough to compare";
}

// Find previous from a key or a value: the values before it, its key's own name, then what lies
// before the key; from HKEY_USERS on into HKEY_LOCAL_MACHINE, and from HKEY_LOCAL_MACHINE nowhere.
TEST(SearchBackward, StartsJustBeforeWhereTheUserStands) {
    MemoryRegistry store;
    auto set = [&](HKey root, std::u16string_view path, std::u16string_view name) {
        KeyHandle key(store);
        ASSERT_EQ(store.createKey(root, path, Access::Full, kOptionNone, key.out()), Status::Ok);
        if (!name.empty()) {
            ASSERT_EQ(store.setValue(key.get(), name, kRegSz, test::utf16zBytes(u"v")), Status::Ok);
        }
    };
    set(kLocalMachine, u"Software\\K", u"x");
    set(kLocalMachine, u"Software\\K", u"y");
    set(kLocalMachine, u"Software\\K\\Sub", u"z");
    set(kUsers, u".Default\\U", u"x");
    SearchState state { "*", true, true, true };
    RegistrySearch search(store, state);
    auto previous
        = [&](std::string position) { return search.SearchBackward(position) ? position : std::string("(none)"); };
    const std::string k = "HKEY_LOCAL_MACHINE\\Software\\K";
    EXPECT_EQ(previous(k + "\\\\y"), k + "\\\\x");
    EXPECT_EQ(previous(k + "\\\\x"), k) << "the key's own name comes before its first value";
    EXPECT_EQ(previous(k + "\\\\gone"), k + "\\\\y") << "a value gone since: from the key's last value";
    EXPECT_EQ(previous(k), "HKEY_LOCAL_MACHINE\\Software\\Classes") << "the start key's own name is not tested";
    EXPECT_EQ(previous(k + "\\Sub"), k + "\\\\y");
    EXPECT_EQ(previous("HKEY_USERS\\.Default\\U"), "HKEY_USERS\\.Default\\Software") << "the previous sibling";
    EXPECT_EQ(previous("HKEY_USERS"), "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current");
    EXPECT_EQ(previous("HKEY_LOCAL_MACHINE\\Software"), "(none)");
    EXPECT_EQ(previous(""), "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software") << "from the top node: the last match";
    EXPECT_EQ(previous("HKEY_LOCAL_MACHINE\\Missing"), "(none)") << "a start that cannot be opened";
}

// Find all over the whole registry meets every key once, whatever the search starts from:
// HKEY_CURRENT_USER by that name, never again as its user under HKEY_USERS, and everything that
// Search again from the top node meets.
TEST(SearchBackward, FindEverywhereMeetsEveryKeyOnceByItsKnownName) {
    test::TempDir dir;
    RandomRegistry registry(7, dir / "hive");
    SearchState state { "*", true, true, true };
    RegistrySearch search(registry.store(), state);
    std::vector<std::string> everywhere;
    const std::size_t count = search.FindEverywhere([&](const std::string& hit) {
        everywhere.push_back(hit);
        return true;
    });
    EXPECT_EQ(count, everywhere.size());
    // The oracle: Search again from the top node, the user's key renamed to HKEY_CURRENT_USER.
    const std::string user = "HKEY_USERS\\S-1-5-21-0-0-0-1000"; // the user a registry is made with
    std::vector<std::string> expected;
    for (std::string hit : stepAll(registry.store(), { "*", true, true, true }, false)) {
        if (hit == user) continue; // a root's own name is never a hit
        if (hit.starts_with(user + "\\")) hit = "HKEY_CURRENT_USER" + hit.substr(user.size());
        expected.push_back(std::move(hit));
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> sorted = everywhere;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, expected);
    ASSERT_FALSE(everywhere.empty());
    EXPECT_TRUE(everywhere.front().starts_with("HKEY_CURRENT_USER\\")) << "the user's own keys first";

    // Cancelled from the window's pump, it stops at the next key and keeps what it met.
    int pumped = 0;
    RegistrySearch cancelled(registry.store(), state, [&] {
        if (++pumped == 10) state.SearchCancelled = true;
    });
    std::vector<std::string> some;
    (void)cancelled.FindEverywhere([&](const std::string& hit) {
        some.push_back(hit);
        return true;
    });
    EXPECT_EQ(pumped, 10);
    EXPECT_LT(some.size(), everywhere.size());
    EXPECT_TRUE(std::equal(some.begin(), some.end(), everywhere.begin())) << "the hits before the cancel, in order";
}
