#include "shell/QuernProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace quern {

namespace {

// The colours of the about picture's quern, so the icon and the picture show the same mill.
const QColor kBedStone(0x8d, 0x84, 0x77);
const QColor kBedEdge(0x5e, 0x57, 0x4d);
const QColor kRunnerLight(0xc4, 0xbb, 0xad);
const QColor kRunner(0xa7, 0x9d, 0x8f);
const QColor kRunnerEdge(0x6e, 0x66, 0x5b);
const QColor kFurrow(0x7b, 0x72, 0x66);
const QColor kEye(0x5e, 0x57, 0x4d);
const QColor kEyeEdge(0x3f, 0x3a, 0x33);
const QColor kPeg(0xb0, 0x7a, 0x3c);
const QColor kPegEdge(0x6b, 0x4a, 0x24);

// Draws on a 64 by 64 grid, scaled to the size asked for.
void drawQuern(QPainter& p, int size) {
    const QPointF centre(32, 32);
    // Lines keep at least about one pixel at small sizes, where thinner ones would vanish.
    const double pixel = 64.0 / size;
    auto pen = [&](const QColor& colour, double width) {
        QPen result(colour, std::max(width, pixel));
        result.setCapStyle(Qt::RoundCap);
        return result;
    };

    p.setPen(pen(kBedEdge, 2));
    p.setBrush(kBedStone);
    p.drawEllipse(centre, 30, 30);

    QRadialGradient light(QPointF(24, 22), 34);
    light.setColorAt(0, kRunnerLight);
    light.setColorAt(1, kRunner);
    p.setPen(pen(kRunnerEdge, 1.5));
    p.setBrush(light);
    p.drawEllipse(centre, 24.5, 24.5);

    // Five furrows from the eye to the rim; at the smallest sizes they would only blur the stone.
    if (size >= 22) {
        p.setPen(pen(kFurrow, 1.4));
        for (int i = 0; i < 5; ++i) {
            const double angle = -std::numbers::pi / 2 + i * 2 * std::numbers::pi / 5;
            const QPointF direction(std::cos(angle), std::sin(angle));
            p.drawLine(centre + direction * 8.5, centre + direction * 22);
        }
    }

    p.setPen(pen(kEyeEdge, 1.2));
    p.setBrush(kEye);
    p.drawEllipse(centre, 6.5, 6.5);

    // The peg stands on the runner between two furrows, up and to the right, as in the picture.
    p.setPen(pen(kPegEdge, 1.5));
    p.setBrush(kPeg);
    p.drawRoundedRect(QRectF(38.5, 14.5, 9.5, 9.5), 2.5, 2.5);
}

} // namespace

QImage quernProgramImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    drawQuern(p, size);
    p.end();
    return image;
}

QIcon quernProgramIcon() {
    QIcon icon;
    for (const int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        icon.addPixmap(QPixmap::fromImage(quernProgramImage(size)));
    return icon;
}

} // namespace quern
