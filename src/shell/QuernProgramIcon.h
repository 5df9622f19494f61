#pragma once

#include <QIcon>
#include <QImage>

namespace quern {

// The program's icon, a quern seen from above as the about picture shows it: the bed stone, the
// runner stone on it with its furrows and eye, and the peg that turns it. Drawn at any size in
// pixels, on a transparent ground; it needs no running application, so the build can render the
// installed PNGs with the same code that draws the window's icon.
[[nodiscard]] QImage quernProgramImage(int size);

// The icon for the windows' title bars and task bars, drawn at the sizes they ask for most.
[[nodiscard]] QIcon quernProgramIcon();

} // namespace quern
