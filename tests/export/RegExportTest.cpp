#include "export/RegExport.h"
#include "TestSupport.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "wine/WinePrefixStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>

using namespace quern;

namespace {

const std::string K = "HKEY_CURRENT_USER\\Software\\K";

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = test::openTestRegistry(dir / "registry");
        registry = std::make_unique<reg::RegAccessor>(*store);
        selection = std::make_unique<TTreeSel>(registry->store());
        registry->selectRoot(reg::kCurrentUser);
        registry->createKey("\\Software\\K");
        registry->openKey("\\Software\\K");
    }
    void setRaw(std::u16string name, std::uint32_t type, std::vector<std::uint8_t> data) {
        ASSERT_EQ(store->setValue(registry->currentKey(), name, type, data), reg::Status::Ok);
    }
    // Exports the entries as the command does and gives the file's bytes.
    std::string exported(
        const std::vector<std::string>& entries, bool withSelection = true, RegFileForm form = RegFileForm::Regedit4) {
        selection->setEntries(entries);
        RegFileExport file(registry->store());
        EXPECT_EQ(file.OpenRegFile(dir / "out.reg", form), reg::Status::Ok);
        for (const auto& entry : collectExportEntries(entries))
            file.ExportEntry(entry, withSelection ? selection.get() : nullptr);
        EXPECT_EQ(file.CloseRegFile(), reg::Status::Ok);
        return test::readFile(dir / "out.reg");
    }

    test::TempDir dir;
    std::unique_ptr<reg::WinePrefixStore> store;
    std::unique_ptr<reg::RegAccessor> registry;
    std::unique_ptr<TTreeSel> selection;
};

} // namespace

TEST(RegExportText, EscapesBackslashesAndQuotesOnly) {
    EXPECT_EQ(EscapeRegText("a\\b\""), "a\\\\b\\\"");
    EXPECT_EQ(EscapeRegText("tab\there\x01"), "tab\there\x01");
    const std::string longText(70000, '\\');
    EXPECT_EQ(EscapeRegText(longText).size(), 140000u) << "no 16-bit limit";
}

TEST(RegExportText, AValueEntryIsLeftOutWhenItsKeyIsAlreadyTaken) {
    const std::vector<std::string> entries { "A\\\\v", "A\\\\w", "B", "B\\\\v", "C\\", "C\\\\v", "D\\\\v", "D", "B" };
    EXPECT_EQ(collectExportEntries(entries), (std::vector<std::string> { "A\\\\v", "B", "C\\", "D\\\\v", "D", "B" }));
}

TEST_F(ExportTest, AStringWithBackslashAndQuote) {
    registry->writeString("Name", "a\\b\"");
    EXPECT_EQ(exported({ K }), "REGEDIT4\r\n\r\n[" + K + "]\r\n\"Name\"=\"a\\\\b\\\"\"\r\n\r\n");
}

TEST_F(ExportTest, EveryKindInItsNotation) {
    registry->writeInteger("zero", 0);
    registry->writeInteger("ff", 255);
    registry->writeInteger("minus", -1);
    registry->writeBinaryData("bin", "\x00\x0a\xff", 3);
    registry->writeBinaryData("empty", "", 0);
    setRaw(u"expand", reg::kRegExpandSz, { '%', 0, 'X', 0, '%', 0, 0, 0 });
    setRaw(u"multi", reg::kRegMultiSz, { 'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0 });
    setRaw(u"qword", reg::kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    setRaw(u"wide", reg::kRegDword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    setRaw(u"short", reg::kRegDword, { 0xff, 1 });
    setRaw(u"none", reg::kRegDword, {});
    registry->writeString("", "default");
    EXPECT_EQ(exported({ K }),
        "REGEDIT4\r\n\r\n[" + K
            + "]\r\n"
              "\"zero\"=dword:0\r\n"
              "\"ff\"=dword:FF\r\n"
              "\"minus\"=dword:FFFFFFFF\r\n"
              "\"bin\"=hex:0,A,FF\r\n"
              "\"empty\"=hex:\r\n"
              "\"expand\"=\"%X%\"\r\n"
              "\"multi\"=hex:61,0,62,0,0\r\n"
              "\"qword\"=hex:1,2,3,4,5,6,7,8\r\n"
              "\"wide\"=hex(4):1,2,3,4,5,6,7,8\r\n"
              "\"short\"=hex(4):FF,1\r\n"
              "\"none\"=hex(4):\r\n"
              "\"\"=\"default\"\r\n"
              "\r\n");
}

TEST_F(ExportTest, LineBreaksInStringsGoInTheHexFormOfTheirKind) {
    registry->writeString("two lines", "a\r\nb");
    setRaw(u"expand", reg::kRegExpandSz, { '%', 0, '\n', 0, 0xe9, 0, 0, 0 });
    registry->writeString("tab", "a\tb");
    EXPECT_EQ(exported({ K }),
        "REGEDIT4\r\n\r\n[" + K
            + "]\r\n"
              "\"two lines\"=hex(1):61,D,A,62,0\r\n"
              "\"expand\"=hex(2):25,A,C3,A9,0\r\n"
              "\"tab\"=\"a\tb\"\r\n"
              "\r\n");
}

TEST_F(ExportTest, LineBreaksInValueNamesAreEscapedAndKeysHoldingThemAreLeftOut) {
    setRaw(u"lf\nname", reg::kRegSz, test::utf16zBytes(u"1"));
    setRaw(u"crlf\r\n\\n\"", reg::kRegDword, { 2, 0, 0, 0 });
    registry->createKey("A");
    registry->createKey("Two\nLines\\Below");
    registry->createKey("cr\rkey");
    registry->createKey("Z");
    registry->openKey("\\Software\\K\\Two\nLines");
    registry->writeString("inside", "x");
    registry->openKey("\\Software\\K\\Z");
    registry->writeString("after", "y");
    // Every key before and after the ones left out is written, each under its own header.
    const std::string file = "REGEDIT4\r\n\r\n[" + K
        + "]\r\n"
          "\"lf\\nname\"=\"1\"\r\n"
          "\"crlf\\r\\n\\\\n\\\"\"=dword:2\r\n"
          "\r\n["
        + K + "\\A]\r\n\r\n[" + K + "\\Z]\r\n\"after\"=\"y\"\r\n\r\n";
    RegFileExport out(registry->store());
    ASSERT_EQ(out.OpenRegFile(dir / "out.reg"), reg::Status::Ok);
    out.ExportTree(K + "\\");
    out.ExportTree(K + "\\Two\nLines\\Below\\");
    out.ExportTree(K + "\\cr\rkey");
    ASSERT_EQ(out.CloseRegFile(), reg::Status::Ok);
    EXPECT_EQ(test::readFile(dir / "out.reg"), file);
    EXPECT_EQ(out.leftOutKeys(),
        (std::vector<std::string> { K + "\\cr\rkey", K + "\\Two\nLines", K + "\\Two\nLines\\Below" }))
        << "each key once, an entry below one named as itself";
    EXPECT_EQ(shownKeyPath(out.leftOutKeys()[0]), K + "\\cr\u240Dkey");
    EXPECT_EQ(shownKeyPath("a\r\nb"), "a\u240D\u240Ab");

    ASSERT_EQ(out.OpenRegFile(dir / "again.reg"), reg::Status::Ok);
    ASSERT_EQ(out.CloseRegFile(), reg::Status::Ok);
    EXPECT_TRUE(out.leftOutKeys().empty()) << "a new file starts a new list";
}

TEST_F(ExportTest, AnEntryWhoseRootIsNoneOfTheSixWritesOnlyItsEmptyLine) {
    registry->writeString("v", "1");
    // HKCU is the current root while the entries are read: its Software\K must not answer for them.
    for (const std::string entry :
        { "HKLM\\Software\\K\\", "HKCU\\Software\\K", "hkey_current_user\\Software\\K", "\\Software\\K\\\\v" })
        EXPECT_EQ(exported({ entry, K }), "REGEDIT4\r\n\r\n\r\n[" + K + "]\r\n\"v\"=\"1\"\r\n\r\n") << entry;
}

TEST_F(ExportTest, EntryForms) {
    registry->writeString("v1", "1");
    registry->writeString("v2", "2");
    registry->writeString("v3", "3");
    registry->createKey("Sub");
    registry->openKey("\\Software\\K\\Sub");
    registry->writeInteger("s", 1);
    const std::string section = "[" + K + "]\r\n\"v1\"=\"1\"\r\n\"v3\"=\"3\"\r\n\r\n";
    EXPECT_EQ(exported({ K + "\\\\v1", K + "\\\\v3" }), "REGEDIT4\r\n\r\n" + section)
        << "two value entries, one section";
    EXPECT_EQ(exported({ K + "\\" }),
        "REGEDIT4\r\n\r\n[" + K + "]\r\n\"v1\"=\"1\"\r\n\"v2\"=\"2\"\r\n\"v3\"=\"3\"\r\n\r\n[" + K
            + "\\Sub]\r\n\"s\"=dword:1\r\n\r\n");
    EXPECT_EQ(
        exported({ K + "\\Sub\\Gone", K + "\\Sub" }), "REGEDIT4\r\n\r\n\r\n[" + K + "\\Sub]\r\n\"s\"=dword:1\r\n\r\n")
        << "a key that is gone writes only its empty line";

    RegFileExport file(registry->store());
    ASSERT_EQ(file.OpenRegFile(dir / "value.reg"), reg::Status::Ok);
    file.ExportTree(K + "\\\\v2");
    ASSERT_EQ(file.CloseRegFile(), reg::Status::Ok);
    EXPECT_EQ(test::readFile(dir / "value.reg"), "REGEDIT4\r\n\r\n[" + K + "]\r\n\"v2\"=\"2\"\r\n\r\n");
}

TEST_F(ExportTest, TheEverythingEntryWritesEachRootWithoutItsOwnEmptyLine) {
    const std::string text = exported({ "\\" });
    EXPECT_EQ(text.substr(0, 35), "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n");
    for (const char* root :
        { "[HKEY_CURRENT_USER]", "[HKEY_LOCAL_MACHINE]", "[HKEY_USERS]", "[HKEY_CURRENT_CONFIG]", "[HKEY_DYN_DATA]" })
        EXPECT_NE(text.find(std::string("\r\n") + root + "\r\n"), std::string::npos) << root;
    EXPECT_TRUE(text.ends_with("[HKEY_DYN_DATA]\r\n\r\n"));
    EXPECT_EQ(exported({ "" }), text) << "an empty entry is the everything entry";
}

TEST_F(ExportTest, AReadOnlyRegistryExportsEverything) {
    registry->writeString("v", "x");
    test::HeldLock server(test::testRegistryServerLock(dir / "registry"));
    const auto second = test::openTestRegistry(dir / "registry", false);
    ASSERT_NE(second->readOnlyReason(), "");
    reg::RegAccessor readOnly(*second);
    RegFileExport file(readOnly.store());
    ASSERT_EQ(file.OpenRegFile(dir / "ro.reg"), reg::Status::Ok);
    file.ExportTree(K);
    ASSERT_EQ(file.CloseRegFile(), reg::Status::Ok);
    EXPECT_EQ(test::readFile(dir / "ro.reg"), "REGEDIT4\r\n\r\n[" + K + "]\r\n\"v\"=\"x\"\r\n\r\n");
}

TEST_F(ExportTest, AWalkNeverLoopsThroughALink) {
    reg::HKey link = reg::kNoKey;
    ASSERT_EQ(
        store->createKey(registry->currentKey(), u"Back", reg::Access::Full, reg::kCreateLink | reg::kOpenLink, link),
        reg::Status::Ok);
    const std::u16string target = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\K";
    std::vector<std::uint8_t> bytes(target.size() * 2);
    std::memcpy(bytes.data(), target.data(), bytes.size());
    ASSERT_EQ(store->setValue(link, u"SymbolicLinkValue", reg::kRegLink, bytes), reg::Status::Ok);
    EXPECT_EQ(exported({ K + "\\" }), "REGEDIT4\r\n\r\n[" + K + "]\r\n\r\n");
}

TEST_F(ExportTest, AFailedWriteLeavesNoPartialFileAndTheOldOneIntact) {
    std::vector<std::uint8_t> big(300000, 0xab);
    registry->writeBinaryData("big", big.data(), big.size());
    test::writeFile(dir / "old.reg", "earlier backup");
    RegFileExport file(registry->store());
    reg::Status closed;
    {
        test::FileSizeLimit fullDisk(100000);
        ASSERT_EQ(file.OpenRegFile(dir / "old.reg"), reg::Status::Ok);
        file.ExportTree(K + "\\");
        closed = file.CloseRegFile();
    }
    EXPECT_EQ(closed, reg::Status::WriteFailed);
    EXPECT_FALSE(closed.message().empty());
    EXPECT_EQ(test::readFile(dir / "old.reg"), "earlier backup");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2)
        << "registry folder and old.reg only";
}

TEST(RegExportSample, TheSamplePrefixExportsWhole) {
    test::TempDir dir;
    test::copySamplePrefix(dir.path());
    reg::WinePrefixOptions options;
    options.prefixDir = dir.path();
    options.scanProcesses = false;
    reg::WinePrefixStore store(options);
    reg::RegAccessor registry(store);
    RegFileExport file(registry.store());
    ASSERT_EQ(file.OpenRegFile(dir / "all.reg"), reg::Status::Ok);
    file.ExportTree("\\");
    ASSERT_EQ(file.CloseRegFile(), reg::Status::Ok);
    const std::string text = test::readFile(dir / "all.reg");
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine\\Settings\\SYSTEM\\INIT]\r\n"
                        "\"SHAREDMEMLOCATION\"=\"9000\"\r\n\r\n"),
        std::string::npos);
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\.chm]\r\n\"\"=\"chm.file\"\r\n"), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') {
            ASSERT_GT(i, 0u);
            ASSERT_EQ(text[i - 1], '\r') << "every line ends in CR LF, at " << i;
            ++lines;
        }
    EXPECT_GT(lines, 30000u);
}

namespace {

// The bytes of a Unicode registry file that holds this text: the byte-order mark and UTF-16LE.
std::string unicodeFile(std::string_view text) {
    const std::vector<std::uint8_t> bytes = reg::utf16LEBytes(reg::toUtf16(text));
    return "\xFF\xFE" + std::string(bytes.begin(), bytes.end());
}

} // namespace

// Every value keeps its type and bytes; strings Wine's reg export would cut or pad (no closing NUL,
// a NUL inside, an odd length, no data at all) and DWORDs of another length go in their hex form.
TEST_F(ExportTest, TheUnicodeFormKeepsEveryValue) {
    setRaw(u"", reg::kRegSz, test::utf16zBytes(u"d"));
    setRaw(u"s \"q\" \\ \u00e9\U0001F600", reg::kRegSz, test::utf16zBytes(u"a\\b\"c\r\nd\u20ac"));
    setRaw(u"lone", reg::kRegSz, { 'x', 0, 0x00, 0xD8, 0, 0 });
    setRaw(u"empty", reg::kRegSz, { 0, 0 });
    setRaw(u"no data", reg::kRegSz, {});
    setRaw(u"no nul", reg::kRegSz, { 'a', 0 });
    setRaw(u"nul inside", reg::kRegSz, { 'a', 0, 0, 0, 'b', 0, 0, 0 });
    setRaw(u"odd", reg::kRegSz, { 'a', 0, 0, 0, 1 });
    setRaw(u"dword", reg::kRegDword, { 0xff, 0, 0, 0 });
    setRaw(u"short dword", reg::kRegDword, { 1, 2 });
    setRaw(u"expand", reg::kRegExpandSz, test::utf16zBytes(u"%A%"));
    setRaw(u"multi", reg::kRegMultiSz, { 'a', 0, 0, 0, 0, 0 });
    setRaw(u"qword", reg::kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 });
    setRaw(u"none", reg::kRegNone, {});
    setRaw(u"bin", reg::kRegBinary, { 0x0a, 0xff });
    setRaw(u"odd type", 0x12345678, { 0xab });
    EXPECT_EQ(exported({ K }, true, RegFileForm::Unicode),
        unicodeFile("Windows Registry Editor Version 5.00\r\n\r\n[" + K
            + "]\r\n"
              "@=\"d\"\r\n"
              "\"s \\\"q\\\" \\\\ \u00e9\U0001F600\"=\"a\\\\b\\\"c\\r\\nd\u20ac\"\r\n"
              "\"lone\"=\"x\xED\xA0\x80\"\r\n"
              "\"empty\"=\"\"\r\n"
              "\"no data\"=hex(1):\r\n"
              "\"no nul\"=hex(1):61,00\r\n"
              "\"nul inside\"=hex(1):61,00,00,00,62,00,00,00\r\n"
              "\"odd\"=hex(1):61,00,00,00,01\r\n"
              "\"dword\"=dword:000000ff\r\n"
              "\"short dword\"=hex(4):01,02\r\n"
              "\"expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
              "\"multi\"=hex(7):61,00,00,00,00,00\r\n"
              "\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
              "\"none\"=hex(0):\r\n"
              "\"bin\"=hex:0a,ff\r\n"
              "\"odd type\"=hex(12345678):ab\r\n"
              "\r\n"));
}

// Hex data breaks after the comma that brings the line (counted in UTF-16 units, the name's
// quotes and escapes included) to 77 characters, as Wine's reg export breaks it.
TEST_F(ExportTest, LongHexDataBreaksWhereWineBreaksIt) {
    setRaw(u"b", reg::kRegBinary, std::vector<std::uint8_t>(60, 0x11));
    setRaw(u"\U0001F600", reg::kRegNone, std::vector<std::uint8_t>(25, 0x22));
    const auto pairs = [](const char* pair, int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += pair;
        return text;
    };
    EXPECT_EQ(exported({ K }, true, RegFileForm::Unicode),
        unicodeFile("Windows Registry Editor Version 5.00\r\n\r\n[" + K + "]\r\n\"b\"=hex:" + pairs("11,", 23)
            + "\\\r\n  " + pairs("11,", 25) + "\\\r\n  " + pairs("11,", 11)
            + "11\r\n\"\U0001F600\"=hex(0):" + pairs("22,", 22) + "\\\r\n  22,22,22\r\n\r\n"));
}

// The counts the window reports agree with the file itself (its section and value lines), and a
// progress hook that says stop leaves no file and the old one as it was, wherever it stops.
TEST_F(ExportTest, CountsMatchTheFileAndACancelLeavesNothing) {
    store->beginBatch(); // one write, not one per key
    for (int k = 0; k < 700; ++k) {
        registry->createKey("\\Software\\K\\Sub" + std::to_string(k));
        registry->openKey("\\Software\\K\\Sub" + std::to_string(k));
        for (int v = 0; v < k % 3; ++v)
            registry->writeString("v" + std::to_string(v), "x");
    }
    ASSERT_TRUE(store->endBatch().ok());
    RegFileExport whole(registry->store());
    std::vector<std::uint64_t> told;
    whole.progress = [&](std::uint64_t keys, std::uint64_t) { return told.push_back(keys), true; };
    ASSERT_EQ(whole.OpenRegFile(dir / "whole.reg"), reg::Status::Ok);
    whole.ExportTree(K + "\\");
    ASSERT_EQ(whole.CloseRegFile(), reg::Status::Ok);
    const std::string text = test::readFile(dir / "whole.reg");
    std::uint64_t sections = 0;
    std::uint64_t values = 0;
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) {
        const char next = at + 2 < text.size() ? text[at + 2] : '\0';
        sections += next == '[';
        values += next == '"';
    }
    EXPECT_EQ(whole.keysWritten(), sections);
    EXPECT_EQ(whole.keysWritten(), 701u);
    EXPECT_EQ(whole.valuesWritten(), values);
    EXPECT_EQ(told, (std::vector<std::uint64_t> { 256, 512 }));

    test::writeFile(dir / "old.reg", "earlier backup");
    RegFileExport cancelled(registry->store());
    cancelled.progress = [](std::uint64_t keys, std::uint64_t) { return keys < 512; };
    ASSERT_EQ(cancelled.OpenRegFile(dir / "old.reg"), reg::Status::Ok);
    cancelled.ExportTree(K + "\\");
    cancelled.ExportTree("HKEY_LOCAL_MACHINE\\");
    const reg::Status closed = cancelled.CloseRegFile();
    EXPECT_EQ(closed, reg::Status::WriteFailed);
    EXPECT_EQ(closed.message(), kExportCancelled);
    EXPECT_EQ(cancelled.keysWritten(), 512u); // stopped where it was told to, not at the end
    EXPECT_EQ(test::readFile(dir / "old.reg"), "earlier backup");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3)
        << "registry folder, whole.reg and old.reg only";
}
