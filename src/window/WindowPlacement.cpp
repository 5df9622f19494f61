#include "window/WindowPlacement.h"

#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>

namespace quern {

namespace {

ScreenRect toScreenRect(const QRect& rect) {
    return { rect.x(), rect.y(), rect.width(), rect.height() };
}

} // namespace

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
