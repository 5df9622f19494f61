// Renders the program's icon as PNG files of the hicolor icon theme, at build time:
//   quern_render_icons OUTPUT_DIR SIZE...
// writes OUTPUT_DIR/hicolor/SIZExSIZE/apps/quern.png for every size. The icon is drawn by the code
// that draws the window's, so the two never differ.
#include "shell/QuernProgramIcon.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: quern_render_icons OUTPUT_DIR SIZE...\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString folder = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        const QString file = out.filePath(folder + QStringLiteral("/quern.png"));
        if (size <= 0 || !out.mkpath(folder) || !quern::quernProgramImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "quern_render_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
