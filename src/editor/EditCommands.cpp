#include "editor/EditCommands.h"

#include "editor/KeyCommands.h"
#include "editor/ModiFormU.h"
#include "registry/RegU.h"
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"

#include <QMessageBox>

#include <algorithm>

namespace quern {

namespace {

void tell(CommandWindow& window, const QString& text) {
    QMessageBox::warning(window.widget(), QStringLiteral("Quern"), text);
}

// Shows the key's values again and puts the grid's cursor on the value the dialog left, or says
// it is missing.
void showValueRow(CommandWindow& window, KeyTreeItem* node, const std::string& name) {
    window.FillGrid(node);
    const std::vector<ValueRow>& now = window.valueRows();
    const auto found = std::find_if(now.begin(), now.end(), [&](const ValueRow& value) { return value.name == name; });
    if (found == now.end()) {
        tell(window, QStringLiteral("Cannot create value"));
        return;
    }
    window.focusValueRow(static_cast<std::size_t>(found - now.begin()));
}

} // namespace

bool runEditForm(CommandWindow& window, reg::RegAccessor& registry, EditRequest& request,
    std::optional<std::uint32_t> newType, EditStart start) {
    TEditForm dialog(registry, request, window.dwordViewMode(), window.widget());
    if (newType) dialog.startNewValueAs(*newType);
    if (start == EditStart::BinaryBytes) dialog.openOnBinaryPage();
    dialog.usePreferences(window.preferences(), [&window] { window.preferencesChanged(); });
    return dialog.exec() == QDialog::Accepted;
}

namespace {

void modifyFocusedValue(CommandWindow& window, EditStart start) {
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
        tell(window, QStringLiteral("Cannot Open key"));
        return;
    }
    if (runEditForm(window, registry, request, std::nullopt, start)) showValueRow(window, node, request.EditItemName);
}

} // namespace

void runModify(CommandWindow& window) {
    if (window.focusedPane() == CommandWindow::Pane::Tree) {
        runRenameKey(window);
        return;
    }
    modifyFocusedValue(window, EditStart::AsStored);
}

void runModifyBinary(CommandWindow& window) {
    modifyFocusedValue(window, EditStart::BinaryBytes);
}

void newValueOfType(CommandWindow& window, std::uint32_t type) {
    KeyTreeItem* node = window.currentNode();
    if (!node || node->level() == 0) return;
    EditRequest request;
    request.IsValueEdit = true;
    request.IsNewItem = true;
    request.EditKeyPath = keyPathOfNode(node);
    reg::RegAccessor registry(window.store());
    if (!openKeyPath(registry, request.EditKeyPath, reg::Access::Full)) {
        const std::string why = window.store().readOnlyReason();
        tell(window,
            why.empty() ? QStringLiteral("Cannot Open key")
                        : QStringLiteral("Cannot Open key: ") + QString::fromStdString(why));
        return;
    }
    if (runEditForm(window, registry, request, type)) showValueRow(window, node, request.EditItemName);
}

} // namespace quern
