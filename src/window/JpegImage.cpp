#include "window/JpegImage.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

// A resource file in a static library must be pulled in by name.
static void initialisePictures() {
    Q_INIT_RESOURCE(pictures);
}

namespace quern {

namespace {

// libjpeg ends the process on an error unless told otherwise: this manager jumps back instead.
// Warnings count as errors, since they mean damaged data that decodes to grey or garbage.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf back;
};

[[noreturn]] void jumpBack(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->back, 1);
}

void warningOrTrace(j_common_ptr info, int level) {
    if (level < 0) jumpBack(info);
}

void noOutput(j_common_ptr) {
}

// The steps that call libjpeg keep no C++ object of their own, so a jump out of them skips no
// destructor. Each answers false when libjpeg gave up.
bool startDecoding(jpeg_decompress_struct* info, ErrorManager* errors, const QByteArray* data) {
    if (setjmp(errors->back)) return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(
        info, reinterpret_cast<const unsigned char*>(data->constData()), static_cast<unsigned long>(data->size()));
    jpeg_read_header(info, TRUE);
    switch (info->jpeg_color_space) {
    case JCS_GRAYSCALE:
        info->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        info->out_color_space = JCS_CMYK;
        break;
    default:
        info->out_color_space = JCS_RGB;
        break;
    }
    jpeg_start_decompress(info);
    return true;
}

bool readRows(jpeg_decompress_struct* info, ErrorManager* errors, unsigned char* bits, qsizetype stride) {
    if (setjmp(errors->back)) return false;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = bits + stride * info->output_scanline;
        jpeg_read_scanlines(info, &row, 1);
    }
    jpeg_finish_decompress(info);
    return true;
}

// CMYK JPEGs are written inverted by most programs (those that mark them with an Adobe segment).
QImage fromCmyk(const QImage& cmyk, int width, int height, bool inverted) {
    QImage rgb(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        const uchar* in = cmyk.constScanLine(y);
        uchar* out = rgb.scanLine(y);
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            int c = in[0], m = in[1], ye = in[2], k = in[3];
            if (!inverted) c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
            out[0] = static_cast<uchar>(c * k / 255);
            out[1] = static_cast<uchar>(m * k / 255);
            out[2] = static_cast<uchar>(ye * k / 255);
        }
    }
    return rgb;
}

constexpr JDIMENSION kLargestSide = 16384; // far above any picture of the program

} // namespace

QImage decodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) return {};
    jpeg_decompress_struct info {};
    ErrorManager errors {};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpBack;
    errors.base.emit_message = warningOrTrace;
    errors.base.output_message = noOutput;

    QImage image;
    if (startDecoding(&info, &errors, &data) && info.output_width <= kLargestSide
        && info.output_height <= kLargestSide) {
        const int width = static_cast<int>(info.output_width);
        const int height = static_cast<int>(info.output_height);
        const QImage::Format format = info.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8
            : info.out_color_space == JCS_CMYK                              ? QImage::Format_RGBX8888 // 4 bytes a pixel
                                                                            : QImage::Format_RGB888;
        image = QImage(width, height, format);
        if (image.isNull() || !readRows(&info, &errors, image.bits(), image.bytesPerLine()))
            image = QImage();
        else if (info.out_color_space == JCS_CMYK)
            image = fromCmyk(image, width, height, info.saw_Adobe_marker);
    }
    jpeg_destroy_decompress(&info);
    return image;
}

QImage quernPicture(QuernPicture which) {
    initialisePictures();
    QFile file(
        which == QuernPicture::About ? QStringLiteral(":/pictures/about.jpg") : QStringLiteral(":/pictures/wait.jpg"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return decodeJpeg(file.readAll());
}

} // namespace quern
