#include "export/ExportCommand.h"

#include "export/RegExport.h"
#include "window/CommandWindow.h"
#include "window/FileDialogs.h"
#include "window/JobProgress.h"
#include "window/KeyTreeItem.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QMessageBox>
#include <QTableView>

namespace quern {

namespace {

// The file holds all but these keys: the user must know the backup lacks them.
void reportLeftOutKeys(QWidget* parent, const std::vector<std::string>& leftOut,
    const QString& why = QStringLiteral("hold a line break in their names, which a registry file cannot hold,")) {
    if (leftOut.empty()) return;
    constexpr std::size_t kShown = 20; // a box taller than the screen helps nobody
    QString list;
    for (std::size_t i = 0; i < leftOut.size() && i < kShown; ++i)
        list += QLatin1Char('\n') + QString::fromStdString(shownKeyPath(leftOut[i]));
    if (leftOut.size() > kShown) list += QStringLiteral("\n... and %1 more").arg(leftOut.size() - kShown);
    QMessageBox::warning(parent, QStringLiteral("Quern"),
        QStringLiteral("These keys %1 and were left out of the file with all below them:\n%2").arg(why, list));
}

// The two file types of the dialog. REGEDIT4 comes first, the one chosen at the start: it is the
// window every reader takes. The Unicode window keeps every value whole.
const QString kRegedit4Filter = QStringLiteral("Registry file, REGEDIT4 (*.reg)");
const QString kUnicodeFilter = QStringLiteral("Unicode registry file, Version 5.00 (*.reg)");

} // namespace

void runRegExport(CommandWindow& window, const TTreeSel& selection) {
    // What to export follows the focus the command was given in, before any dialog takes it.
    const bool gridFocused = window.focusedPane() == CommandWindow::Pane::Grid;
    const int row = window.focusedGridRow();
    QString chosenType;
    const QString file = window.sharedFileDialogs().chooseSaveFile(QStringLiteral("Save selected keys as .REG..."),
        kRegedit4Filter + QStringLiteral(";;") + kUnicodeFilter, QStringLiteral("reg"), &chosenType);
    if (file.isEmpty()) return;
    const RegFileForm fileForm = chosenType == kUnicodeFilter ? RegFileForm::Unicode : RegFileForm::Regedit4;

    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    const std::vector<ValueRow> rows = window.valueRows(); // a copy: the window is painted meanwhile
    RegFileExport exporter(window.store());
    JobProgress progress(window.widget(), QStringLiteral("Exporting"));
    exporter.progress = [&](std::uint64_t keys, std::uint64_t values) {
        return progress.update(QStringLiteral("Exported %1 keys and %2 values so far...").arg(keys).arg(values));
    };
    reg::Status written = exporter.OpenRegFile(QFile::encodeName(file).toStdString(), fileForm);
    if (written.ok()) {
        KeyTreeItem* node = window.currentNode();
        if (!selection.Entries().empty() || !node) {
            for (const auto& entry : collectExportEntries(selection.Entries()))
                exporter.ExportEntry(entry, &selection);
        } else {
            const std::string key = keyPathOfNode(node);
            if (gridFocused && row >= 0 && row < static_cast<int>(rows.size()))
                exporter.ExportTree(key + std::string(kValueSeparator) + rows[static_cast<std::size_t>(row)].name);
            else if (gridFocused)
                exporter.ExportTree(key); // the blank row of a key without values: the key alone
            else
                exporter.ExportTree(key + "\\");
        }
        written = exporter.CloseRegFile();
    }
    QApplication::restoreOverrideCursor();
    // Nothing of a failed export is left behind, and an earlier file of that name is as it was.
    if (progress.cancelled()) {
        window.showStatusMessage(QString::fromLatin1(kExportCancelled));
        return;
    }
    if (!written.ok()) {
        QMessageBox::critical(window.widget(), QStringLiteral("Quern"), QString::fromStdString(written.message()));
        return;
    }
    window.showStatusMessage(QStringLiteral("Exported %1 keys and %2 values to %3")
                                 .arg(exporter.keysWritten())
                                 .arg(exporter.valuesWritten())
                                 .arg(file));
    reportLeftOutKeys(window.widget(), exporter.leftOutKeys());
    reportLeftOutKeys(window.widget(), exporter.unreachableKeys(),
        QStringLiteral("are in the hive file under names no path can reach (the hive is read-only for it),"));
    if (exporter.writtenInPlace())
        QMessageBox::warning(window.widget(), QStringLiteral("Quern"),
            QStringLiteral("%1 was written in place: its folder cannot be written, so a crash during the export "
                           "could have left it incomplete.")
                .arg(file));
}

} // namespace quern
