#pragma once

#include <QApplication>

namespace quern {

// The program's application object. Every command runs inside the delivery of some event (a key,
// a click, a timer), so this is the one place where an error that a command raises and does not
// handle itself is caught: the user is told what went wrong, in a message box over the active
// window, and the program goes on. Without it, an exception that reaches the event loop ends the
// program, and the user's unsaved selection with it.
class QuernApplication final : public QApplication {
    Q_OBJECT

public:
    QuernApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows what a command's failure says, as the guard does; for commands that catch their own errors.
void reportCommandError(const QString& text);

} // namespace quern
