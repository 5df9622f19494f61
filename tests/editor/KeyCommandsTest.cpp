#include "MainWindowFixture.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "editor/ModiFormU.h"
#include "shell/QuernU.h"
#include "store/KeyWalk.h"
#include "window/KeyTreeItem.h"
#include "window/QuestionBox.h"
#include "wine/WinePrefixStore.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <deque>

using namespace quern;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A registry of its own, and a window over it whose questions the test answers from a script.
struct Fixture : test::MainWindowFixture {
    Fixture()
        : MainWindowFixture(Questions::Recorded) { }
    // Every key below path with its values, as "depth name" and "  value type bytes" lines: two
    // keys that read alike hold the same things in the same order.
    QStringList dump(std::u16string_view path) {
        reg::KeyHandle start(*store);
        if (!store->openKey(reg::kCurrentUser, path, reg::Access::Read, reg::kOptionNone, start.out()).ok()) return {};
        QStringList lines;
        reg::KeyWalk walk(*store, start.get(), {}, reg::KeyWalk::Links::AsKeys);
        while (walk.next()) {
            lines << QString::number(walk.depth()) + QLatin1Char(' ') + QString::fromStdU16String(walk.name());
            std::u16string name;
            std::uint32_t type = 0;
            Bytes data;
            for (std::uint32_t i = 0; store->enumValue(walk.key(), i, name, &type, &data).ok(); ++i)
                lines << QStringLiteral("  ") + QString::fromStdU16String(name) + QLatin1Char(' ')
                        + QString::number(type) + QLatin1Char(' ')
                        + QString::fromLatin1(
                            QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()))
                                .toHex());
        }
        return lines;
    }
};

// The commands' keys and what they leave in the shown window.
struct Window {
    explicit Window(Fixture& owner)
        : fixture(owner)
        , form(owner.window()) { }
    void goTo(const char* path) { fixture.goTo(path); }
    void press(QWidget* pane, Qt::Key key) {
        QApplication::setActiveWindow(&form); // as the desktop gives it back after a dialog
        pane->setFocus();
        QTest::keyClick(pane, key);
    }
    // Highlights grid rows first to last, as a click and a shift-click do.
    void highlightRows(int first, int last) {
        QTableView* grid = test::KeyGrid(form);
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(first, 0));
        grid->selectionModel()->select(
            QItemSelection(grid->model()->index(first, 0), grid->model()->index(last, 1)), QItemSelectionModel::Select);
    }
    QString current() const { return QString::fromStdString(keyPathOfNode(form.currentNode())); }
    QStringList childNames(const char* path) {
        goTo(path);
        QStringList names;
        for (int i = 0; i < form.currentNode()->childCount(); ++i)
            names << form.currentNode()->child(i)->text(0);
        return names;
    }
    Fixture& fixture;
    TMainForm& form;
};

// Types a name into the editor dialog that the next command opens and presses OK.
void answerDialog(const QString& name, QString* title = nullptr) {
    test::whenModalDo<TEditForm>([=](TEditForm& dialog) {
        if (title) *title = dialog.windowTitle();
        dialog.EditName->selectAll();
        dialog.EditName->insert(name);
        dialog.OKBtn->click();
    });
}

} // namespace

class KeyCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_settings.next(); }

    void deletingValuesAsksEachWithAllAndNoToAllAndWritesOnce() {
        Fixture f;
        for (const char16_t* name : { u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h" })
            f.set(u"Software\\V", name, reg::kRegSz, test::utf16zBytes(u"x"));
        f.set(u"Software\\V", u"exactly twenty chars", reg::kRegDword, { 1, 0, 0, 0 });
        f.set(u"Software\\V", u"twenty-one characters", reg::kRegDword, { 1, 0, 0, 0 });
        QVERIFY(f.showWindow());
        Window w(f);
        w.goTo("HKEY_CURRENT_USER\\Software\\V");
        const std::size_t writesBefore = f.store->filesWritten();

        // All on the first of three deletes all three without asking again, in one write.
        f.answers = { Answer::All };
        w.highlightRows(0, 2);
        w.press(test::KeyGrid(w.form), Qt::Key_Delete);
        QCOMPARE(f.questions, QStringList { QStringLiteral("Delete \"a\" value, are you sure ? [all]") });
        QCOMPARE(test::valueNames(w.form),
            (std::vector<std::string> { "d", "e", "exactly twenty chars", "f", "g", "h", "twenty-one characters" }));
        QCOMPARE(f.store->filesWritten(), writesBefore + 1);

        // Yes, then No to All on the second: the second and third stay.
        f.questions.clear();
        f.answers = { Answer::Yes, Answer::NoToAll };
        w.highlightRows(0, 2);
        w.press(test::KeyGrid(w.form), Qt::Key_Delete);
        QCOMPARE(f.questions.size(), 2);
        QCOMPARE(test::valueNames(w.form),
            (std::vector<std::string> { "e", "exactly twenty chars", "f", "g", "h", "twenty-one characters" }));

        // The last of a range is asked with Yes and No alone; names are cut after 20 characters.
        f.questions.clear();
        f.answers = { Answer::No, Answer::No, Answer::Yes };
        w.highlightRows(3, 5);
        w.press(test::KeyGrid(w.form), Qt::Key_Delete);
        QCOMPARE(f.questions,
            (QStringList { QStringLiteral("Delete \"g\" value, are you sure ? [all]"),
                QStringLiteral("Delete \"h\" value, are you sure ? [all]"),
                QStringLiteral("Delete \"twenty-one character...\" value, are you sure ?") }));
        f.questions.clear();
        f.answers = { Answer::No };
        w.highlightRows(1, 1);
        w.press(test::KeyGrid(w.form), Qt::Key_Delete);
        QCOMPARE(f.questions, QStringList { QStringLiteral("Delete \"exactly twenty chars\" value, are you sure ?") });
        QCOMPARE(test::valueNames(w.form), (std::vector<std::string> { "e", "exactly twenty chars", "f", "g", "h" }));
        QVERIFY(test::readFile(f.userFilePath()).find("twenty-one") == std::string::npos);
    }

    void deletingAKeyAsksByItsFirstTwentyCharactersAndSelectsANeighbour() {
        Fixture f;
        f.makeKey(u"Software\\Example\\Sub\\Deep");
        f.makeKey(u"Software\\Pair\\A");
        f.makeKey(u"Software\\Pair\\B");
        QVERIFY(f.showWindow());
        Window w(f);
        w.goTo("HKEY_CURRENT_USER\\Software\\Example\\Sub");

        w.press(test::TreeView(w.form), Qt::Key_Delete); // No: nothing goes
        QCOMPARE(f.questions,
            QStringList {
                QStringLiteral("Delete \"HKEY_CURRENT_USER\\Software\\Example\\Su...\" key, are you sure ?") });
        QVERIFY(f.exists(u"Software\\Example\\Sub\\Deep"));

        f.answers = { Answer::Yes };
        w.press(test::TreeView(w.form), Qt::Key_Delete);
        QVERIFY(!f.exists(u"Software\\Example\\Sub"));
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Example")); // the only child: its parent
        QCOMPARE(w.form.currentNode()->childCount(), 0);

        w.goTo("HKEY_CURRENT_USER\\Software\\Pair\\A");
        f.answers = { Answer::Yes };
        w.press(test::TreeView(w.form), Qt::Key_Delete);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Pair\\B")); // the next sibling
        QVERIFY(test::readFile(f.userFilePath()).find("Pair\\\\A]") == std::string::npos);

        // The top node and the root keys are never deleted, and not asked about.
        f.questions.clear();
        w.goTo("HKEY_CURRENT_USER");
        w.press(test::TreeView(w.form), Qt::Key_Delete);
        QVERIFY(f.questions.isEmpty());
    }

    void aRegistryThatCannotBeWrittenSaysWhyAndKeepsEverything() {
        Fixture f;
        f.makeKey(u"Software\\Kept\\Below");
        f.set(u"Software\\Kept", u"v", reg::kRegSz, test::utf16zBytes(u"x"));
        const std::string before = test::readFile(f.userFilePath());
        reg::WinePrefixStore& readOnly = f.openWhileServerRuns();
        const QString reason = QString::fromStdString(readOnly.readOnlyReason());
        QVERIFY(!reason.isEmpty());
        f.window(readOnly);
        QVERIFY(f.showWindow());
        Window w(f);
        w.goTo("HKEY_CURRENT_USER\\Software\\Kept");

        QString told;
        f.answers = { Answer::Yes };
        test::answerNextMessageBox(QMessageBox::Ok, &told);
        w.press(test::TreeView(w.form), Qt::Key_Delete);
        QVERIFY2(told.startsWith(QStringLiteral("Error removing key: ")) && told.contains(reason), qPrintable(told));
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Kept")); // the node stays
        QCOMPARE(w.form.currentNode()->childCount() + (w.form.currentNode()->isExpanded() ? 0 : 1), 1);

        told.clear();
        w.highlightRows(0, 0);
        test::answerNextMessageBox(QMessageBox::Ok, &told);
        w.press(test::KeyGrid(w.form), Qt::Key_Delete);
        QVERIFY2(told.contains(reason), qPrintable(told));
        told.clear();
        test::answerNextMessageBox(QMessageBox::Ok, &told);
        w.press(test::TreeView(w.form), Qt::Key_Insert);
        QVERIFY2(told.startsWith(QStringLiteral("Cannot Open key: ")) && told.contains(reason), qPrintable(told));
        QVERIFY(test::readFile(f.userFilePath()) == before);
    }

    void newMakesAValueOrAKeyByFocusAndShowsANewKeyOnce() {
        Fixture f;
        f.makeKey(u"Software\\Parent\\Old");
        QVERIFY(f.showWindow());
        Window w(f);

        int shown = 0;
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            ++shown;
            dialog.CancelBTN->click();
        });
        w.goTo("Local Registry");
        w.press(test::TreeView(w.form), Qt::Key_Insert);
        QCoreApplication::processEvents();
        QCOMPARE(shown, 0); // nothing on the top node

        QString title;
        w.goTo("HKEY_CURRENT_USER");
        answerDialog(QStringLiteral("AtTheRoot"), &title);
        w.press(test::TreeView(w.form), Qt::Key_Insert);
        QCOMPARE(title, QStringLiteral("Creating new key..."));
        QVERIFY(f.exists(u"AtTheRoot"));
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\AtTheRoot"));

        // Under a collapsed node the expansion brings the new key: it shows once, sorted.
        w.goTo("HKEY_CURRENT_USER\\Software\\Parent");
        w.form.currentNode()->setExpanded(false);
        answerDialog(QStringLiteral("Added"));
        w.press(test::TreeView(w.form), Qt::Key_Insert);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Parent\\Added"));
        QCOMPARE(w.childNames("HKEY_CURRENT_USER\\Software\\Parent"),
            (QStringList { QStringLiteral("Added"), QStringLiteral("Old") }));
        // Under an open node it is added among its siblings.
        answerDialog(QStringLiteral("Zed"));
        w.press(test::TreeView(w.form), Qt::Key_Insert);
        QCOMPARE(w.childNames("HKEY_CURRENT_USER\\Software\\Parent"),
            (QStringList { QStringLiteral("Added"), QStringLiteral("Old"), QStringLiteral("Zed") }));

        // With the grid focused the same key makes a value, and the grid's cursor lands on it.
        w.goTo("HKEY_CURRENT_USER\\Software\\Parent");
        answerDialog(QStringLiteral("val"), &title);
        test::KeyGrid(w.form)->setFocus();
        w.press(test::KeyGrid(w.form), Qt::Key_Insert);
        QCOMPARE(title, QStringLiteral("Creating new value..."));
        QCOMPARE(test::valueNames(w.form), std::vector<std::string> { "val" });
        QCOMPARE(test::KeyGrid(w.form)->currentIndex().row(), 0);
    }

    // A new value's empty name is the default value's: once that is set, the name is taken, as
    // any other, and OK refuses it instead of writing over the default.
    void aNewValueNeverOverwritesASetDefaultValue() {
        Fixture f;
        f.set(u"Software\\Def", u"", reg::kRegSz, test::utf16zBytes(u"def"));
        f.makeKey(u"Software\\NoDef");
        QVERIFY(f.showWindow());
        Window w(f);
        w.goTo("HKEY_CURRENT_USER\\Software\\Def");
        const std::string before = test::readFile(f.userFilePath());
        bool refused = false;
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            refused = dialog.EditName->text().isEmpty() && !dialog.OKBtn->isEnabled();
            QTest::keyClick(dialog.EditName, Qt::Key_Return);
            refused = refused && dialog.isVisible();
            dialog.confirm = [](const QString&) { return true; };
            dialog.CancelBTN->click();
        });
        w.press(test::KeyGrid(w.form), Qt::Key_Insert);
        QVERIFY2(refused, "OK is refused for the default value's name while the default is set");
        QVERIFY(test::readFile(f.userFilePath()) == before);

        // Where no default is set, the empty name makes it.
        w.goTo("HKEY_CURRENT_USER\\Software\\NoDef");
        answerDialog(QString());
        w.press(test::KeyGrid(w.form), Qt::Key_Insert);
        QVERIFY(test::readFile(f.userFilePath()).find("[Software\\\\NoDef]") != std::string::npos);
        QCOMPARE(test::valueNames(w.form), std::vector<std::string> { "" });
    }

    // Names compare without regard to case, yet a key or a value can be renamed to another case of
    // its own name: one write, undone as one, and the tree and the grid show the new spelling.
    void renamingToAnotherCaseOfTheSameName() {
        Fixture f;
        f.set(u"Software\\Run", u"Path", reg::kRegSz, test::utf16zBytes(u"c:\\x"));
        f.set(u"Software\\Run\\Below", u"n", reg::kRegDword, { 1, 0, 0, 0 });
        f.makeKey(u"Software\\Other");
        const QStringList before = f.dump(u"Software\\Run");
        QVERIFY(f.showWindow());
        Window w(f);
        w.goTo("HKEY_CURRENT_USER\\Software\\Run");

        std::size_t writes = f.store->filesWritten();
        bool enabled = false;
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            dialog.EditName->setText(QStringLiteral("RUN"));
            enabled = dialog.OKBtn->isEnabled();
            dialog.OKBtn->click();
        });
        w.press(test::TreeView(w.form), Qt::Key_F2);
        QVERIFY2(enabled, "another case of the key's own name is no clash");
        QCOMPARE(f.store->filesWritten(), writes + 1);
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\RUN"));
        QCOMPARE(w.childNames("HKEY_CURRENT_USER\\Software"),
            (QStringList { QStringLiteral("Other"), QStringLiteral("RUN") }));
        QCOMPARE(f.dump(u"Software\\RUN"), before); // everything below it kept, in order
        QVERIFY(test::readFile(f.userFilePath()).find("[Software\\\\RUN]") != std::string::npos);
        QVERIFY(test::readFile(f.userFilePath()).find("[Software\\\\Run]") == std::string::npos);
        QVERIFY(test::readFile(f.userFilePath()).find("~") == std::string::npos);
        QVERIFY(f.store->undoChange().ok());
        QCOMPARE(f.dump(u"Software\\Run"), before);

        // A value: renamed alone, then renamed back with new data.
        w.form.RefreshMNUClick();
        w.goTo("HKEY_CURRENT_USER\\Software\\Run");
        writes = f.store->filesWritten();
        test::KeyGrid(w.form)->setFocus();
        test::KeyGrid(w.form)->setCurrentIndex(test::KeyGrid(w.form)->model()->index(0, 0));
        answerDialog(QStringLiteral("PATH"));
        w.press(test::KeyGrid(w.form), Qt::Key_Return);
        QCOMPARE(f.store->filesWritten(), writes + 1);
        QCOMPARE(test::valueNames(w.form), std::vector<std::string> { "PATH" });
        QVERIFY(test::readFile(f.userFilePath()).find("\"PATH\"=\"c:\\\\x\"") != std::string::npos);
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            dialog.EditName->setText(QStringLiteral("path"));
            dialog.EditString->setText(QStringLiteral("d:"));
            dialog.OKBtn->click();
        });
        w.press(test::KeyGrid(w.form), Qt::Key_Return);
        QCOMPARE(test::valueNames(w.form), std::vector<std::string> { "path" });
        QVERIFY(test::readFile(f.userFilePath()).find("\"path\"=\"d:\"") != std::string::npos);
        QVERIFY(f.store->undoChange().ok());
        QVERIFY(test::readFile(f.userFilePath()).find("\"PATH\"=\"c:\\\\x\"") != std::string::npos);
    }

    void renamingAKeyMovesItWholeOrNotAtAll() {
        Fixture f;
        // Values of every sort at every level, those of no data included, and raw types.
        f.set(u"Software\\Src", u"", reg::kRegSz, test::utf16zBytes(u"default"));
        f.set(u"Software\\Src", u"empty", reg::kRegBinary, {});
        f.set(u"Software\\Src", u"emptyString", reg::kRegSz, {});
        f.set(u"Software\\Src", u"odd", reg::kRegSz, { 0x41, 0x00, 0x42 });
        f.set(u"Software\\Src", u"raw", 0xffff0012u, { 9, 8 });
        f.set(u"Software\\Src\\One", u"d", reg::kRegDword, { 4, 0, 0, 0 });
        f.set(u"Software\\Src\\One\\Two", u"q", reg::kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 });
        f.set(u"Software\\Src\\One\\Two", u"none", reg::kRegNone, {});
        f.makeKey(u"Software\\Src\\Uno");
        f.makeKey(u"Software\\Other");
        const QStringList before = f.dump(u"Software\\Src");
        QVERIFY(f.showWindow());
        Window w(f);
        w.goTo("HKEY_CURRENT_USER\\Software\\Src");

        // A disk too full for the renamed key: the key stays, whole, and so does the file.
        const std::string fileBefore = test::readFile(f.userFilePath());
        QString told;
        {
            test::FileSizeLimit fullDisk(fileBefore.size() + 10);
            test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
                dialog.showMessage = [&](const QString& text) { told = text; };
                dialog.confirm = [](const QString&) { return true; }; // then discard
                dialog.EditName->setText(QStringLiteral("Destination"));
                dialog.OKBtn->click();
                dialog.CancelBTN->click();
            });
            w.press(test::TreeView(w.form), Qt::Key_F2);
        }
        QVERIFY2(told.startsWith(QStringLiteral("Cannot rename the key: ")), qPrintable(told));
        QVERIFY(test::readFile(f.userFilePath()) == fileBefore);
        QCOMPARE(f.dump(u"Software\\Src"), before);
        QVERIFY(!f.exists(u"Software\\Destination"));
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Src"));

        const std::size_t writesBefore = f.store->filesWritten();
        QString title;
        answerDialog(QStringLiteral("Dst"), &title);
        w.press(test::TreeView(w.form), Qt::Key_Return);
        QCOMPARE(title, QStringLiteral("Changing key name..."));
        QCOMPARE(f.store->filesWritten(), writesBefore + 1);
        QVERIFY(!f.exists(u"Software\\Src"));
        QCOMPARE(f.dump(u"Software\\Dst"), before); // every level, in order, each byte and type kept
        QCOMPARE(w.current(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Dst"));
        QCOMPARE(w.childNames("HKEY_CURRENT_USER\\Software"),
            (QStringList { QStringLiteral("Dst"), QStringLiteral("Other") }));

        // Root keys have no name to change.
        int shown = 0;
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            ++shown;
            dialog.CancelBTN->click();
        });
        w.goTo("HKEY_CURRENT_USER");
        w.press(test::TreeView(w.form), Qt::Key_F2);
        QCoreApplication::processEvents();
        QCOMPARE(shown, 0);
    }

private:
    test::SeparateSettings m_settings;
};

QTEST_MAIN(KeyCommandsTest)
#include "KeyCommandsTest.moc"
