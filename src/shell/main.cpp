#include "shell/CommandGuard.h"
#include "shell/HiveCommands.h"
#include "shell/QuernProgramIcon.h"
#include "shell/QuernU.h"
#include "wine/WinePrefixStore.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace {

bool haveDisplay() {
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" }) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!haveDisplay()) {
        std::fputs("Quern is a desktop program and needs a display, but neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                   "Run it in a desktop session, or on a machine without one under a virtual display:\n"
                   "    xvfb-run -a scripts/run.sh\n",
            stderr);
        return 1;
    }
    quern::QuernApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quern"));
    // The icon of every window, and the desktop entry that names the same icon.
    QApplication::setWindowIcon(quern::quernProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("quern"));
    auto store = quern::reg::openChosenRegistry();
    // quern --hive NAME=FILE loads a hive before the window shows the tree.
    const QStringList hiveProblems = quern::mountStartupHives(*store, QApplication::arguments());
    quern::TMainForm form(*store);
    form.show();
    form.showNewLoadMessages();
    for (const QString& problem : hiveProblems)
        QMessageBox::warning(&form, QStringLiteral("Cannot load hive"), problem);
    return app.exec();
}
