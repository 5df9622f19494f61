#include "selection/SelectionFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace quern;
using Entries = std::vector<std::string>;

TEST(SelectionFile, LinesEndInCrLfAndAnEmptySelectionIsAnEmptyFile) {
    EXPECT_EQ(formatSelectionFile({}), "");
    EXPECT_EQ(formatSelectionFile({ "HKEY_CURRENT_USER\\" }), "HKEY_CURRENT_USER\\\r\n");
    EXPECT_EQ(formatSelectionFile({ "HKEY_CURRENT_USER\\" }).size(), 20u);
    EXPECT_EQ(formatSelectionFile({ "a", "", "b\\\\v" }), "a\r\n\r\nb\\\\v\r\n");
}

// A name with a line break would load back as other entries, some of them naming other keys: such
// an entry is left out and named, and every entry written loads back as it was.
TEST(SelectionFile, EntriesThatNoLineCanHoldAreLeftOutAndNamed) {
    const Entries entries { "HKEY_CURRENT_USER\\A\\", "HKEY_CURRENT_USER\\Line\nBreak\\", "HKEY_CURRENT_USER\\B\\\\v\r",
        std::string("HKEY_CURRENT_USER\\N\0", 20), "HKEY_CURRENT_USER\\C" };
    Entries leftOut;
    const std::string text = formatSelectionFile(entries, &leftOut);
    EXPECT_EQ(parseSelectionFile(text), (Entries { "HKEY_CURRENT_USER\\A\\", "HKEY_CURRENT_USER\\C" }));
    EXPECT_EQ(leftOut, (Entries { entries[1], entries[2], entries[3] }));
}

TEST(SelectionFile, AnyLineEndReadsTheSame) {
    const Entries expected { "a", "b", "", "c" };
    EXPECT_EQ(parseSelectionFile("a\r\nb\r\n\r\nc\r\n"), expected);
    EXPECT_EQ(parseSelectionFile("a\nb\n\nc\n"), expected);
    EXPECT_EQ(parseSelectionFile("a\rb\r\rc\r"), expected);
    EXPECT_EQ(parseSelectionFile("a\rb\n\r\nc"), expected) << "mixed, and no end after the last line";
    EXPECT_EQ(parseSelectionFile(""), Entries {});
    EXPECT_EQ(parseSelectionFile("\r\n"), Entries { "" });
    EXPECT_EQ(parseSelectionFile(std::string("a\r\nb\0c\r\nd", 9)), (Entries { "a", "b" })) << "the text ends at a NUL";
    EXPECT_EQ(parseSelectionFile(" a \t\r\n"), Entries { " a \t" }) << "taken literally";
}

TEST(SelectionFile, SaveThenLoadGivesTheSameList) {
    test::TempDir dir;
    const Entries entries { "HKEY_CURRENT_USER\\Software\\", "HKEY_LOCAL_MACHINE\\A", "\\", "HKEY_USERS\\K\\\\v" };
    ASSERT_EQ(writeSelectionFile(dir / "sel.qks", entries), reg::Status::Ok);
    Entries loaded { "stale" };
    ASSERT_EQ(readSelectionFile(dir / "sel.qks", loaded), reg::Status::Ok);
    EXPECT_EQ(loaded, entries);
    ASSERT_EQ(writeSelectionFile(dir / "sel.qks", {}), reg::Status::Ok);
    EXPECT_EQ(std::filesystem::file_size(dir / "sel.qks"), 0u);
}

TEST(SelectionFile, AFailedSaveLeavesTheOldFileAndAFailedLoadTheEntries) {
    test::TempDir dir;
    ASSERT_EQ(writeSelectionFile(dir / "sel.qks", { "old" }), reg::Status::Ok);
    const reg::Status missing = writeSelectionFile(dir / "missing/sel.qks", { "x" });
    EXPECT_EQ(missing, reg::Status::WriteFailed);
    EXPECT_EQ(missing.message(), "No such file or directory");
    std::filesystem::create_directory(dir / "dir.qks");
    EXPECT_EQ(writeSelectionFile(dir / "dir.qks", { "new" }), reg::Status::WriteFailed)
        << "a folder cannot be replaced by a file";
    EXPECT_TRUE(std::filesystem::is_directory(dir / "dir.qks"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "no temporary file is left";
    EXPECT_EQ(test::readFile(dir / "sel.qks"), "old\r\n");

    Entries entries { "kept" };
    const reg::Status nothing = readSelectionFile(dir / "nothing.qks", entries);
    EXPECT_EQ(nothing, reg::Status::ReadFailed);
    EXPECT_EQ(nothing.message(), "No such file or directory");
    EXPECT_EQ(readSelectionFile(dir / "dir.qks", entries), reg::Status::ReadFailed);
    EXPECT_EQ(entries, Entries { "kept" });
}

TEST(SelectionFile, BinaryHugeAndLongFilesLoad) {
    test::TempDir dir;
    std::string binary;
    for (int i = 1; i < 256; ++i)
        binary.push_back(static_cast<char>(i));
    test::writeFile(dir / "binary.qks", binary + std::string(1, '\0') + "after");
    Entries entries;
    ASSERT_EQ(readSelectionFile(dir / "binary.qks", entries), reg::Status::Ok);
    EXPECT_EQ(entries.size(), 3u) << "split at the LF and the CR, and nothing after the NUL";

    test::writeFile(dir / "long.qks", std::string(1 << 20, 'k') + "\r\n" + std::string(1 << 20, 'j'));
    ASSERT_EQ(readSelectionFile(dir / "long.qks", entries), reg::Status::Ok);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].size(), 1u << 20);

    Entries million;
    million.reserve(1000000);
    for (int i = 0; i < 1000000; ++i)
        million.push_back("HKEY_CURRENT_USER\\K" + std::to_string(i) + "\\");
    ASSERT_EQ(writeSelectionFile(dir / "million.qks", million), reg::Status::Ok);
    ASSERT_EQ(readSelectionFile(dir / "million.qks", entries), reg::Status::Ok);
    EXPECT_EQ(entries, million);
}
