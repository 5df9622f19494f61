#include "import/ImportCommand.h"

#include "import/ImportPreview.h"
#include "import/RegImport.h"
#include "registry/ChangeLabels.h"
#include "window/CommandWindow.h"
#include "window/FileDialogs.h"
#include "window/JobProgress.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

namespace quern {

namespace {

// Reads and plans; false after telling the user why, with nothing written. With bytes, those are
// the file's content and file only names it.
bool readAndPlan(CommandWindow& window, const QString& file, RegFileContent& content, ImportPlan& plan,
    const std::string* bytes = nullptr) {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    reg::Status read = bytes ? parseRegFile(*bytes, file.toStdString(), content)
                             : readRegFile(QFile::encodeName(file).toStdString(), content);
    JobProgress progress(window.widget(), QStringLiteral("Importing"));
    if (read.ok())
        read = planImport(window.store(), content, plan, [&](std::size_t done, std::size_t keys) {
            return progress.update(QStringLiteral("Comparing key %1 of %2 with the registry...").arg(done).arg(keys));
        });
    QApplication::restoreOverrideCursor();
    if (progress.cancelled()) {
        window.showStatusMessage(QString::fromLatin1(kImportCancelled));
        return false;
    }
    if (!read.ok())
        QMessageBox::critical(window.widget(), QStringLiteral("Quern"),
            QStringLiteral("%1 cannot be imported:\n%2\n\nNothing was written.")
                .arg(file, QString::fromStdString(read.message())));
    return read.ok();
}

// Writes every change of the file, or none of them; Undo then takes them back together.
bool applyAsOneBatch(CommandWindow& window, const RegFileContent& content, const reg::ChangeLabel& label) {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    reg::WriteBatch batch(window.store());
    JobProgress progress(window.widget(), QStringLiteral("Importing"));
    reg::Status status = applyImport(window.store(), content, [&](std::size_t done, std::size_t keys) {
        return progress.update(QStringLiteral("Imported %1 of %2 keys...").arg(done).arg(keys));
    });
    if (status.ok())
        status = batch.finish(label);
    else
        batch.abandon();
    QApplication::restoreOverrideCursor();
    if (progress.cancelled()) {
        window.showStatusMessage(QString::fromLatin1(kImportCancelled));
        return false;
    }
    if (!status.ok())
        QMessageBox::critical(window.widget(), QStringLiteral("Quern"),
            QStringLiteral("The import failed, and nothing of it was written:\n%1")
                .arg(QString::fromStdString(status.message())));
    return status.ok();
}

// An import of a file, or of the bytes of one (bytes), from its plan to its batch.
void importContent(CommandWindow& window, const QString& file, const QString& name, const std::string* bytes) {
    RegFileContent content;
    ImportPlan plan;
    if (!readAndPlan(window, file, content, plan, bytes)) return;
    if (plan.empty()) {
        QMessageBox::information(window.widget(), QStringLiteral("Quern"),
            QStringLiteral("Importing %1 changes nothing: the registry already holds what it says.").arg(name));
        return;
    }
    // Only the keys the file changes count: a hive loaded beside no Wine prefix takes an import.
    const QString readOnly = QString::fromStdString(importReadOnlyReason(window.store(), content));
    ImportPreview preview(name, plan, readOnly, window.widget());
    if (preview.exec() != QDialog::Accepted) return;
    if (!readOnly.isEmpty()) {
        QMessageBox::warning(window.widget(), QStringLiteral("Quern"),
            QStringLiteral("Nothing was imported: the registry is read-only.\n%1").arg(readOnly));
        return;
    }
    // The window shows what is now there, whether the write went through or not.
    applyAsOneBatch(window, content, importLabel(name.toStdString(), plan.changes.front().keyPath));
    window.RefreshMNUClick();
}

} // namespace

void runRegImport(CommandWindow& window) {
    const QString file = window.sharedFileDialogs().chooseOpenFile(QStringLiteral("Import .REG file"),
        QStringLiteral("Registry file (*.reg);;All files (*)"), QStringLiteral("reg"));
    if (file.isEmpty()) return;
    importRegFile(window, file);
}

void importRegFile(CommandWindow& window, const QString& file) {
    importContent(window, file, QFileInfo(file).fileName(), nullptr);
}

void importRegBytes(CommandWindow& window, const QString& name, const std::string& bytes) {
    importContent(window, name, name, &bytes);
}

} // namespace quern
