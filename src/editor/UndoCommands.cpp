#include "editor/UndoCommands.h"

#include "window/CommandWindow.h"

#include <QAction>
#include <QMessageBox>

namespace quern {

namespace {

// A key or value name with an ampersand must show it, not make the next letter a menu key.
QString menuText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return shown;
}

void runHistory(CommandWindow& window, bool undo) {
    reg::RegStore& store = window.store();
    const reg::ChangeLabel* label = undo ? store.undoLabel() : store.redoLabel();
    if (!label) return;
    // Copied: the entry moves to the other side once it ran.
    const reg::ChangeLabel change = *label;
    const reg::Status status = undo ? store.undoChange() : store.redoChange();
    if (!status.ok()) {
        const QString what = undo ? QStringLiteral("Cannot undo ") : QStringLiteral("Cannot redo ");
        QMessageBox::warning(window.widget(), QStringLiteral("Quern"),
            what + QString::fromStdString(change.what) + QStringLiteral(": ")
                + QString::fromStdString(status.message()));
    }
    // Even a refused change shows the registry as it is now: a failed write may have found a server.
    window.showTreeAgain(undo ? change.keyBefore : change.keyPath);
    // The status bar said what the change did; it now says that it was taken back (or made again).
    if (status.ok())
        window.showStatusMessage(
            (undo ? QStringLiteral("Undone: ") : QStringLiteral("Redone: ")) + QString::fromStdString(change.what));
}

} // namespace

void runUndo(CommandWindow& window) {
    runHistory(window, true);
}

void runRedo(CommandWindow& window) {
    runHistory(window, false);
}

void showUndoItems(CommandWindow& window, QAction* undo, QAction* redo) {
    const reg::ChangeLabel* undoLabel = window.store().undoLabel();
    const reg::ChangeLabel* redoLabel = window.store().redoLabel();
    window.setEditCaption(
        undo, undoLabel ? QStringLiteral("&Undo ") + menuText(undoLabel->what) : QStringLiteral("&Undo"));
    window.setEditCaption(
        redo, redoLabel ? QStringLiteral("&Redo ") + menuText(redoLabel->what) : QStringLiteral("&Redo"));
    undo->setEnabled(undoLabel != nullptr);
    redo->setEnabled(redoLabel != nullptr);
}

} // namespace quern
