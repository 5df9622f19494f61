#pragma once

#include "registry/KeyDetails.h"

#include <QObject>
#include <QString>

#include <string>

class QStatusBar;
class QTableView;

namespace quern {

class ElidedLabel;
class ValueGridModel;

// The status bar's part that tells of the key the tree stands on: when it was last written, in
// local time, and how many subkeys and values it has; and, while the grid's cursor is on a value,
// that value's size in bytes. It sits before the parts that name the registry. It follows the
// grid's cursor itself, and reads the key only when the window asks, after the grid is filled.
class KeyDetailsPart final : public QObject {
public:
    KeyDetailsPart(reg::RegStore& store, QStatusBar* bar, QTableView* grid, const ValueGridModel* rows);

    // Reads the details of the key at keyPath (the empty path of the top node shows none).
    void showKey(const std::string& keyPath);
    [[nodiscard]] QString text() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showValue();

    reg::RegStore& m_store;
    QTableView* m_grid;
    const ValueGridModel* m_rows;
    ElidedLabel* m_label;
    KeyDetails m_details;
    bool m_haveKey = false;
};

} // namespace quern
