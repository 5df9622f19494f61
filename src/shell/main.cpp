#include "QuernVersion.h"
#include "import/ImportCommand.h"
#include "shell/CommandGuard.h"
#include "shell/HiveCommands.h"
#include "shell/QuernProgramIcon.h"
#include "shell/QuernU.h"
#include "shell/RegistryTabs.h"
#include "window/ProgramArgs.h"
#include "wine/WinePrefixStore.h"

#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

bool haveDisplay() {
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" }) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

std::vector<std::string> argumentsAfterProgram(const QStringList& arguments) {
    std::vector<std::string> args;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    return args;
}

// --help and --version print and exit; anything else not understood says so and exits 2.
int answerTextOnly(const quern::ProgramArgs& args) {
    if (!args.error.empty()) {
        std::fprintf(stderr, "quern: %s\nTry 'quern --help' for more information.\n", args.error.c_str());
        return 2;
    }
    if (args.help) std::fputs(quern::programHelpText().c_str(), stdout);
    if (args.version) std::printf("quern %s\n", quern::kQuernVersion);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Asked before a display is needed: a terminal without one may ask for the help.
    const quern::ProgramArgs textOnly
        = quern::textOnlyArgs(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (textOnly.help || textOnly.version) return answerTextOnly(textOnly);
    if (!haveDisplay()) {
        std::fputs("Quern is a desktop program and needs a display, but neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                   "Run it in a desktop session, or on a machine without one under a virtual display:\n"
                   "    xvfb-run -a scripts/run.sh\n",
            stderr);
        return 1;
    }
    quern::QuernApplication app(argc, argv);
    // Qt has taken its own options (-style, -platform, ...) out by now.
    const quern::ProgramArgs args = quern::parseProgramArgs(argumentsAfterProgram(QApplication::arguments()));
    if (!args.error.empty()) return answerTextOnly(args);
    QApplication::setApplicationName(QStringLiteral("Quern"));
    // The icon of every window, and the desktop entry that names the same icon.
    QApplication::setWindowIcon(quern::quernProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("quern"));
    // The registry the environment chooses, unless a prefix folder or a hive file was named.
    const quern::reg::RegistryChoice choice = quern::reg::chooseRegistry();
    quern::discover::RegistryPlace place { quern::discover::RegistryPlace::Kind::Prefix, choice.prefixDir, {} };
    std::unique_ptr<quern::reg::RegStore> store;
    QString regFile;
    QStringList problems;
    if (!args.target.empty()) {
        quern::discover::RegistryPlace named;
        std::error_code error;
        if (const quern::reg::Status found = quern::discover::placeOfPath(args.target, named); found.ok()) {
            std::string problem;
            store = quern::discover::openPlace(named, problem);
            if (store)
                place = std::move(named);
            else
                problems << QString::fromStdString(problem);
        } else if (std::filesystem::is_directory(args.target, error)) {
            problems << QString::fromStdString(found.message());
        } else {
            regFile = QString::fromStdString(args.target); // a .reg file, as a file manager opens one
        }
    }
    if (!store) store = quern::reg::openChosenRegistry();
    // quern --hive NAME=FILE loads a hive before the window shows the tree.
    const QStringList hiveProblems = quern::mountStartupHives(*store, QApplication::arguments());
    quern::RegistryTabs window;
    window.start(std::move(store), place);
    window.show();
    quern::TMainForm& form = *window.currentForm();
    form.showNewLoadMessages();
    for (const QString& problem : problems)
        QMessageBox::warning(&form, QStringLiteral("Open registry"), problem);
    for (const QString& problem : hiveProblems)
        QMessageBox::warning(&form, QStringLiteral("Cannot load hive"), problem);
    // quern FILE.reg: its preview over the registry just shown.
    if (!regFile.isEmpty()) QTimer::singleShot(0, &form, [&form, regFile] { quern::importRegFile(form, regFile); });
    return app.exec();
}
