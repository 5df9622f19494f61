#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "base/Names.h"
#include "codec/RegData.h"
#include "codec/ValueData.h"
#include "codec/ValueText.h"
#include "editor/BinGrid.h"
#include "editor/EditCommands.h"
#include "editor/ModiFormU.h"
#include "editor/MultiStringPage.h"
#include "editor/QwordPage.h"
#include "shell/QuernU.h"
#include "store/KeyWalk.h"
#include "window/Preferences.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <numeric>

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

Bytes units(std::u16string_view text) {
    return test::utf16Bytes(text);
}

// The key goes to the open cell editor of the byte grid.
void keyInCell(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* editor = QApplication::focusWidget();
    QVERIFY2(qobject_cast<QLineEdit*>(editor), "a cell editor has the keyboard");
    QTest::keyClick(editor, key, modifiers);
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
            QCOMPARE(d.form.PageControl->currentWidget(), d.form.MultiSheet);
            d.form.PageControl->setCurrentWidget(d.form.BinarySheet);
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
            QCOMPARE(d.form.PageControl->currentWidget(), d.form.QwordSheet);
            d.form.PageControl->setCurrentWidget(d.form.BinarySheet);
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

    // Every shape of multi-string data opens on its page; OK without a change leaves the file as
    // it was, whether or not the lines can show the data, and the page says when they cannot.
    // A changed text is written as its lines give it, and the page says before OK what changes.
    void theMultiStringPageKeepsWhatItCannotShow() {
        using S = std::u16string_view;
        struct Shape {
            const char* name;
            Bytes data;
            bool shown; // the lines give the data back
        };
        const Shape shapes[] = {
            { "two strings", units(S(u"a\0b\0\0", 5)), true },
            { "an empty string inside", units(S(u"a\0\0b\0\0", 6)), true },
            { "no strings", units(S(u"\0", 1)), true },
            { "non-ASCII and a surrogate pair", units(S(u"\u00e9\U0001F600\0\u20ac\0\0", 7)), true },
            { "a no-break space", units(S(u"a\u00a0b\0\0", 5)), true },
            { "an unpaired surrogate", units(S(u"\xD800x\0\xDC00\0\0", 6)), true },
            { "no final NUL", units(S(u"a\0b", 3)), false },
            { "a lone trailing NUL", units(S(u"a\0b\0", 4)), false },
            { "NULs only", units(S(u"\0\0\0\0", 4)), false },
            { "no data", {}, false },
            { "an odd byte count", Bytes { 'a', 0, 0, 0, 0, 0, 7 }, false },
            { "a line break in a string", units(S(u"a\nb\0\0", 5)), false },
            { "a carriage return", units(S(u"a\rb\0\0", 5)), false },
            { "a paragraph separator", units(S(u"a\u2029b\0\0", 5)), false },
        };
        Fixture f;
        for (const Shape& shape : shapes) {
            f.set(u"ms", reg::kRegMultiSz, shape.data);
            const FileState before(f.userFile());
            {
                Dialog d(f, valueRequest("ms"));
                QCOMPARE(d.form.PageControl->currentWidget(), d.form.MultiSheet);
                QVERIFY2(d.form.MultiSheet->MultiWarning->isVisible() != shape.shown, shape.name);
                QVERIFY(d.form.KindLabel->text().isEmpty());
                d.form.OKBtn->click();
                QVERIFY(!d.form.isVisible());
            }
            QVERIFY2(FileState(f.userFile()) == before, shape.name);
            QCOMPARE(f.stored(u"ms"), (std::pair { reg::kRegMultiSz, shape.data }));

            Dialog d(f, valueRequest("ms"));
            QTRY_VERIFY(d.form.MultiSheet->EditMulti->hasFocus());
            QTest::keyClick(d.form.MultiSheet->EditMulti, Qt::Key_End, Qt::ControlModifier);
            QTest::keyClick(d.form.MultiSheet->EditMulti, Qt::Key_Return);
            QTest::keyClicks(d.form.MultiSheet->EditMulti, QStringLiteral("z"));
            const QString lines = d.form.MultiSheet->lines();
            QVERIFY2(lines.endsWith(QStringLiteral("\nz")), shape.name);
            QVERIFY2(shape.shown || d.form.MultiSheet->MultiWarning->text().startsWith(QStringLiteral("Will change")),
                shape.name);
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
            const std::u16string typed(reinterpret_cast<const char16_t*>(lines.utf16()), lines.size());
            QCOMPARE(f.stored(u"ms"), (std::pair { reg::kRegMultiSz, codec::multiStringFromLines(typed) }));
        }
        {
            // One line changed in the middle: the empty string beside it stays, nothing is added.
            f.set(u"ms", reg::kRegMultiSz, units(S(u"a\0\0b\0\0", 6)));
            Dialog d(f, valueRequest("ms"));
            QCOMPARE(d.form.MultiSheet->EditMulti->toPlainText(), QStringLiteral("a\n\nb"));
            QTRY_VERIFY(d.form.MultiSheet->EditMulti->hasFocus());
            QTest::keyClick(d.form.MultiSheet->EditMulti, Qt::Key_End, Qt::ControlModifier);
            QTest::keyClick(d.form.MultiSheet->EditMulti, Qt::Key_Backspace);
            d.form.MultiSheet->EditMulti->insertPlainText(QStringLiteral("\u00e9"));
            QTest::keyClick(d.form.MultiSheet->EditMulti, Qt::Key_Return);
            QTest::keyClick(d.form.MultiSheet->EditMulti, Qt::Key_Return);
            d.form.OKBtn->click();
        }
        QCOMPARE(f.stored(u"ms"), (std::pair { reg::kRegMultiSz, units(S(u"a\0\0\u00e9\0\0", 6)) }));
        QVERIFY(test::readFile(f.userFile()).find("\"ms\"=str(7):\"a\\0\\0\\xe9\\0\"") != std::string::npos);
    }

    void theQwordPageInThreeBases() {
        Fixture f;
        const FileState before(f.userFile());
        {
            Dialog d(f, valueRequest("q"), kDwordHex);
            QCOMPARE(d.form.PageControl->currentWidget(), d.form.QwordSheet);
            QVERIFY(d.form.QwordSheet->QwordHex->isChecked());
            QCOMPARE(d.form.QwordSheet->EditQword->text(), QStringLiteral("807060504030201"));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QVERIFY2(FileState(f.userFile()) == before, "OK without a change writes nothing");
        {
            Dialog d(f, valueRequest("q"));
            QwordPage& page = *d.form.QwordSheet;
            QCOMPARE(page.EditQword->text(), QStringLiteral("578437695752307201"));
            typeInto(page.EditQword, QStringLiteral("18446744073709551615"));
            QCOMPARE(page.value(), ~std::uint64_t { 0 });
            QTest::keyClick(page.EditQword, Qt::Key_0);
            QCOMPARE(page.EditQword->text(), QStringLiteral("18446744073709551615")); // 2^64 does not fit
            typeInto(page.EditQword, QStringLiteral("4294967296x"));
            QCOMPARE(page.value(), std::uint64_t { 1 } << 32);
            page.QwordBinary->click();
            QCOMPARE(page.EditQword->text(), QStringLiteral("1") + QString(32, QLatin1Char('0')));
            page.QwordHex->click();
            QCOMPARE(page.EditQword->text(), QStringLiteral("100000000"));
            QTest::keyClick(page.EditQword, Qt::Key_G);
            QCOMPARE(page.EditQword->text(), QStringLiteral("100000000"));
            QApplication::clipboard()->setText(QStringLiteral("0x1f"));
            page.EditQword->selectAll();
            QTest::keyClick(page.EditQword, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(page.EditQword->text(), QStringLiteral("01f")); // a paste keeps the digits of the base
            typeInto(page.EditQword, QStringLiteral("100000000"));
            d.form.OKBtn->click();
            QVERIFY(!d.form.isVisible());
        }
        QCOMPARE(f.stored(u"q"), (std::pair { reg::kRegQword, Bytes { 0, 0, 0, 0, 1, 0, 0, 0 } }));
        QVERIFY(test::readFile(f.userFile()).find("\"q\"=hex(b):00,00,00,00,01,00,00,00") != std::string::npos);
        {
            Dialog d(f, valueRequest("n"));
            d.form.PageControl->setCurrentWidget(d.form.QwordSheet);
            QCOMPARE(d.form.KindLabel->text(), QStringLiteral("Will be saved as REG_QWORD"));
            typeInto(d.form.QwordSheet->EditQword, QStringLiteral("0"));
            d.form.OKBtn->click();
        }
        QCOMPARE(f.stored(u"n"), (std::pair { reg::kRegQword, Bytes(8, 0) }));
    }

    // The label under the pages names the type OK will write whenever the page changes it, and
    // is empty while the type stays.
    void theDialogSaysBeforeOKWhenThePageChangesTheType() {
        Fixture f;
        const std::pair<const char*, std::vector<std::pair<QWidget * TEditForm::*, const char*>>> cases[] = {
            { "s",
                { { &TEditForm::StringSheet, "" }, { &TEditForm::IntSheet, "REG_DWORD" },
                    { &TEditForm::BinarySheet, "REG_BINARY" }, { &TEditForm::StringSheet, "" } } },
            { "e", { { &TEditForm::StringSheet, "" }, { &TEditForm::IntSheet, "REG_DWORD" } } },
            { "m", { { &TEditForm::BinarySheet, "" }, { &TEditForm::StringSheet, "REG_SZ" } } },
            { "q", { { &TEditForm::BinarySheet, "" }, { &TEditForm::IntSheet, "REG_DWORD" } } },
            { "b",
                { { &TEditForm::BinarySheet, "" }, { &TEditForm::StringSheet, "REG_SZ" },
                    { &TEditForm::BinarySheet, "" } } },
        };
        for (const auto& [name, steps] : cases) {
            Dialog d(f, valueRequest(name));
            QVERIFY2(d.form.KindLabel->text().isEmpty(), name);
            for (const auto& [sheet, type] : steps) {
                d.form.PageControl->setCurrentIndex(d.form.PageControl->indexOf(d.form.*sheet));
                const QString said = *type ? QStringLiteral("Will be saved as ") + QLatin1String(type) : QString();
                QCOMPARE(d.form.KindLabel->text(), said);
            }
        }
        Dialog d(f, valueRequest("b"));
        d.form.PageControl->setCurrentWidget(d.form.MultiSheet);
        QCOMPARE(d.form.KindLabel->text(), QStringLiteral("Will be saved as REG_MULTI_SZ"));
        QTest::keyClicks(d.form.MultiSheet->EditMulti, QStringLiteral("x"));
        d.form.OKBtn->click();
        QCOMPARE(f.stored(u"b"), (std::pair { reg::kRegMultiSz, units(std::u16string_view(u"x\0\0", 3)) }));
    }

    // Hex cells once the box is ticked, kept in the preferences for the next showing; and the keys
    // of a hex editor in the cell editor.
    void theByteGridInHexWithTheKeysOfAHexEditor() {
        Fixture f;
        Bytes twenty(20);
        std::iota(twenty.begin(), twenty.end(), std::uint8_t { 0 });
        f.set(u"g", reg::kRegBinary, twenty);
        Preferences preferences;
        int saves = 0;
        {
            Dialog d(f, valueRequest("g"));
            TEditForm& form = d.form;
            form.usePreferences(preferences, [&] { ++saves; });
            QVERIFY(!form.BinHexCheck->isChecked());
            QCOMPARE(cell(form, 1, 3), QStringLiteral("10"));
            form.BinHexCheck->click();
            QCOMPARE(saves, 1);
            QVERIFY(preferences.flag("ByteGridHex"));
            QCOMPARE(cell(form, 1, 3), QStringLiteral("0A"));
            QCOMPARE(cell(form, 1, 8), QStringLiteral("0F"));

            // Tab goes from the tabs into the page's grid, past the box, which takes no focus.
            form.PageControl->tabBar()->setFocus();
            QTest::keyClick(form.PageControl->tabBar(), Qt::Key_Tab);
            QVERIFY(form.BinGrid->isAncestorOf(QApplication::focusWidget()));
            QCOMPARE(form.BinGrid->currentIndex(), form.BinGrid->cellOf(0));
            const auto at
                = [&](std::size_t byte) { return form.BinGrid->currentIndex() == form.BinGrid->cellOf(byte); };
            for (int i = 0; i < 8; ++i)
                keyInCell(Qt::Key_Right);
            QVERIFY2(at(8), "Right wraps to the next row");
            keyInCell(Qt::Key_Left);
            QVERIFY2(at(7), "Left wraps back");
            keyInCell(Qt::Key_Home);
            QVERIFY(at(0));
            keyInCell(Qt::Key_End);
            QVERIFY(at(7));
            keyInCell(Qt::Key_End, Qt::ControlModifier);
            QVERIFY(at(19));
            keyInCell(Qt::Key_Home);
            QVERIFY(at(16));
            keyInCell(Qt::Key_End);
            QVERIFY2(at(19), "the last byte of a short row");
            keyInCell(Qt::Key_Right);
            QVERIFY2(at(20), "the cell after the data, where a byte is appended");
            keyInCell(Qt::Key_Right);
            QVERIFY2(at(20), "no further");
            keyInCell(Qt::Key_Home, Qt::ControlModifier);
            QVERIFY(at(0));
            keyInCell(Qt::Key_Right);
            QVERIFY2(at(1), "a cell's text is all selected as it opens: at both its edges");
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("fF"));
            QCOMPARE(form.BinString->text()[1], '\xff');
            keyInCell(Qt::Key_Left);
            keyInCell(Qt::Key_Left);
            QVERIFY2(at(1), "inside the text Left moves the caret");
            keyInCell(Qt::Key_Left);
            QVERIFY2(at(0), "at its edge, to the cell before");
            keyInCell(Qt::Key_Left);
            keyInCell(Qt::Key_Left);
            QVERIFY2(at(0), "there is none before the first");
            form.OKBtn->click();
            QVERIFY(!form.isVisible());
        }
        twenty[1] = 0xFF;
        QCOMPARE(f.stored(u"g"), (std::pair { reg::kRegBinary, twenty }));
        Dialog d(f, valueRequest("g"));
        d.form.usePreferences(preferences, [&] { ++saves; });
        QVERIFY(d.form.BinHexCheck->isChecked());
        QCOMPARE(cell(d.form, 0, 2), QStringLiteral("FF"));
        QCOMPARE(saves, 1);
    }

    // The New ... value commands: the dialog opens on the page of the type, names it, and OK
    // writes a value of that type, whose row the grid then shows.
    void newValueOfTypeOpensItsPageAndWritesThatType() {
        Fixture f;
        TMainForm form(*f.store);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.GoToPath(QString::fromStdString(kKeyPath));
        form.flushTreeChange();
        struct Case {
            std::uint32_t type;
            std::function<QWidget*(TEditForm&)> page;
            std::function<void(TEditForm&)> fill;
            Bytes stored;
        };
        const Case cases[] = {
            { reg::kRegSz, [](TEditForm& d) { return d.StringSheet; },
                [](TEditForm& d) { d.EditString->setText(QStringLiteral("x")); }, test::utf16zBytes(u"x") },
            { reg::kRegExpandSz, [](TEditForm& d) { return d.StringSheet; },
                [](TEditForm& d) { d.EditString->setText(QStringLiteral("%T%")); }, test::utf16zBytes(u"%T%") },
            { reg::kRegDword, [](TEditForm& d) { return d.IntSheet; },
                [](TEditForm& d) { QTest::keyClicks(d.EditInt, QStringLiteral("5")); }, Bytes { 5, 0, 0, 0 } },
            { reg::kRegQword, [](TEditForm& d) -> QWidget* { return d.QwordSheet; },
                [](TEditForm& d) { QTest::keyClicks(d.QwordSheet->EditQword, QStringLiteral("6")); },
                Bytes { 6, 0, 0, 0, 0, 0, 0, 0 } },
            { reg::kRegBinary, [](TEditForm& d) { return d.BinarySheet; },
                [](TEditForm& d) { QTest::keyClicks(d.BinString, QStringLiteral("AB")); }, Bytes { 'A', 'B' } },
            { reg::kRegMultiSz, [](TEditForm& d) -> QWidget* { return d.MultiSheet; },
                [](TEditForm& d) { d.MultiSheet->EditMulti->setPlainText(QStringLiteral("l1\n\nl2")); },
                units(std::u16string_view(u"l1\0\0l2\0\0", 8)) },
        };
        for (const Case& c : cases) {
            const std::string name = "new " + codec::typeName(c.type);
            bool opened = false;
            bool onItsPage = false;
            QString title;
            QString said;
            test::whenModalDo<TEditForm>([&](TEditForm& dialog) {
                // What it shows is kept for the checks after it; it always closes.
                opened = true;
                title = dialog.windowTitle();
                onItsPage = dialog.PageControl->currentWidget() == c.page(dialog);
                said = dialog.KindLabel->text();
                dialog.EditName->setText(QString::fromStdString(name));
                c.fill(dialog);
                dialog.OKBtn->click();
                if (dialog.isVisible()) dialog.reject();
            });
            newValueOfType(form, c.type);
            QVERIFY(opened);
            QCOMPARE(title, QStringLiteral("Creating new value..."));
            QVERIFY2(onItsPage, name.c_str());
            QCOMPARE(said, QStringLiteral("Will be saved as ") + QString::fromStdString(codec::typeName(c.type)));
            QCOMPARE(f.stored(reg::toUtf16(name)), (std::pair { c.type, c.stored }));
            const int row = test::KeyGrid(form)->currentIndex().row();
            QCOMPARE(test::valueNames(form).at(static_cast<std::size_t>(row)), name);
            QApplication::setActiveWindow(&form);
            QVERIFY(QTest::qWaitForWindowActive(&form));
        }
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
