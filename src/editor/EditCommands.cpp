#include "editor/EditCommands.h"

#include "editor/KeyCommands.h"
#include "editor/ModiFormU.h"
#include "shell/KeyTreeItem.h"
#include "registry/RegU.h"
#include "shell/QuernU.h"

#include <QMessageBox>

#include <algorithm>

namespace quern {

void runModify(TMainForm& form) {
    if (form.focusedPane() == TMainForm::Pane::Tree) {
        runRenameKey(form);
        return;
    }
    KeyTreeItem* node = form.currentNode();
    if (!node || form.focusedPane() != TMainForm::Pane::Grid) return;
    const std::vector<ValueRow>& rows = form.valueRows();
    const int row = form.focusedGridRow();
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    EditRequest request;
    request.IsValueEdit = true;
    request.IsNewItem = false;
    request.EditItemName = rows[static_cast<std::size_t>(row)].name;
    request.EditKeyPath = keyPathOfNode(node);
    // The dialog works on a key it opens itself, whatever the grid or another command opened
    // since. A registry that cannot be written still opens the dialog, to look at the value.
    reg::RegAccessor registry(form.store());
    if (!openKeyPath(registry, request.EditKeyPath, reg::Access::Full)
        && !openKeyPath(registry, request.EditKeyPath, reg::Access::Read)) {
        QMessageBox::warning(&form, QStringLiteral("Quern"), QStringLiteral("Cannot Open key"));
        return;
    }
    bool accepted = false;
    {
        TEditForm dialog(registry, request, form.DWViewMode, &form);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted) return;
    form.FillGrid(node);
    const std::vector<ValueRow>& now = form.valueRows();
    const auto found = std::find_if(
        now.begin(), now.end(), [&](const ValueRow& value) { return value.name == request.EditItemName; });
    if (found == now.end()) {
        QMessageBox::warning(&form, QStringLiteral("Quern"), QStringLiteral("Cannot create value"));
        return;
    }
    form.focusValueRow(static_cast<std::size_t>(found - now.begin()));
}

} // namespace quern
