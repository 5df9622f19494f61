#include "MainWindowFixture.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "window/KeyTreeItem.h"
#include "wine/WinePrefixStore.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace quern;
using namespace quern::test;
using Entries = std::vector<std::string>;

namespace {

const std::string U = "HKEY_CURRENT_USER";

// A registry with A (the subkeys B and C, the values v1 to v4) in a window.
class Window : public test::MainWindowFixture {
public:
    Window() {
        {
            reg::RegAccessor registry(*store);
            registry.selectRoot(reg::kCurrentUser);
            registry.createKey("\\Software\\A\\B");
            registry.createKey("\\Software\\A\\C");
            registry.openKey("\\Software\\A");
            for (const char* name : { "v1", "v2", "v3", "v4" })
                registry.writeString(name, "x");
        }
        QVERIFY(showWindow());
    }

    // Selects the key in the tree and gives the tree the focus.
    void at(const QString& path) {
        form->GoToPath(path);
        QTRY_VERIFY(PathEdit(*form)->text() == path);
        TreeView(*form)->setFocus();
    }
    QString memo() const { return Memo(*form)->toPlainText(); }
    const Entries& entries() const { return form->selection().Entries(); }
    QTreeWidgetItem* item(const QString& path) {
        form->GoToPath(path);
        return TreeView(*form)->currentItem();
    }
    // The font weight and the two colours the tree draws an item with.
    QString look(QTreeWidgetItem* treeItem) {
        QStyleOptionViewItem option;
        option.palette = TreeView(*form)->palette();
        form->TreeViewCustomDrawItem(option, static_cast<KeyTreeItem*>(treeItem));
        return QStringLiteral("%1 %2 %3")
            .arg(option.font.bold() ? QStringLiteral("bold") : QStringLiteral("normal"),
                option.palette.color(QPalette::Text).name(), option.palette.color(QPalette::HighlightedText).name());
    }
};

QString caption(QAction* action) {
    return action->text().section(QLatin1Char('\t'), 0, 0);
}

} // namespace

class SelectionCommandsTest : public QObject {
    Q_OBJECT
    test::SeparateSettings m_settings;

private slots:
    void init() { m_settings.next(); }

    void spaceTogglesTheKeyWithItsSubkeys() {
        Window w;
        w.at(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        QCOMPARE(caption(SelRecurseMNU(*w.form)), QStringLiteral("Select current with subkey"));
        QCOMPARE(SelMNU(*w.form)->statusTip(), QStringLiteral("Select only current key (blue marked)"));
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space);
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A\\" });
        QCOMPARE(w.memo(), QStringLiteral("HKEY_CURRENT_USER\\Software\\A\\"));
        QCOMPARE(caption(SelRecurseMNU(*w.form)), QStringLiteral("De&select current with subkey"));
        QCOMPARE(caption(SelMNU(*w.form)), QStringLiteral("Deselect current"));
        QCOMPARE(SelRecurseMNU(*w.form)->statusTip(),
            QStringLiteral("Deselect current key and all child keys (bold marked)"));
        QCOMPARE(w.look(TreeView(*w.form)->currentItem()), QStringLiteral("bold #000000 #ffff00"));
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space);
        QVERIFY(w.entries().empty());
        QCOMPARE(w.memo(), QString());
        QCOMPARE(caption(SelRecurseMNU(*w.form)), QStringLiteral("Select current with subkey"));
    }

    void shiftSpaceTogglesTheKeyAlone() {
        Window w;
        w.at(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space, Qt::ShiftModifier);
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A" });
        QCOMPARE(w.look(TreeView(*w.form)->currentItem()), QStringLiteral("normal #0000ff #ffff00"));
        const QString grey = QStringLiteral("#808080");
        QCOMPARE(w.look(TreeView(*w.form)->currentItem()->parent()), QStringLiteral("bold %1 %1").arg(grey));

        QTest::keyClick(TreeView(*w.form), Qt::Key_Space); // selected: Space deselects, whatever the flag
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space);
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A\\" });
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space, Qt::ShiftModifier);
        QCOMPARE(w.entries(), (Entries { U + "\\Software\\A\\B\\", U + "\\Software\\A\\C\\" }));
        QCOMPARE(w.look(TreeView(*w.form)->currentItem()), QStringLiteral("bold %1 %1").arg(grey));
        QCOMPARE(caption(SelMNU(*w.form)), QStringLiteral("Select current"));
        QCOMPARE(w.look(TreeView(*w.form)->currentItem()->child(0)), QStringLiteral("bold #000000 #ffff00"));
    }

    void theTreeDrawsTheMarks() {
        Window w;
        w.at(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space, Qt::ShiftModifier);
        QTreeWidgetItem* marked = TreeView(*w.form)->currentItem();
        TreeView(*w.form)->setCurrentItem(marked->parent());
        const QRect row = TreeView(*w.form)->visualItemRect(marked);
        const QImage image = TreeView(*w.form)->viewport()->grab().toImage();
        int blue = 0;
        for (int x = row.left(); x < std::min(row.right(), image.width()); ++x)
            for (int y = row.top(); y < row.bottom(); ++y) {
                const QColor pixel(image.pixel(x, y));
                if (pixel.blue() > 200 && pixel.red() < 90 && pixel.green() < 90) ++blue;
            }
        QVERIFY2(blue > 5, "a key selected alone is drawn in blue");
    }

    void theTopNodeSelectsEverythingOnlyWithSubkeys() {
        Window w;
        w.at(QString());
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space, Qt::ShiftModifier);
        QVERIFY(w.entries().empty());
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space);
        QCOMPARE(w.entries(), Entries { "\\" });
        QCOMPARE(w.look(TreeView(*w.form)->topLevelItem(0)->child(3)), QStringLiteral("bold #000000 #ffff00"));
    }

    void theGridTogglesARangeOfValues() {
        Window w;
        w.at(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        QTRY_COMPARE(valueNames(*w.form).size(), std::size_t { 4 });
        KeyGrid(*w.form)->setFocus();
        KeyGrid(*w.form)->selectRow(1);
        QTest::keyClick(KeyGrid(*w.form), Qt::Key_Space);
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A\\\\v2" });
        // Rows 0 to 2, of which v2 is selected: the mixed range becomes selected.
        KeyGrid(*w.form)->selectionModel()->select(
            QItemSelection(KeyGrid(*w.form)->model()->index(0, 0), KeyGrid(*w.form)->model()->index(2, 1)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTest::keyClick(KeyGrid(*w.form), Qt::Key_Space, Qt::ShiftModifier); // values, never keys, in the grid
        QCOMPARE(
            w.entries(), (Entries { U + "\\Software\\A\\\\v2", U + "\\Software\\A\\\\v1", U + "\\Software\\A\\\\v3" }));
        QCOMPARE(w.memo().count(QLatin1Char('\n')), 2);
        ValueSelMNU(*w.form)->trigger();
        QVERIFY(w.entries().empty());

        KeyGrid(*w.form)->selectAll();
        QTest::keyClick(KeyGrid(*w.form), Qt::Key_Space);
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A" }); // every value: the key's own entry
    }

    void thePathEditLeavesTheSelectionAlone() {
        Window w;
        w.at(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        Memo(*w.form)->setPlainText(QStringLiteral("untouched"));
        PathEdit(*w.form)->setFocus();
        w.form->SelMNUClick(SelRecurseMNU(*w.form));
        QVERIFY(w.entries().empty());
        QCOMPARE(w.memo(), QStringLiteral("untouched"));
    }

    void saveAndLoadTheSelection() {
        Window w;
        w.at(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space);
        QString answer = QString::fromStdString(w.dir / "backup");
        w.answerFileDialogs([&] { return answer.isEmpty() ? QString() : answer + QStringLiteral(".qks"); });
        w.form->SaveSelMNUClick();
        QCOMPARE(w.fileDialog.title, QStringLiteral("Save key selection as ..."));
        QCOMPARE(w.fileDialog.filter, QStringLiteral("Quern key selection (*.qks)"));
        QCOMPARE(w.fileDialog.suffix, QStringLiteral("qks"));
        QCOMPARE(test::readFile(w.dir / "backup.qks"), "HKEY_CURRENT_USER\\Software\\A\\\r\n");

        QTest::keyClick(TreeView(*w.form), Qt::Key_Space);
        QString question;
        test::answerNextMessageBox(QMessageBox::No, &question);
        w.form->SaveSelMNUClick();
        QCOMPARE(question, QStringLiteral("File already exists, overwrite ?"));
        QCOMPARE(test::readFile(w.dir / "backup.qks"), "HKEY_CURRENT_USER\\Software\\A\\\r\n");

        // Loading replaces whatever was selected, marks the tree and fills the memo.
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space, Qt::ShiftModifier);
        w.form->LoadSelMNUClick();
        QCOMPARE(w.fileDialog.title, QStringLiteral("Load key selection from ..."));
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A\\" });
        QCOMPARE(w.memo(), QStringLiteral("HKEY_CURRENT_USER\\Software\\A\\"));
        QTRY_COMPARE(caption(SelRecurseMNU(*w.form)), QStringLiteral("De&select current with subkey"));
        QTRY_COMPARE(PathEdit(*w.form)->text(), QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));

        answer.clear();
        w.form->LoadSelMNUClick();
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A\\" }); // cancel changes nothing
    }

    void fileErrorsAreSaidAndChangeNothing() {
        Window w;
        w.at(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"));
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space);
        const QString missing = QString::fromStdString(w.dir / "no/such/folder/sel.qks");
        w.answerFileDialogs([&] { return missing; });
        QString message;
        test::answerNextMessageBox(QMessageBox::Ok, &message);
        w.form->SaveSelMNUClick();
        QCOMPARE(message, QStringLiteral("Cannot create file ") + missing);
        test::answerNextMessageBox(QMessageBox::Ok, &message);
        w.form->LoadSelMNUClick();
        QCOMPARE(message, QStringLiteral("Cannot open file ") + missing);
        QCOMPARE(w.entries(), Entries { U + "\\Software\\A\\" });
    }
};

QTEST_MAIN(SelectionCommandsTest)
#include "SelectionCommandsTest.moc"
