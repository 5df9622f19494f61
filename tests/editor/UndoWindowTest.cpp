#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "shell/QuernU.h"
#include "store/KeyWalk.h"
#include "window/KeyTreeItem.h"
#include "window/QuestionBox.h"
#include "wine/WinePrefixStore.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

using namespace quern;

namespace {

struct UndoWindow {
    UndoWindow() {
        store = test::openTestRegistry(dir / "registry");
        setQuestionHook([](const QString&, bool) { return Answer::Yes; });
        set(u"Software\\Example", u"first", reg::kRegSz, test::utf16zBytes(u"one"));
        set(u"Software\\Example", u"odd", 0x12345678, { 1, 2, 3 });
        set(u"Software\\Example", u"empty", reg::kRegBinary, {});
        set(u"Software\\Example\\Sub", u"deep", reg::kRegDword, { 1, 0, 0, 0 });
        form = std::make_unique<TMainForm>(*store);
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    ~UndoWindow() { setQuestionHook({}); }
    void set(
        std::u16string_view key, std::u16string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
        reg::KeyHandle handle(*store);
        QCOMPARE(store->createKey(reg::kCurrentUser, key, reg::Access::Full, reg::kOptionNone, handle.out()),
            reg::Status::Ok);
        QCOMPARE(store->setValue(handle.get(), name, type, data), reg::Status::Ok);
    }
    void goTo(const char* path) {
        form->GoToPath(QString::fromLatin1(path));
        form->flushTreeChange();
    }
    void press(QWidget* pane, QKeyCombination key) {
        QApplication::setActiveWindow(form.get());
        pane->setFocus();
        QTest::keyClick(pane, key.key(), key.keyboardModifiers());
        form->flushTreeChange();
    }
    // The Edit menu's items as it shows them when it opens.
    QStringList undoItems() {
        emit test::EditMNU(*form)->aboutToShow();
        const QAction* undo = test::UndoMNU(*form);
        const QAction* redo = test::RedoMNU(*form);
        return { undo->text() + (undo->isEnabled() ? QString() : QStringLiteral(" (off)")),
            redo->text() + (redo->isEnabled() ? QString() : QStringLiteral(" (off)")) };
    }
    QString current() const { return QString::fromStdString(keyPathOfNode(form->currentNode())); }
    std::string userFile() const { return test::readFile(dir / "registry/user.reg"); }

    test::TempDir dir;
    std::unique_ptr<reg::WinePrefixStore> store;
    std::unique_ptr<TMainForm> form;
};

} // namespace

class UndoWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_settings.next(); }

    void theItemsNameTheChangeAndThePanesShowItsKeyAfterUndoAndRedo() {
        UndoWindow w;
        QCOMPARE(w.undoItems(),
            (QStringList { QStringLiteral("&Undo\tCtrl+Z (off)"), QStringLiteral("&Redo\tCtrl+Y (off)") }));
        w.goTo("HKEY_CURRENT_USER\\Software\\Example");
        const std::string before = w.userFile();

        w.press(test::TreeView(*w.form), Qt::Key_Delete);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software"));
        const std::string deleted = w.userFile();
        QVERIFY(deleted != before);
        QCOMPARE(w.undoItems(),
            (QStringList { QStringLiteral("&Undo delete of HKEY_CURRENT_USER\\Software\\Example\tCtrl+Z"),
                QStringLiteral("&Redo\tCtrl+Y (off)") }));

        w.press(test::TreeView(*w.form), Qt::CTRL | Qt::Key_Z);
        QVERIFY(w.userFile() == before);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Example"));
        QCOMPARE(test::valueNames(*w.form), (std::vector<std::string> { "empty", "first", "odd" }));
        QCOMPARE(w.form->currentNode()->childCount() + (w.form->currentNode()->isExpanded() ? 0 : 1), 1);
        QCOMPARE(w.undoItems(),
            (QStringList { QStringLiteral("&Undo\tCtrl+Z (off)"),
                QStringLiteral("&Redo delete of HKEY_CURRENT_USER\\Software\\Example\tCtrl+Y") }));

        // Both redo keys make it again; with nothing left they do nothing.
        w.press(test::TreeView(*w.form), Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
        QVERIFY(w.userFile() == deleted);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software"));
        w.press(test::TreeView(*w.form), Qt::CTRL | Qt::Key_Y);
        QVERIFY(w.userFile() == deleted);
        w.press(test::TreeView(*w.form), Qt::CTRL | Qt::Key_Z);
        QVERIFY(w.userFile() == before);

        // Values deleted from the grid come back in their places, with the grid on their key.
        w.goTo("HKEY_CURRENT_USER\\Software\\Example");
        QTableView* grid = test::KeyGrid(*w.form);
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 0));
        grid->selectionModel()->select(
            QItemSelection(grid->model()->index(0, 0), grid->model()->index(1, 1)), QItemSelectionModel::Select);
        w.press(grid, Qt::Key_Delete);
        QCOMPARE(test::valueNames(*w.form), (std::vector<std::string> { "odd" }));
        QCOMPARE(w.undoItems().front(),
            QStringLiteral("&Undo delete of 2 values in HKEY_CURRENT_USER\\Software\\Example\tCtrl+Z"));
        w.goTo("HKEY_CURRENT_USER\\Software");
        w.press(grid, Qt::CTRL | Qt::Key_Z);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Example"));
        QCOMPARE(test::valueNames(*w.form), (std::vector<std::string> { "empty", "first", "odd" }));
        QVERIFY(w.userFile() == before);
    }

    void undoAfterTheFileChangedOnDiskSaysWhyAndChangesNothing() {
        UndoWindow w;
        w.goTo("HKEY_CURRENT_USER\\Software\\Example\\Sub");
        w.press(test::TreeView(*w.form), Qt::Key_Delete);
        // Written again by another program, with the same bytes: it is the write that counts.
        const std::string changedOnDisk = w.userFile();
        test::writeFile(w.dir / "registry/user.reg", changedOnDisk);
        w.form->RefreshMNUClick();

        QString told;
        test::answerNextMessageBox(QMessageBox::Ok, &told);
        w.press(test::TreeView(*w.form), Qt::CTRL | Qt::Key_Z);
        QVERIFY2(told.startsWith(QStringLiteral("Cannot undo delete of HKEY_CURRENT_USER\\Software\\Example\\Sub: "))
                && told.contains(QStringLiteral("user.reg was changed on disk")),
            qPrintable(told));
        QVERIFY(w.userFile() == changedOnDisk);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Example"));
        QCOMPARE(w.form->currentNode()->childCount(), 0);
    }

private:
    test::SeparateSettings m_settings;
};

QTEST_MAIN(UndoWindowTest)
#include "UndoWindowTest.moc"
