#include "transfer/ClipboardCommands.h"
#include "MainWindowFixture.h"
#include "WindowTestSupport.h"
#include "editor/UndoCommands.h"
#include "import/ImportPreview.h"

#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace quern;
using namespace quern::test;

namespace {

const std::u16string kGame = u"Software\\Game";

struct Fixture : MainWindowFixture {
    Fixture()
        : MainWindowFixture(Questions::Recorded) {
        set(kGame, u"Volume", reg::kRegDword, { 7, 0, 0, 0 });
        set(kGame + u"\\Levels", u"", reg::kRegSz, utf16zBytes(u"first"));
    }
    QString statusText() { return window().statusBar()->currentMessage(); }
    // Pastes into the key at path, accepting the list of changes; its title, or the text of the
    // message box that came instead (answered with OK).
    QString pasteInto(TMainForm& into, const char* path) {
        into.GoToPath(QString::fromLatin1(path));
        into.flushTreeChange();
        QString seen;
        whenModalDo<QDialog>([&seen](QDialog& dialog) {
            seen = dialog.windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(&dialog)) seen = box->text();
            dialog.accept();
        });
        pasteFromClipboard(into);
        return seen;
    }
};

// Pastes into the key at path, answering what asks with the answers already set up.
void pasteFromClipboardInto(TMainForm& into, const char* path) {
    into.GoToPath(QString::fromLatin1(path));
    into.flushTreeChange();
    pasteFromClipboard(into);
}

} // namespace

class ClipboardCommandsTest : public QObject {
    Q_OBJECT

private slots:
    // A key is never pasted into itself or below itself; a cut pasted into another registry copies
    // and says so, the original kept; a paste into the other registry is found there, link-free.
    void aCutMovesOnlyWithinOneRegistryAndNeverIntoItself() {
        Fixture f;
        QVERIFY(f.showWindow());
        f.goTo("HKEY_CURRENT_USER\\Software\\Game");
        f.window().focusTree();
        copyToClipboard(f.window(), true);
        QVERIFY(QGuiApplication::clipboard()->text().contains(
            QStringLiteral("[HKEY_CURRENT_USER\\Software\\Game\\Levels]")));
        const std::string before = readFile(f.userFilePath());
        QCOMPARE(f.pasteInto(f.window(), "HKEY_CURRENT_USER\\Software\\Game\\Levels"),
            QStringLiteral(
                "HKEY_CURRENT_USER\\Software\\Game\\Levels lies inside HKEY_CURRENT_USER\\Software\\Game: a key "
                "cannot be pasted into itself."));
        QCOMPARE(readFile(f.userFilePath()), before);

        auto other = openTestRegistry(f.dir / "other");
        FormOptions options;
        options.findRegistry = [&](const std::string& location) -> reg::RegStore* {
            return location == f.store->location() ? f.store.get() : nullptr;
        };
        TMainForm second(*other, nullptr, options);
        QCOMPARE(f.pasteInto(second, "HKEY_CURRENT_USER\\Software"), QStringLiteral("Paste Game"));
        QVERIFY(second.statusBar()->currentMessage().startsWith(
            QStringLiteral("Copied Game: a cut moves only within one registry")));
        QVERIFY(f.exists(kGame + u"\\Levels"));
        reg::KeyHandle pasted(*other);
        QCOMPARE(other->openKey(reg::kCurrentUser, u"Software\\Game\\Levels", reg::Access::Read, 0, pasted.out()),
            reg::Status::Ok);

        // Put back into the key it lies in (merged with itself), a cut key stays: nothing to move.
        // Two boxes: the name taken (Merge into it), then what the merge would come to.
        QString said;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            for (QAbstractButton* button : box->buttons())
                if (button->text() == QStringLiteral("&Merge into it")) return button->click();
            said = box->text();
            box->accept();
        });
        answerer.start(20);
        pasteFromClipboardInto(f.window(), "HKEY_CURRENT_USER\\Software");
        answerer.stop();
        QCOMPARE(said,
            QStringLiteral(
                "HKEY_CURRENT_USER\\Software\\Game is already there: pasting it onto itself changes nothing."));
        QVERIFY(f.exists(kGame));
        QCOMPARE(readFile(f.userFilePath()), before);

        // The same cut pasted in its own registry moves the key, as one change Undo takes back.
        QCOMPARE(f.pasteInto(f.window(), "HKEY_CURRENT_USER"), QStringLiteral("Move Game"));
        QVERIFY(!f.exists(kGame));
        QVERIFY(f.exists(u"Game\\Levels"));
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty()); // what was cut is gone: nothing to move twice
        runUndo(f.window());
        QCOMPARE(f.statusText(), QStringLiteral("Undone: move of Game into HKEY_CURRENT_USER"));
        QCOMPARE(readFile(f.userFilePath()), before);
    }

    // A key dropped on another key is pasted there through its list of changes; with Shift it moves.
    void aKeyDroppedOnAnotherIsPastedAndShiftMovesIt() {
        Fixture f;
        f.makeKey(u"Target");
        QVERIFY(f.showWindow());
        QTreeWidget* tree = TreeView(f.window());
        auto dropOn = [&](const char* target, Qt::KeyboardModifiers modifiers) {
            f.goTo("HKEY_CURRENT_USER\\Software\\Game"); // the tree as it is when the drag begins
            f.goTo(target);
            const QPoint at = tree->visualItemRect(tree->currentItem()).center();
            std::unique_ptr<QMimeData> data(keyMimeData(f.window(), "HKEY_CURRENT_USER\\Software\\Game", false));
            QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, modifiers);
            QApplication::sendEvent(tree->viewport(), &enter);
            QVERIFY(enter.isAccepted());
            QCOMPARE(enter.dropAction(), modifiers & Qt::ShiftModifier ? Qt::MoveAction : Qt::CopyAction);
            QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, modifiers);
            QApplication::sendEvent(tree->viewport(), &drop);
            // The paste runs once the drop has returned; its list of changes is accepted then.
            whenModalDo<QDialog>([](QDialog& preview) { preview.accept(); });
        };
        dropOn("HKEY_CURRENT_USER\\Target", Qt::NoModifier);
        QTRY_VERIFY(f.exists(u"Target\\Game\\Levels"));
        QVERIFY(f.exists(kGame));
        dropOn("HKEY_CURRENT_USER", Qt::ShiftModifier);
        QTRY_VERIFY(f.exists(u"Game\\Levels"));
        QVERIFY(!f.exists(kGame));
    }

    // Text another program put on the clipboard pastes as an import when it is a registry file, and
    // is said to hold nothing to paste when it is not.
    void textFromAnotherProgramIsImportedThroughItsPreview() {
        Fixture f;
        QVERIFY(f.showWindow());
        QGuiApplication::clipboard()->setText(QStringLiteral(
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Pasted]\r\n\"x\"=\"y\"\r\n"));
        QCOMPARE(
            f.pasteInto(f.window(), "HKEY_CURRENT_USER\\Software\\Game"), QStringLiteral("Import the text pasted"));
        QVERIFY(f.exists(u"Software\\Pasted"));
        QGuiApplication::clipboard()->setText(QStringLiteral("just words"));
        QCOMPARE(f.pasteInto(f.window(), "HKEY_CURRENT_USER\\Software"), QString());
        QCOMPARE(f.statusText(), QStringLiteral("The clipboard holds no registry keys or values to paste."));
    }
};

QTEST_MAIN(ClipboardCommandsTest)
#include "ClipboardCommandsTest.moc"
