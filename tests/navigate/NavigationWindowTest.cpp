#include "MainWindowFixture.h"
#include "WindowTestSupport.h"
#include "editor/ModiFormU.h"
#include "navigate/PathCommands.h"
#include "window/KeyTreeItem.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>

using namespace quern;
using namespace quern::test;

namespace {

const std::u16string kApp = u"Software\\Vendor\\App";
const std::string kAppPath = "HKEY_CURRENT_USER\\Software\\Vendor\\App";

struct Fixture : MainWindowFixture {
    Fixture()
        : MainWindowFixture(Questions::Recorded) {
        set(kApp, u"Version", reg::kRegSz, { '2', 0, '.', 0, '1', 0, 0, 0 });
        set(kApp, u"Count", reg::kRegDword, { 0x2a, 0, 0, 0 });
        makeKey(kApp + u"\\Plugins\\Deep");
    }
    std::string selectedPath() { return keyPathOfNode(window().currentNode()); }
    QString statusText() { return window().statusBar()->currentMessage(); }
    QString focusedValueName() {
        const int row = window().focusedGridRow();
        return row < 0 ? QString() : QString::fromStdString(window().valueRows()[static_cast<std::size_t>(row)].name);
    }
    // Runs Edit > Go to path... with text typed into its dialog.
    // refusal, when given, gets the text of the message box that follows, answered with OK.
    void goToTyped(const QString& text, QString* refusal = nullptr) {
        whenModalDo<QInputDialog>([text, refusal](QInputDialog& dialog) {
            dialog.setTextValue(text);
            if (refusal) answerNextMessageBox(QMessageBox::Ok, refusal);
            dialog.accept();
        });
        control<QAction>(window(), "GoToPathMNU")->trigger();
        window().flushTreeChange();
        QApplication::setActiveWindow(&window()); // as the desktop gives it back after the dialog
    }
    void popupOnTree(const char* itemPath) {
        goTo(itemPath);
        QTreeWidget* tree = TreeView(window());
        const QPoint at = tree->visualItemRect(tree->currentItem()).center();
        goTo("HKEY_LOCAL_MACHINE"); // the click, not the selection before it, says which key
        emit tree->customContextMenuRequested(at);
        window().flushTreeChange();
        control<QMenu>(window(), "TreePopupMenu")->hide();
    }
    SeparateSettings settings;
};

} // namespace

class NavigationWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_fixture = std::make_unique<Fixture>(), m_fixture->settings.next(); }
    void cleanup() { m_fixture.reset(); }

    // Every form a path is pasted in reaches its key; a last component that names a value focuses
    // that value; a path that goes too deep stops at its deepest key and says what is missing.
    void goToPathTakesEveryFormAndSaysWhatIsMissing() {
        Fixture& f = *m_fixture;
        QVERIFY(f.showWindow());
        for (const char* form :
            { "HKCU\\Software\\Vendor\\App", "  \"Computer\\HKEY_CURRENT_USER\\Software\\Vendor\\App\" ",
                "[hkey_current_user\\software\\vendor\\app]", "HKCU:\\\\Software\\\\Vendor\\\\App\\\\" }) {
            f.goTo("HKEY_LOCAL_MACHINE");
            f.goToTyped(QString::fromUtf8(form));
            QCOMPARE(f.selectedPath(), kAppPath);
            QCOMPARE(f.statusText(), QString());
        }
        f.goToTyped(QStringLiteral("HKCU\\Software\\Vendor\\App\\version"));
        QCOMPARE(f.selectedPath(), kAppPath);
        QCOMPARE(f.focusedValueName(), QStringLiteral("Version"));

        f.goToTyped(QStringLiteral("HKCU\\Software\\Vendor\\Gone\\Deeper"));
        QCOMPARE(f.selectedPath(), "HKEY_CURRENT_USER\\Software\\Vendor");
        QCOMPARE(
            f.statusText(), QStringLiteral("Not found: \"Gone\\Deeper\" under HKEY_CURRENT_USER\\Software\\Vendor"));

        QString refused;
        f.goToTyped(QStringLiteral("Software\\Vendor"), &refused);
        QVERIFY(refused.contains(QStringLiteral("is not a key path")));
        QCOMPARE(f.selectedPath(), "HKEY_CURRENT_USER\\Software\\Vendor");
    }

    // Copy key path gives the key, or with a named value focused the value's path, in the form Go
    // to path reads back; the grid's popup copies a value's name and its data as reg query shows it.
    void copiedPathsGoBackWhereTheyCameFrom() {
        Fixture& f = *m_fixture;
        QVERIFY(f.showWindow());
        f.goTo(kAppPath);
        TreeView(f.window())->setFocus();
        control<QAction>(f.window(), "CopyKeyPathMNU")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(kAppPath));
        QVERIFY(f.statusText().startsWith(QStringLiteral("Copied the key path")));

        const auto& rows = f.window().valueRows();
        const auto count
            = std::find_if(rows.begin(), rows.end(), [](const ValueRow& row) { return row.name == "Count"; });
        f.window().focusValueRow(static_cast<std::size_t>(count - rows.begin()));
        control<QAction>(f.window(), "CopyKeyPathMNU")->trigger();
        const QString valuePath = QGuiApplication::clipboard()->text();
        QCOMPARE(valuePath, QString::fromStdString(kAppPath + "\\Count"));
        QVERIFY(f.statusText().startsWith(QStringLiteral("Copied the value's path")));
        control<QAction>(f.window(), "CopyValueDataPMNU")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("0x2a"));
        control<QAction>(f.window(), "CopyValueNamePMNU")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Count"));

        f.goTo("HKEY_LOCAL_MACHINE");
        f.goToTyped(valuePath);
        QCOMPARE(f.focusedValueName(), QStringLiteral("Count"));
    }

    // A favourite added from the tree's popup is kept in preferences.ini, survives a restart,
    // goes to its key from the menu, and can be removed; settings.ini keeps its ten lines.
    void favouritesAreKeptAcrossStartsAndGoToTheirKeys() {
        Fixture& f = *m_fixture;
        QVERIFY(f.showWindow());
        f.popupOnTree(kAppPath.c_str());
        QCOMPARE(f.selectedPath(), kAppPath);
        whenModalDo<QInputDialog>([](QInputDialog& dialog) {
            QCOMPARE(dialog.textValue(), QStringLiteral("App"));
            dialog.setTextValue(QStringLiteral("  Vendor & app "));
            dialog.accept();
        });
        control<QAction>(f.window(), "AddFavouritePMNU")->trigger();
        f.form.reset(); // closes, writing settings.ini
        QCOMPARE(QString::fromStdString(readFile(quernSettingsFileName())).count(QStringLiteral("\r\n")), 10);

        QVERIFY(f.showWindow());
        f.goTo("HKEY_LOCAL_MACHINE");
        auto* menu = control<QMenu>(f.window(), "FavouritesMNU");
        emit menu->aboutToShow();
        QAction* jump = menu->actions().last();
        QCOMPARE(jump->text(), QStringLiteral("Vendor && app"));
        jump->trigger();
        f.window().flushTreeChange();
        QCOMPARE(f.selectedPath(), kAppPath);

        whenModalDo<QInputDialog>([](QInputDialog& dialog) { dialog.accept(); });
        control<QAction>(f.window(), "RemoveFavouriteMNU")->trigger();
        emit menu->aboutToShow();
        QCOMPARE(menu->actions().size(), 2); // the two commands alone
    }

    // The tree's popup works on the key clicked; a root key cannot be renamed or deleted from it,
    // and Delete there deletes the clicked key after the usual question.
    void treePopupActsOnTheClickedKey() {
        Fixture& f = *m_fixture;
        QVERIFY(f.showWindow());
        auto* popup = control<QMenu>(f.window(), "TreePopupMenu");
        f.popupOnTree("HKEY_CURRENT_USER");
        emit popup->aboutToShow();
        QVERIFY(!control<QAction>(f.window(), "DeleteKeyPMNU")->isEnabled());
        QVERIFY(!control<QAction>(f.window(), "RenameKeyPMNU")->isEnabled());

        f.popupOnTree("HKEY_CURRENT_USER\\Software\\Vendor\\App\\Plugins");
        emit popup->aboutToShow();
        QVERIFY(control<QAction>(f.window(), "DeleteKeyPMNU")->isEnabled());
        f.answers = { Answer::Yes };
        control<QAction>(f.window(), "DeleteKeyPMNU")->trigger();
        QCOMPARE(f.questions.size(), 1);
        QVERIFY(!f.exists(kApp + u"\\Plugins"));
        QVERIFY(f.exists(kApp));
    }

    // The grid's popup: Modify binary data opens a string's stored bytes and keeps its type; OK
    // without a change writes nothing; New of type makes a value of the type picked.
    void gridPopupEditsBytesInPlaceAndMakesValuesOfAType() {
        Fixture& f = *m_fixture;
        QVERIFY(f.showWindow());
        f.goTo(kAppPath);
        const auto& rows = f.window().valueRows();
        const auto version
            = std::find_if(rows.begin(), rows.end(), [](const ValueRow& row) { return row.name == "Version"; });
        const std::size_t versionRow = static_cast<std::size_t>(version - rows.begin());
        const std::string before = readFile(f.userFilePath());
        for (const bool change : { false, true }) {
            QApplication::setActiveWindow(&f.window()); // as the desktop gives it back after a dialog
            f.window().focusValueRow(versionRow);
            bool onBytes = false;
            bool opened = false;
            QString kindSaid = QStringLiteral("unseen");
            whenModalDo<TEditForm>([&](TEditForm& dialog) {
                opened = true;
                onBytes = dialog.PageControl->currentWidget() == dialog.BinarySheet
                    && dialog.binaryPage().GridToBin() == std::vector<std::uint8_t> { '2', 0, '.', 0, '1', 0, 0, 0 };
                kindSaid = dialog.KindLabel->text();
                if (change) dialog.BinGridSetEditText(4, QStringLiteral("57")); // '1' becomes '9'
                dialog.OKBtn->click();
            });
            control<QAction>(f.window(), "ModifyBinaryPMNU")->trigger();
            QVERIFY(opened);
            QVERIFY(onBytes);
            QCOMPARE(kindSaid, QString());
            if (!change) QCOMPARE(readFile(f.userFilePath()), before);
        }
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        reg::KeyHandle key(*f.store);
        QVERIFY(f.store->openKey(reg::kCurrentUser, kApp, reg::Access::Read, reg::kOptionNone, key.out()).ok());
        QVERIFY(f.store->queryValue(key.get(), u"Version", type, data).ok());
        QCOMPARE(type, reg::kRegSz);
        QCOMPARE(data, (std::vector<std::uint8_t> { '2', 0, '.', 0, '9', 0, 0, 0 }));

        whenModalDo<TEditForm>([](TEditForm& dialog) {
            dialog.EditName->setText(QStringLiteral("Big"));
            dialog.OKBtn->click();
        });
        auto* newOfType = control<QMenu>(f.window(), "NewOfTypePMNU");
        newOfType->actions().at(2)->trigger(); // QWORD
        QVERIFY(f.store->queryValue(key.get(), u"Big", type, data).ok());
        QCOMPARE(type, reg::kRegQword);
    }

private:
    std::unique_ptr<Fixture> m_fixture;
};

QTEST_MAIN(NavigationWindowTest)
#include "NavigationWindowTest.moc"
