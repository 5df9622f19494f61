#include "SelectionTestTree.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace quern;

namespace {

struct Item {
    const TreeNode* node;
    std::string path;
};

void collect(const TreeNode* node, std::vector<Item>& items) {
    items.push_back({ node, keyPathOfNode(node) });
    for (std::size_t i = 0; i < node->childNodeCount(); ++i)
        collect(node->childNode(i), items);
}

bool inside(const TreeNode* node, const TreeNode* subtree) {
    for (; node; node = node->parentNode())
        if (node == subtree) return true;
    return false;
}

std::string keyPartOf(const std::string& entry) {
    if (IsValuePath(entry) || entry.empty() || entry.back() != '\\') return entry;
    return entry.substr(0, entry.size() - 1);
}

bool atOrBelow(const std::string& k, const std::string& p) {
    if (k == p || p.empty()) return true;
    return k.size() > p.size() && k[p.size()] == '\\' && k.compare(0, p.size(), p) == 0;
}

// A random registry below HKEY_CURRENT_USER\T: prefix-named siblings, values with empty names,
// keys without subkeys.
std::vector<std::string> randomKeys(std::mt19937& random) {
    static const char* const kNames[] = { "Soft", "Software", "Sof", "k", "k2", "x" };
    static const char* const kValues[] = { "", "v", "v2", "vv" };
    std::vector<std::string> paths;
    std::vector<std::string> keys { "T" };
    for (std::size_t i = 0; i < keys.size() && keys.size() < 40; ++i) {
        const int depth = static_cast<int>(std::count(keys[i].begin(), keys[i].end(), '\\'));
        if (depth >= 3) continue;
        for (const char* name : kNames)
            if (random() % 3 == 0) keys.push_back(keys[i] + "\\" + name);
    }
    for (const auto& key : keys) {
        paths.push_back(key);
        for (const char* value : kValues)
            if (random() % 3 == 0) paths.push_back(key + "\\\\" + value);
    }
    return paths;
}

} // namespace

TEST(SelectionRandom, ChangesKeepTheInvariantsAndTheIndexAgreesWithTheScan) {
    std::mt19937 random(20261207);
    for (int world = 0; world < 12; ++world) {
        test::SelectionWorld w;
        w.make(randomKeys(random));
        w.load();
        std::vector<Item> items;
        collect(w.top.get(), items);
        std::map<std::string, std::vector<std::string>> values; // key path -> value paths
        for (const auto& item : items) {
            if (item.node->level() == 0) continue;
            std::vector<std::string> names;
            if (openKeyPath(*w.registry, item.path, reg::Access::Read)) w.registry->getValueNames(names);
            for (const auto& name : names)
                values[item.path].push_back(item.path + "\\\\" + name);
        }
        auto snapshot = [&] {
            std::map<std::string, SelState> states;
            for (const auto& item : items) {
                states[item.path] = w.state(item.path);
                for (const auto& value : values[item.path])
                    states[value] = w.state(value);
            }
            return states;
        };

        for (int step = 0; step < 150; ++step) {
            const auto before = snapshot();
            const Item& target = items[random() % items.size()];
            const int op = static_cast<int>(random() % 6);
            const bool withSubkeys = random() % 2 == 0;
            std::string what;
            if (op < 4 || values[target.path].empty()) {
                what = (op % 2 ? "deselect " : "select ") + target.path + (withSubkeys ? " with subkeys" : " alone");
                if (op % 2)
                    w.selection->DeselectNode(*target.node, withSubkeys);
                else
                    w.selection->SelectNode(*target.node, withSubkeys);
            } else {
                const auto& list = values[target.path];
                const std::string& value = list[random() % list.size()];
                what = (op == 5 ? "deselect value " : "select value ") + value;
                if (op == 5)
                    w.selection->DeselectValue(*target.node, value);
                else
                    w.selection->SelectValue(*target.node, value);
            }
            SCOPED_TRACE(what);
            const auto after = snapshot();

            for (const auto& item : items) {
                const SelState state = after.at(item.path);
                ASSERT_EQ(state, w.selection->StateOfPathByScan(item.path)) << item.path;
                if (op < 4 && withSubkeys && inside(item.node, target.node)) {
                    ASSERT_EQ(state >= selAlone, op % 2 == 0) << item.path;
                }
                if (!inside(item.node, target.node) && !inside(target.node, item.node)) {
                    ASSERT_EQ(state, before.at(item.path)) << item.path << " is outside the change";
                }
                for (const auto& value : values[item.path]) {
                    const SelState valueState = after.at(value);
                    ASSERT_EQ(valueState, w.selection->StateOfPathByScan(value)) << value;
                    if (state >= selAlone) {
                        ASSERT_EQ(valueState, selWithSubkeys) << value;
                    }
                    if (state == selNone) {
                        ASSERT_EQ(valueState, selNone) << value;
                    }
                    if (state == selBelow) {
                        ASSERT_NE(valueState, selWithSubkeys) << value;
                    }
                    if (!inside(item.node, target.node) && !inside(target.node, item.node)) {
                        ASSERT_EQ(valueState, before.at(value)) << value;
                    }
                }
            }
            const auto& entries = w.entries();
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const std::string& r = entries[i];
                if (IsValuePath(r) || r.empty() || r.back() != '\\') continue;
                for (std::size_t j = 0; j < entries.size(); ++j) {
                    if (j == i) continue;
                    ASSERT_FALSE(atOrBelow(keyPartOf(entries[j]), keyPartOf(r))) << entries[j] << " under " << r;
                }
            }
        }
    }
}

TEST(SelectionRandom, TheIndexAnswersAsTheScanForAnyEntries) {
    // Entries of every form, well made or not, as a loaded selection file may hold them.
    std::mt19937 random(7);
    const char* const pieces[] = { "A", "B", "Soft", "Software", "\\", "\\\\", "", "a" };
    test::SelectionWorld w;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> entries;
        auto randomText = [&] {
            std::string text;
            for (int n = static_cast<int>(random() % 5); n > 0; --n)
                text += pieces[random() % 8];
            return text;
        };
        for (int n = static_cast<int>(random() % 8); n > 0; --n)
            entries.push_back(randomText());
        w.selection->setEntries(entries);
        for (int probe = 0; probe < 40; ++probe) {
            const std::string path = randomText();
            ASSERT_EQ(w.state(path), w.selection->StateOfPathByScan(path)) << "path «" << path << "»";
        }
    }
}

TEST(SelectionRandom, TheSetAnswersPastSixtyFiveThousandEntries) {
    test::SelectionWorld w;
    std::vector<std::string> entries;
    for (int i = 0; i < 70000; ++i)
        entries.push_back("HKEY_CURRENT_USER\\K" + std::to_string(i) + (i % 2 ? "\\" : ""));
    entries.push_back("HKEY_LOCAL_MACHINE\\Last\\");
    w.selection->setEntries(entries);
    EXPECT_EQ(w.state("HKEY_CURRENT_USER\\K69999\\Sub"), selWithSubkeys);
    EXPECT_EQ(w.state("HKEY_CURRENT_USER\\K69998"), selAlone);
    EXPECT_EQ(w.state("HKEY_LOCAL_MACHINE\\Last\\X"), selWithSubkeys);
    EXPECT_EQ(w.state("HKEY_LOCAL_MACHINE"), selBelow);
    EXPECT_EQ(w.state("HKEY_CURRENT_USER\\K70000"), selNone);
}
