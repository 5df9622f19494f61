#include "shell/QuernSettings.h"

#include "shell/QuernU.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>

#include <numeric>

namespace quern {

namespace {

std::string& chosenFileName() {
    static std::string name;
    return name;
}

ScreenRect toScreenRect(const QRect& rect) {
    return { rect.x(), rect.y(), rect.width(), rect.height() };
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
    if (stored.placement) setWindowPlacement(form, *stored.placement);
}

void writeSettings(TMainForm& form, QuernIniFile& settings) {
    SettingsToStore values;
    values.treeWidth = form.Splitter->sizes().value(0, form.TreeView->width());
    values.nameColumnWidth = form.KeyGrid->columnWidth(0);
    values.pathText = form.PathEdit->text().toStdString();
    values.binViewMode = form.BinViewMode;
    values.dwordViewMode = form.DWViewMode;
    values.placement = windowPlacement(form);
    writeSettingsLines(settings, values);
}

WindowPlacement windowPlacement(const QWidget& window) {
    QRect normal = window.normalGeometry();
    if (!normal.isValid()) normal = window.geometry();
    WindowPlacement placement { normal.x(), normal.y(), normal.width(), normal.height(), kShowNormal };
    if (window.isMinimized())
        placement.showCommand = kShowMinimized;
    else if (window.isMaximized())
        placement.showCommand = kShowMaximized;
    return placement;
}

void setWindowPlacement(QWidget& window, const WindowPlacement& placement) {
    WindowPlacement wanted = placement;
    if (wanted.width < 1 || wanted.height < 1) {
        wanted.width = window.width();
        wanted.height = window.height();
    }
    std::vector<ScreenRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.push_back(toScreenRect(screen->geometry()));
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        wanted = placeOnScreens(wanted, screens, toScreenRect(primary->availableGeometry()));
    // The rectangle first: a window made maximised afterwards keeps it as the one to restore to.
    window.setWindowState(Qt::WindowNoState);
    window.setGeometry(wanted.left, wanted.top, wanted.width, wanted.height);
    if (wanted.showCommand == kShowMaximized)
        window.setWindowState(Qt::WindowMaximized);
    else if (wanted.showCommand == kShowMinimized)
        window.setWindowState(Qt::WindowMinimized);
}

void keepOnScreen(QWidget& window) {
    const QRect frame = window.frameGeometry();
    const QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen) screen = window.screen();
    if (!screen) return;
    const ScreenRect area = toScreenRect(screen->availableGeometry());
    const ScreenRect fitted = fitOnScreen(toScreenRect(frame), area);
    // The frame's edges are the window manager's; what is left for the window is the rest.
    const QMargins edges(window.geometry().left() - frame.left(), window.geometry().top() - frame.top(),
        frame.right() - window.geometry().right(), frame.bottom() - window.geometry().bottom());
    if (fitted.width != frame.width() || fitted.height != frame.height())
        window.resize(fitted.width - edges.left() - edges.right(), fitted.height - edges.top() - edges.bottom());
    window.move(fitted.left, fitted.top);
}

} // namespace quern
