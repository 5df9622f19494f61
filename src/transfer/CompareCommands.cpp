#include "transfer/CompareCommands.h"

#include "export/RegExport.h"
#include "import/RegFileReader.h"
#include "registry/RegU.h"
#include "store/MemoryRegistry.h"
#include "window/CommandWindow.h"
#include "window/FileDialogs.h"
#include "window/KeyTreeItem.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace quern {

namespace {

CompareSource thisRegistry(CommandWindow& window) {
    return { QStringLiteral("This registry"), &window.store(), nullptr };
}

} // namespace

void runCompare(CommandWindow& window, const CompareHost& host) {
    CompareWindow compare(host, window.widget());
    const QString key = shownText(keyPathOfNode(window.currentNode()));
    compare.setSide(true, thisRegistry(window), key);
    compare.setSide(false, thisRegistry(window), key);
    compare.exec();
}

void takeSnapshot(CommandWindow& window, bool key) {
    const std::string keyPath = keyPathOfNode(window.currentNode());
    if (key && keyPath.find('\\') == std::string::npos && keyPath.empty()) {
        window.showStatusMessage(QStringLiteral("Choose the key to take a snapshot of."));
        return;
    }
    const QString when = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    QFileDialog dialog(window.widget(), QStringLiteral("Take snapshot"),
        QDir::home().filePath(QStringLiteral("Snapshot %1.reg").arg(when)), QStringLiteral("Registry file (*.reg)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    const QString file = window.sharedFileDialogs().run(dialog);
    if (file.isEmpty()) return;
    RegFileExport exporter(window.store());
    reg::Status status = exporter.OpenRegFile(QFile::encodeName(file).toStdString(), RegFileForm::Unicode);
    if (status.ok()) {
        if (key)
            exporter.ExportTree(keyPath + "\\");
        else
            for (const char* root : { "HKEY_LOCAL_MACHINE\\", "HKEY_USERS\\" })
                exporter.ExportTree(root);
        status = exporter.CloseRegFile();
    }
    if (!status.ok()) {
        QMessageBox::warning(window.widget(), QStringLiteral("Take snapshot"),
            QStringLiteral("The snapshot could not be written:\n%1").arg(QString::fromStdString(status.message())));
        return;
    }
    window.showStatusMessage(QStringLiteral("Snapshot of %1 (%2 keys, %3 values) written to %4")
                                 .arg(key ? shownText(keyPath) : QStringLiteral("the registry"))
                                 .arg(exporter.keysWritten())
                                 .arg(exporter.valuesWritten())
                                 .arg(file));
}

void compareWithSnapshot(CommandWindow& window, const CompareHost& host) {
    QFileDialog dialog(window.widget(), QStringLiteral("Compare with snapshot"), QDir::homePath(),
        QStringLiteral("Registry file (*.reg);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString file = window.sharedFileDialogs().run(dialog);
    if (file.isEmpty()) return;
    auto snapshot = std::make_shared<reg::MemoryRegistry>();
    const std::string path = QFile::encodeName(file).toStdString();
    RegFileContent content;
    reg::Status read = readRegFile(path, content);
    if (read.ok()) read = applyImport(*snapshot, content);
    if (!read.ok()) {
        QMessageBox::warning(window.widget(), QStringLiteral("Compare with snapshot"),
            QStringLiteral("%1 cannot be read:\n%2").arg(file, QString::fromStdString(read.message())));
        return;
    }
    // A snapshot of one key is compared at that key; one of the whole registry, whole.
    QString key;
    if (!content.keys.empty() && !content.keys.front().path.empty()) key = shownText(content.keys.front().fullPath());
    CompareWindow compare(host, window.widget());
    compare.setSide(true, { QFileInfo(file).fileName(), snapshot.get(), snapshot }, key);
    compare.setSide(false, thisRegistry(window), key);
    compare.compare();
    compare.exec();
}

} // namespace quern
