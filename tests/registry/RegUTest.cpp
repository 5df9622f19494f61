#include "registry/RegU.h"
#include "TestSupport.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

using namespace quern;

namespace {

// Local Registry > HKEY_LOCAL_MACHINE > SOFTWARE > Classes
struct SampleTree {
    PlainTreeNode top { "Local Registry" };
    PlainTreeNode* machine = top.add("HKEY_LOCAL_MACHINE");
    PlainTreeNode* software = machine->add("SOFTWARE");
    PlainTreeNode* classes = software->add("Classes");
};

} // namespace

TEST(RegU, RootKeyTableInDisplayOrder) {
    ASSERT_EQ(kRootKeys.size(), 6u);
    EXPECT_EQ(kRootKeys[0].name, "HKEY_CLASSES_ROOT");
    EXPECT_EQ(kRootKeys[4].name, "HKEY_CURRENT_CONFIG");
    EXPECT_EQ(kRootKeys[4].handle, 0x80000005u) << "0x80000004 has no row";
    EXPECT_EQ(kRootKeys[5].handle, 0x80000006u);
}

TEST(RegU, KeyPathsOfNodes) {
    SampleTree tree;
    EXPECT_EQ(keyPathOfNode(nullptr), "");
    EXPECT_EQ(keyPathOfNode(&tree.top), "");
    EXPECT_EQ(keyPathOfNode(tree.machine), "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(keyPathOfNode(tree.classes), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");

    std::string root = "stale";
    std::string subkey = "stale";
    splitNodePath(&tree.top, root, subkey);
    EXPECT_EQ(root + subkey, "");
    splitNodePath(tree.machine, root, subkey);
    EXPECT_EQ(root, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(subkey, "");
    splitNodePath(tree.classes, root, subkey);
    EXPECT_EQ(root, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(subkey, "\\SOFTWARE\\Classes");
}

TEST(RegU, TakingPathsApart) {
    EXPECT_EQ(parentPath("A\\B\\C"), "A\\B");
    EXPECT_EQ(parentPath("A"), "");
    EXPECT_EQ(pathBelowRoot("HKEY_USERS\\A\\B"), "A\\B");
    EXPECT_EQ(pathBelowRoot("HKEY_USERS"), "");
    std::string text = "A\\B\\";
    EXPECT_EQ(takeFirstComponent(text), "A");
    EXPECT_EQ(text, "B\\");
    EXPECT_EQ(takeFirstComponent(text), "B");
    EXPECT_EQ(text, "");
    text = "Whole";
    EXPECT_EQ(takeFirstComponent(text), "Whole");
    EXPECT_EQ(text, "");
}

TEST(RegU, OpeningByKeyPath) {
    test::TempDir dir;
    const auto store = test::openTestRegistry(dir / "registry");
    reg::RegAccessor registry(*store);

    registry.selectRoot(reg::kLocalMachine);
    ASSERT_TRUE(openKeyPath(registry, "HKEY_CURRENT_USER"));
    EXPECT_EQ(registry.currentRoot(), reg::kCurrentUser);
    EXPECT_EQ(registry.currentPath(), "") << "a root name alone opens the root key itself";
    ASSERT_TRUE(openKeyPath(registry, "HKEY_LOCAL_MACHINE\\Software\\Classes"));
    EXPECT_EQ(registry.currentRoot(), reg::kLocalMachine);
    EXPECT_EQ(registry.currentPath(), "Software\\Classes");

    selectRootByName(registry, "hkey_current_user");
    EXPECT_EQ(registry.currentRoot(), reg::kLocalMachine) << "root names compare exactly";
    EXPECT_NE(registry.currentKey(), reg::kNoKey);
    EXPECT_FALSE(openKeyPath(registry, "HKEY_LOCAL_MACHINE\\No\\Such"));
    EXPECT_EQ(registry.currentPath(), "Software\\Classes");
    EXPECT_TRUE(selectRootByName(registry, "HKEY_USERS"));
    EXPECT_EQ(registry.currentRoot(), reg::kUsers);
}

TEST(RegU, AnUnknownRootNameOpensNothing) {
    test::TempDir dir;
    const auto store = test::openTestRegistry(dir / "registry");
    reg::RegAccessor registry(*store);
    ASSERT_TRUE(openKeyPath(registry, "HKEY_CURRENT_USER"));
    const reg::HKey open = registry.currentKey();
    // Software exists below the current root too: the path must not be taken below it.
    for (const char* path : { "HKLM\\Software", "hkey_current_user\\Software", "HKEY_LOCAL_MACHINE \\Software",
             "\\Software", "HKLM", "" }) {
        EXPECT_FALSE(openKeyPath(registry, path, reg::Access::Read)) << path;
        EXPECT_EQ(registry.currentRoot(), reg::kCurrentUser) << path;
        EXPECT_EQ(registry.currentKey(), open) << path;
    }
    EXPECT_FALSE(selectRootByName(registry, "HKLM"));
}
