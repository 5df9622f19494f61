#include "editor/BinaryPage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace quern;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> cells(const BinaryPage& page) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < page.cellCount(); ++i)
        texts.push_back(page.cellText(i));
    return texts;
}

} // namespace

TEST(BinaryPage, CellTextReadsAsTheSystemsIntegerConversion) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = { { "0", 0 }, { "255", 255 }, { "  12", 12 },
        { "+5", 5 }, { "-1", -1 }, { "$ff", 255 }, { "$FF", 255 }, { "0x1F", 31 }, { "0X1f", 31 },
        { "2147483647", 2147483647 }, { "-2147483648", INT32_MIN }, { "2147483648", std::nullopt },
        { "-2147483649", std::nullopt }, { "12a", std::nullopt }, { "", std::nullopt }, { " ", std::nullopt },
        { "x", std::nullopt }, { "$", std::nullopt }, { "0x", std::nullopt }, { "- 1", std::nullopt },
        { "1 ", std::nullopt }, { "00", 0 }, { "300", 300 }, { "99999999999", std::nullopt } };
    for (const auto& [text, number] : cases)
        EXPECT_EQ(cellNumber(text), number) << '"' << text << '"';
}

TEST(BinaryPage, OpensWithBothViewsAndAnEmptyRowAfterFullRows) {
    BinaryPage page;
    page.BinToGrid(Bytes { 0x41, 0x42, 0x00, 0x20 });
    EXPECT_EQ(page.line(), "AB  ") << "a zero byte and a blank both show as a blank";
    EXPECT_EQ(page.rowCount(), 1u);
    EXPECT_EQ(cells(page), (std::vector<std::string> { "65", "66", "0", "32", "", "", "", "" }));
    page.rebuildGrid(); // a key released in the line rebuilds the grid from the bytes
    EXPECT_EQ(page.cellText(2), "00") << "the zero byte is told from the blank";
    EXPECT_EQ(page.cellText(3), "32");

    page.BinToGrid(Bytes(8, 7));
    EXPECT_EQ(page.rowCount(), 2u) << "eight bytes fill a row, and an empty one follows";
    EXPECT_TRUE(page.cellEmpty(8));
    page.BinToGrid({});
    EXPECT_EQ(page.rowCount(), 1u);
    EXPECT_EQ(page.line(), "");
    EXPECT_EQ(page.GridToBin(), Bytes {});
}

TEST(BinaryPage, APageNeverGivenBytesStillTakesTyping) {
    // The dialog opened on a string, a DWORD or a new value fills no bytes into its binary page.
    BinaryPage page;
    EXPECT_EQ(page.rowCount(), 1u);
    EXPECT_TRUE(page.canMoveTo(0));
    page.setCellText(0, "12");
    EXPECT_EQ(page.enterInCell(0), 1u);
    page.setCellText(1, "$ff");
    EXPECT_EQ(page.GridToBin(), (Bytes { 12, 255 }));
}

TEST(BinaryPage, TypingIntoCells) {
    BinaryPage page;
    page.BinToGrid(Bytes { 1, 2, 3 });
    EXPECT_FALSE(page.canMoveTo(4)) << "the grid fills from the front";
    EXPECT_TRUE(page.canMoveTo(3)) << "the first empty cell is where a byte is appended";
    EXPECT_FALSE(page.canMoveTo(8)) << "beyond the grid";

    page.setCellText(3, "300");
    EXPECT_EQ(page.bytes(), (Bytes { 1, 2, 3, 44 })) << "a number stands for its low 8 bits";
    EXPECT_EQ(page.line().back(), ',');
    EXPECT_EQ(page.cellText(3), "300") << "the cell keeps what was typed";
    page.setCellText(3, "256");
    EXPECT_EQ(page.bytes().back(), 0);
    EXPECT_EQ(page.line().back(), ' ');
    page.rebuildGrid();
    EXPECT_EQ(page.cellText(3), "00") << "a cell that held 256 stays a zero byte when the grid is rebuilt";

    page.setCellText(1, "xyz");
    EXPECT_EQ(page.invalidCell(), 1u);
    EXPECT_TRUE(page.CompareBin(Bytes { 1, 2, 3, 0 })) << "text that is no number counts as a change";
    try {
        (void)page.GridToBin();
        ADD_FAILURE() << "GridToBin took text that is no number";
    } catch (const BinaryCellError& error) {
        EXPECT_STREQ(error.what(), "'xyz' is not a valid integer value");
    }
    page.leaveCell(1);
    EXPECT_EQ(page.cellText(1), "2") << "leaving the cell brings its byte back";
    EXPECT_FALSE(page.invalidCell());

    page.setCellText(0, "");
    EXPECT_TRUE(page.cellEmpty(0));
    EXPECT_EQ(page.GridToBin(), (Bytes { 1, 2, 3, 0 })) << "an emptied cell keeps its byte";
    EXPECT_FALSE(page.CompareBin(Bytes { 1, 2, 3, 0 }));
    EXPECT_FALSE(page.canMoveTo(1)) << "nor can the cell after an empty one be reached";

    EXPECT_EQ(page.enterInCell(0), 1u);
    EXPECT_EQ(page.cellText(0), "00") << "Enter in an empty cell writes 00";
    EXPECT_EQ(page.bytes()[0], 0);
    EXPECT_EQ(page.enterInCell(7), 8u);
    EXPECT_EQ(page.rowCount(), 2u) << "Enter on the last cell of the last row adds a row";
    EXPECT_EQ(page.bytes(), (Bytes { 0, 2, 3, 0, 0, 0, 0, 0 })) << "the cells passed over are zero bytes";
    for (std::size_t i = 4; i < 7; ++i)
        EXPECT_EQ(page.cellText(i), "00") << "and show as such";
}

TEST(BinaryPage, CellsPassedOverAreZeroBytesSoNothingShifts) {
    BinaryPage page;
    page.BinToGrid(Bytes { 9, 9, 9, 9, 9, 9, 9, 9, 1, 2 });
    page.setCellText(14, "7");
    EXPECT_EQ(page.bytes(), (Bytes { 9, 9, 9, 9, 9, 9, 9, 9, 1, 2, 0, 0, 0, 0, 7 }));
    EXPECT_EQ(page.line().size(), 15u);
    for (std::size_t i = 10; i < 14; ++i)
        EXPECT_EQ(page.cellText(i), "00");
    EXPECT_EQ(page.GridToBin(), page.bytes()) << "the bytes written are the bytes both views show";
    page.setCellText(15, "x");
    EXPECT_EQ(page.line().size(), 16u) << "text that is no number still reaches its place in the line";
    EXPECT_EQ(page.invalidCell(), 15u);
}

TEST(BinaryPage, LineEditsShiftTheBytesAndKeepZerosZero) {
    BinaryPage page;
    page.BinToGrid(Bytes { 'A', 0, ' ', 'B', 0, 'C', 'D', 'E', 'F' });
    page.editLine(0, 1, ""); // the first character deleted
    EXPECT_EQ(page.bytes(), (Bytes { 0, ' ', 'B', 0, 'C', 'D', 'E', 'F' }));
    EXPECT_EQ(page.cellText(0), "00");
    EXPECT_EQ(page.cellText(1), "32");
    EXPECT_EQ(page.rowCount(), 2u);
    EXPECT_TRUE(page.cellEmpty(8)) << "the last cell's number is gone";
    page.editLine(1, 0, "xy"); // inserted before a blank: the blank and the zeros keep their bytes
    EXPECT_EQ(page.bytes(), (Bytes { 0, 'x', 'y', ' ', 'B', 0, 'C', 'D', 'E', 'F' }));
    page.editLine(3, 1, " "); // a blank typed over a blank is the byte 32
    EXPECT_EQ(page.bytes()[3], ' ');
    page.editLine(0, 1, " ");
    EXPECT_EQ(page.bytes()[0], ' ') << "a typed blank is 32, even over a zero byte";
}

TEST(BinaryPage, RandomEditsOfBothViewsAgreeWithPlainBytes) {
    // A plain byte vector edited the same way is the oracle: whatever mix of cell typing and line
    // editing, the page writes exactly its bytes, and its line shows them.
    std::mt19937 random(1234);
    BinaryPage page;
    Bytes oracle;
    for (int round = 0; round < 2000; ++round) {
        const int what = static_cast<int>(random() % 5);
        if (what <= 1) {
            const std::size_t at = oracle.empty() ? 0 : random() % (oracle.size() + 1);
            const std::size_t count = std::min<std::size_t>(random() % 3, oracle.size() - at);
            std::string inserted(random() % 3, ' ');
            for (char& c : inserted)
                c = static_cast<char>(random() % 4 == 0 ? 0 : random() % 256);
            page.editLine(at, count, inserted);
            oracle.erase(oracle.begin() + static_cast<std::ptrdiff_t>(at),
                oracle.begin() + static_cast<std::ptrdiff_t>(at + count));
            oracle.insert(oracle.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
        } else if (what == 2 || what == 3) {
            const std::size_t index = random() % (oracle.size() + 1);
            if (!page.canMoveTo(index)) continue;
            const int number = static_cast<int>(random() % 1000) - 200;
            page.setCellText(index, std::to_string(number));
            if (index >= oracle.size()) oracle.resize(index + 1, 0);
            oracle[index] = static_cast<std::uint8_t>(number & 0xFF);
        } else if (!oracle.empty()) {
            const std::size_t index = random() % oracle.size();
            page.setCellText(index, random() % 2 ? "" : "junk");
            page.leaveCell(index);
        }
        ASSERT_EQ(page.GridToBin(), oracle) << "round " << round;
        ASSERT_EQ(page.line(), BinToStr(oracle));
        ASSERT_EQ(page.rowCount() * BinaryPage::kColumns, page.cellCount());
        ASSERT_GE(page.cellCount(), oracle.size());
    }
}

TEST(BinaryPage, CharactersTakeTheBytesTheGridShowsThemAs) {
    EXPECT_EQ(byteOfCharacter(u'A'), 0x41);
    EXPECT_EQ(byteOfCharacter(u'\u20ac'), 0x80) << "the euro sign is 128 in code page 1252";
    EXPECT_EQ(byteOfCharacter(u'\u00e9'), 0xe9);
    EXPECT_FALSE(byteOfCharacter(u'\u4e2d')) << "a character no byte shows as";
    const std::string line = BinToStr(Bytes { 0, 1, 0xff });
    EXPECT_EQ(line, std::string("\x20\x01\xff"));
}

// Cells in hex show each byte as two digits and read what is typed as hex; switching the base back
// and forth between random cell and line edits never changes a byte, against plain bytes.
TEST(BinaryPage, HexCellsShowAndReadTheSameBytes) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[]
        = { { "ff", 255 }, { "0A", 10 }, { " 1f", 31 }, { "$7F", 127 }, { "0x100", 256 }, { "FFFFFFFF", 0xFFFFFFFF },
              { "100000000", std::nullopt }, { "", std::nullopt }, { "g", std::nullopt }, { "-1", std::nullopt },
              { "1 ", std::nullopt }, { "0x", std::nullopt } };
    for (const auto& [text, number] : cases)
        EXPECT_EQ(hexCellNumber(text), number) << '"' << text << '"';

    std::mt19937 random(99);
    BinaryPage page;
    page.BinToGrid(Bytes { 0, 10, 255 });
    page.setHexCells(true);
    EXPECT_EQ(cells(page), (std::vector<std::string> { "00", "0A", "FF", "", "", "", "", "" }));
    Bytes oracle = page.bytes();
    for (int round = 0; round < 1000; ++round) {
        const int what = static_cast<int>(random() % 4);
        if (what == 0) {
            page.setHexCells(!page.hexCells());
        } else if (what == 1) {
            const std::size_t at = random() % (oracle.size() + 1);
            const std::string inserted(1, static_cast<char>(random() % 256));
            page.editLine(at, 0, inserted);
            oracle.insert(oracle.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
        } else {
            const std::size_t index = random() % (oracle.size() + 1);
            if (!page.canMoveTo(index)) continue;
            const unsigned number = static_cast<unsigned>(random() % 0x400);
            char text[16];
            std::snprintf(text, sizeof text, page.hexCells() ? (random() % 2 ? "%x" : "0x%X") : "%u", number);
            page.setCellText(index, text);
            if (index >= oracle.size()) oracle.resize(index + 1, 0);
            oracle[index] = static_cast<std::uint8_t>(number & 0xFF);
            if (random() % 3 == 0) page.setCellText(index, "zz"); // no number in either base
            page.leaveCell(index);
        }
        ASSERT_EQ(page.GridToBin(), oracle) << "round " << round;
        ASSERT_EQ(page.line(), BinToStr(oracle));
    }
    page.setHexCells(true);
    for (std::size_t i = 0; i < oracle.size(); ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", oracle[i]);
        ASSERT_EQ(page.cellText(i), digits);
    }
}
