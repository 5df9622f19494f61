#include "window/PaneColours.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace quern {

namespace {

// Text of the panes and the header must read as well as body text should (4.5); the selection's
// marks, which are bold or differ in hue as well, as well as large text should (3).
constexpr double kTextContrast = 4.5;
constexpr double kMarkContrast = 3.0;

double luminance(const QColor& colour) {
    auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

QColor blend(const QColor& from, const QColor& to, double part) {
    auto channel = [part](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * part)); };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()), channel(from.blue(), to.blue()));
}

// The colour itself where it reads well enough on background; else the least step of it toward
// toward (a colour that reads well there) that does, so that a mark keeps as much of its own hue
// as it can.
QColor readableOn(const QColor& colour, const QColor& background, const QColor& toward, double wanted) {
    for (int step = 0; step <= 20; ++step) {
        const QColor tried = blend(colour, toward, step / 20.0);
        if (contrastRatio(tried, background) >= wanted) return tried;
    }
    return toward;
}

// Black or white, whichever reads better on background: where the palette's own text colour does
// not read there either, the marks still can.
QColor extremeOn(const QColor& background) {
    return contrastRatio(Qt::black, background) >= contrastRatio(Qt::white, background) ? QColor(Qt::black)
                                                                                        : QColor(Qt::white);
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

PaneColours classicPaneColours(const QPalette& desktop) {
    PaneColours colours;
    colours.base = Qt::white;
    colours.text = Qt::black;
    colours.highlight = desktop.color(QPalette::Active, QPalette::Highlight);
    colours.highlightedText = Qt::white;
    colours.headerFace = QColor(0xc0, 0xc0, 0xc0);
    colours.headerText = Qt::black;
    colours.headerLight = Qt::white;
    colours.headerShadow = QColor(0x80, 0x80, 0x80);
    colours.greyText = colours.greyHighlightedText = QColor(0x80, 0x80, 0x80);
    colours.aloneText = QColor(0, 0, 255);
    colours.aloneHighlightedText = colours.withSubkeysHighlightedText = QColor(255, 255, 0);
    return colours;
}

PaneColours desktopPaneColours(const QPalette& desktop) {
    PaneColours colours;
    colours.base = desktop.color(QPalette::Active, QPalette::Base);
    colours.highlight = desktop.color(QPalette::Active, QPalette::Highlight);
    colours.headerFace = desktop.color(QPalette::Active, QPalette::Button);
    colours.headerLight = desktop.color(QPalette::Active, QPalette::Light);
    colours.headerShadow = desktop.color(QPalette::Active, QPalette::Dark);
    // A palette's own text colours are kept unless they do not read on their background at all.
    const QColor onBase = extremeOn(colours.base);
    const QColor onHighlight = extremeOn(colours.highlight);
    colours.text = readableOn(desktop.color(QPalette::Active, QPalette::Text), colours.base, onBase, kTextContrast);
    colours.highlightedText = readableOn(
        desktop.color(QPalette::Active, QPalette::HighlightedText), colours.highlight, onHighlight, kTextContrast);
    colours.headerText = readableOn(desktop.color(QPalette::Active, QPalette::ButtonText), colours.headerFace,
        extremeOn(colours.headerFace), kTextContrast);
    // Grey: halfway between the text and the background, as the classic grey is on white.
    colours.greyText = readableOn(blend(colours.text, colours.base, 0.5), colours.base, onBase, kMarkContrast);
    colours.greyHighlightedText = readableOn(
        blend(colours.highlightedText, colours.highlight, 0.5), colours.highlight, onHighlight, kMarkContrast);
    colours.aloneText = readableOn(QColor(0, 0, 255), colours.base, onBase, kTextContrast);
    colours.aloneHighlightedText = colours.withSubkeysHighlightedText
        = readableOn(QColor(255, 255, 0), colours.highlight, onHighlight, kMarkContrast);
    return colours;
}

} // namespace quern
