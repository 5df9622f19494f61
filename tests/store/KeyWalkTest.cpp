#include "store/KeyWalk.h"

#include "TestSupport.h"
#include "codec/Utf.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace quern;
using namespace quern::reg;

namespace {

class KeyWalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = test::openTestRegistry(dir / "registry");
        for (const char16_t* path :
            { u"Software\\W\\b\\deep", u"Software\\W\\A", u"Software\\W\\c", u"Software\\X\\x1" })
            make(path);
        ASSERT_EQ(store->openKey(kCurrentUser, u"Software\\W", Access::Full, kOptionNone, w), Status::Ok);
    }
    void TearDown() override { (void)store->closeKey(w); }

    void make(std::u16string_view path) {
        HKey key = kNoKey;
        ASSERT_EQ(store->createKey(kCurrentUser, path, Access::Full, kOptionNone, key), Status::Ok);
        (void)store->closeKey(key);
    }
    void link(std::u16string_view path, std::u16string_view target) {
        HKey key = kNoKey;
        ASSERT_EQ(store->createKey(kCurrentUser, path, Access::Full, kCreateLink | kOpenLink, key), Status::Ok);
        const std::u16string full = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\" + std::u16string(target);
        std::vector<std::uint8_t> bytes(full.size() * 2);
        std::memcpy(bytes.data(), full.data(), bytes.size());
        ASSERT_EQ(store->setValue(key, u"SymbolicLinkValue", kRegLink, bytes), Status::Ok);
        (void)store->closeKey(key);
    }
    // Every step of a walk as "depth path", with a trailing "<" for the second meeting.
    std::vector<std::string> steps(KeyWalk::Links links, bool leaving) {
        std::vector<std::string> seen;
        KeyWalk walk(*store, w, "W", links, leaving);
        while (walk.next())
            seen.push_back(std::to_string(walk.depth()) + " " + walk.path() + (walk.leaving() ? " <" : "")
                + (walk.isLink() ? " link" : "") + (walk.status() == Status::LinkLoop ? " loop" : ""));
        return seen;
    }

    test::TempDir dir;
    std::unique_ptr<WinePrefixStore> store;
    HKey w = kNoKey;
};

} // namespace

TEST_F(KeyWalkTest, VisitsEveryKeyDepthFirstInTheRegistrysOrder) {
    EXPECT_EQ(steps(KeyWalk::Links::Follow, false),
        (std::vector<std::string> { "0 W", "1 W\\A", "1 W\\b", "2 W\\b\\deep", "1 W\\c" }));
    EXPECT_EQ(steps(KeyWalk::Links::Follow, true),
        (std::vector<std::string> { "0 W", "1 W\\A", "1 W\\A <", "1 W\\b", "2 W\\b\\deep", "2 W\\b\\deep <", "1 W\\b <",
            "1 W\\c", "1 W\\c <", "0 W <" }));

    // Left out below a key, and stopped half-way: every key the walk opened is closed again.
    const std::size_t open = store->openHandleCount();
    {
        KeyWalk walk(*store, w, "W");
        std::vector<std::string> seen;
        while (walk.next()) {
            seen.push_back(walk.path());
            if (walk.path() == "W\\b") walk.skipSubkeys();
        }
        EXPECT_EQ(seen, (std::vector<std::string> { "W", "W\\A", "W\\b", "W\\c" }));
    }
    {
        KeyWalk walk(*store, w, "W");
        ASSERT_TRUE(walk.next() && walk.next() && walk.next() && walk.next()); // at W\b\deep
        EXPECT_EQ(walk.name(), u"deep");
        EXPECT_GT(store->openHandleCount(), open);
    }
    EXPECT_EQ(store->openHandleCount(), open);
}

TEST_F(KeyWalkTest, LinksAreFollowedWithoutLoopingOrTakenAsThemselves) {
    link(u"Software\\W\\b\\up", u"Software\\W"); // back to the start: a walk that followed it would not end
    link(u"Software\\W\\toX", u"Software\\X");
    EXPECT_EQ(steps(KeyWalk::Links::Follow, false),
        (std::vector<std::string> {
            "0 W", "1 W\\A", "1 W\\b", "2 W\\b\\deep", "2 W\\b\\up loop", "1 W\\c", "1 W\\toX", "2 W\\toX\\x1" }));
    EXPECT_EQ(steps(KeyWalk::Links::AsKeys, false),
        (std::vector<std::string> {
            "0 W", "1 W\\A", "1 W\\b", "2 W\\b\\deep", "2 W\\b\\up link", "1 W\\c", "1 W\\toX link" }));
}

// Deleting each key as the walk leaves it takes the whole subtree, links as themselves: the
// walk lists subkeys before it goes below them, so deletions do not disturb it.
TEST_F(KeyWalkTest, DeletingOnTheWayBackTakesTheSubtreeAndLeavesLinkTargets) {
    link(u"Software\\W\\toX", u"Software\\X");
    {
        KeyWalk walk(*store, w, "W", KeyWalk::Links::AsKeys, true);
        while (walk.next()) {
            if (walk.leaving() && walk.depth() > 0) {
                EXPECT_EQ(store->deleteKey(walk.parentKey(), walk.name()), Status::Ok);
            }
        }
    }
    KeyInfo info;
    ASSERT_EQ(store->queryInfo(w, info), Status::Ok);
    EXPECT_EQ(info.subkeyCount, 0u);
    HKey x1 = kNoKey;
    EXPECT_EQ(store->openKey(kCurrentUser, u"Software\\X\\x1", Access::Read, kOptionNone, x1), Status::Ok);
    (void)store->closeKey(x1);
}
