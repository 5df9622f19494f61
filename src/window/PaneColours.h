#pragma once

#include <QColor>

class QPalette;

namespace quern {

// The colours the key tree, the value grid with its header, and the memo are drawn in. By default
// they are the program's own fixed ones (white panes, black text, silver raised headers, blue and
// yellow marks of the selection), whatever the desktop looks like. With View > Desktop colours they
// come from the desktop's palette instead, a dark one giving dark panes, and every mark of the
// selection is moved just far enough toward the pane's text colour to stay readable on its background.
struct PaneColours {
    QColor base; // the panes' background
    QColor text;
    QColor highlight; // the tree's current item, the grid's highlighted rows
    QColor highlightedText;
    QColor headerFace; // the grid's raised header: face, text, lit and shaded edges
    QColor headerText;
    QColor headerLight;
    QColor headerShadow;
    QColor greyText; // a key with selected keys below it
    QColor greyHighlightedText;
    QColor aloneText; // a key selected without its subkeys: blue
    QColor aloneHighlightedText; // yellow
    QColor withSubkeysHighlightedText; // a key selected with its subkeys, highlighted: yellow
};

// The fixed colours; only the highlight is the desktop's, as the grid has always drawn it.
[[nodiscard]] PaneColours classicPaneColours(const QPalette& desktop);
// The desktop palette's colours, with the selection's marks kept readable.
[[nodiscard]] PaneColours desktopPaneColours(const QPalette& desktop);

// How far apart two colours are for the eye, from 1 (the same) to 21 (black and white), by the
// relative luminance of each as the web's accessibility guidelines define it.
[[nodiscard]] double contrastRatio(const QColor& a, const QColor& b);

} // namespace quern
