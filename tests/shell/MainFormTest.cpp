#include "MainWindowFixture.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "shell/HelpU.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "window/KeyTreeItem.h"
#include "wine/WinePrefixStore.h"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

using namespace quern;
using namespace quern::test;

namespace {

// A registry of its own in a temporary folder, with a few keys and values to browse.
struct Fixture : test::MainWindowFixture {
    Fixture() {
        reg::RegAccessor registry(*store);
        registry.selectRoot(reg::kCurrentUser);
        registry.createKey("\\Software\\Vendor\\App\\Deep");
        registry.createKey("\\Software\\Vendor\\Other");
        registry.createKey("\\Software\\Empty");
        registry.openKey("\\Software\\Vendor\\App");
        registry.writeString("", "default");
        registry.writeString("Text", "hello");
        registry.writeInteger("Number", 255);
        registry.writeBinaryData("Bytes", "\x0a\xff", 2);
        registry.writeBinaryData("Nothing", "", 0);
        const std::vector<std::uint8_t> wide { 1, 2, 3, 4, 5, 6, 7, 8 };
        const std::vector<std::uint8_t> multi { 'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0 };
        (void)store->setValue(registry.currentKey(), u"Wide", reg::kRegDword, wide);
        (void)store->setValue(registry.currentKey(), u"Multi", reg::kRegMultiSz, multi);
    }
};

QTreeWidgetItem* childNamed(QTreeWidgetItem* parent, const QString& name) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == name) return parent->child(i);
    return nullptr;
}

QString selectedPath(TMainForm& form) {
    return QString::fromStdString(keyPathOfNode(form.currentNode()));
}

// Answers the next message box with the given button, once it shows.
void typeInto(QWidget* widget, const QString& text) {
    widget->setFocus();
    QTest::keyClicks(widget, text);
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT
    test::SeparateSettings m_settings;

private slots:
    void init() { m_settings.next(); }

    void startsWithTheTreeAndTheMenus() {
        Fixture f;
        QVERIFY(f.showWindow(Fixture::Shown::Exposed));
        TMainForm& form = f.window();
        QCOMPARE(form.windowTitle(), QStringLiteral("Quern - THE registry editor & backupper"));
        QTreeWidgetItem* top = TreeView(form)->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("Local Registry"));
        QCOMPARE(top->childCount(), 6);
        QCOMPARE(top->child(5)->text(0), QStringLiteral("HKEY_DYN_DATA"));
        QCOMPARE(form.currentNode(), static_cast<KeyTreeItem*>(top)); // an empty path selects the top node
        QCOMPARE(form.cellText(0, 0), QStringLiteral("Name"));
        QCOMPARE(form.cellText(1, 0), QStringLiteral("Data"));
        QCOMPARE(REGExportMNU(form)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
        QCOMPARE(ExitMNU(form)->statusTip(), QStringLiteral("Bye bye, see you soon !"));
        QCOMPARE(DeleteMNU(form)->text().section(QLatin1Char('\t'), 0, 0), QStringLiteral("&Delete Key"));
        QVERIFY(CharMNU(form)->isChecked() && !HexMNU(form)->isChecked() && DWDecMNU(form)->isChecked());
        QVERIFY(form.readOnlyText().isEmpty());
    }

    void menuStatesFollowTheFocus() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        auto state = [&] {
            return QStringList { SelRecurseMNU(form)->isVisible() ? QStringLiteral("sel") : QStringLiteral("-"),
                ValueSelMNU(form)->isVisible() ? QStringLiteral("val") : QStringLiteral("-"),
                N2(form)->isVisible() ? QStringLiteral("n2") : QStringLiteral("-"), DeleteMNU(form)->text() };
        };
        TreeView(form)->setFocus();
        QCOMPARE(state(),
            (QStringList { QStringLiteral("sel"), QStringLiteral("-"), QStringLiteral("n2"),
                QStringLiteral("&Delete Key\tDel") }));
        KeyGrid(form)->setFocus();
        QCOMPARE(state(),
            (QStringList { QStringLiteral("-"), QStringLiteral("val"), QStringLiteral("n2"),
                QStringLiteral("&Delete Value\tDel") }));
        PathEdit(form)->setFocus();
        QCOMPARE(state(),
            (QStringList { QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                QStringLiteral("&Delete Value") })); // the shortcuts are withdrawn while the path edit has the focus
        Memo(form)->setFocus();
        QCOMPARE(state(),
            (QStringList {
                QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("&Delete Value\tDel") }));
        QCOMPARE(SelMNU(form)->text(), QStringLiteral("Select &current\tShift+Space"));
    }

    void editKeysTypeIntoThePathEditAndRunCommandsElsewhere() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        PathEdit(form)->setFocus();
        PathEdit(form)->setText(QStringLiteral("ab"));
        PathEdit(form)->setCursorPosition(1);
        for (auto key : { Qt::Key_Space, Qt::Key_Insert, Qt::Key_Return, Qt::Key_Delete })
            QTest::keyClick(PathEdit(form), key);
        QCOMPARE(PathEdit(form)->text(), QStringLiteral("a "));
        for (const char* command : { "NewMNUClick", "ModifyMNUClick", "DeleteMNUClick" })
            QCOMPARE(form.seamCalls(command), 0);
        QVERIFY(form.selection().Entries().empty());

        QTest::keyClick(PathEdit(form), Qt::Key_F2);
        QCOMPARE(form.seamCalls("ModifyMNUClick"), 1); // F2 runs Modify even from the path edit

        TreeView(form)->setFocus();
        QTest::keyClick(TreeView(form), Qt::Key_Space);
        QCOMPARE(form.selection().Entries(), std::vector<std::string> { "\\" }); // the top node with subkeys
        QTest::keyClick(TreeView(form), Qt::Key_Insert);
        QTest::keyClick(TreeView(form), Qt::Key_Return);
        QTest::keyClick(TreeView(form), Qt::Key_Delete);
        QCOMPARE(form.seamCalls("NewMNUClick"), 1);
        QCOMPARE(form.seamCalls("ModifyMNUClick"), 2);
        QCOMPARE(form.seamCalls("DeleteMNUClick"), 1);

        KeyGrid(form)->setFocus();
        QTest::keyClick(KeyGrid(form), Qt::Key_Left);
        QVERIFY2(TreeView(form)->hasFocus(), "Left in the grid goes back to the tree");
    }

    void escapeClosesAndTheSelectionAsksFirst() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        Memo(form)->setPlainText(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        QString question;
        test::answerNextMessageBox(QMessageBox::No, &question);
        PathEdit(form)->setFocus();
        QTest::keyClick(PathEdit(form), Qt::Key_Escape);
        QCOMPARE(question, QStringLiteral("Exit program, are you sure ?"));
        QVERIFY2(form.isVisible(), "No keeps the window open");
        test::answerNextMessageBox(QMessageBox::Yes);
        QTest::keyClick(TreeView(form), Qt::Key_Escape);
        QVERIFY(!form.isVisible());

        form.show();
        Memo(form)->clear();
        QVERIFY2(form.close(), "an empty selection closes without asking");
    }

    void treeFillsLazilyAndDropsOnCollapse() {
        Fixture f;
        TMainForm& form = f.window();
        QTreeWidgetItem* top = TreeView(form)->topLevelItem(0);
        QTreeWidgetItem* user = top->child(1);
        QCOMPARE(user->childCount(), 0);
        QCOMPARE(user->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator); // an expand button before reading
        user->setExpanded(true);
        QTreeWidgetItem* software = childNamed(user, QStringLiteral("Software"));
        QVERIFY(software);
        QCOMPARE(software->childCount(), 0);
        software->setExpanded(true);
        QCOMPARE(software->childCount(), 2);
        QTreeWidgetItem* empty = childNamed(software, QStringLiteral("Empty"));
        QCOMPARE(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);

        form.registry().selectRoot(reg::kCurrentUser);
        form.registry().createKey("\\Software\\Added");
        software->setExpanded(false);
        QCOMPARE(software->childCount(), 0); // collapsing drops the subtree
        software->setExpanded(true);
        QVERIFY2(childNamed(software, QStringLiteral("Added")), "and expanding reads it anew");

        top->setExpanded(false);
        QCOMPARE(top->childCount(), 0);
        top->setExpanded(true);
        QCOMPARE(top->childCount(), 6);
        QVERIFY(!top->child(1)->isExpanded());
    }

    void theGridFollowsTheSelectedKeyAfterADelay() {
        Fixture f;
        TMainForm& form = f.window();
        // Every refill below (a new key, a new view mode, a key without values) keeps the rules
        // views rely on: rows, columns, data and the signals between them agree.
        QAbstractItemModelTester gridRules(
            KeyGrid(form)->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        form.GoToPath(QStringLiteral("hkey_current_user\\SOFTWARE\\vendor\\app"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QVERIFY2(valueNames(form).empty(), "the change is told 50 ms after the selection rests");
        QTRY_COMPARE(valueNames(form).size(), std::size_t { 7 });
        QCOMPARE(PathEdit(form)->text(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QCOMPARE(form.cellText(0, 1), QStringLiteral("s")); // the default value first, with an empty name
        QCOMPARE(form.cellText(1, 1), QStringLiteral("\"default\""));

        auto data = [&](const char* name) {
            const auto& names = valueNames(form);
            const auto row = std::find(names.begin(), names.end(), name) - names.begin() + 1;
            return form.cellText(0, static_cast<int>(row)).left(1) + form.cellText(1, static_cast<int>(row));
        };
        QCOMPARE(data("Number"), QStringLiteral("n255"));
        QCOMPARE(data("Wide"), QStringLiteral("n[Invalid Integer Data]"));
        QCOMPARE(data("Nothing"), QStringLiteral("b"));
        DWHexMNU(form)->trigger();
        HexMNU(form)->trigger();
        QVERIFY(DWHexMNU(form)->isChecked() && !DWDecMNU(form)->isChecked() && HexMNU(form)->isChecked());
        QCOMPARE(data("Number"), QStringLiteral("nFFh")); // switching a mode refills at once
        QCOMPARE(data("Bytes"), QStringLiteral("b0A FF "));
        QCOMPARE(data("Multi"), QStringLiteral("b61 00 62 00 00 "));
        DWBinMNU(form)->trigger();
        DecMNU(form)->trigger();
        QCOMPARE(data("Number"), QStringLiteral("n11111111b"));
        QCOMPARE(data("Bytes"), QStringLiteral("b010 255 "));

        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Empty"));
        QTRY_VERIFY(valueNames(form).empty());
        QCOMPARE(KeyGrid(form)->model()->rowCount(), 1); // a key without values shows one blank row
        QCOMPARE(form.cellText(0, 1), QString());
    }

    void typingAPathMovesTheTree() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        PathEdit(form)->clear();
        typeInto(PathEdit(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vend"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software"));
        QTest::keyClicks(PathEdit(form), QStringLiteral("or"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        QVERIFY(form.currentNode()->isExpanded());
        QTRY_VERIFY_WITH_TIMEOUT(!control<QTimer>(form, "TreeChangeTimer")->isActive(), 5000);
        QCOMPARE(PathEdit(form)->text(),
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor")); // what the user types is never overwritten
        PathEdit(form)->setText(QStringLiteral("HKEY_CURRENT_USER\\\\Software"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER"));
        PathEdit(form)->setText(QStringLiteral("\\HKEY_CURRENT_USER"));
        QCOMPARE(selectedPath(form), QString());
        PathEdit(form)->setText(QStringLiteral("HKEY_CURRENT_USER\\Nowhere\\Software"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER"));
    }

    void refreshAfterTheSelectedKeyWasDeleted() {
        Fixture f;
        TMainForm& form = f.window();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QVERIFY(form.currentNode()->isExpanded());
        form.registry().selectRoot(reg::kCurrentUser);
        QVERIFY(form.registry().deleteKey("\\Software\\Vendor\\App"));
        form.RefreshMNUClick();
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        QVERIFY2(form.currentNode()->isExpanded(), "the parent takes the expanded state the deleted key had");
        QVERIFY(!childNamed(form.currentNode(), QStringLiteral("App")));
        QVERIFY2(!TreeView(form)->topLevelItem(0)->child(2)->isExpanded(), "other branches are closed");
    }

    // Refresh reads a file changed on disk and says once what in it cannot be read; a collapsed key
    // keeps an expand button only when it has subkeys.
    void refreshReportsUnreadableLinesAndShowsOnlyRealSubkeys() {
        Fixture f;
        TMainForm& form = f.window();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Other"));
        QTRY_COMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Other"));
        form.currentNode()->setExpanded(false);
        QVERIFY2(!form.currentNode()->markedHasChildren(), "a key without subkeys has no expand button");
        const std::string user = f.dir / "registry/user.reg";
        test::writeFile(user, test::readFile(user) + "\n[Software\\\\Broken] 1700000000\n\"x\"=nonsense\n");
        form.RefreshMNUClick();
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        QStringList told;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) {
                told.push_back(box->text());
                box->close();
            }
        QVERIFY2(told.join(QLatin1Char('\n')).contains(QStringLiteral("user.reg, line")),
            qPrintable(told.join(QLatin1Char('\n'))));
        form.RefreshMNUClick(); // the same lines again: said once
        QUERN_TRY_SETTLE();
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(!form.currentNode()->markedHasChildren());
    }

    void aReadOnlyRegistryStillShowsValuesAndSaysWhy() {
        Fixture f;
        TMainForm& form = f.window(f.openWhileServerRuns(true));
        QVERIFY(form.readOnlyText().contains(QStringLiteral("wineserver")));
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QTRY_COMPARE(valueNames(form).size(), std::size_t { 7 });
    }

    void readOnlyBecauseOfAWineserver() {
        test::TempDir dir;
        test::TempDir tmp;
        test::copySamplePrefix(dir.path());
        test::HeldLock server(test::debianLockPath(dir.path(), tmp.path()));
        reg::WinePrefixOptions options;
        options.prefixDir = dir.path();
        options.serverPaths = { tmp.path(), tmp / "upstream", "/nonexistent" };
        options.scanProcesses = false;
        reg::WinePrefixStore store(options);
        TMainForm form(store);
        QVERIFY(form.readOnlyText().contains(QStringLiteral("wineserver")));
    }

    void tabMovesThroughThePanesInOrder() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        TreeView(form)->setFocus();
        QList<QWidget*> seen;
        for (int i = 0; i < 4; ++i) {
            seen.push_back(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(seen, (QList<QWidget*> { TreeView(form), KeyGrid(form), PathEdit(form), Memo(form) }));
    }

    void theGridDrawsItsHeaderAndSelectionItself() {
        Fixture f;
        TMainForm& form = f.window();
        form.resize(700, 400);
        QVERIFY(f.showWindow());
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QTRY_COMPARE(valueNames(form).size(), std::size_t { 7 });
        KeyGrid(form)->selectRow(0);
        const int y = KeyGrid(form)->rowViewportPosition(0) + 8;
        auto rowColour = [&] {
            const QImage image = KeyGrid(form)->viewport()->grab().toImage();
            return QColor(image.pixel(200, y));
        };
        KeyGrid(form)->setFocus();
        QTRY_COMPARE(rowColour(), form.palette().color(QPalette::Active, QPalette::Highlight));
        TreeView(form)->setFocus();
        QTRY_COMPARE(rowColour(), QColor(Qt::white)); // the selection shows only while the grid has the focus
        const QImage header = KeyGrid(form)->horizontalHeader()->grab().toImage();
        QCOMPARE(QColor(header.pixel(60, 3)), QColor(0xc0, 0xc0, 0xc0));
        QCOMPARE(QColor(header.pixel(60, 0)), QColor(Qt::white));
        QCOMPARE(QColor(header.pixel(60, header.height() - 1)), QColor(0x80, 0x80, 0x80));
    }

    // The file commands reach a real file dialog unless a test answers in its place: answered
    // here in the dialog itself, as a user would, through the keys of the menus.
    void fileCommandsShowTheRealDialog() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        QTRY_COMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        TreeView(form)->setFocus();
        QTest::keyClick(TreeView(form), Qt::Key_Space);
        auto answer = [](const QString& file, QString* title) {
            QTimer::singleShot(0, [=] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (!dialog) return;
                *title = dialog->windowTitle();
                dialog->selectFile(file);
                static_cast<QDialog*>(dialog)->accept(); // as the dialog's own Save or Open button does
            });
        };
        QString title;
        const QString saved = QString::fromStdString(f.dir / "kept.qks");
        answer(saved, &title);
        QTest::keyClick(TreeView(form), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(title, QStringLiteral("Save key selection as ..."));
        QCOMPARE(QString::fromStdString(test::readFile(saved.toStdString())),
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\\r\n"));

        // Offscreen, nothing gives the window back its activation after a dialog; a desktop does.
        QApplication::setActiveWindow(&form);
        TreeView(form)->setFocus();
        QTest::keyClick(TreeView(form), Qt::Key_Space); // deselected; the load brings it back
        QVERIFY(form.selection().Entries().empty());
        answer(saved, &title);
        QTest::keyClick(TreeView(form), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(title, QStringLiteral("Load key selection from ..."));
        QCOMPARE(form.selection().Entries(), std::vector<std::string> { "HKEY_CURRENT_USER\\Software\\Vendor\\" });

        QApplication::setActiveWindow(&form);
        const QString exported = QString::fromStdString(f.dir / "backup.reg");
        answer(exported, &title);
        QTest::keyClick(TreeView(form), Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(title, QStringLiteral("Save selected keys as .REG..."));
        QVERIFY(test::readFile(exported.toStdString()).find("[HKEY_CURRENT_USER\\Software\\Vendor\\App]\r\n")
            != std::string::npos);

        QApplication::setActiveWindow(&form);
        QTimer::singleShot(0, [] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
        });
        QTest::keyClick(TreeView(form), Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(form.isVisible(), "Cancel in the dialog changes nothing");
    }

    // The menu bar borrows the keyboard while the user walks the menus: Esc there leaves the menu,
    // and the Edit menu keeps showing the items of the pane the focus comes back to.
    void theMenusTakeTheKeyboardWithoutClosingOrChangingTheEditMenu() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        form.selection().setEntries({ "HKEY_CURRENT_USER\\Software\\" });
        form.showSelectionInMemo();
        int questions = 0;
        auto countQuestions = [&] {
            QTimer::singleShot(0, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    ++questions;
                    box->button(QMessageBox::No)->click();
                }
            });
        };
        auto tapAlt = [&] {
            QTest::keyPress(QApplication::focusWidget(), Qt::Key_Alt);
            QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Alt, Qt::AltModifier);
        };
        for (QWidget* pane : std::initializer_list<QWidget*> { TreeView(form), KeyGrid(form), PathEdit(form) }) {
            pane->setFocus();
            QTRY_VERIFY(pane->hasFocus());
            const bool treeItems = SelRecurseMNU(form)->isVisible() && SelMNU(form)->isVisible();
            const bool valueItem = ValueSelMNU(form)->isVisible();
            const QString deleteText = DeleteMNU(form)->text();
            tapAlt();
            QTRY_VERIFY(qobject_cast<QMenuBar*>(QApplication::focusWidget()));
            QCOMPARE(SelRecurseMNU(form)->isVisible() && SelMNU(form)->isVisible(), treeItems);
            QCOMPARE(ValueSelMNU(form)->isVisible(), valueItem);
            QCOMPARE(DeleteMNU(form)->text(), deleteText); // the path edit's withdrawn keys stay withdrawn
            countQuestions();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QUERN_TRY_SETTLE();
            QVERIFY(form.isVisible());
            QTRY_VERIFY(pane->hasFocus());
        }
        QCOMPARE(DeleteMNU(form)->text(), QStringLiteral("&Delete Value"));
        QVERIFY(SelRecurseMNU(form)->text().isEmpty() == false);

        // Alt+E opens the Edit menu; the first Esc closes it, the second leaves the menu bar.
        TreeView(form)->setFocus();
        QTest::keyClick(TreeView(form), Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() == EditMNU(form));
        QVERIFY(SelRecurseMNU(form)->isVisible() && SelMNU(form)->isVisible());
        QTest::keyClick(EditMNU(form), Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        countQuestions();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QUERN_TRY_SETTLE();
        QVERIFY(form.isVisible());
        QCOMPARE(questions, 0);
        TreeView(form)->setFocus();
        countQuestions();
        QTest::keyClick(TreeView(form), Qt::Key_Escape);
        QTRY_COMPARE(questions, 1); // outside the menus Esc still asks to close
    }

    // A command on the highlighted values never reaches a row the user did not highlight.
    void theGridSelectsOneRangeOfRows() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QTRY_COMPARE(valueNames(form).size(), std::size_t { 7 }); // "", Bytes, Multi, Nothing, Number, Text, Wide
        KeyGrid(form)->setFocus();
        auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
            const QPoint at(40, KeyGrid(form)->rowViewportPosition(row) + 5);
            QTest::mouseClick(KeyGrid(form)->viewport(), Qt::LeftButton, modifiers, at);
        };
        // Ctrl with a click two rows apart: whatever the grid highlights is one range, and Space
        // acts on exactly the rows highlighted.
        click(1, Qt::NoModifier);
        click(4, Qt::ControlModifier);
        const std::vector<std::string> names = valueNames(form);
        std::vector<std::string> highlighted;
        for (const QModelIndex& row : KeyGrid(form)->selectionModel()->selectedRows())
            highlighted.push_back(names[static_cast<std::size_t>(row.row())]);
        std::sort(highlighted.begin(), highlighted.end(), nameLess);
        const auto first = std::find(names.begin(), names.end(), highlighted.front());
        QVERIFY(std::equal(highlighted.begin(), highlighted.end(), first));
        QTest::keyClick(KeyGrid(form), Qt::Key_Space);
        const std::string key = "HKEY_CURRENT_USER\\Software\\Vendor\\App\\\\";
        std::vector<std::string> expected;
        for (const auto& name : highlighted)
            expected.push_back(key + name);
        QCOMPARE(form.selection().Entries(), expected);
        QVERIFY(highlighted.size() == 1 || highlighted.size() == 4);
    }

    // While the registry is read-only the reason shows in full with what to do, the status bar
    // keeps its room for the hints, and it always names the registry that is open.
    void theStatusSaysWhichRegistryAndWhyItIsReadOnly() {
        Fixture f;
        {
            TMainForm form(*f.store); // its own, gone before the fixture's over the read-only store
            QVERIFY(form.readOnlyText().isEmpty());
            QCOMPARE(form.locationText(), QStringLiteral("Registry: ") + QString::fromStdString(f.store->location()));
        }
        reg::WinePrefixStore& second = f.openWhileServerRuns(true);
        TMainForm& form = f.window(second);
        // Wide enough that the location, at most 320 pixels without hives, and the read-only label
        // leave half the bar to the hints whatever the registry's folder is called: its name is
        // random, and at 640 pixels a name of wide letters took the room.
        form.resize(800, 400);
        QVERIFY(f.showWindow(Fixture::Shown::Exposed));
        const QString reason = QString::fromStdString(second.readOnlyReason());
        QVERIFY(!reason.isEmpty());
        QVERIFY(form.readOnlyText().contains(reason));
        QVERIFY(form.readOnlyText().contains(QStringLiteral("(F5)")));
        auto* bar = form.findChild<QWidget*>(QStringLiteral("ReadOnlyBar"));
        QVERIFY(bar && bar->isVisible());
        auto permanentWidth = [&] {
            int permanent = 0;
            for (const char* name : { "ReadOnlyLabel", "LocationLabel" })
                permanent += form.findChild<QWidget*>(QString::fromLatin1(name))->width();
            return permanent;
        };
        // The status bar lays its labels out after the window shows; on a busy machine, later.
        QTRY_VERIFY2(permanentWidth() < form.statusBar()->width() / 2, "the hints keep most of the status bar");
        form.statusBar()->showMessage(TreeView(form)->statusTip());
        QCOMPARE(form.statusBar()->currentMessage(), TreeView(form)->statusTip());
    }

    // Wine's files may hold names with a lone surrogate: such keys and values show with an escape,
    // and everything reaches them by their real names.
    void namesThatAreNotValidUtf16AreShownAndReachable() {
        Fixture f;
        const std::string odd = reg::toUtf8(u"Odd\xdc00");
        {
            reg::RegAccessor registry(*f.store);
            registry.selectRoot(reg::kCurrentUser);
            registry.createKey("\\Software\\" + odd);
            QVERIFY(registry.openKey("\\Software\\" + odd));
            registry.writeString(reg::toUtf8(u"v\xd800"), "text");
            registry.writeInteger("w", 1);
        }
        QVERIFY(f.showWindow(Fixture::Shown::Exposed));
        TMainForm& form = f.window();
        const QString shownKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Odd<U+DC00>");
        form.GoToPath(shownKey);
        QTRY_COMPARE(form.currentNode()->text(0), QStringLiteral("Odd<U+DC00>"));
        QCOMPARE(form.currentNode()->nodeText(), odd);
        QTRY_COMPARE(valueNames(form).size(), std::size_t { 2 });
        QCOMPARE(form.cellText(0, 1), QStringLiteral("sv<U+D800>"));
        QCOMPARE(form.cellText(1, 1), QStringLiteral("\"text\""));
        QTRY_COMPARE(PathEdit(form)->text(), shownKey);
        KeyGrid(form)->setFocus();
        KeyGrid(form)->selectRow(0);
        QTest::keyClick(KeyGrid(form), Qt::Key_Space);
        QCOMPARE(form.selection().Entries(),
            std::vector<std::string> { "HKEY_CURRENT_USER\\Software\\" + odd + "\\\\" + reg::toUtf8(u"v\xd800") });
        QCOMPARE(Memo(form)->toPlainText(), shownKey + QStringLiteral("\\\\v<U+D800>"));
    }

    void theHelpWindowOpensOnTheScreen() {
        Fixture f;
        TMainForm& form = f.window();
        const QRect screen = form.screen()->availableGeometry();
        form.setGeometry(screen.left(), screen.top(), 300, 200); // its centre is near the top edge
        QVERIFY(f.showWindow(Fixture::Shown::Exposed));
        QTest::keyClick(TreeView(form), Qt::Key_F1);
        THelpForm* help = form.findChild<THelpForm*>();
        QVERIFY(help && help->isVisible());
        QVERIFY2(screen.contains(help->frameGeometry()), "the help window lies wholly on the screen");
        help->close();
    }

    void theSplitterNeverHidesTheTree() {
        Fixture f;
        TMainForm& form = f.window();
        form.resize(600, 400);
        QVERIFY(f.showWindow(Fixture::Shown::Exposed));
        Splitter(form)->setSizes({ 0, 600 });
        QVERIFY(TreeView(form)->width() >= 1);
        KeyGrid(form)->setColumnWidth(0, 120);
        form.applyDataColumnRule();
        QCOMPARE(KeyGrid(form)->columnWidth(1), KeyGrid(form)->viewport()->width() - 120 - 2);
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
