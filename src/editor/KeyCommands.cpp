#include "editor/KeyCommands.h"

#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "editor/EditCommands.h"
#include "editor/ModiFormU.h"
#include "registry/ChangeLabels.h"
#include "registry/RegU.h"
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"
#include "window/QuernIcons.h"
#include "window/QuestionBox.h"

#include <QMessageBox>
#include <QTreeWidget>

#include <algorithm>

namespace quern {

namespace {

void tell(CommandWindow& window, const QString& text) {
    QMessageBox::warning(window.widget(), QStringLiteral("Quern"), text);
}

// The command's sentence, with the store's reason when it has one.
QString withReason(const QString& what, const std::string& why) {
    return why.empty() ? what : what + QStringLiteral(": ") + QString::fromStdString(why);
}

// A name as the questions show it: its first 20 characters, and dots when there are more.
QString shortName(const std::string& name) {
    const QString shown = shownText(name);
    return shown.size() > 20 ? shown.left(20) + QStringLiteral("...") : shown;
}

// A shortened name may read as another item (\Software\Wine\Fonts... for a key below Fonts):
// the box names the whole item under the question.
QString wholeName(const std::string& name) {
    const QString shown = shownText(name);
    return shown.size() > 20 ? shown : QString();
}

// Opens the key a command works in, on an accessor of the command's own. A registry that cannot
// be written says so here, before any question or dialog.
bool openForCommand(CommandWindow& window, reg::RegAccessor& registry, const std::string& path) {
    if (openKeyPath(registry, path, reg::Access::Full)) return true;
    tell(window, withReason(QStringLiteral("Cannot Open key"), window.store().readOnlyReason()));
    return false;
}

void select(CommandWindow& window, KeyTreeItem* node) {
    node->treeWidget()->setCurrentItem(node);
    window.flushTreeChange();
}

KeyTreeItem* childNamed(KeyTreeItem* parent, const std::string& name) {
    for (int i = 0; i < parent->childCount(); ++i) {
        auto* child = static_cast<KeyTreeItem*>(parent->child(i));
        if (reg::sameName(reg::toUtf16(child->nodeText()), reg::toUtf16(name))) return child;
    }
    return nullptr;
}

// Adds a node for a key among its siblings, in the order an expansion gives them.
KeyTreeItem* addChildSorted(KeyTreeItem* parent, const std::string& name, bool hasSubkeys) {
    auto* item = new KeyTreeItem(name);
    item->setIcon(0, quernIcon(QuernIcon::Folder));
    item->markHasChildren(hasSubkeys);
    int at = 0;
    while (at < parent->childCount() && !nameLess(name, static_cast<KeyTreeItem*>(parent->child(at))->nodeText()))
        ++at;
    parent->insertChild(at, item);
    return item;
}

// Shows the grid again and puts its cursor on the value the dialog left, or says it is missing.
void showValueRow(CommandWindow& window, KeyTreeItem* node, const std::string& name) {
    window.FillGrid(node);
    const std::vector<ValueRow>& rows = window.valueRows();
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const ValueRow& row) { return row.name == name; });
    if (found == rows.end()) {
        tell(window, QStringLiteral("Cannot create value"));
        return;
    }
    window.focusValueRow(static_cast<std::size_t>(found - rows.begin()));
}

void deleteKeyNode(CommandWindow& window, KeyTreeItem* node) {
    std::string rootName;
    std::string subkeyPath;
    splitNodePath(node, rootName, subkeyPath);
    // The root is named in full, as the same path under another root is another key; only the
    // path below it is shortened.
    const QString question = QStringLiteral("Delete \"") + shownText(rootName) + shortName(subkeyPath)
        + QStringLiteral("\" key, are you sure ?");
    const QString whole = wholeName(subkeyPath).isEmpty() ? QString() : shownText(rootName + subkeyPath);
    if (askQuestion(window.widget(), question, false, whole) != Answer::Yes) return;
    reg::RegAccessor registry(window.store());
    if (!selectRootByName(registry, rootName)) return;
    // One batch for the key and everything below it: when any of it cannot go, all of it stays,
    // and so does its node. The batch around it names it for Undo.
    reg::WriteBatch batch(window.store());
    reg::Status status = registry.removeKey(subkeyPath);
    if (status.ok()) status = batch.finish(deleteKeyLabel(keyPathOfNode(node)));
    if (!status.ok()) {
        tell(window, withReason(QStringLiteral("Error removing key"), status.message()));
        return;
    }
    auto* parent = static_cast<KeyTreeItem*>(node->parent());
    const int index = parent->indexOfChild(node);
    QTreeWidgetItem* next = index > 0 ? parent->child(index - 1) : parent->child(index + 1);
    if (!next) next = parent;
    delete node;
    if (parent->childCount() == 0) parent->markHasChildren(false);
    select(window, static_cast<KeyTreeItem*>(next));
}

void deleteValues(CommandWindow& window, KeyTreeItem* node) {
    const std::vector<ValueRow>& rows = window.valueRows();
    std::vector<std::size_t> range = window.highlightedValueRows();
    const int cursor = window.focusedGridRow();
    if (range.empty() && cursor >= 0 && static_cast<std::size_t>(cursor) < rows.size())
        range.push_back(static_cast<std::size_t>(cursor));
    if (range.empty()) return;
    std::vector<std::string> names;
    for (const std::size_t row : range)
        names.push_back(rows[row].name);
    reg::RegAccessor registry(window.store());
    if (!openForCommand(window, registry, keyPathOfNode(node))) return;
    reg::RegStore& store = window.store();
    // The whole range is written once, after the last question.
    reg::WriteBatch batch(store);
    bool all = false;
    std::vector<std::string> deleted;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!all) {
            const QString question
                = QStringLiteral("Delete \"") + shortName(names[i]) + QStringLiteral("\" value, are you sure ?");
            const Answer answer = askQuestion(window.widget(), question, i + 1 < names.size(), wholeName(names[i]));
            if (answer == Answer::NoToAll) break;
            if (answer == Answer::No) continue;
            all = answer == Answer::All;
        }
        if (const reg::Status status = store.deleteValue(registry.currentKey(), reg::toUtf16(names[i])); !status.ok())
            tell(window, withReason(QStringLiteral("Cannot remove the value"), status.message()));
        else
            deleted.push_back(names[i]);
    }
    if (const reg::Status status = batch.finish(deleteValuesLabel(keyPathOfNode(node), deleted)); !status.ok())
        tell(window, withReason(QStringLiteral("Cannot remove the value"), status.message()));
    window.FillGrid(node);
}

} // namespace

void runNew(CommandWindow& window) {
    KeyTreeItem* node = window.currentNode();
    if (!node || node->level() == 0) return;
    EditRequest request;
    request.IsValueEdit = window.focusedPane() == CommandWindow::Pane::Grid;
    request.IsNewItem = true;
    request.EditKeyPath = keyPathOfNode(node);
    reg::RegAccessor registry(window.store());
    if (!openForCommand(window, registry, request.EditKeyPath)) return;
    const bool accepted = runEditForm(window, registry, request);
    if (!accepted) return;
    if (request.IsValueEdit) {
        showValueRow(window, node, request.EditItemName);
        return;
    }
    if (request.EditItemName.empty()) return;
    // A collapsed node reads its children from the registry as it opens, the new key among them;
    // only an open node needs the node added.
    if (!node->isExpanded()) {
        node->markHasChildren(true);
        node->setExpanded(true);
    }
    KeyTreeItem* added = childNamed(node, request.EditItemName);
    if (!added) added = addChildSorted(node, request.EditItemName, false);
    select(window, added);
}

void runRenameKey(CommandWindow& window) {
    KeyTreeItem* node = window.currentNode();
    if (!node || node->level() < 2) return; // the top node and the root keys have no name to change
    EditRequest request;
    request.IsValueEdit = false;
    request.IsNewItem = false;
    request.EditItemName = node->nodeText();
    request.EditKeyPath = parentPath(keyPathOfNode(node));
    reg::RegAccessor registry(window.store());
    if (!openForCommand(window, registry, request.EditKeyPath)) return;
    const bool accepted = runEditForm(window, registry, request);
    if (!accepted || request.EditItemName == node->nodeText()) return;
    auto* parent = static_cast<KeyTreeItem*>(node->parent());
    const bool hasSubkeys = node->markedHasChildren();
    delete node;
    select(window, addChildSorted(parent, request.EditItemName, hasSubkeys));
}

void runDelete(CommandWindow& window) {
    KeyTreeItem* node = window.currentNode();
    if (!node) return;
    switch (window.focusedPane()) {
    case CommandWindow::Pane::Tree:
        if (node->level() >= 2) deleteKeyNode(window, node);
        break;
    case CommandWindow::Pane::Grid:
        deleteValues(window, node);
        break;
    case CommandWindow::Pane::Other:
        break;
    }
}

} // namespace quern
