#pragma once

#include "registry/RegU.h"

#include <vector>

namespace quern {

// The order of the value grid's rows. By default, and whenever the user has not picked another,
// the rows stand by name without regard to case, the default value first. Clicking a column's
// header sorts by that column, and clicking it again reverses the order.

enum class GridColumn : int { Name = 0, Data = 1, Type = 2 };

struct GridSort {
    GridColumn column = GridColumn::Name;
    bool descending = false;

    [[nodiscard]] bool isDefault() const { return column == GridColumn::Name && !descending; }
    friend bool operator==(const GridSort&, const GridSort&) = default;
};

// The sort a click on a column's header gives: the same column reversed, another one ascending.
[[nodiscard]] GridSort clickedGridSort(GridSort current, GridColumn clicked);

// The sort a stored column number and direction name; the default for a number that names no column.
[[nodiscard]] GridSort gridSortFrom(int column, bool descending);

// Sorts rows by sort. Each column's order, ascending:
// - Name: names without regard to case, the default value (the empty name) first.
// - Data: what the cell shows, kind by kind: first the numbers (DWORDs of up to four bytes, big-endian
//   DWORDs of four, QWORDs of eight) by value, a DWORD's and a big-endian DWORD's signed while
//   dwordMode is decimal, as the grid then shows them, and unsigned otherwise; then the strings
//   (strings, expand strings, multi-strings string by string) by their text without regard to case;
//   then every other value by its bytes, a shorter one before a longer one it begins.
// - Type: the Type column's text (the 0x names of other types, which stand before the REG_ names,
//   by number).
// Rows that are equal there stand by name; descending is the exact reverse of ascending.
void sortValueRows(std::vector<ValueRow>& rows, GridSort sort, int dwordMode);

} // namespace quern
