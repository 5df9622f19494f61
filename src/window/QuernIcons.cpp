#include "window/QuernIcons.h"

#include <QPainter>
#include <QPixmap>

#include <array>

namespace quern {

namespace {

// Letters and digits as 4 by 7 pixel patterns, one row a string, so that the value icons stay
// sharp at 16 pixels whatever fonts the machine has.
using Glyph = std::array<const char*, 7>;
using SmallGlyph = std::array<const char*, 5>;
constexpr SmallGlyph kSmall0 { "###", "# #", "# #", "# #", "###" };
constexpr SmallGlyph kSmall1 { " # ", "## ", " # ", " # ", "###" };
constexpr Glyph kGlyphA { "    ", "    ", ".## ", "   #", ".###", "#  #", ".###" };
constexpr Glyph kGlyphB { "#   ", "#   ", "###.", "#  #", "#  #", "#  #", "###." };
constexpr Glyph kGlyph0 { ".##.", "#  #", "#  #", "#  #", "#  #", "#  #", ".##." };
constexpr Glyph kGlyph1 { " #  ", "##  ", " #  ", " #  ", " #  ", " #  ", "### " };
constexpr Glyph kGlyph2 { ".##.", "#  #", "   #", "  #.", " #  ", "#   ", "####" };

template<typename Rows> void drawGlyph(QPainter& p, const Rows& glyph, int x, int y, const QColor& colour) {
    for (std::size_t row = 0; row < glyph.size(); ++row)
        for (int col = 0; glyph[row][col] != '\0'; ++col) {
            const char c = glyph[row][col];
            const int rowY = static_cast<int>(row);
            if (c == '#')
                p.fillRect(x + col, y + rowY, 1, 1, colour);
            else if (c == '.')
                p.fillRect(x + col, y + rowY, 1, 1, QColor(colour.red(), colour.green(), colour.blue(), 110));
        }
}

// Draws on a 16 by 16 grid; the 32-pixel picture is the same drawing at twice the scale.
void drawFolder(QPainter& p) {
    const QColor edge(0x9a, 0x74, 0x00);
    p.setPen(edge);
    p.setBrush(QColor(0xe8, 0xc0, 0x40));
    p.drawRect(QRectF(1.5, 3.5, 5, 2)); // the tab
    p.setBrush(QColor(0xff, 0xd8, 0x50));
    p.drawRect(QRectF(1.5, 5.5, 13, 8));
    p.setPen(QColor(0xff, 0xf0, 0xa8));
    p.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
}

void drawComputer(QPainter& p) {
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(QColor(0xc8, 0xc8, 0xc8));
    p.drawRect(QRectF(1.5, 1.5, 13, 10)); // the monitor
    p.setBrush(QColor(0x10, 0x60, 0xb0));
    p.drawRect(QRectF(3.5, 3.5, 9, 6)); // its screen
    p.setPen(QColor(0x80, 0xc0, 0xff));
    p.drawLine(QPointF(4.5, 4.5), QPointF(7.5, 4.5));
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(QColor(0xa8, 0xa8, 0xa8));
    p.drawRect(QRectF(6.5, 11.5, 3, 1));
    p.drawRect(QRectF(3.5, 12.5, 9, 2)); // the stand
}

void drawValueIcon(QPainter& p, QuernIcon which) {
    const QColor red(0xc0, 0x10, 0x10);
    const QColor blue(0x10, 0x30, 0xc0);
    switch (which) {
    case QuernIcon::Strings:
        drawGlyph(p, kGlyphA, 3, 5, red);
        drawGlyph(p, kGlyphB, 9, 5, red);
        break;
    case QuernIcon::Dword:
        drawGlyph(p, kGlyph1, 3, 5, red);
        drawGlyph(p, kGlyph2, 9, 5, red);
        break;
    case QuernIcon::Binary:
        // Two rows of three small digits: 011 over 110.
        drawGlyph(p, kSmall0, 2, 2, blue);
        drawGlyph(p, kSmall1, 6, 2, blue);
        drawGlyph(p, kSmall1, 10, 2, blue);
        drawGlyph(p, kSmall1, 2, 9, blue);
        drawGlyph(p, kSmall1, 6, 9, blue);
        drawGlyph(p, kSmall0, 10, 9, blue);
        break;
    default:
        break;
    }
}

QPixmap picture(QuernIcon which, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.scale(size / 16.0, size / 16.0);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (which) {
    case QuernIcon::Folder:
        drawFolder(p);
        break;
    case QuernIcon::Computer:
        drawComputer(p);
        break;
    default:
        drawValueIcon(p, which);
    }
    return pixmap;
}

} // namespace

QIcon quernIcon(QuernIcon which) {
    QIcon icon;
    icon.addPixmap(picture(which, 16));
    icon.addPixmap(picture(which, 32));
    return icon;
}

} // namespace quern
