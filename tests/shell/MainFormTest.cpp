#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "registry/KeyTreeItem.h"
#include "registry/WinePrefixStore.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"

#include <QAbstractButton>
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace quern;

namespace {

// A registry of its own in a temporary folder, with a few keys and values to browse.
struct Fixture {
    Fixture() {
        store = test::openTestRegistry(dir / "registry");
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
    test::TempDir dir;
    std::unique_ptr<reg::WinePrefixStore> store;
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
        TMainForm form(*f.store);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Quern - THE registry editor & backupper"));
        QTreeWidgetItem* top = form.TreeView->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("Local Registry"));
        QCOMPARE(top->childCount(), 6);
        QCOMPARE(top->child(5)->text(0), QStringLiteral("HKEY_DYN_DATA"));
        QCOMPARE(form.currentNode(), static_cast<KeyTreeItem*>(top)); // an empty path selects the top node
        QCOMPARE(form.cellText(0, 0), QStringLiteral("Name"));
        QCOMPARE(form.cellText(1, 0), QStringLiteral("Data"));
        QCOMPARE(form.REGExportMNU->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
        QCOMPARE(form.ExitMNU->statusTip(), QStringLiteral("Bye bye, see you soon !"));
        QCOMPARE(form.DeleteMNU->text().section(QLatin1Char('\t'), 0, 0), QStringLiteral("&Delete Key"));
        QVERIFY(form.CharMNU->isChecked() && !form.HexMNU->isChecked() && form.DWDecMNU->isChecked());
        QVERIFY(form.readOnlyText().isEmpty());
    }

    void menuStatesFollowTheFocus() {
        Fixture f;
        TMainForm form(*f.store);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto state = [&] {
            return QStringList { form.SelRecurseMNU->isVisible() ? QStringLiteral("sel") : QStringLiteral("-"),
                form.ValueSelMNU->isVisible() ? QStringLiteral("val") : QStringLiteral("-"),
                form.N2->isVisible() ? QStringLiteral("n2") : QStringLiteral("-"), form.DeleteMNU->text() };
        };
        form.TreeView->setFocus();
        QCOMPARE(state(),
            (QStringList { QStringLiteral("sel"), QStringLiteral("-"), QStringLiteral("n2"),
                QStringLiteral("&Delete Key\tDel") }));
        form.KeyGrid->setFocus();
        QCOMPARE(state(),
            (QStringList { QStringLiteral("-"), QStringLiteral("val"), QStringLiteral("n2"),
                QStringLiteral("&Delete Value\tDel") }));
        form.PathEdit->setFocus();
        QCOMPARE(state(),
            (QStringList { QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                QStringLiteral("&Delete Value") })); // the shortcuts are withdrawn while the path edit has the focus
        form.Memo->setFocus();
        QCOMPARE(state(),
            (QStringList {
                QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("&Delete Value\tDel") }));
        QCOMPARE(form.SelMNU->text(), QStringLiteral("Select &current\tShift+Space"));
    }

    void editKeysTypeIntoThePathEditAndRunCommandsElsewhere() {
        Fixture f;
        TMainForm form(*f.store);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.PathEdit->setFocus();
        form.PathEdit->setText(QStringLiteral("ab"));
        form.PathEdit->setCursorPosition(1);
        for (auto key : { Qt::Key_Space, Qt::Key_Insert, Qt::Key_Return, Qt::Key_Delete })
            QTest::keyClick(form.PathEdit, key);
        QCOMPARE(form.PathEdit->text(), QStringLiteral("a "));
        for (const char* command : { "NewMNUClick", "ModifyMNUClick", "DeleteMNUClick" })
            QCOMPARE(form.seamCalls(command), 0);
        QVERIFY(form.selection().Entries().empty());

        QTest::keyClick(form.PathEdit, Qt::Key_F2);
        QCOMPARE(form.seamCalls("ModifyMNUClick"), 1); // F2 runs Modify even from the path edit

        form.TreeView->setFocus();
        QTest::keyClick(form.TreeView, Qt::Key_Space);
        QCOMPARE(form.selection().Entries(), std::vector<std::string> { "\\" }); // the top node with subkeys
        QTest::keyClick(form.TreeView, Qt::Key_Insert);
        QTest::keyClick(form.TreeView, Qt::Key_Return);
        QTest::keyClick(form.TreeView, Qt::Key_Delete);
        QCOMPARE(form.seamCalls("NewMNUClick"), 1);
        QCOMPARE(form.seamCalls("ModifyMNUClick"), 2);
        QCOMPARE(form.seamCalls("DeleteMNUClick"), 1);

        form.KeyGrid->setFocus();
        QTest::keyClick(form.KeyGrid, Qt::Key_Left);
        QVERIFY2(form.TreeView->hasFocus(), "Left in the grid goes back to the tree");
    }

    void escapeClosesAndTheSelectionAsksFirst() {
        Fixture f;
        TMainForm form(*f.store);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Memo->setPlainText(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        QString question;
        test::answerNextMessageBox(QMessageBox::No, &question);
        form.PathEdit->setFocus();
        QTest::keyClick(form.PathEdit, Qt::Key_Escape);
        QCOMPARE(question, QStringLiteral("Exit program, are you sure ?"));
        QVERIFY2(form.isVisible(), "No keeps the window open");
        test::answerNextMessageBox(QMessageBox::Yes);
        QTest::keyClick(form.TreeView, Qt::Key_Escape);
        QVERIFY(!form.isVisible());

        form.show();
        form.Memo->clear();
        QVERIFY2(form.close(), "an empty selection closes without asking");
    }

    void treeFillsLazilyAndDropsOnCollapse() {
        Fixture f;
        TMainForm form(*f.store);
        QTreeWidgetItem* top = form.TreeView->topLevelItem(0);
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
        TMainForm form(*f.store);
        form.GoToPath(QStringLiteral("hkey_current_user\\SOFTWARE\\vendor\\app"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QVERIFY2(form.valueNames().empty(), "the change is told 50 ms after the selection rests");
        QTRY_COMPARE(form.valueNames().size(), std::size_t { 7 });
        QCOMPARE(form.PathEdit->text(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QCOMPARE(form.cellText(0, 1), QStringLiteral("s")); // the default value first, with an empty name
        QCOMPARE(form.cellText(1, 1), QStringLiteral("\"default\""));

        auto data = [&](const char* name) {
            const auto& names = form.valueNames();
            const auto row = std::find(names.begin(), names.end(), name) - names.begin() + 1;
            return form.cellText(0, static_cast<int>(row)).left(1) + form.cellText(1, static_cast<int>(row));
        };
        QCOMPARE(data("Number"), QStringLiteral("n255"));
        QCOMPARE(data("Wide"), QStringLiteral("n[Invalid Integer Data]"));
        QCOMPARE(data("Nothing"), QStringLiteral("b"));
        form.DWHexMNU->trigger();
        form.HexMNU->trigger();
        QVERIFY(form.DWHexMNU->isChecked() && !form.DWDecMNU->isChecked() && form.HexMNU->isChecked());
        QCOMPARE(data("Number"), QStringLiteral("nFFh")); // switching a mode refills at once
        QCOMPARE(data("Bytes"), QStringLiteral("b0A FF "));
        QCOMPARE(data("Multi"), QStringLiteral("b61 00 62 00 00 "));
        form.DWBinMNU->trigger();
        form.DecMNU->trigger();
        QCOMPARE(data("Number"), QStringLiteral("n11111111b"));
        QCOMPARE(data("Bytes"), QStringLiteral("b010 255 "));

        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Empty"));
        QTRY_VERIFY(form.valueNames().empty());
        QCOMPARE(form.KeyGrid->model()->rowCount(), 1); // a key without values shows one blank row
        QCOMPARE(form.cellText(0, 1), QString());
    }

    void typingAPathMovesTheTree() {
        Fixture f;
        TMainForm form(*f.store);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.PathEdit->clear();
        typeInto(form.PathEdit, QStringLiteral("HKEY_CURRENT_USER\\Software\\Vend"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software"));
        QTest::keyClicks(form.PathEdit, QStringLiteral("or"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        QVERIFY(form.currentNode()->isExpanded());
        QTest::qWait(80);
        QCOMPARE(form.PathEdit->text(),
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor")); // what the user types is never overwritten
        form.PathEdit->setText(QStringLiteral("HKEY_CURRENT_USER\\\\Software"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER"));
        form.PathEdit->setText(QStringLiteral("\\HKEY_CURRENT_USER"));
        QCOMPARE(selectedPath(form), QString());
        form.PathEdit->setText(QStringLiteral("HKEY_CURRENT_USER\\Nowhere\\Software"));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER"));
    }

    void refreshAfterTheSelectedKeyWasDeleted() {
        Fixture f;
        TMainForm form(*f.store);
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QVERIFY(form.currentNode()->isExpanded());
        form.registry().selectRoot(reg::kCurrentUser);
        QVERIFY(form.registry().deleteKey("\\Software\\Vendor\\App"));
        form.RefreshMNUClick();
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        QVERIFY2(form.currentNode()->isExpanded(), "the parent takes the expanded state the deleted key had");
        QVERIFY(!childNamed(form.currentNode(), QStringLiteral("App")));
        QVERIFY2(!form.TreeView->topLevelItem(0)->child(2)->isExpanded(), "other branches are closed");
    }

    void aReadOnlyRegistryStillShowsValuesAndSaysWhy() {
        Fixture f;
        reg::WinePrefixOptions options;
        options.prefixDir = f.dir / "registry";
        options.scanProcesses = false;
        reg::WinePrefixStore second(options); // the fixture's store holds the registry
        TMainForm form(second);
        QVERIFY(form.readOnlyText().contains(QStringLiteral("Another Quern")));
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QTRY_COMPARE(form.valueNames().size(), std::size_t { 7 });
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
        TMainForm form(*f.store);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.TreeView->setFocus();
        QList<QWidget*> seen;
        for (int i = 0; i < 4; ++i) {
            seen.push_back(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(seen, (QList<QWidget*> { form.TreeView, form.KeyGrid, form.PathEdit, form.Memo }));
    }

    void theGridDrawsItsHeaderAndSelectionItself() {
        Fixture f;
        TMainForm form(*f.store);
        form.resize(700, 400);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App"));
        QTRY_COMPARE(form.valueNames().size(), std::size_t { 7 });
        form.KeyGrid->selectRow(0);
        const int y = form.KeyGrid->rowViewportPosition(0) + 8;
        auto rowColour = [&] {
            const QImage image = form.KeyGrid->viewport()->grab().toImage();
            return QColor(image.pixel(200, y));
        };
        form.KeyGrid->setFocus();
        QTRY_COMPARE(rowColour(), form.palette().color(QPalette::Active, QPalette::Highlight));
        form.TreeView->setFocus();
        QTRY_COMPARE(rowColour(), QColor(Qt::white)); // the selection shows only while the grid has the focus
        const QImage header = form.KeyGrid->horizontalHeader()->grab().toImage();
        QCOMPARE(QColor(header.pixel(60, 3)), QColor(0xc0, 0xc0, 0xc0));
        QCOMPARE(QColor(header.pixel(60, 0)), QColor(Qt::white));
        QCOMPARE(QColor(header.pixel(60, header.height() - 1)), QColor(0x80, 0x80, 0x80));
    }

    void theSplitterNeverHidesTheTree() {
        Fixture f;
        TMainForm form(*f.store);
        form.resize(600, 400);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Splitter->setSizes({ 0, 600 });
        QVERIFY(form.TreeView->width() >= 1);
        form.KeyGrid->setColumnWidth(0, 120);
        form.applyDataColumnRule();
        QCOMPARE(form.KeyGrid->columnWidth(1), form.KeyGrid->viewport()->width() - 120 - 2);
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
