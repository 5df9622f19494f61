#include "shell/CommandGuard.h"
#include "WindowTestSupport.h"
#include "registry/RegAccessor.h"

#include <QPushButton>
#include <QTest>

#include <new>
#include <stdexcept>

using namespace quern;

// A command that raises, run from a real click through the program's own application object:
// the user reads why, and the program is still there to take the next command.
class CommandGuardTest : public QObject {
    Q_OBJECT

private slots:
    void aRaisingCommandIsReportedAndTheProgramGoesOn() {
        QPushButton button(QStringLiteral("Go"));
        button.show();
        int runs = 0;
        std::function<void()> raise;
        connect(&button, &QPushButton::clicked, [&] {
            ++runs;
            raise();
        });
        const struct {
            std::function<void()> raise;
            QString shown;
        } cases[] = {
            { [] { throw reg::RegError("Failed to set data for 'x': user.reg was changed on disk"); },
                QStringLiteral("Failed to set data for 'x': user.reg was changed on disk") },
            { [] { throw std::bad_alloc(); },
                QStringLiteral("Not enough memory to finish the command; nothing more was done.") },
            { [] { throw 42; }, QStringLiteral("The command failed for a reason Quern does not know.") },
        };
        for (const auto& c : cases) {
            raise = c.raise;
            QString text;
            test::answerNextMessageBox(QMessageBox::Ok, &text);
            QTest::mouseClick(&button, Qt::LeftButton);
            QCOMPARE(text, c.shown);
        }
        raise = [] {};
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(runs, 4);
    }
};

int main(int argc, char* argv[]) {
    QuernApplication app(argc, argv);
    CommandGuardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CommandGuardTest.moc"
