#include "search/SearchHitsModel.h"

#include "registry/RegU.h"
#include "search/JollyCheckU.h"
#include "window/KeyTreeItem.h"

#include <QApplication>
#include <QPalette>

#include <algorithm>

namespace quern {

SearchHitsModel::SearchHitsModel(QObject* parent)
    : QAbstractTableModel(parent) {
}

void SearchHitsModel::setSource(reg::RegStore* store, std::function<std::pair<int, int>()> viewModes) {
    m_store = store;
    m_viewModes = std::move(viewModes);
    recheck();
}

void SearchHitsModel::clear() {
    beginResetModel();
    m_hits.clear();
    m_rows.clear();
    m_state.clear();
    m_given = 0;
    m_filter.clear();
    m_sortColumn = SearchHits::Walk;
    m_descending = false;
    endResetModel();
}

void SearchHitsModel::showNewHits() {
    const std::size_t total = m_hits.size();
    if (m_given == total) return;
    m_state.resize(total, 0);
    std::vector<std::uint32_t> added;
    std::string path;
    for (std::size_t hit = m_given; hit < total; ++hit) {
        if (!m_filter.empty()) {
            m_hits.userPath(hit, path);
            if (!JollyCheck(path, m_filter, false)) continue;
        }
        added.push_back(static_cast<std::uint32_t>(hit));
    }
    m_given = total;
    if (added.empty()) return;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    m_rows.insert(m_rows.end(), added.begin(), added.end());
    endInsertRows();
}

void SearchHitsModel::setFilter(const std::string& expression) {
    beginResetModel();
    m_filter = expression;
    m_rows = m_hits.filtered(m_filter);
    m_given = m_hits.size();
    m_state.resize(m_given, 0);
    if (m_sortColumn != SearchHits::Walk)
        m_hits.sortRows(m_rows, m_sortColumn, m_descending, [this](std::size_t hit) { return hitData(hit); });
    endResetModel();
}

void SearchHitsModel::sort(int column, Qt::SortOrder order) {
    const auto wanted = column >= 0 && column < 3 ? static_cast<SearchHits::Column>(column) : SearchHits::Walk;
    const bool descending = order == Qt::DescendingOrder;
    if (wanted == m_sortColumn && descending == m_descending) return;
    beginResetModel();
    m_sortColumn = wanted;
    m_descending = descending;
    m_hits.sortRows(m_rows, m_sortColumn, m_descending, [this](std::size_t hit) { return hitData(hit); });
    endResetModel();
}

void SearchHitsModel::recheck() {
    std::fill(m_state.begin(), m_state.end(), 0);
    m_reader.reset(); // the view modes may have changed too
    if (!m_rows.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int SearchHitsModel::rowOfHit(std::size_t hit) const {
    const auto at = std::find(m_rows.begin(), m_rows.end(), hit);
    return at == m_rows.end() ? -1 : static_cast<int>(at - m_rows.begin());
}

SearchHitReader& SearchHitsModel::reader() const {
    if (!m_reader) {
        const auto [binary, dword] = m_viewModes ? m_viewModes() : std::pair { 2, 1 };
        m_reader = std::make_unique<SearchHitReader>(*m_store, binary, dword);
    }
    return *m_reader;
}

bool SearchHitsModel::isGone(int row) const {
    const std::size_t hit = hitOfRow(row);
    if (!m_store) return false;
    if (m_state[hit] == 0) m_state[hit] = reader().exists(m_hits, hit) ? 1 : 2;
    return m_state[hit] == 2;
}

std::string SearchHitsModel::hitData(std::size_t hit) const {
    return m_store ? reader().dataText(m_hits, hit) : std::string();
}

std::string SearchHitsModel::dataText(int row) const {
    return hitData(hitOfRow(row));
}

int SearchHitsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SearchHitsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QString SearchHitsModel::cellText(int row, int column) const {
    const std::size_t hit = hitOfRow(row);
    switch (column) {
    case 0:
        return QString::fromStdString(shownKeyPath(m_hits.keyPath(hit)));
    case 1:
        if (!m_hits.isValue(hit)) return {};
        return m_hits.valueName(hit).empty() ? QStringLiteral("(Default)")
                                             : QString::fromStdString(shownKeyPath(m_hits.valueName(hit)));
    default:
        if (isGone(row)) return QStringLiteral("(deleted)");
        return shownText(dataText(row));
    }
}

QVariant SearchHitsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole) return cellText(index.row(), index.column());
    if (role == Qt::ForegroundRole && isGone(index.row()))
        return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    return {};
}

QVariant SearchHitsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const QString kHeaders[] = { QStringLiteral("Found"), QStringLiteral("Value"), QStringLiteral("Data") };
    return section >= 0 && section < 3 ? kHeaders[section] : QVariant();
}

} // namespace quern
