#include "navigate/PathCommands.h"

#include "codec/ValueText.h"
#include "registry/PastedPath.h"
#include "registry/RegU.h"
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMessageBox>

#include <algorithm>

namespace quern {

namespace {

// The value the grid's cursor stands on while the grid has the keyboard, or null.
const ValueRow* focusedValue(CommandWindow& window) {
    if (window.focusedPane() != CommandWindow::Pane::Grid) return nullptr;
    const std::vector<ValueRow>& rows = window.valueRows();
    const int row = window.focusedGridRow();
    if (row < 0 || row >= static_cast<int>(rows.size())) return nullptr;
    return &rows[static_cast<std::size_t>(row)];
}

std::string selectedKeyPath(CommandWindow& window) {
    window.flushTreeChange();
    return keyPathOfNode(window.currentNode());
}

// What the dialog offers first: the clipboard's path when it reads as one, else the selected key.
QString offeredPath(CommandWindow& window) {
    std::string path;
    const std::string clipboard = rawText(QGuiApplication::clipboard()->text());
    if (clipboard.size() < 4096 && parsePastedKeyPath(clipboard, path).ok()) return shownText(path);
    return shownText(selectedKeyPath(window));
}

} // namespace

void runCopyKeyPath(CommandWindow& window) {
    const std::string keyPath = selectedKeyPath(window);
    if (keyPath.empty()) return; // the top node names no key
    const ValueRow* value = focusedValue(window);
    if (value && !value->name.empty()) {
        const std::string path = keyPath + "\\" + value->name;
        QGuiApplication::clipboard()->setText(shownText(path));
        window.showStatusMessage(QStringLiteral("Copied the value's path (key path, backslash, value name): %1")
                                     .arg(shownText(shownKeyPath(path))));
        return;
    }
    QGuiApplication::clipboard()->setText(shownText(keyPath));
    window.showStatusMessage(QStringLiteral("Copied the key path: %1").arg(shownText(shownKeyPath(keyPath))));
}

bool goToFoundPath(CommandWindow& window, const std::string& path) {
    window.goToKeyPath(path);
    window.flushTreeChange();
    const std::string reached = keyPathOfNode(window.currentNode());
    const std::string missing = missingPart(path, reached);
    if (missing.empty()) {
        window.focusTree(); // the key went to is the tree's: the keys act on it from there
        window.showStatusMessage(QString());
        return true;
    }
    if (missing.find('\\') == std::string::npos) {
        const std::vector<ValueRow>& rows = window.valueRows();
        const auto named = std::find_if(rows.begin(), rows.end(),
            [&](const ValueRow& row) { return reg::upperAscii(row.name) == reg::upperAscii(missing); });
        if (named != rows.end()) {
            window.focusValueRow(static_cast<std::size_t>(named - rows.begin()));
            window.showStatusMessage(QString());
            return true;
        }
    }
    window.showStatusMessage(QStringLiteral("Not found: \"%1\" under %2")
                                 .arg(shownText(shownKeyPath(missing)),
                                     reached.empty() ? QStringLiteral("the top") : shownText(shownKeyPath(reached))));
    return false;
}

void runGoToPath(CommandWindow& window) {
    bool accepted = false;
    const QString text = QInputDialog::getText(window.widget(), QStringLiteral("Go to path"),
        QStringLiteral("Key path (HKLM\\Software\\..., HKEY_LOCAL_MACHINE\\..., [HKEY_...], "
                       "Computer\\HKEY_...):"),
        QLineEdit::Normal, offeredPath(window), &accepted);
    if (!accepted) return;
    std::string path;
    if (const reg::Status parsed = parsePastedKeyPath(rawText(text), path); !parsed.ok()) {
        QMessageBox::warning(window.widget(), QStringLiteral("Go to path"), QString::fromStdString(parsed.message()));
        return;
    }
    (void)goToFoundPath(window, path);
}

void runCopyValueName(CommandWindow& window) {
    if (const ValueRow* value = focusedValue(window)) QGuiApplication::clipboard()->setText(shownText(value->name));
}

void runCopyValueData(CommandWindow& window) {
    if (const ValueRow* value = focusedValue(window))
        QGuiApplication::clipboard()->setText(shownText(queryText(value->type, value->data)));
}

} // namespace quern
