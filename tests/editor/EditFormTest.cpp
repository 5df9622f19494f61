#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "codec/ValueText.h"
#include "editor/BinGrid.h"
#include "editor/ModiFormU.h"
#include "shell/QuernU.h"
#include "store/KeyWalk.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <filesystem>

using namespace quern;

namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kKeyPath = "HKEY_CURRENT_USER\\Software\\Edit";

// A registry of its own with a value of every kind the dialog meets.
struct Fixture {
    Fixture() {
        store = test::openTestRegistry(dir / "registry");
        set(u"n", reg::kRegDword, { 255, 0, 0, 0 });
        set(u"s", reg::kRegSz, test::utf16zBytes(u"hello"));
        set(u"e", reg::kRegExpandSz, test::utf16zBytes(u"%SystemRoot%\\x"));
        set(u"e2", reg::kRegExpandSz, test::utf16zBytes(u"%TEMP%"));
        set(u"m", reg::kRegMultiSz, test::utf16Bytes(std::u16string_view(u"a\0b\0\0", 5)));
        set(u"q", reg::kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 });
        set(u"b", reg::kRegBinary, { 0x41, 0x42, 0x00, 0x20 });
        registry = std::make_unique<reg::RegAccessor>(*store);
    }
    void set(std::u16string_view name, std::uint32_t type, const Bytes& data) {
        reg::KeyHandle key(*store);
        QCOMPARE(store->createKey(reg::kCurrentUser, u"Software\\Edit", reg::Access::Full, reg::kOptionNone, key.out()),
            reg::Status::Ok);
        QCOMPARE(store->setValue(key.get(), name, type, data), reg::Status::Ok);
    }
    // The value's type and bytes as the store holds them; type 0xFFFFFFFF when it is not there.
    std::pair<std::uint32_t, Bytes> stored(std::u16string_view name) {
        reg::KeyHandle key(*store);
        std::pair<std::uint32_t, Bytes> value { 0xFFFFFFFFu, {} };
        if (store->openKey(reg::kCurrentUser, u"Software\\Edit", reg::Access::Read, reg::kOptionNone, key.out())
                != reg::Status::Ok
            || store->queryValue(key.get(), name, value.first, value.second) != reg::Status::Ok)
            value.first = 0xFFFFFFFFu;
        return value;
    }
    std::string userFile() const { return dir / "registry/user.reg"; }

    test::TempDir dir;
    std::unique_ptr<reg::WinePrefixStore> store;
    std::unique_ptr<reg::RegAccessor> registry;
};

// The file's bytes and its modification time: both stay when nothing is written.
struct FileState {
    explicit FileState(const std::string& path)
        : content(test::readFile(path))
        , time(std::filesystem::last_write_time(path)) { }
    bool operator==(const FileState&) const = default;
    std::string content;
    std::filesystem::file_time_type time;
};

// A dialog shown for a value or key, whose message boxes the test answers.
struct Dialog {
    Dialog(Fixture& f, EditRequest asked, int dwordMode = kDwordDecimal)
        : request(std::move(asked))
        , form(*f.registry, this->request, dwordMode) {
        form.showMessage = [this](const QString& text) { messages << text; };
        form.confirm = [this](const QString& question) {
            questions << question;
            return discard;
        };
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    EditRequest request;
    TEditForm form;
    QStringList messages;
    QStringList questions;
    bool discard = true;
};

EditRequest valueRequest(const std::string& name) {
    return { true, false, kKeyPath, name };
}

void typeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

QString cell(TEditForm& form, int row, int column) {
    return form.BinGrid->model()->index(row, column).data().toString();
}

} // namespace

class EditFormTest : public QObject {
    Q_OBJECT
    test::SeparateSettings m_settings;

private slots:
    void init() { m_settings.next(); }

    void theDwordPageInThreeBases() {
        Fixture f;
        const FileState before(f.userFile());
        {
            Dialog d(f, valueRequest("n"), kDwordHex);
            TEditForm& form = d.form;
            QCOMPARE(form.windowTitle(), QStringLiteral("Changing value properties..."));
            QCOMPARE(form.PageControl->currentWidget(), form.IntSheet);
            QVERIFY(form.IntHex->isChecked());
            QCOMPARE(form.EditInt->text(), QStringLiteral("FF"));
            form.IntBinary->click();
            QCOMPARE(form.EditInt->text(), QStringLiteral("11111111"));
            form.IntDecimal->click();
            QCOMPARE(form.EditInt->text(), QStringLiteral("255"));
            form.OKBtn->click();
            QVERIFY(form.committed() && !form.isVisible());
            QCOMPARE(form.result(), int(QDialog::Accepted));
        }
        QVERIFY2(FileState(f.userFile()) == before, "OK without a change writes nothing");

        Dialog d(f, valueRequest("n"));
        TEditForm& form = d.form;
        QVERIFY(form.IntDecimal->isChecked());
        typeInto(form.EditInt, QStringLiteral("12a"));
        QCOMPARE(form.EditInt->text(), QStringLiteral("12"));
        form.EditInt->clear();
        QApplication::clipboard()->setText(QStringLiteral("1x2"));
        form.EditInt->paste();
        QCOMPARE(form.EditInt->text(), QStringLiteral("12"));
        QCOMPARE(form.curDWord(), 12u);

        // Numbers beyond 32 bits are refused as they are typed: what shows is what OK writes.
        typeInto(form.EditInt, QStringLiteral("4294967295"));
        QCOMPARE(form.curDWord(), 0xFFFFFFFFu);
        QTest::keyClick(form.EditInt, Qt::Key_0);
        QCOMPARE(form.EditInt->text(), QStringLiteral("4294967295"));
        typeInto(form.EditInt, QStringLiteral("4294967296"));
        QCOMPARE(form.EditInt->text(), QStringLiteral("429496729"));
        form.IntHex->click();
        QCOMPARE(form.EditInt->text(), QStringLiteral("19999999"));
        typeInto(form.EditInt, QStringLiteral("1FFFFFFFF"));
        QCOMPARE(form.EditInt->text(), QStringLiteral("1FFFFFFF"));
        QCOMPARE(form.curDWord(), 0x1FFFFFFFu);
        form.IntBinary->click();
        typeInto(form.EditInt, QString(33, QLatin1Char('1')));
        QCOMPARE(form.EditInt->text(), QString(32, QLatin1Char('1')));
        QCOMPARE(form.GetDWValue(), 0xFFFFFFFFu);
        form.IntDecimal->click();
        QCOMPARE(form.EditInt->text(), QStringLiteral("4294967295"));
        form.EditInt->selectAll();
        QTest::keyClick(form.EditInt, Qt::Key_Backspace);
        QCOMPARE(form.curDWord(), 0u);
        form.OKBtn->click();
        QVERIFY(!form.isVisible());
        QCOMPARE(f.stored(u"n"), (std::pair { reg::kRegDword, Bytes { 0, 0, 0, 0 } }));
        QVERIFY(test::readFile(f.userFile()).find("\"n\"=dword:00000000") != std::string::npos);
    }

    void aValueKeepsItsKindUnlessAnotherPageIsPicked() {
        Fixture f;
        {
            Dialog d(f, valueRequest("s"));
            QCOMPARE(d.form.PageControl->currentWidget(), d.form.StringSheet);
            QCOMPARE(d.form.EditString->text(), QStringLiteral("hello"));
            d.form.PageControl->setCurrentWidget(d.form.IntSheet);
            typeInto(d.form.EditInt, QStringLiteral("7"));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QCOMPARE(f.stored(u"s"), (std::pair { reg::kRegDword, Bytes { 7, 0, 0, 0 } }));
        {
            Dialog d(f, valueRequest("e"));
            typeInto(d.form.EditString, QStringLiteral("%TEMP%\\y"));
            d.form.OKBtn->click();
        }
        QCOMPARE(f.stored(u"e"), (std::pair { reg::kRegExpandSz, test::utf16zBytes(u"%TEMP%\\y") }));
        {
            Dialog d(f, valueRequest("e2"));
            typeInto(d.form.EditName, QStringLiteral("e3"));
            d.form.OKBtn->click();
            QCOMPARE(d.request.EditItemName, std::string("e3"));
        }
        QCOMPARE(f.stored(u"e3"), (std::pair { reg::kRegExpandSz, test::utf16zBytes(u"%TEMP%") }));
        QCOMPARE(f.stored(u"e2").first, 0xFFFFFFFFu);
        f.set(u"none", reg::kRegNone, {});
        {
            // A value without data is renamed too, with its type.
            Dialog d(f, valueRequest("none"));
            typeInto(d.form.EditName, QStringLiteral("still none"));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QCOMPARE(f.stored(u"still none"), (std::pair { reg::kRegNone, Bytes {} }));
        QCOMPARE(f.stored(u"none").first, 0xFFFFFFFFu);
        {
            // A multi-string changed as bytes stays a multi-string.
            Dialog d(f, valueRequest("m"));
            QCOMPARE(d.form.PageControl->currentWidget(), d.form.BinarySheet);
            d.form.BinString->setFocus();
            QTest::keyClick(d.form.BinString, Qt::Key_Home);
            QTest::keyClick(d.form.BinString, Qt::Key_Right, Qt::ShiftModifier);
            QTest::keyClicks(d.form.BinString, QStringLiteral("c"));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QCOMPARE(
            f.stored(u"m"), (std::pair { reg::kRegMultiSz, test::utf16Bytes(std::u16string_view(u"c\0b\0\0", 5)) }));
        {
            Dialog d(f, valueRequest("q"));
            d.form.BinString->setFocus();
            QTest::keyClick(d.form.BinString, Qt::Key_End);
            QTest::keyClick(d.form.BinString, Qt::Key_Backspace);
            d.form.OKBtn->click();
        }
        QCOMPARE(f.stored(u"q"), (std::pair { reg::kRegQword, Bytes { 1, 2, 3, 4, 5, 6, 7 } }));
        {
            // The string page picked for binary data makes it a string.
            Dialog d(f, valueRequest("b"));
            d.form.PageControl->setCurrentWidget(d.form.StringSheet);
            typeInto(d.form.EditString, QStringLiteral("now text"));
            d.form.OKBtn->click();
        }
        QCOMPARE(f.stored(u"b"), (std::pair { reg::kRegSz, test::utf16zBytes(u"now text") }));
    }

    void cancelAfterAChangeAsksAndUnchangedClosesQuietly() {
        Fixture f;
        const FileState before(f.userFile());
        {
            Dialog d(f, valueRequest("s"));
            d.form.CancelBTN->click();
            QVERIFY(d.questions.isEmpty() && !d.form.isVisible());
        }
        Dialog d(f, valueRequest("s"));
        QTest::keyClicks(d.form.EditString, QStringLiteral("!"));
        d.discard = false;
        d.form.CancelBTN->click();
        QCOMPARE(d.questions, QStringList { QStringLiteral("Discard changes, are you sure ?") });
        QVERIFY2(d.form.isVisible(), "No keeps the dialog");
        d.discard = true;
        QTest::keyClick(d.form.EditString, Qt::Key_Escape);
        QCOMPARE(d.questions.size(), 2);
        QVERIFY(!d.form.isVisible());
        QCOMPARE(d.form.result(), int(QDialog::Rejected));
        QVERIFY(FileState(f.userFile()) == before);
    }

    void aFailedWriteKeepsTheOldValueAndSaysWhy() {
        Fixture f;
        Dialog d(f, valueRequest("n"));
        typeInto(d.form.EditInt, QStringLiteral("1"));
        typeInto(d.form.EditName, QStringLiteral("renamed"));
        // Someone else changes the file meanwhile: the store refuses to overwrite it.
        const std::string theirs = test::readFile(f.userFile()) + "\n";
        test::writeFile(f.userFile(), theirs);
        d.form.OKBtn->click();
        QCOMPARE(d.messages.size(), 1);
        QVERIFY2(d.messages[0].startsWith(QStringLiteral("Error creating value: ")), qPrintable(d.messages[0]));
        QVERIFY2(d.messages[0].size() > 30, "the store's reason follows");
        QVERIFY(d.form.isVisible() && !d.form.committed());
        QCOMPARE(f.stored(u"n"), (std::pair { reg::kRegDword, Bytes { 255, 0, 0, 0 } }));
        QCOMPARE(f.stored(u"renamed").first, 0xFFFFFFFFu);
        QCOMPARE(test::readFile(f.userFile()), theirs);
    }

    void aReadOnlyRegistryShowsTheValueAndSaysWhyNothingIsWritten() {
        Fixture f;
        test::HeldLock server(test::testRegistryServerLock(f.dir / "registry"));
        const auto readOnly = test::openTestRegistry(f.dir / "registry");
        reg::RegAccessor registry(*readOnly);
        EditRequest request = valueRequest("s");
        TEditForm form(registry, request, kDwordDecimal);
        QStringList messages;
        form.showMessage = [&](const QString& text) { messages << text; };
        form.show();
        QCOMPARE(form.EditString->text(), QStringLiteral("hello"));
        typeInto(form.EditString, QStringLiteral("changed"));
        form.OKBtn->click();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QString::fromStdString(readOnly->readOnlyReason())), qPrintable(messages[0]));
        QVERIFY(form.isVisible());
    }

    void theBinaryPageKeepsItsTwoViewsInStep() {
        Fixture f;
        Dialog d(f, valueRequest("b"));
        TEditForm& form = d.form;
        QCOMPARE(form.PageControl->currentWidget(), form.BinarySheet);
        QCOMPARE(form.BinString->text(), std::string("AB  "));
        QCOMPARE(cell(form, 0, 0), QStringLiteral("00"));
        QCOMPARE(cell(form, 0, 3), QStringLiteral("0"));
        QCOMPARE(cell(form, 0, 4), QStringLiteral("32"));
        QTRY_VERIFY(form.BinString->hasFocus());
        QTest::keyClick(form.BinString, Qt::Key_End);
        QCOMPARE(cell(form, 0, 3), QStringLiteral("00"));
        QCOMPARE(cell(form, 0, 4), QStringLiteral("32"));

        QTest::keyClick(form.BinString, Qt::Key_Home);
        QTest::keyClick(form.BinString, Qt::Key_Delete);
        QCOMPARE(cell(form, 0, 1), QStringLiteral("66"));
        QVERIFY(cell(form, 0, 4).isEmpty());
        QTest::keyClick(form.BinString, Qt::Key_Right);
        QTest::keyClicks(form.BinString, QStringLiteral("X"));
        QCOMPARE(form.BinString->text(), std::string("BX  "));
        QCOMPARE(cell(form, 0, 2), QStringLiteral("88"));
        QVERIFY2(form.BinGrid->highlighted(2) && !form.BinGrid->highlighted(1), "the byte after the caret is lit");

        // Into the grid, at the caret's cell: the zero byte under the blank.
        form.BinGrid->setFocus();
        QCOMPARE(form.binCaretPos(), -1);
        QCOMPARE(form.BinGrid->currentIndex(), form.BinGrid->cellOf(2));
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("300"));
        QCOMPARE(form.BinString->text()[2], ',');
        QCOMPARE(form.BinPosLabel->text(), QStringLiteral("02"));
        QTest::keyClick(editor, Qt::Key_Space);
        QCOMPARE(editor->text(), QStringLiteral("300"));
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(form.BinGrid->currentIndex(), form.BinGrid->cellOf(3));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // the empty cell 4 becomes 00
        QCOMPARE(cell(form, 0, 5), QStringLiteral("00"));
        QCOMPARE(form.BinGrid->currentIndex(), form.BinGrid->cellOf(5));
        const QRect eighth = form.BinGrid->visualRect(form.BinGrid->cellOf(7));
        QTest::mouseClick(form.BinGrid->viewport(), Qt::LeftButton, {}, eighth.center());
        QCOMPARE(form.BinGrid->currentIndex(), form.BinGrid->cellOf(5)); // refused: 6 is empty
        for (QChar c : QStringLiteral("xyz"))
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
        form.OKBtn->click();
        QCOMPARE(d.messages, QStringList { QStringLiteral("'xyz' is not a valid integer value") });
        QVERIFY(form.isVisible());
        form.BinGrid->setCurrentIndex(form.BinGrid->cellOf(4)); // leaving the cell brings its byte back
        QCOMPARE(cell(form, 0, 6), QStringLiteral("00"));
        form.OKBtn->click();
        QVERIFY(!form.isVisible());
        QCOMPARE(f.stored(u"b"), (std::pair { reg::kRegBinary, Bytes { 'B', 'X', 44, ' ', 0, 0 } }));
    }

    // A string, a DWORD or a new value brings no bytes to the binary page; its grid still has a
    // row to type into, and OK writes what was typed there.
    void theBinaryPageOfAValueWithoutBytesTakesTypedCells() {
        Fixture f;
        const auto typeCells = [](TEditForm& form, const QStringList& numbers) {
            form.PageControl->setCurrentWidget(form.BinarySheet);
            // The field of the page left, when it had the keyboard, passes it to the grid.
            if (!form.BinGrid->isAncestorOf(QApplication::focusWidget())) form.BinGrid->setFocus();
            QCOMPARE(form.BinGrid->currentIndex(), form.BinGrid->cellOf(0));
            for (const QString& number : numbers) {
                auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
                QVERIFY2(editor, "a cell editor is open on the current cell");
                QTest::keyClicks(editor, number);
                QTest::keyClick(editor, Qt::Key_Return);
            }
        };
        {
            Dialog d(f, valueRequest("s"));
            typeCells(d.form, { QStringLiteral("7"), QStringLiteral("$ff") });
            QCOMPARE(d.form.BinString->text().size(), std::size_t(2));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QCOMPARE(f.stored(u"s"), (std::pair { reg::kRegBinary, Bytes { 7, 255 } }));
        {
            Dialog d(f, { true, true, kKeyPath, "" });
            typeInto(d.form.EditName, QStringLiteral("fresh"));
            typeCells(d.form, { QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3") });
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QCOMPARE(f.stored(u"fresh"), (std::pair { reg::kRegBinary, Bytes { 1, 2, 3 } }));
    }

    void theGridFollowsTheCaretOfTheLine() {
        Fixture f;
        f.set(u"long", reg::kRegBinary, Bytes(300, 'a'));
        Dialog d(f, valueRequest("long"));
        TEditForm& form = d.form;
        QCOMPARE(cell(form, 16, 0), QStringLiteral("80"));
        QCOMPARE(cell(form, 32, 0), QStringLiteral("100"));
        QTRY_VERIFY(form.BinString->hasFocus());
        QCOMPARE(form.BinGrid->rowAt(0), 0);
        const int visible = form.BinGrid->rowAt(form.BinGrid->viewport()->height() - 1);
        QVERIFY(visible > 0 && visible < 20);
        const auto rowShown = [&](int row) {
            return row >= form.BinGrid->rowAt(0) && row <= form.BinGrid->rowAt(form.BinGrid->viewport()->height() - 1);
        };
        for (int i = 0; i < 8 * (visible + 2); ++i) {
            QTest::keyClick(form.BinString, Qt::Key_Right);
            QVERIFY2(rowShown(form.BinString->cursorPosition() / 8), "the caret's row is always shown");
        }
        QVERIFY(form.BinGrid->rowAt(0) > 0);
        QVERIFY(form.BinGrid->highlighted(static_cast<std::size_t>(8 * (visible + 2))));
        QTest::keyClick(form.BinString, Qt::Key_End);
        QVERIFY(rowShown(300 / 8));
        form.BinString->setCursorPosition(0); // as a click places it: only the highlight moves
        QVERIFY(!rowShown(0));
        QVERIFY(form.BinGrid->highlighted(0));
        form.BinString->setSelection(10, 3);
        QVERIFY(form.BinGrid->highlighted(10) && form.BinGrid->highlighted(13) && !form.BinGrid->highlighted(14));
    }

    void aMegabyteOpensAndSavesExactly() {
        Fixture f;
        Bytes big(1 << 20);
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        f.set(u"big", reg::kRegBinary, big);
        const FileState before(f.userFile());
        {
            Dialog d(f, valueRequest("big"));
            QCOMPARE(d.form.BinString->text().size(), big.size());
            QCOMPARE(cell(d.form, (1 << 17) - 1, 8), QString::number(big.back()));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QVERIFY(FileState(f.userFile()) == before);
        Dialog d(f, valueRequest("big"));
        QTRY_VERIFY(d.form.BinString->hasFocus());
        QTest::keyClick(d.form.BinString, Qt::Key_End);
        QTest::keyClicks(d.form.BinString, QStringLiteral("z"));
        d.form.OKBtn->click();
        QVERIFY(!d.form.isVisible());
        big.push_back('z');
        QCOMPARE(f.stored(u"big"), (std::pair { reg::kRegBinary, big }));
    }

    void theNameField() {
        Fixture f;
        {
            Dialog d(f, valueRequest("s"));
            QVERIFY(d.form.OKBtn->isEnabled());
            typeInto(d.form.EditName, QStringLiteral("n"));
            QVERIFY2(!d.form.OKBtn->isEnabled(), "a value of that name exists");
            typeInto(d.form.EditName, QStringLiteral("a\\b"));
            QCOMPARE(d.form.EditName->text(), QStringLiteral("a\\b"));
            QVERIFY2(d.form.OKBtn->isEnabled(), "value names may hold backslashes");
            d.form.EditName->clear();
            QVERIFY2(d.form.OKBtn->isEnabled(), "the empty name is the default value");
        }
        {
            Dialog d(f, { false, true, "HKEY_CURRENT_USER\\Software", "" });
            QCOMPARE(d.form.windowTitle(), QStringLiteral("Creating new key..."));
            QVERIFY(!d.form.ValuePanel->isVisible());
            QCOMPARE(d.form.LabName->text(), QStringLiteral("Key name :"));
            QVERIFY(!d.form.OKBtn->isEnabled());
            typeInto(d.form.EditName, QStringLiteral("Edit"));
            QVERIFY2(!d.form.OKBtn->isEnabled(), "the key exists");
            typeInto(d.form.EditName, QStringLiteral("New\\Key"));
            QCOMPARE(d.form.EditName->text(), QStringLiteral("NewKey"));
            QApplication::clipboard()->setText(QStringLiteral("\\2"));
            d.form.EditName->paste();
            QCOMPARE(d.form.EditName->text(), QStringLiteral("NewKey2"));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
            QCOMPARE(d.request.EditItemName, std::string("NewKey2"));
        }
        QVERIFY(f.registry->keyExists("\\Software\\NewKey2"));
        {
            Dialog d(f, { false, false, "HKEY_CURRENT_USER\\Software", "NewKey2" });
            QCOMPARE(d.form.windowTitle(), QStringLiteral("Changing key name..."));
            QVERIFY(d.form.OKBtn->isEnabled());
            typeInto(d.form.EditName, QStringLiteral("Edit"));
            QVERIFY(!d.form.OKBtn->isEnabled());
            typeInto(d.form.EditName, QStringLiteral("Renamed"));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QVERIFY(f.registry->keyExists("\\Software\\Renamed"));
        QVERIFY(!f.registry->keyExists("\\Software\\NewKey2"));
    }

    void modifyFromTheWindowWritesAndTheGridShowsIt() {
        Fixture f;
        TMainForm form(*f.store);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.GoToPath(QString::fromStdString(kKeyPath));
        form.flushTreeChange();
        const auto names = test::valueNames(form);
        const int row = static_cast<int>(std::find(names.begin(), names.end(), "n") - names.begin());
        QVERIFY(row < static_cast<int>(names.size()));
        test::KeyGrid(form)->setFocus();
        test::KeyGrid(form)->setCurrentIndex(test::KeyGrid(form)->model()->index(row, 0));
        QString title;
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            title = dialog.windowTitle();
            typeInto(dialog.EditInt, QStringLiteral("4000000000"));
            dialog.OKBtn->click();
        });
        QTest::keyClick(test::KeyGrid(form), Qt::Key_Return);
        QCOMPARE(title, QStringLiteral("Changing value properties..."));
        QCOMPARE(f.stored(u"n"), (std::pair { reg::kRegDword, Bytes { 0x00, 0x28, 0x6B, 0xEE } }));
        QCOMPARE(form.cellText(1, row + 1),
            QString::fromStdString(formatDword(static_cast<std::int32_t>(4000000000u), form.DWViewMode)));
        QCOMPARE(form.focusWidget(), test::KeyGrid(form));
        QCOMPARE(test::KeyGrid(form)->currentIndex().row(), row);
        QVERIFY(test::readFile(f.userFile()).find("\"n\"=dword:ee6b2800") != std::string::npos);

        QApplication::setActiveWindow(&form); // as the desktop gives it back when the dialog goes
        QVERIFY(QTest::qWaitForWindowActive(&form));
        int shown = 0;
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            ++shown;
            dialog.CancelBTN->click();
        });
        const QPoint data = test::KeyGrid(form)->visualRect(test::KeyGrid(form)->model()->index(row, 1)).center();
        QTest::mouseClick(test::KeyGrid(form)->viewport(), Qt::LeftButton, {}, data);
        QTest::mouseDClick(test::KeyGrid(form)->viewport(), Qt::LeftButton, {}, data);
        QCOMPARE(shown, 1);
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
            ++shown;
            dialog.CancelBTN->click();
        });
        QTest::keyClick(test::KeyGrid(form), Qt::Key_F2);
        QCOMPARE(shown, 2);
    }
};

QTEST_MAIN(EditFormTest)
#include "EditFormTest.moc"
