#include "shell/QuernSettings.h"

#include "shell/QuernU.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>

#include <filesystem>
#include <numeric>

namespace quern {

namespace {

std::string& chosenFileName() {
    static std::string name;
    return name;
}

void applyTreeWidth(QSplitter& splitter, int width) {
    // The splitter owns the tree's width; the grid takes what is left of the splitter.
    const QList<int> sizes = splitter.sizes();
    const int total = std::accumulate(sizes.begin(), sizes.end(), 0);
    splitter.setSizes({ std::max(width, 1), std::max(total - width, 1) });
}

} // namespace

std::string quernSettingsFileName() {
    if (!chosenFileName().empty()) return chosenFileName();
    return settingsFilePath(QCoreApplication::applicationDirPath().toStdString());
}

std::string quernSettingsFileToRead() {
    if (!chosenFileName().empty()) return chosenFileName();
    return settingsFileToRead(quernSettingsFileName(), QCoreApplication::applicationDirPath().toStdString());
}

std::string quernPreferencesFileName() {
    return (std::filesystem::path(quernSettingsFileName()).parent_path() / kPreferencesFileName).string();
}

void setQuernSettingsFileName(std::string fileName) {
    chosenFileName() = std::move(fileName);
}

void readSettings(TMainForm& form, QuernIniFile& settings) {
    const StoredSettings stored = readSettingsLines(settings);
    if (stored.treeWidth) applyTreeWidth(*form.Splitter, *stored.treeWidth);
    if (stored.nameColumnWidth) form.KeyGrid->setColumnWidth(0, *stored.nameColumnWidth);
    if (stored.pathText) form.PathEdit->setText(QString::fromStdString(*stored.pathText));
    if (stored.binViewMode) form.BinViewMode = *stored.binViewMode;
    if (stored.dwordViewMode) form.DWViewMode = *stored.dwordViewMode;
    // A tab's form places the window it is in, and only the first tab does.
    if (stored.placement && form.m_options.placesWindow) setWindowPlacement(*form.window(), *stored.placement);
}

void writeSettings(TMainForm& form, QuernIniFile& settings) {
    SettingsToStore values;
    values.treeWidth = form.Splitter->sizes().value(0, form.TreeView->width());
    values.nameColumnWidth = form.KeyGrid->columnWidth(0);
    values.pathText = form.PathEdit->text().toStdString();
    values.binViewMode = form.BinViewMode;
    values.dwordViewMode = form.DWViewMode;
    values.placement = windowPlacement(*form.window());
    writeSettingsLines(settings, values);
}

} // namespace quern
