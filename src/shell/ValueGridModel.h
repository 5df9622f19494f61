#pragma once

#include "codec/RegData.h"
#include "registry/GridOrder.h"
#include "registry/RegU.h"
#include "window/KeyTreeItem.h"

#include <QAbstractTableModel>

#include <string>
#include <vector>

namespace quern {

// The rows of the value grid: one per value of the shown key, or a single blank row when it has
// none. Column 0 is the kind letter and the name, column 1 the rendered data, as the grid's cells
// hold them, and column 2 the type's name, which the grid shows only while View > Type column is
// on; how they look is the grid's own drawing. The rows are the ones commands index
// (CommandWindow::valueRows), so a sort reorders them here, never through a view of them.
class ValueGridModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(std::vector<ValueRow> rows) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    void sortRows(GridSort sort, int dwordMode) {
        beginResetModel();
        sortValueRows(m_rows, sort, dwordMode);
        endResetModel();
    }
    [[nodiscard]] const std::vector<ValueRow>& rows() const { return m_rows; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override {
        if (parent.isValid()) return 0;
        return m_rows.empty() ? 1 : static_cast<int>(m_rows.size());
    }
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }

    // The text of a cell: kind letter and name, the data, or the type; empty for the blank row.
    [[nodiscard]] QString cellText(int row, int column) const {
        if (row < 0 || row >= static_cast<int>(m_rows.size())) return {};
        const ValueRow& value = m_rows[static_cast<std::size_t>(row)];
        if (column == 0) return QChar::fromLatin1(value.kind) + shownText(value.name);
        if (column == 2) return QString::fromStdString(codec::typeColumnName(value.type));
        return shownText(value.text);
    }

    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return cellText(index.row(), index.column());
    }
    void setHeaderText(int column, const QString& text) {
        if (column < 0 || column > 2) return;
        m_headers[column] = text;
        emit headerDataChanged(Qt::Horizontal, column, column);
    }
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 2) return {};
        return m_headers[section];
    }

private:
    std::vector<ValueRow> m_rows;
    QString m_headers[3];
};

} // namespace quern
