#pragma once

#include "search/SearchHits.h"

#include <QAbstractTableModel>

#include <functional>
#include <memory>
#include <utility>

namespace quern {

// The list of hits as a table: Found (the key's full path), Value (a value's name) and Data (a
// value's data as the grid shows it). A row holds only the number of its hit: the texts are made
// when a row is drawn, and the data and whether the hit is still there are read from the registry
// then, so a million hits scroll, filter and sort without a copy of their paths or data.
class SearchHitsModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit SearchHitsModel(QObject* parent = nullptr);

    // Where the data is read, and the grid's view modes (binary, DWORD) it is shown by.
    void setSource(reg::RegStore* store, std::function<std::pair<int, int>()> viewModes);

    SearchHits& hits() { return m_hits; }
    // A new list: no hits, no filter, the walk's order.
    void clear();
    // Gives rows to the hits added since the last call, as the walk finds them.
    void showNewHits();
    // Shows only the hits whose path the expression accepts (all for the empty text).
    void setFilter(const std::string& expression);
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Forgets whether hits are still there, and their data: read again as the rows are drawn.
    void recheck();

    [[nodiscard]] std::size_t hitOfRow(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    // -1 when the hit has no row (filtered out).
    [[nodiscard]] int rowOfHit(std::size_t hit) const;
    [[nodiscard]] bool isGone(int row) const;
    [[nodiscard]] std::string dataText(int row) const;
    [[nodiscard]] SearchHitReader& reader() const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    [[nodiscard]] QString cellText(int row, int column) const;
    [[nodiscard]] std::string hitData(std::size_t hit) const;

    SearchHits m_hits;
    std::vector<std::uint32_t> m_rows; // the hit each row shows
    std::size_t m_given = 0; // hits looked at for rows so far
    std::string m_filter;
    SearchHits::Column m_sortColumn = SearchHits::Walk;
    bool m_descending = false;
    reg::RegStore* m_store = nullptr;
    std::function<std::pair<int, int>()> m_viewModes;
    // Per hit: 0 not checked since the list was shown, 1 there, 2 gone.
    mutable std::vector<std::uint8_t> m_state;
    mutable std::unique_ptr<SearchHitReader> m_reader;
};

} // namespace quern
