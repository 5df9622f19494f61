#include "shell/CommandGuard.h"

#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <new>

namespace quern {

QuernApplication::QuernApplication(int& argc, char** argv)
    : QApplication(argc, argv) {
}

bool QuernApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
        reportCommandError(QStringLiteral("Not enough memory to finish the command; nothing more was done."));
    } catch (const std::exception& error) {
        reportCommandError(QString::fromUtf8(error.what()));
    } catch (...) {
        reportCommandError(QStringLiteral("The command failed for a reason Quern does not know."));
    }
    return false;
}

void reportCommandError(const QString& text) {
    // The box runs an event loop of its own; a command that fails again inside it is told on the
    // terminal rather than stacking boxes.
    static bool showing = false;
    if (showing) {
        std::fprintf(stderr, "quern: %s\n", text.toLocal8Bit().constData());
        return;
    }
    showing = true;
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Quern"), text);
    showing = false;
}

} // namespace quern
