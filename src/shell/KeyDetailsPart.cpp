#include "shell/KeyDetailsPart.h"

#include "shell/RegistryNotice.h"
#include "shell/ValueGridModel.h"

#include <QEvent>
#include <QStatusBar>
#include <QTableView>

#include <algorithm>
#include <optional>
#include <vector>

namespace quern {

KeyDetailsPart::KeyDetailsPart(reg::RegStore& store, QStatusBar* bar, QTableView* grid, const ValueGridModel* rows)
    : QObject(bar)
    , m_store(store)
    , m_grid(grid)
    , m_rows(rows)
    , m_label(new ElidedLabel(bar)) {
    m_label->setObjectName(QStringLiteral("KeyDetailsLabel"));
    m_label->setStatusTip(QStringLiteral("The selected key: when it was last written, its subkeys and values"));
    bar->insertPermanentWidget(0, m_label);
    bar->installEventFilter(this); // its width bounds the part's
    // The value's size follows the grid's cursor. (Not the focus: the window's focus moves while
    // it is taken down, and this part must not ask the window anything then.)
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { showValue(); });
}

void KeyDetailsPart::showKey(const std::string& keyPath) {
    m_haveKey = readKeyDetails(m_store, keyPath, m_details);
    showValue();
}

QString KeyDetailsPart::text() const {
    return m_label->fullText();
}

void KeyDetailsPart::showValue() {
    if (!m_haveKey) {
        m_label->setFullText({});
        return;
    }
    std::optional<std::size_t> bytes;
    const int row = m_grid->currentIndex().row();
    const std::vector<ValueRow>& rows = m_rows->rows();
    if (row >= 0 && static_cast<std::size_t>(row) < rows.size())
        bytes = rows[static_cast<std::size_t>(row)].data.size();
    const QString text = QString::fromStdString(keyDetailsText(m_details, bytes));
    if (text == m_label->fullText()) return;
    // Whole parts: cut in the middle, a date or a count would read as another.
    m_label->setParts({ { text, false } });
}

bool KeyDetailsPart::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        // The hints keep more than half of the bar.
        m_label->setMaximumWidth(std::max(160, static_cast<QWidget*>(watched)->width() * 2 / 5));
    }
    return false;
}

} // namespace quern
