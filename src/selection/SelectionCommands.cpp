#include "selection/SelectionCommands.h"

#include "registry/RegU.h"
#include "selection/SelectionFile.h"
#include "selection/TreeSelection.h"
#include "window/CommandWindow.h"
#include "window/FileDialogs.h"
#include "window/KeyTreeItem.h"
#include "window/PaneColours.h"

#include <QAction>
#include <QFile>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTreeWidget>

#include <algorithm>

namespace quern {

namespace {

void toggleHighlightedValues(CommandWindow& window, TTreeSel& selection, KeyTreeItem& node) {
    const std::vector<ValueRow>& rows = window.valueRows();
    const std::string key = keyPathOfNode(&node);
    // The rows the user highlighted, top to bottom; the blank row of a key without values has no
    // value behind it and is passed over.
    std::vector<std::string> paths;
    for (std::size_t row : window.highlightedValueRows())
        paths.push_back(key + std::string(kValueSeparator) + rows[row].name);
    const bool anyUnselected = std::any_of(
        paths.begin(), paths.end(), [&](const std::string& path) { return selection.StateOfPath(path) == selNone; });
    for (const auto& path : paths) {
        if (anyUnselected)
            selection.SelectValue(node, path);
        else
            selection.DeselectValue(node, path);
    }
}

} // namespace

void toggleSelection(CommandWindow& window, TTreeSel& selection, bool withSubkeys) {
    KeyTreeItem* node = window.currentNode();
    const CommandWindow::Pane pane = window.focusedPane();
    if (pane == CommandWindow::Pane::Grid && node) {
        toggleHighlightedValues(window, selection, *node);
    } else if (pane == CommandWindow::Pane::Tree && node) {
        selection.ToggleNode(*node, withSubkeys);
        window.SelMenu(selection.StateOfNode(node) >= selAlone);
    } else {
        return;
    }
    window.repaintPanes();
    window.showSelectionInMemo();
}

void styleTreeItem(
    const TTreeSel& selection, QStyleOptionViewItem& option, const KeyTreeItem* item, const PaneColours& colours) {
    if (!item) return;
    const SelState state = selection.StateOfNode(item);
    QColor normal = colours.text;
    QColor highlighted = colours.highlightedText;
    switch (state) {
    case selNone:
        break;
    case selBelow:
        normal = colours.greyText;
        highlighted = colours.greyHighlightedText;
        break;
    case selAlone:
        normal = colours.aloneText, highlighted = colours.aloneHighlightedText;
        break;
    case selWithSubkeys:
        highlighted = colours.withSubkeysHighlightedText;
        break;
    }
    option.font.setBold(state == selBelow || state == selWithSubkeys);
    option.palette.setColor(QPalette::Text, normal);
    option.palette.setColor(QPalette::HighlightedText, highlighted);
}

QString selectionMemoText(const TTreeSel& selection) {
    QStringList lines;
    for (const auto& entry : selection.Entries())
        lines.push_back(shownText(entry));
    return lines.join(QLatin1Char('\n'));
}

void saveSelectionFile(CommandWindow& window, const TTreeSel& selection) {
    const QString file = window.sharedFileDialogs().chooseSaveFile(QStringLiteral("Save key selection as ..."),
        QStringLiteral("Quern key selection (*.qks)"), QStringLiteral("qks"));
    if (file.isEmpty()) return;
    std::vector<std::string> leftOut;
    if (!writeSelectionFile(QFile::encodeName(file).toStdString(), selection.Entries(), &leftOut).ok()) {
        QMessageBox::warning(
            window.widget(), QStringLiteral("Quern"), QStringLiteral("Cannot create file %1").arg(file));
        return;
    }
    if (leftOut.empty()) return;
    QString list;
    for (const auto& entry : leftOut)
        list += QLatin1Char('\n') + QString::fromStdString(shownKeyPath(entry));
    QMessageBox::warning(window.widget(), QStringLiteral("Quern"),
        QStringLiteral("These entries name keys or values with a line break in their names, which a selection file "
                       "cannot hold, and were left out of it:%1")
            .arg(list));
}

void loadSelectionFile(CommandWindow& window, TTreeSel& selection) {
    const QString file = window.sharedFileDialogs().chooseOpenFile(QStringLiteral("Load key selection from ..."),
        QStringLiteral("Quern key selection (*.qks)"), QStringLiteral("qks"));
    if (file.isEmpty()) return;
    std::vector<std::string> entries;
    if (!readSelectionFile(QFile::encodeName(file).toStdString(), entries).ok()) {
        QMessageBox::warning(window.widget(), QStringLiteral("Quern"), QStringLiteral("Cannot open file %1").arg(file));
        return;
    }
    selection.setEntries(std::move(entries));
    window.RefreshMNUClick();
    window.showSelectionInMemo();
}

} // namespace quern
