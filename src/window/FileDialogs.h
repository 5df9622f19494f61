#pragma once

#include <QString>

#include <functional>

class QFileDialog;
class QWidget;

namespace quern {

// The window's save and open dialogs, shared by the commands that write and read files: each
// offers the file of its last use again, and the save dialog asks before a file is replaced.
class FileDialogs {
public:
    explicit FileDialogs(QWidget* parent)
        : m_parent(parent) { }

    // Shows a dialog and gives the file chosen, or the empty text when the user cancels. It shows
    // the dialog to the user; tests put their own answer here instead.
    std::function<QString(QFileDialog& dialog)> run = exec;
    static QString exec(QFileDialog& dialog);

    // The save dialog, then "File already exists, overwrite ?" for a file that is there: the file
    // to write, or the empty text to stop. A name left over from a file of another extension (the
    // export and the selection share the dialog) is not offered. filter may offer several file
    // types (";;" between them, the first chosen at the start); chosenFilter, when given, receives
    // the one the user left chosen.
    QString chooseSaveFile(
        const QString& title, const QString& filter, const QString& extension, QString* chosenFilter = nullptr);
    // The open dialog, for a file that exists: the file chosen, or the empty text. It offers the
    // file last opened with this extension, else the one last saved with it.
    QString chooseOpenFile(const QString& title, const QString& filter, const QString& extension);

private:
    QWidget* m_parent;
    QString m_saveFile;
    QString m_openFile;
};

} // namespace quern
