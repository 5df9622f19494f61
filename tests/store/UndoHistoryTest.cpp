#include "RegistryDump.h"
#include "TestSupport.h"
#include "codec/Utf.h"
#include "import/RegFileReader.h"
#include "import/RegImport.h"
#include "registry/ChangeLabels.h"
#include "registry/RegAccessor.h"
#include "registry/RegU.h"
#include "store/MemoryRegistry.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

using namespace quern;
using namespace quern::reg;

namespace {

// --- The window's commands, through the calls they make, each one named batch ---------------------

Status editValue(RegStore& store, const std::string& keyPath, const std::string& oldName, const std::string& name,
    std::uint32_t type, const std::vector<std::uint8_t>& data, bool created = false) {
    RegAccessor registry(store);
    if (!openKeyPath(registry, keyPath)) return Status::NotFound;
    WriteBatch batch(store);
    try {
        registry.writeRaw(name, type, data);
    } catch (const RegError&) {
        return Status::WriteFailed;
    }
    if (!created && oldName != name)
        if (Status st = store.deleteValue(registry.currentKey(), toUtf16(oldName)); !st.ok()) return st;
    return batch.finish(valueEditLabel(keyPath, name, created, oldName));
}

Status newKey(RegStore& store, const std::string& parentPath, const std::string& name) {
    RegAccessor registry(store);
    if (!openKeyPath(registry, parentPath)) return Status::NotFound;
    WriteBatch batch(store);
    try {
        registry.createKey(name);
    } catch (const RegError&) {
        return Status::WriteFailed;
    }
    return batch.finish(newKeyLabel(parentPath, name));
}

Status renameKey(RegStore& store, const std::string& parentPath, const std::string& oldName, const std::string& name) {
    RegAccessor registry(store);
    if (!openKeyPath(registry, parentPath)) return Status::NotFound;
    const std::string below = pathBelowRoot(parentPath);
    const std::string parent = below.empty() ? "\\" : "\\" + below + "\\";
    WriteBatch batch(store);
    try {
        if (!registry.moveKey(parent + oldName, parent + name, true)) return Status::NotFound;
    } catch (const RegError&) {
        return Status::WriteFailed;
    }
    return batch.finish(renameKeyLabel(parentPath, oldName, name));
}

Status deleteKey(RegStore& store, const std::string& keyPath) {
    RegAccessor registry(store);
    const std::size_t slash = keyPath.find('\\');
    if (!selectRootByName(registry, keyPath.substr(0, slash))) return Status::NotFound;
    WriteBatch batch(store);
    if (Status st = registry.removeKey(keyPath.substr(slash)); !st.ok()) return st;
    return batch.finish(deleteKeyLabel(keyPath));
}

Status deleteValues(RegStore& store, const std::string& keyPath, const std::vector<std::string>& names) {
    RegAccessor registry(store);
    if (!openKeyPath(registry, keyPath)) return Status::NotFound;
    WriteBatch batch(store);
    for (const auto& name : names)
        if (Status st = store.deleteValue(registry.currentKey(), toUtf16(name)); !st.ok()) return st;
    return batch.finish(deleteValuesLabel(keyPath, names));
}

// Where two texts part, for a failure message that does not print megabytes.
std::string firstDifference(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    const std::size_t from = i > 40 ? i - 40 : 0;
    return "differ at byte " + std::to_string(i) + ": \"" + a.substr(from, 120) + "\" vs \"" + b.substr(from, 120)
        + "\"";
}

// Equal texts, or where they part.
::testing::AssertionResult same(const std::string& a, const std::string& b) {
    if (a == b) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << firstDifference(a, b);
}

std::vector<std::uint8_t> bytes(std::initializer_list<std::uint8_t> list) {
    return list;
}

// A clock that moves on with every change, so that a restored time is told apart from a new one.
std::function<std::uint64_t()> tickingClock() {
    auto now = std::make_shared<std::uint64_t>(0x1dd9000000000000ull);
    return [now] { return *now += 10'000'000; };
}

// Values of every awkward kind, a subtree with a link inside it and a link beside it: what an
// exact undo has to get right. Made unnamed, so they are no part of the history.
void fillAwkwardKeys(RegStore& store, const std::u16string& base) {
    auto set = [&](const std::u16string& path, std::u16string_view name, std::uint32_t type,
                   const std::vector<std::uint8_t>& data) {
        HKey key = kNoKey;
        ASSERT_EQ(store.createKey(kCurrentUser, base + path, Access::Full, kOptionNone, key), Status::Ok);
        ASSERT_EQ(store.setValue(key, name, type, data), Status::Ok);
        (void)store.closeKey(key);
    };
    set(u"\\Data", u"", kRegSz, test::utf16zBytes(u"default"));
    set(u"\\Data", u"odd", 0x12345678, bytes({ 1, 2, 3 }));
    set(u"\\Data", u"empty", kRegBinary, {});
    set(u"\\Data", u"emptysz", kRegSz, {});
    set(u"\\Data", u"oddsz", kRegSz, bytes({ 0x41, 0, 0x42 }));
    set(u"\\Data", u"dw", kRegDword, bytes({ 7, 0, 0, 0 }));
    set(u"\\Data\\Sub\\Deep", u"v", kRegExpandSz, test::utf16zBytes(u"%PATH%"));
    const std::u16string target = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\" + base + u"\\Data";
    for (const std::u16string& link : { base + u"\\Link", base + u"\\Data\\Sub\\Inner" }) {
        HKey key = kNoKey;
        ASSERT_EQ(store.createKey(kCurrentUser, link, Access::Full, kCreateLink, key), Status::Ok);
        ASSERT_EQ(store.setValue(key, u"SymbolicLinkValue", kRegLink, test::utf16Bytes(target)), Status::Ok);
        (void)store.closeKey(key);
    }
}

} // namespace

TEST(UndoHistory, EveryCommandIsUndoneAndRedoneExactly) {
    MemoryRegistryOptions options;
    options.clock = tickingClock();
    MemoryRegistry store(options);
    fillAwkwardKeys(store, u"Software\\Undo");
    ASSERT_EQ(store.undoLabel(), nullptr) << "changes made unnamed cannot be undone";
    const std::string base = "HKEY_CURRENT_USER\\Software\\Undo";
    const std::string data = base + "\\Data";
    const std::vector<std::pair<std::string, std::function<Status()>>> commands = {
        { "edit of value \"odd\" in " + data,
            [&] { return editValue(store, data, "odd", "odd", 0x12345678, bytes({ 9 })); } },
        { "rename of value \"odd\" to \"odd 2\" in " + data,
            [&] { return editValue(store, data, "odd", "odd 2", kRegBinary, {}); } },
        { "new value \"added\" in " + data,
            [&] {
                return editValue(store, data, "", "added", kRegDword, bytes({ 1, 0, 0, 0 }), true);
            } },
        { "new key " + data + "\\New", [&] { return newKey(store, data, "New"); } },
        { "delete of 3 values in " + data,
            [&] {
                return deleteValues(store, data, { "empty", "emptysz", "oddsz" });
            } },
        { "delete of the default value in " + data, [&] { return deleteValues(store, data, { "" }); } },
        { "rename of " + base + "\\Link to Link 2", [&] { return renameKey(store, base, "Link", "Link 2"); } },
        { "rename of " + data + " to Moved", [&] { return renameKey(store, base, "Data", "Moved"); } },
        { "delete of " + base + "\\Moved", [&] { return deleteKey(store, base + "\\Moved"); } },
        { "delete of " + base + "\\Link 2", [&] { return deleteKey(store, base + "\\Link 2"); } },
    };
    std::vector<std::string> states { test::dumpRegistry(store) };
    for (const auto& [label, command] : commands) {
        SCOPED_TRACE(label);
        ASSERT_EQ(command(), Status::Ok);
        const std::string after = test::dumpRegistry(store);
        ASSERT_NE(after, states.back());
        ASSERT_NE(store.undoLabel(), nullptr);
        EXPECT_EQ(store.undoLabel()->what, label);
        ASSERT_EQ(store.undoChange(), Status::Ok);
        EXPECT_TRUE(same(test::dumpRegistry(store), states.back()));
        ASSERT_NE(store.redoLabel(), nullptr);
        EXPECT_EQ(store.redoLabel()->what, label);
        ASSERT_EQ(store.redoChange(), Status::Ok);
        EXPECT_TRUE(same(test::dumpRegistry(store), after));
        EXPECT_EQ(store.redoLabel(), nullptr);
        states.push_back(after);
    }
    // All the way back and forth again: each change finds the registry as it left it.
    for (std::size_t i = states.size() - 1; i-- > 0;) {
        ASSERT_EQ(store.undoChange(), Status::Ok);
        EXPECT_TRUE(same(test::dumpRegistry(store), states[i])) << "after undoing " << commands[i].first;
    }
    EXPECT_EQ(store.undoChange(), Status::NotFound);
    for (std::size_t i = 1; i < states.size(); ++i) {
        ASSERT_EQ(store.redoChange(), Status::Ok);
        EXPECT_TRUE(same(test::dumpRegistry(store), states[i])) << "after redoing " << commands[i - 1].first;
    }
    EXPECT_EQ(store.redoChange(), Status::NotFound);
}

TEST(UndoHistory, ANewChangeEndsRedoAndAnUnnamedOneEndsTheHistory) {
    MemoryRegistry store;
    fillAwkwardKeys(store, u"Software\\Undo");
    const std::string data = "HKEY_CURRENT_USER\\Software\\Undo\\Data";
    ASSERT_EQ(newKey(store, data, "A"), Status::Ok);
    ASSERT_EQ(newKey(store, data, "B"), Status::Ok);
    ASSERT_EQ(store.undoChange(), Status::Ok);
    ASSERT_NE(store.redoLabel(), nullptr);
    ASSERT_EQ(newKey(store, data, "C"), Status::Ok);
    EXPECT_EQ(store.redoLabel(), nullptr);
    EXPECT_EQ(store.undoLabel()->what, "new key " + data + "\\C");

    // A change Undo cannot take back: the older entries could not run past it.
    HKey key = kNoKey;
    ASSERT_EQ(store.createKey(kCurrentUser, u"Software\\Undo\\Data\\A", Access::Full, kOptionNone, key), Status::Ok);
    ASSERT_EQ(store.setValue(key, u"x", kRegDword, bytes({ 1, 0, 0, 0 })), Status::Ok);
    EXPECT_EQ(store.undoLabel(), nullptr);
    EXPECT_EQ(store.undoChange(), Status::NotFound);
    // And a named batch that changed nothing leaves the history as it was.
    ASSERT_EQ(newKey(store, data, "D"), Status::Ok);
    {
        WriteBatch batch(store);
        ASSERT_EQ(batch.finish(newKeyLabel(data, "nothing")), Status::Ok);
    }
    EXPECT_EQ(store.undoLabel()->what, "new key " + data + "\\D");
}

TEST(UndoHistory, AnImportIsUndoneAndRedoneAsOneChange) {
    MemoryRegistryOptions options;
    options.clock = tickingClock();
    MemoryRegistry store(options);
    fillAwkwardKeys(store, u"Software\\Undo");
    const std::string before = test::dumpRegistry(store);
    // Keys made and deleted with their subtrees, values set over odd ones, added and deleted.
    const std::string file = "REGEDIT4\r\n\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\Undo\\Data\\Sub]\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Undo\\Data]\r\n"
                             "\"odd\"=dword:00000005\r\n\"empty\"=-\r\n\"fresh\"=hex(7):41,00,00,00,00,00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Undo\\Made\\Below]\r\n@=\"x\"\r\n";
    RegFileContent content;
    ASSERT_EQ(parseRegFile(file, "test.reg", content), Status::Ok);
    {
        WriteBatch batch(store);
        ASSERT_EQ(applyImport(store, content), Status::Ok);
        ASSERT_EQ(batch.finish(importLabel("test.reg", "HKEY_CURRENT_USER\\Software\\Undo\\Data")), Status::Ok);
    }
    const std::string after = test::dumpRegistry(store);
    ASSERT_NE(after, before);
    EXPECT_EQ(store.undoLabel()->what, "import of test.reg");
    ASSERT_EQ(store.undoChange(), Status::Ok);
    EXPECT_TRUE(same(test::dumpRegistry(store), before));
    ASSERT_EQ(store.redoChange(), Status::Ok);
    EXPECT_TRUE(same(test::dumpRegistry(store), after));
}

// --- A Wine prefix: the files ------------------------------------------------------------------

namespace {

class UndoPrefix : public ::testing::Test {
protected:
    void SetUp() override {
        test::copySamplePrefix(dir.path());
        // A key with a class name, which only a file can give a key.
        test::writeFile(dir / "user.reg",
            test::readFile(dir / "user.reg")
                + "\n[Software\\\\Undo] 1796672235\n#time=1dd86825cc7d9c4\n#class=\"Undo class\"\n\"a\"=\"b\"\n");
        options = test::testPrefixOptions(dir.path(), tmp.path());
        options.clock = tickingClock();
        store = std::make_unique<WinePrefixStore>(options);
        fillAwkwardKeys(*store, u"Software\\Undo");
    }

    [[nodiscard]] std::vector<std::string> files() const {
        return { test::readFile(dir / "system.reg"), test::readFile(dir / "user.reg"),
            test::readFile(dir / "userdef.reg") };
    }

    void expectFiles(const std::vector<std::string>& expected, const std::string& when) const {
        const auto now = files();
        for (std::size_t i = 0; i < now.size(); ++i)
            EXPECT_TRUE(same(now[i], expected[i])) << "file " << i << " " << when;
    }

    test::TempDir dir;
    test::TempDir tmp;
    WinePrefixOptions options;
    std::unique_ptr<WinePrefixStore> store;
};

// Every key below path that is not reached through a link, links themselves included.
void collectKeys(RegStore& store, HKey root, const std::string& rootName, std::vector<std::string>& paths) {
    std::function<void(HKey, const std::string&)> walk = [&](HKey key, const std::string& path) {
        std::u16string name;
        for (std::uint32_t i = 0; store.enumKey(key, i, name) == Status::Ok; ++i) {
            HKey sub = kNoKey;
            if (store.openKey(key, name, Access::Read, kOpenLink, sub) != Status::Ok) continue;
            const std::string subPath = path + "\\" + toUtf8(name);
            paths.push_back(subPath);
            KeyInfo info;
            if (store.queryInfo(sub, info) == Status::Ok && !info.isLink) walk(sub, subPath);
            (void)store.closeKey(sub);
        }
    };
    walk(root, rootName);
}

std::vector<std::string> valueNames(RegStore& store, const std::string& keyPath) {
    RegAccessor registry(store);
    std::vector<std::string> names;
    if (openKeyPath(registry, keyPath, Access::Read)) registry.getValueNames(names);
    return names;
}

// One command of a random kind on a random key of the user's hive or of HKEY_USERS\.Default, or
// below HKEY_LOCAL_MACHINE\Software\Wine.
Status randomCommand(RegStore& store, std::mt19937& rng, int step, std::string& label) {
    std::vector<std::string> keys;
    collectKeys(store, kCurrentUser, "HKEY_CURRENT_USER", keys);
    RegAccessor probe(store);
    if (openKeyPath(probe, "HKEY_LOCAL_MACHINE\\Software\\Wine", Access::Read))
        collectKeys(store, probe.currentKey(), "HKEY_LOCAL_MACHINE\\Software\\Wine", keys);
    const std::string key = keys[rng() % keys.size()];
    const std::string parent = parentPath(key);
    const std::string name = key.substr(parent.size() + 1);
    const std::vector<std::string> values = valueNames(store, key);
    const std::string fresh = "Undo " + std::to_string(step);
    static const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> kData
        = { { kRegSz, test::utf16zBytes(u"text") }, { 0x12345678, { 1, 2, 3 } }, { kRegBinary, {} },
              { kRegDword, { 1, 2, 3, 4 } } };
    const auto& [type, data] = kData[rng() % kData.size()];
    switch (values.empty() ? rng() % 4 : rng() % 6) {
    case 0:
        label = "new key below " + key;
        return newKey(store, key, fresh);
    case 1:
        label = "rename of " + key;
        return renameKey(store, parent, name, fresh);
    case 2:
        label = "delete of " + key;
        return deleteKey(store, key);
    case 3:
        label = "new value in " + key;
        return editValue(store, key, "", fresh, type, data, true);
    case 4: {
        const std::string& value = values[rng() % values.size()];
        label = "edit of " + value + " in " + key;
        return editValue(store, key, value, rng() % 2 ? value : fresh, type, data);
    }
    default: {
        const std::size_t first = rng() % values.size();
        const std::vector<std::string> range(values.begin() + static_cast<std::ptrdiff_t>(first),
            values.begin() + static_cast<std::ptrdiff_t>(std::min(values.size(), first + 3)));
        label = "delete of values in " + key;
        return deleteValues(store, key, range);
    }
    }
}

} // namespace

TEST_F(UndoPrefix, RandomCommandsUndoneGiveTheFilesTheBytesTheyHad) {
    std::mt19937 rng(19);
    std::vector<std::vector<std::string>> fileStates { files() };
    std::vector<std::string> dumps { test::dumpRegistry(*store) };
    std::vector<std::string> labels;
    for (int step = 0; step < 24; ++step) {
        std::string label;
        const Status st = randomCommand(*store, rng, step, label);
        // A root key cannot be deleted or renamed: such a command fails whole and is no change.
        if (!st.ok()) {
            expectFiles(fileStates.back(), "after the refused " + label);
            continue;
        }
        labels.push_back(label);
        fileStates.push_back(files());
        dumps.push_back(test::dumpRegistry(*store));
    }
    ASSERT_GE(labels.size(), 12u);
    for (std::size_t i = labels.size(); i-- > 0;) {
        ASSERT_EQ(store->undoChange(), Status::Ok) << labels[i];
        expectFiles(fileStates[i], "after undoing " + labels[i]);
        EXPECT_TRUE(same(test::dumpRegistry(*store), dumps[i])) << "after undoing " << labels[i];
    }
    for (std::size_t i = 0; i < labels.size(); ++i) {
        ASSERT_EQ(store->redoChange(), Status::Ok) << labels[i];
        expectFiles(fileStates[i + 1], "after redoing " + labels[i]);
        EXPECT_TRUE(same(test::dumpRegistry(*store), dumps[i + 1])) << "after redoing " << labels[i];
    }
}

TEST_F(UndoPrefix, UndoOfAKeyWithItsClassAndLinksGivesTheFileItsBytes) {
    const auto before = files();
    const std::string dump = test::dumpRegistry(*store);
    ASSERT_NE(dump.find("class \"Undo class\""), std::string::npos);
    ASSERT_EQ(deleteKey(*store, "HKEY_CURRENT_USER\\Software\\Undo"), Status::Ok);
    ASSERT_EQ(store->undoChange(), Status::Ok);
    expectFiles(before, "after the undo");
    EXPECT_TRUE(same(test::dumpRegistry(*store), dump));
}

TEST_F(UndoPrefix, UndoIsRefusedAndChangesNothingWhenTheFilesMovedOnOrAServerRuns) {
    const std::string keyPath = "HKEY_CURRENT_USER\\Software\\Undo\\Data";
    ASSERT_EQ(deleteValues(*store, keyPath, { "odd", "empty" }), Status::Ok);
    const std::string changed = test::dumpRegistry(*store);
    const auto changedFiles = files();

    {
        test::HeldLock server(test::debianLockPath(dir.path(), tmp.path()));
        const Status st = store->undoChange();
        EXPECT_EQ(st, Status::AccessDenied);
        EXPECT_NE(st.message().find("wineserver"), std::string::npos) << st.message();
        EXPECT_TRUE(same(test::dumpRegistry(*store), changed));
        expectFiles(changedFiles, "while a server runs");
        ASSERT_NE(store->undoLabel(), nullptr) << "the change can still be undone once the server is gone";
    }
    ASSERT_EQ(store->refresh(), Status::Ok);
    EXPECT_TRUE(same(test::dumpRegistry(*store), changed)) << "no file changed, so none was read again";

    // A write that fails takes the undo back and keeps it to be tried again.
    {
        test::FileSizeLimit fullDisk(1000);
        EXPECT_EQ(store->undoChange(), Status::WriteFailed);
    }
    EXPECT_TRUE(same(test::dumpRegistry(*store), changed));
    expectFiles(changedFiles, "after a failed write");
    ASSERT_NE(store->undoLabel(), nullptr);
    EXPECT_EQ(store->redoLabel(), nullptr);

    // Another program writes user.reg: refused until read again, and after that for good.
    test::writeFile(dir / "user.reg", changedFiles[1] + "\n");
    Status st = store->undoChange();
    EXPECT_EQ(st, Status::ChangedOnDisk);
    EXPECT_NE(st.message().find("user.reg"), std::string::npos) << st.message();
    EXPECT_TRUE(same(test::dumpRegistry(*store), changed));
    ASSERT_EQ(store->refresh(), Status::Ok);
    const std::string reread = test::dumpRegistry(*store);
    st = store->undoChange();
    EXPECT_EQ(st, Status::ChangedOnDisk);
    EXPECT_NE(st.message().find("user.reg was changed on disk and read again"), std::string::npos) << st.message();
    EXPECT_TRUE(same(test::dumpRegistry(*store), reread));
    EXPECT_TRUE(test::readFile(dir / "user.reg") == changedFiles[1] + "\n");
}
