#pragma once

#include "registry/KeyTreeItem.h"
#include "registry/RegU.h"

#include <QAbstractTableModel>

#include <string>
#include <vector>

namespace quern {

// The rows of the value grid: one per value of the shown key, or a single blank row when it has
// none. Column 0 is the kind letter and the name, column 1 the rendered data, as the grid's cells
// hold them; how they look is the grid's own drawing.
class ValueGridModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(const std::vector<std::string>* names, const std::vector<ValueRow>* rows) {
        beginResetModel();
        m_names = names;
        m_rows = rows;
        endResetModel();
    }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override {
        if (parent.isValid()) return 0;
        return m_rows && !m_rows->empty() ? static_cast<int>(m_rows->size()) : 1;
    }
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }

    // The text of a cell: kind letter and name, or the data; empty for the blank row.
    [[nodiscard]] QString cellText(int row, int column) const {
        if (!m_rows || row < 0 || row >= static_cast<int>(m_rows->size())) return {};
        const ValueRow& value = (*m_rows)[static_cast<std::size_t>(row)];
        if (column == 0) return QChar::fromLatin1(value.kind) + shownText((*m_names)[static_cast<std::size_t>(row)]);
        return shownText(value.data);
    }

    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return cellText(index.row(), index.column());
    }
    void setHeaderText(int column, const QString& text) {
        m_headers[column == 0 ? 0 : 1] = text;
        emit headerDataChanged(Qt::Horizontal, column, column);
    }
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 1) return {};
        return m_headers[section];
    }

private:
    const std::vector<std::string>* m_names = nullptr;
    const std::vector<ValueRow>* m_rows = nullptr;
    QString m_headers[2];
};

} // namespace quern
