#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace quern {

// Decodes a JPEG (baseline or progressive, grey, colour or CMYK) with libjpeg into an image of
// 24-bit colour or 8-bit grey. Data that is not a JPEG, is cut short, or holds damaged parts gives
// the null image: a half-decoded picture would show grey bands where the damage is.
[[nodiscard]] QImage decodeJpeg(const QByteArray& data);

// The JPEG pictures built into the program.
enum class QuernPicture {
    About, // the about dialog's, 360 by 220
    Wait, // the search's wait window's, 200 by 85
};

// The picture decoded, or the null image if it does not decode.
[[nodiscard]] QImage quernPicture(QuernPicture which);

} // namespace quern
