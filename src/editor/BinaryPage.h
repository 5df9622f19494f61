#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quern {

// A number as the cells of the byte grid read it: optional leading blanks, an optional sign, then
// decimal digits, or hex digits after "$" or "0x"; it must fit a signed 32-bit number. Nothing
// for any other text.
[[nodiscard]] std::optional<std::int32_t> cellNumber(std::string_view text);

// A number as the cells read it in hex: optional leading blanks, an optional "$" or "0x", then
// hex digits in either case that fit 32 bits. Nothing for any other text.
[[nodiscard]] std::optional<std::uint32_t> hexCellNumber(std::string_view text);

// The character line for the bytes: each byte's own code, a blank for a zero byte.
[[nodiscard]] std::string BinToStr(std::span<const std::uint8_t> bytes);

// The byte a character typed or pasted into the character line stands for: its code page 1252 byte
// (the grid's character view shows bytes in that code page), or its own code up to 255; nothing for
// a character no byte shows as.
[[nodiscard]] std::optional<std::uint8_t> byteOfCharacter(char16_t c);

// Raised by GridToBin for a cell whose text is no number.
class BinaryCellError : public std::runtime_error {
public:
    explicit BinaryCellError(const std::string& text);
};

// The binary page's content: the bytes, shown twice, as a grid of decimal cells eight to a row and
// as a character line of one character per byte, held in step.
//
// The bytes themselves are kept apart from both views. The line cannot tell a zero byte from a
// blank, and a cell may be empty or hold text that is no number; the bytes can always say what is
// written, so nothing the user did not touch changes: an emptied cell keeps its byte, a zero byte
// stays zero when text before it is inserted or deleted, and cells skipped over when the grid is
// filled become zero bytes.
class BinaryPage {
public:
    static constexpr std::size_t kColumns = 8;

    // BinToGrid and BinToStr: every byte in its cell, and one row more after each full row, so a
    // length that is a multiple of 8 (the empty value too) ends in an empty row.
    void BinToGrid(std::span<const std::uint8_t> bytes);

    [[nodiscard]] std::size_t rowCount() const { return m_shown.size() / kColumns; }
    [[nodiscard]] std::size_t cellCount() const { return m_shown.size(); }
    [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    // One character per byte, a blank for a zero byte.
    [[nodiscard]] const std::string& line() const { return m_line; }

    // Cells in hex: each byte as two hex digits, typed text read as hex digits (hexCellNumber).
    // Off, as at first, they are decimal (cellNumber). Switching shows every byte anew in the
    // other base; text that is no number gives way to its byte, as when its cell is left.
    void setHexCells(bool hex);
    [[nodiscard]] bool hexCells() const { return m_hex; }

    // The text of the cell of a byte index: its number, "00" for a zero byte under a blank of the
    // line, what the user typed, or nothing.
    [[nodiscard]] std::string cellText(std::size_t index) const;
    [[nodiscard]] bool cellEmpty(std::size_t index) const;

    // A cell's text changed (BinGridSetEditText). A number sets the byte to its low 8 bits and the
    // line follows; a cell past the end first extends the bytes with zeros up to it. Blank text
    // leaves the byte as it is. Ignored for indexes beyond the grid.
    void setCellText(std::size_t index, std::string_view text);

    // The grid fills from the front: a cell can become the current one when the cell before it
    // holds text, or when it is the first. The cell before the first of a row is the first of
    // the row above.
    [[nodiscard]] bool canMoveTo(std::size_t index) const;

    // The current cell moves away from index: text that is no number gives way to the byte.
    void leaveCell(std::size_t index);

    // Enter in a cell: an empty one becomes "00"; the answer is the next cell, in the next row
    // after the last column, which is added when the cell was in the last row.
    std::size_t enterInCell(std::size_t index);

    // The line was edited as text: count characters at position replaced by the bytes given (a
    // blank the user typed is the byte 32). The grid is built anew from the bytes (StringToGrid):
    // each byte in its cell, a zero byte as "00", and bytes the edit did not reach keep their
    // value, so a zero byte stays zero wherever the edit moves it.
    void editLine(std::size_t position, std::size_t count, std::string_view inserted);

    // StringToGrid: the grid built anew from the bytes, as editLine leaves it.
    void rebuildGrid();

    // The first cell whose text is no number, if there is one.
    [[nodiscard]] std::optional<std::size_t> invalidCell() const;

    // The bytes to write (GridToBin). Raises BinaryCellError for a cell whose text is no number.
    [[nodiscard]] std::vector<std::uint8_t> GridToBin() const;

    // True when the page holds other bytes than stored, or a cell whose text is no number.
    [[nodiscard]] bool CompareBin(std::span<const std::uint8_t> stored) const;

private:
    enum Shown : std::uint8_t { kEmpty, kNumber, kDoubleZero, kTyped };
    void resizeRows(std::size_t rows);
    // The byte a cell's text stands for in the page's base: the number's low 8 bits.
    [[nodiscard]] std::optional<std::uint8_t> cellByte(std::string_view text) const;

    std::vector<std::uint8_t> m_bytes;
    std::string m_line;
    // One per cell, rowCount() * 8. A page that was never given bytes (a string's or a DWORD's,
    // or a new value's) still has its empty row: without a cell there is nowhere to type.
    std::vector<Shown> m_shown = std::vector<Shown>(kColumns, kEmpty);
    std::map<std::size_t, std::string> m_typed; // the text of kTyped cells
    bool m_hex = false;
};

} // namespace quern
