#include "SelectionTestTree.h"

#include <gtest/gtest.h>

using namespace quern;
using Entries = std::vector<std::string>;

namespace {

const std::string U = "HKEY_CURRENT_USER";

// HKEY_CURRENT_USER\A with subkeys B (with C below) and D, values v1 and v2; Soft and Software;
// a key without values or subkeys (Leaf).
class SelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        w.make({ "A\\B\\C", "A\\D", "A\\\\v1", "A\\\\v2", "A\\B\\\\bv", "Soft\\\\s", "Software\\Y", "Leaf" });
        w.load();
    }
    const TreeNode& node(const std::string& path) {
        const TreeNode* found = w.node(path);
        EXPECT_NE(found, nullptr) << path;
        return *found;
    }
    SelState state(const std::string& path) { return w.state(path); }

    test::SelectionWorld w;
    TTreeSel& sel() { return *w.selection; }
};

} // namespace

TEST(TreeSelectionPaths, ValuePathsSplitAtTheFirstPairOfBackslashes) {
    EXPECT_TRUE(IsValuePath("K\\\\v"));
    EXPECT_TRUE(IsValuePath("K\\\\"));
    EXPECT_FALSE(IsValuePath("K\\A\\"));
    EXPECT_EQ(KeyOfPath("K\\A\\\\v\\\\w"), "K\\A");
    EXPECT_EQ(KeyOfPath("K\\A"), "K\\A");
    std::string key;
    std::string name;
    SplitValuePath("K\\A\\\\v\\x", key, name);
    EXPECT_EQ(key, "K\\A");
    EXPECT_EQ(name, "v\\x") << "a value name may hold backslashes";
    SplitValuePath("K\\\\", key, name);
    EXPECT_EQ(name, "");
}

TEST_F(SelectionTest, AnEmptySetSelectsNothing) {
    for (const auto& path : { std::string(), U, U + "\\A", U + "\\A\\\\v1" })
        EXPECT_EQ(state(path), selNone) << path;
}

TEST_F(SelectionTest, TheTopNodeSelectsEverythingOrNothing) {
    sel().ToggleNode(node(""), false);
    EXPECT_TRUE(w.entries().empty()) << "the top node alone does nothing";
    sel().ToggleNode(node(""), true);
    EXPECT_EQ(w.entries(), Entries { "\\" });
    for (const auto& path : { std::string(), U, U + "\\A\\B\\C", U + "\\A\\\\v1" })
        EXPECT_EQ(state(path), selWithSubkeys) << path;
    sel().ToggleNode(node(""), true);
    EXPECT_TRUE(w.entries().empty());
}

TEST_F(SelectionTest, SelectingAKeyAlone) {
    sel().SelectNode(node(U + "\\Leaf"), false);
    EXPECT_EQ(w.entries(), Entries { U + "\\Leaf\\" }) << "a key without children is taken with subkeys";

    sel().SelectNode(node(U + "\\A"), false);
    EXPECT_EQ(w.entries().back(), U + "\\A");
    EXPECT_EQ(state(U + "\\A"), selAlone);
    EXPECT_EQ(state(U + "\\A\\\\v1"), selWithSubkeys);
    EXPECT_EQ(state(U + "\\A\\B"), selNone);
    EXPECT_EQ(state(U), selBelow);

    sel().SelectNode(node(U + "\\A\\B"), true);
    sel().SelectNode(node(U + "\\A\\D"), true);
    EXPECT_EQ(w.entries(), (Entries { U + "\\Leaf\\", U + "\\A\\" }))
        << "all of A's children selected with subkeys, and A selected: absorbed into A";
}

TEST_F(SelectionTest, SelectingAKeyAloneWhoseSubkeysAreAllSelected) {
    sel().SelectNode(node(U + "\\A\\B"), true);
    sel().SelectNode(node(U + "\\A\\D"), true);
    EXPECT_EQ(w.entries(), (Entries { U + "\\A\\B\\", U + "\\A\\D\\" })) << "A is not selected: nothing is absorbed";
    EXPECT_EQ(state(U + "\\A"), selBelow);
    sel().SelectNode(node(U + "\\A"), false);
    EXPECT_EQ(w.entries(), Entries { U + "\\A\\" });
}

TEST_F(SelectionTest, SelectingWithSubkeysTakesInWhatLiesBelow) {
    sel().SelectNode(node(U + "\\A\\B"), false);
    sel().SelectValue(node(U + "\\A"), U + "\\A\\\\v1");
    sel().SelectNode(node(U + "\\Soft"), true);
    sel().SelectNode(node(U + "\\A"), true);
    EXPECT_EQ(w.entries(), (Entries { U + "\\Soft\\", U + "\\A\\" }));
}

TEST_F(SelectionTest, AbsorptionClimbsWhileParentsAreSelected) {
    // Everything but A\D under HKEY_CURRENT_USER is selected, and HKEY_CURRENT_USER itself alone.
    sel().SelectNode(node(U), false);
    sel().SelectNode(node(U + "\\A"), false);
    for (const char* key : { "\\A\\B", "\\Leaf", "\\Soft", "\\Software" })
        sel().SelectNode(node(U + key), true);
    sel().SelectNode(node(U + "\\A\\D"), true);
    EXPECT_EQ(w.entries(), Entries { U + "\\" });
}

TEST_F(SelectionTest, TheLastRootSelectedLeavesTheEverythingEntry) {
    const TreeNode& top = node("");
    for (std::size_t i = 0; i + 1 < top.childNodeCount(); ++i)
        sel().SelectNode(*top.childNode(i), true);
    EXPECT_EQ(w.entries().size(), 5u);
    sel().SelectNode(*top.childNode(5), true);
    EXPECT_EQ(w.entries(), Entries { "\\" });
}

TEST_F(SelectionTest, DeselectingARootFromEverything) {
    sel().SelectNode(node(""), true);
    sel().DeselectNode(node("HKEY_USERS"), true);
    EXPECT_EQ(w.entries(),
        (Entries {
            "HKEY_CLASSES_ROOT\\", U + "\\", "HKEY_LOCAL_MACHINE\\", "HKEY_CURRENT_CONFIG\\", "HKEY_DYN_DATA\\" }));
}

TEST_F(SelectionTest, DeselectingAKeyFromEverythingSplitsTheEntryUpward) {
    sel().SelectNode(node(""), true);
    sel().DeselectNode(node(U + "\\A"), true);
    EXPECT_EQ(w.entries(),
        (Entries { U + "\\Leaf\\", U + "\\Soft\\", U + "\\Software\\", "HKEY_CLASSES_ROOT\\", "HKEY_LOCAL_MACHINE\\",
            "HKEY_USERS\\", "HKEY_CURRENT_CONFIG\\", "HKEY_DYN_DATA\\" }));
    EXPECT_EQ(state(U), selBelow) << "the keys between get no entry of their own";
    EXPECT_EQ(state(U + "\\A"), selNone);
}

TEST_F(SelectionTest, DeselectingAChildOfARecursiveEntryKeepsItsSiblings) {
    sel().SelectNode(node(U + "\\A"), true);
    sel().DeselectNode(node(U + "\\A\\B"), true);
    EXPECT_EQ(w.entries(), (Entries { U + "\\A", U + "\\A\\D\\" }));
    EXPECT_EQ(state(U + "\\A"), selAlone);
    EXPECT_EQ(state(U + "\\A\\B"), selNone);
    EXPECT_EQ(state(U + "\\A\\B\\C"), selNone);
    EXPECT_EQ(state(U + "\\A\\D"), selWithSubkeys);
}

TEST_F(SelectionTest, DeselectingAloneAKeySelectedWithSubkeys) {
    sel().SelectNode(node(U + "\\A"), true);
    sel().DeselectNode(node(U + "\\A"), false);
    EXPECT_EQ(w.entries(), (Entries { U + "\\A\\B\\", U + "\\A\\D\\" }));
    EXPECT_EQ(state(U + "\\A\\\\v1"), selNone);
    EXPECT_EQ(state(U + "\\A"), selBelow);
}

TEST_F(SelectionTest, DeselectingAloneAKeySelectedAloneBringsBackItsValueEntries) {
    sel().SelectValue(node(U + "\\A"), U + "\\A\\\\v1");
    sel().SelectNode(node(U + "\\A"), false);
    EXPECT_EQ(state(U + "\\A"), selAlone) << "a value entry only lies below its key";
    sel().DeselectNode(node(U + "\\A"), false);
    EXPECT_EQ(w.entries(), Entries { U + "\\A\\\\v1" });
    EXPECT_EQ(state(U + "\\A\\\\v1"), selAlone);
}

TEST_F(SelectionTest, DeselectingAloneMatchesTheEntryWithoutRegardToCase) {
    sel().setEntries({ "hkey_current_user\\a", U + "\\A" });
    EXPECT_EQ(state(U + "\\A"), selAlone);
    sel().DeselectNode(node(U + "\\A"), false);
    EXPECT_EQ(w.entries(), Entries { U + "\\A" }) << "the first entry equal without regard to case goes";
}

TEST_F(SelectionTest, SelectingValues) {
    sel().SelectValue(node(U + "\\A"), U + "\\A\\\\v1");
    EXPECT_EQ(w.entries(), Entries { U + "\\A\\\\v1" });
    EXPECT_EQ(state(U + "\\A\\\\v1"), selAlone);
    EXPECT_EQ(state(U + "\\A"), selBelow);
    EXPECT_EQ(state(U + "\\A\\\\v2"), selNone);

    sel().SelectNode(node(U + "\\A\\B"), true);
    sel().SelectValue(node(U + "\\A"), U + "\\A\\\\v2");
    EXPECT_EQ(w.entries(), (Entries { U + "\\A\\B\\", U + "\\A" }))
        << "the last value: the key's own entry replaces its value entries; subkeys' entries stay";
}

TEST_F(SelectionTest, SelectingTheDefaultValue) {
    w.make({ "A\\\\" });
    sel().SelectValue(node(U + "\\A"), U + "\\A\\\\");
    EXPECT_EQ(w.entries(), Entries { U + "\\A\\\\" });
    EXPECT_EQ(state(U + "\\A\\\\v1"), selNone);
}

TEST_F(SelectionTest, DeselectingAValueOfAKeySelectedAlone) {
    sel().SelectNode(node(U + "\\A"), false);
    sel().DeselectValue(node(U + "\\A"), U + "\\A\\\\v1");
    EXPECT_EQ(w.entries(), Entries { U + "\\A\\\\v2" });
    sel().DeselectValue(node(U + "\\A"), U + "\\A\\\\v2");
    EXPECT_TRUE(w.entries().empty());
}

TEST_F(SelectionTest, PrefixNamedSiblingsNeverTouch) {
    sel().SelectNode(node(U + "\\Soft"), true);
    EXPECT_EQ(state(U + "\\Software"), selNone);
    EXPECT_EQ(state(U + "\\Software\\Y"), selNone);
    sel().SelectNode(node(U + "\\Software"), false);
    sel().DeselectNode(node(U + "\\Soft"), true);
    EXPECT_EQ(state(U + "\\Software"), selAlone);
    EXPECT_EQ(w.entries(), Entries { U + "\\Software" });
}

TEST_F(SelectionTest, TheFirstEntryThatCoversDecides) {
    sel().setEntries({ U + "\\A", U + "\\A\\" });
    EXPECT_EQ(state(U + "\\A"), selAlone);
    EXPECT_EQ(state(U + "\\A\\B"), selWithSubkeys);
    sel().setEntries({ "", U + "\\A\\" });
    EXPECT_EQ(state(""), selAlone) << "an empty entry selects the top node alone";
    EXPECT_EQ(state(U), selBelow);
}

TEST_F(SelectionTest, ToggleAsksForARepaint) {
    int repaints = 0;
    sel().repaintTree = [&] { ++repaints; };
    sel().ToggleNode(node(U + "\\A"), true);
    sel().ToggleNode(node(U + "\\A"), false);
    EXPECT_EQ(repaints, 2);
    EXPECT_EQ(w.entries(), (Entries { U + "\\A\\B\\", U + "\\A\\D\\" }))
        << "a selected key is deselected, whatever the flag";
}
