#include "editor/EditCommands.h"

#include "editor/ModiFormU.h"
#include "registry/KeyTreeItem.h"
#include "registry/RegU.h"
#include "shell/QuernU.h"

#include <QMessageBox>

#include <algorithm>

namespace quern {

void runModify(TMainForm& form) {
    KeyTreeItem* node = form.currentNode();
    if (!node || form.focusedPane() != TMainForm::Pane::Grid) return;
    const auto& names = form.valueNames();
    const int row = form.focusedGridRow();
    if (names.empty() || row < 0 || row >= static_cast<int>(names.size())) return;
    EditRequest request;
    request.IsValueEdit = true;
    request.IsNewItem = false;
    request.EditItemName = names[static_cast<std::size_t>(row)];
    request.EditKeyPath = keyPathOfNode(node);
    // A registry that cannot be written still opens the dialog, to look at the value.
    if (!openKeyPath(form.registry(), request.EditKeyPath, reg::Access::Full)
        && !openKeyPath(form.registry(), request.EditKeyPath, reg::Access::Read)) {
        QMessageBox::warning(&form, QStringLiteral("Quern"), QStringLiteral("Cannot Open key"));
        return;
    }
    bool accepted = false;
    {
        TEditForm dialog(form.registry(), request, form.DWViewMode, &form);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted) return;
    form.FillGrid(node);
    const auto& now = form.valueNames();
    const auto found = std::find(now.begin(), now.end(), request.EditItemName);
    if (found == now.end()) {
        QMessageBox::warning(&form, QStringLiteral("Quern"), QStringLiteral("Cannot create value"));
        return;
    }
    form.focusValueRow(static_cast<std::size_t>(found - now.begin()));
}

} // namespace quern
