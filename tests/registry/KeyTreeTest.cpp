#include "TestSupport.h"
#include "codec/ValueText.h"
#include "registry/RegU.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

using namespace quern;

namespace {

std::vector<std::string> namesOf(const std::vector<quern::ValueRow>& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.push_back(row.name);
    return names;
}

// A plain tree that fills nodes from the registry as the window's tree does.
class PlainTree final : public TreeNavigator {
public:
    explicit PlainTree(reg::RegAccessor& registry)
        : m_registry(registry) { }

    TreeNode* topNode() override { return &m_top; }
    void expandNode(TreeNode* node) override {
        auto* plain = static_cast<PlainTreeNode*>(node);
        std::vector<ChildKey> children;
        ++expansions;
        if (!readChildKeys(m_registry, *plain, children)) return;
        plain->clearChildren();
        for (const auto& child : children)
            plain->add(child.name)->setHasChildren(child.hasSubkeys);
        plain->setExpanded(true);
    }
    TreeNode* selectedNode() override { return m_selected; }
    void selectNode(TreeNode* node) override { m_selected = node; }

    std::string selectedPath() const { return m_selected ? keyPathOfNode(m_selected) : "(none)"; }
    PlainTreeNode m_top { "Local Registry" };
    int expansions = 0;

private:
    reg::RegAccessor& m_registry;
    TreeNode* m_selected = nullptr;
};

class KeyTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = test::openTestRegistry(dir / "registry");
        registry = std::make_unique<reg::RegAccessor>(*store);
        registry->selectRoot(reg::kLocalMachine);
        registry->createKey("\\Software\\Vendor\\App\\Deep");
        registry->createKey("\\Software\\vendor2");
        registry->createKey("\\Software\\_first");
    }

    test::TempDir dir;
    std::unique_ptr<reg::WinePrefixStore> store;
    std::unique_ptr<reg::RegAccessor> registry;
};

} // namespace

TEST_F(KeyTreeTest, ChildrenAreSortedAndMarkedWhenTheyHaveSubkeys) {
    PlainTree tree(*registry);
    std::vector<ChildKey> children;
    ASSERT_TRUE(readChildKeys(*registry, tree.m_top, children));
    ASSERT_EQ(children.size(), 6u);
    EXPECT_EQ(children[0].name, "HKEY_CLASSES_ROOT");
    EXPECT_EQ(children[5].name, "HKEY_DYN_DATA");

    tree.expandNode(&tree.m_top);
    PlainTreeNode* machine = tree.m_top.plainChild(2);
    tree.expandNode(machine);
    ASSERT_EQ(machine->childNodeCount(), 2u);
    PlainTreeNode* software = machine->plainChild(0);
    EXPECT_EQ(software->nodeText(), "Software");
    EXPECT_TRUE(software->markedHasChildren());
    tree.expandNode(software);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < software->childNodeCount(); ++i)
        names.push_back(software->childNode(i)->nodeText());
    EXPECT_EQ(names, (std::vector<std::string> { "_first", "Classes", "Vendor", "vendor2" }));
    EXPECT_FALSE(software->childNode(3)->markedHasChildren());

    PlainTreeNode ghost("Gone", software);
    EXPECT_FALSE(readChildKeys(*registry, ghost, children)) << "a key that does not open leaves its node alone";
}

TEST_F(KeyTreeTest, GoToPathWalksWithoutRegardToCaseAndSelectsTheDeepestMatch) {
    PlainTree tree(*registry);
    goToPath(tree, "hkey_local_machine\\software\\VENDOR\\app");
    EXPECT_EQ(tree.selectedPath(), "HKEY_LOCAL_MACHINE\\Software\\Vendor\\App");
    EXPECT_TRUE(tree.selectedNode()->nodeExpanded()) << "each key on the way is expanded";

    goToPath(tree, "HKEY_LOCAL_MACHINE\\NoSuchKey\\Software");
    EXPECT_EQ(tree.selectedPath(), "HKEY_LOCAL_MACHINE");
    goToPath(tree, "HKEY_LOCAL_MACHINE\\Software\\\\Vendor");
    EXPECT_EQ(tree.selectedPath(), "HKEY_LOCAL_MACHINE\\Software") << "two backslashes end the walk";
    goToPath(tree, "");
    EXPECT_EQ(tree.selectedNode(), &tree.m_top);
    goToPath(tree, "\\HKEY_LOCAL_MACHINE");
    EXPECT_EQ(tree.selectedNode(), &tree.m_top) << "a leading backslash matches nothing";
    goToPath(tree, "HKEY_LOCAL_MACHINE\\Software\\Vendor\\");
    EXPECT_EQ(tree.selectedPath(), "HKEY_LOCAL_MACHINE\\Software\\Vendor");
}

TEST_F(KeyTreeTest, TypingAPathMovesAsSoonAsANameIsComplete) {
    PlainTree tree(*registry);
    const std::string path = "HKEY_LOCAL_MACHINE\\Software\\Vendor";
    std::vector<std::string> seen;
    for (std::size_t n = 1; n <= path.size(); ++n) {
        goToPath(tree, path.substr(0, n));
        if (seen.empty() || seen.back() != tree.selectedPath()) seen.push_back(tree.selectedPath());
    }
    EXPECT_EQ(seen,
        (std::vector<std::string> {
            "", "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\Software", "HKEY_LOCAL_MACHINE\\Software\\Vendor" }));
}

TEST_F(KeyTreeTest, AKeyWithAHundredThousandSubkeysFillsWhole) {
    {
        reg::WriteBatch batch(*store);
        registry->createKey("\\Software\\Wide");
        ASSERT_TRUE(registry->openKey("\\Software\\Wide"));
        for (int i = 0; i < 100000; ++i)
            registry->createKey("k" + std::to_string(i));
        ASSERT_EQ(batch.finish(), reg::Status::Ok);
    }
    PlainTree tree(*registry);
    goToPath(tree, "HKEY_LOCAL_MACHINE\\Software\\Wide");
    EXPECT_EQ(tree.selectedNode()->childNodeCount(), 100000u);
}

TEST_F(KeyTreeTest, GridRowsRenderEveryKindDefaultFirst) {
    ASSERT_TRUE(registry->openKey("\\Software\\Vendor"));
    registry->writeString("str", "text");
    registry->writeInteger("num", 255);
    registry->writeBinaryData("bin", "\x0a\xff", 2);
    registry->writeBinaryData("empty", "", 0);
    registry->writeString("", "default");
    const reg::HKey key = registry->currentKey();
    auto setRaw = [&](std::u16string name, std::uint32_t type, std::vector<std::uint8_t> data) {
        ASSERT_EQ(store->setValue(key, name, type, data), reg::Status::Ok);
    };
    setRaw(u"wide", reg::kRegDword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    setRaw(u"multi", reg::kRegMultiSz, { 'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0 });
    setRaw(u"none", reg::kRegNone, { 1 });
    setRaw(u"expand", reg::kRegExpandSz, { '%', 0, 'X', 0, '%', 0, 0, 0 });

    PlainTree tree(*registry);
    goToPath(tree, "HKEY_LOCAL_MACHINE\\Software\\Vendor");
    std::vector<ValueRow> rows;
    auto rowOf = [&](const std::string& name) -> const ValueRow& {
        return *std::find_if(rows.begin(), rows.end(), [&](const ValueRow& row) { return row.name == name; });
    };
    auto dataOf = [&](const std::string& name) { return std::string(1, rowOf(name).kind) + rowOf(name).text; };
    fillGridRows(*registry, tree.selectedNode(), kBytesHex, kDwordHex, rows);
    EXPECT_EQ(namesOf(rows),
        (std::vector<std::string> { "", "bin", "empty", "expand", "multi", "none", "num", "str", "wide" }));
    // The rows keep what the registry stores, for the commands that act on them.
    EXPECT_EQ(rowOf("wide").type, reg::kRegDword);
    EXPECT_EQ(rowOf("wide").data, (std::vector<std::uint8_t> { 1, 2, 3, 4, 5, 6, 7, 8 }));
    EXPECT_EQ(rowOf("multi").data, (std::vector<std::uint8_t> { 'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0 }));
    EXPECT_EQ(dataOf(""), "s\"default\"");
    EXPECT_EQ(dataOf("str"), "s\"text\"");
    EXPECT_EQ(dataOf("expand"), "s\"%X%\"") << "not expanded";
    EXPECT_EQ(dataOf("num"), "nFFh");
    EXPECT_EQ(dataOf("wide"), "n[Invalid Integer Data]");
    EXPECT_EQ(dataOf("bin"), "b0A FF ");
    EXPECT_EQ(dataOf("empty"), "b");
    EXPECT_EQ(dataOf("multi"), "b61 00 62 00 00 ") << "a multi-string shows as bytes with its NULs";
    EXPECT_EQ(dataOf("none"), "b01 ");
    fillGridRows(*registry, tree.selectedNode(), kBytesDecimal, kDwordBinary, rows);
    EXPECT_EQ(dataOf("num"), "n11111111b");
    EXPECT_EQ(dataOf("wide"), "n[Invalid Integer Data]");
    EXPECT_EQ(dataOf("bin"), "b010 255 ");
    fillGridRows(*registry, tree.selectedNode(), kBytesCharacters, kDwordDecimal, rows);
    EXPECT_EQ(dataOf("num"), "n255");
    EXPECT_EQ(dataOf("multi"), "ba\u25e6b\u25e6\u25e6") << "one visible character per byte, zero bytes too";

    fillGridRows(*registry, &tree.m_top, kBytesHex, kDwordHex, rows);
    EXPECT_TRUE(rows.empty()) << "the top node shows no values";
    fillGridRows(*registry, nullptr, kBytesHex, kDwordHex, rows);
    EXPECT_TRUE(rows.empty());
}

TEST_F(KeyTreeTest, GridShowsValuesOfARegistryThatCannotBeWritten) {
    ASSERT_TRUE(registry->openKey("\\Software\\Vendor"));
    registry->writeString("v", "x");
    test::HeldLock server(test::testRegistryServerLock(dir / "registry"));
    const auto second = test::openTestRegistry(dir / "registry", false);
    ASSERT_NE(second->readOnlyReason(), "");
    reg::RegAccessor readOnly(*second);
    PlainTree tree(readOnly);
    goToPath(tree, "HKEY_LOCAL_MACHINE\\Software\\Vendor");
    std::vector<ValueRow> rows;
    fillGridRows(readOnly, tree.selectedNode(), kBytesHex, kDwordHex, rows);
    EXPECT_EQ(namesOf(rows), std::vector<std::string> { "v" });
}

TEST_F(KeyTreeTest, LargeKeysAndValuesFillWithoutLimits) {
    {
        reg::WriteBatch batch(*store);
        registry->createKey("\\Software\\Many");
        ASSERT_TRUE(registry->openKey("\\Software\\Many"));
        for (int i = 0; i < 100000; ++i)
            registry->writeInteger("v" + std::to_string(i), i);
        std::vector<std::uint8_t> big(1 << 20, 0xab);
        registry->writeBinaryData("big", big.data(), big.size());
        ASSERT_EQ(batch.finish(), reg::Status::Ok);
    }
    PlainTree tree(*registry);
    goToPath(tree, "HKEY_LOCAL_MACHINE\\Software\\Many");
    std::vector<ValueRow> rows;
    fillGridRows(*registry, tree.selectedNode(), kBytesHex, kDwordDecimal, rows);
    ASSERT_EQ(rows.size(), 100001u);
    EXPECT_EQ(rows[0].name, "big");
    EXPECT_EQ(rows[0].text.size(), 3u << 20);
    EXPECT_EQ(rows[1].text, "0") << "v0";
}
