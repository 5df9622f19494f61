#include "editor/EditCommands.h"

#include "editor/KeyCommands.h"
#include "editor/ModiFormU.h"
#include "registry/RegU.h"
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"

#include <QMessageBox>

#include <algorithm>

namespace quern {

void runModify(CommandWindow& window) {
    if (window.focusedPane() == CommandWindow::Pane::Tree) {
        runRenameKey(window);
        return;
    }
    KeyTreeItem* node = window.currentNode();
    if (!node || window.focusedPane() != CommandWindow::Pane::Grid) return;
    const std::vector<ValueRow>& rows = window.valueRows();
    const int row = window.focusedGridRow();
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    EditRequest request;
    request.IsValueEdit = true;
    request.IsNewItem = false;
    request.EditItemName = rows[static_cast<std::size_t>(row)].name;
    request.EditKeyPath = keyPathOfNode(node);
    // The dialog works on a key it opens itself, whatever the grid or another command opened
    // since. A registry that cannot be written still opens the dialog, to look at the value.
    reg::RegAccessor registry(window.store());
    if (!openKeyPath(registry, request.EditKeyPath, reg::Access::Full)
        && !openKeyPath(registry, request.EditKeyPath, reg::Access::Read)) {
        QMessageBox::warning(window.widget(), QStringLiteral("Quern"), QStringLiteral("Cannot Open key"));
        return;
    }
    bool accepted = false;
    {
        TEditForm dialog(registry, request, window.dwordViewMode(), window.widget());
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted) return;
    window.FillGrid(node);
    const std::vector<ValueRow>& now = window.valueRows();
    const auto found = std::find_if(
        now.begin(), now.end(), [&](const ValueRow& value) { return value.name == request.EditItemName; });
    if (found == now.end()) {
        QMessageBox::warning(window.widget(), QStringLiteral("Quern"), QStringLiteral("Cannot create value"));
        return;
    }
    window.focusValueRow(static_cast<std::size_t>(found - now.begin()));
}

} // namespace quern
