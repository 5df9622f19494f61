#pragma once

#include "window/QuernIniFile.h"

class QWidget;

namespace quern {

// Where a top-level window stands on the screens: the main window keeps it in the settings, and
// every dialog that opens at a fixed place is kept on the screen by it.

// A top-level window's placement: its restored rectangle and whether it is maximised or minimised.
[[nodiscard]] WindowPlacement windowPlacement(const QWidget& window);
// Gives a top-level window the placement, rectangle and show state together, so a maximised window
// restores to the stored rectangle. A rectangle that lies off every screen is moved onto the
// primary screen; one without area keeps the window's own size.
void setWindowPlacement(QWidget& window, const WindowPlacement& placement);

// Moves a top-level window, frame included, wholly onto the screen that holds its centre (or the
// nearest one), made no larger than that screen's free area.
void keepOnScreen(QWidget& window);

} // namespace quern
