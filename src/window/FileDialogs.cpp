#include "window/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace quern {

QString FileDialogs::exec(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

QString FileDialogs::chooseSaveFile(
    const QString& title, const QString& filter, const QString& extension, QString* chosenFilter) {
    if (!m_saveFile.endsWith(QLatin1Char('.') + extension)) m_saveFile.clear();
    QFileDialog dialog(m_parent, title, m_saveFile, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(extension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite); // the question below is the program's own
    const QString file = run(dialog);
    if (file.isEmpty()) return {};
    if (chosenFilter) *chosenFilter = dialog.selectedNameFilter();
    m_saveFile = file;
    if (QFileInfo::exists(file)
        && QMessageBox::warning(m_parent, QStringLiteral("Warning"), QStringLiteral("File already exists, overwrite ?"),
               QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return {};
    return file;
}

QString FileDialogs::chooseOpenFile(const QString& title, const QString& filter, const QString& extension) {
    // The file last opened with this extension, else the one last written: a backup just made is
    // the one a restore most likely wants.
    const QString dot = QLatin1Char('.') + extension;
    const QString start = m_openFile.endsWith(dot) ? m_openFile : m_saveFile.endsWith(dot) ? m_saveFile : QString();
    QFileDialog dialog(m_parent, title, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(extension);
    const QString file = run(dialog);
    if (!file.isEmpty()) m_openFile = file;
    return file;
}

} // namespace quern
