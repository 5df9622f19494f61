#include "MainWindowFixture.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "hive/OfflineHive.h"
#include "import/ImportPreview.h"
#include "registry/RegU.h"
#include "shell/QuernU.h"
#include "window/KeyTreeItem.h"
#include "wine/WinePrefixStore.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>

using namespace quern;
using namespace quern::test;

namespace {

const std::string K = "HKEY_CURRENT_USER\\Software\\K";

// A registry with K (a = "1", b = 2, and the subkey Sub) shown in a window whose file dialog
// answers with the test's file.
class Window : public test::MainWindowFixture {
public:
    explicit Window(bool readOnly = false) {
        {
            reg::RegAccessor registry(*store);
            registry.selectRoot(reg::kCurrentUser);
            registry.createKey("\\Software\\K\\Sub");
            registry.openKey("\\Software\\K");
            registry.writeString("a", "1");
            registry.writeInteger("b", 2);
        }
        if (readOnly) window(openWhileServerRuns());
        userBefore = userFile();
        // Before the show is checked: a test that goes on after a failed show never meets a real dialog.
        answerFileDialogs([this] { return QString::fromStdString(file); });
        QVERIFY(showWindow());
        goTo(K);
        QTRY_VERIFY(valueNames(*form).size() == 2);
    }
    [[nodiscard]] std::string userFile() const { return test::readFile(userFilePath()); }
    // Writes the file, runs File > Import... and answers the preview with OK or Cancel.
    void import(const std::string& text, bool ok) {
        test::writeFile(file, text);
        test::whenModalDo<ImportPreview>([this, ok](ImportPreview& preview) {
            summary = preview.summary();
            rows.clear();
            for (int i = 0; i < preview.list()->topLevelItemCount(); ++i) {
                QStringList columns;
                for (int c = 0; c < 5; ++c)
                    columns << preview.list()->topLevelItem(i)->text(c);
                rows << columns.join(QLatin1Char('|'));
            }
            if (ok)
                preview.accept();
            else
                preview.reject();
        });
        control<QAction>(*form, "ImportMNU")->trigger();
    }

    std::string file = dir / "in.reg";
    std::string userBefore;
    QString summary;
    QStringList rows;
};

const std::string kChanges = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[-"
    + K
    + "\\Sub]\r\n\r\n"
      "["
    + K
    + "\\New]\r\n"
      "@=\"d\"\r\n\r\n"
      "["
    + K
    + "]\r\n"
      "\"a\"=\"one\\r\\ntwo\"\r\n"
      "\"b\"=-\r\n"
      "\"c\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"b\"=-\r\n";

} // namespace

class ImportCommandTest : public QObject {
    Q_OBJECT
    test::SeparateSettings m_settings;

private slots:
    void init() { m_settings.next(); }

    // The preview lists every change with its old and new data; Cancel writes nothing, Import
    // writes it all, and the window then shows it with the same key selected.
    void thePreviewListsTheChangesAndOnlyOkWrites() {
        Window w;
        w.import(kChanges, false);
        QCOMPARE(w.fileDialog.title, QStringLiteral("Import .REG file"));
        const QString k = QString::fromStdString(K);
        QCOMPARE(w.rows,
            QStringList({ QStringLiteral("Key deleted, with all below it|%1\\Sub|||").arg(k),
                QStringLiteral("Key added|%1\\New|||").arg(k),
                QStringLiteral("Value added|%1\\New|(Default)||REG_SZ d").arg(k),
                QStringLiteral("Value changed|%1|a|REG_SZ 1|REG_SZ one\u240D\u240Atwo").arg(k),
                QStringLiteral("Value deleted|%1|b|REG_DWORD 0x2|").arg(k),
                QStringLiteral("Value added|%1|c||REG_QWORD 0x1").arg(k) }));
        QVERIFY2(w.summary.contains(QStringLiteral("1 key added")), qPrintable(w.summary));
        QVERIFY2(w.summary.contains(QStringLiteral("1 value changed")), qPrintable(w.summary));
        QCOMPARE(w.userFile(), w.userBefore);

        w.import(kChanges, true);
        QVERIFY(w.userFile() != w.userBefore);
        QCOMPARE(keyPathOfNode(w.form->currentNode()), K);
        QCOMPARE(valueNames(*w.form), (std::vector<std::string> { "a", "c" }));
        QCOMPARE(w.form->valueRows()[0].text, std::string("\"one\r\ntwo\""));
        KeyTreeItem* node = w.form->currentNode();
        node->setExpanded(true);
        QCOMPARE(node->childCount(), 1);
        QCOMPARE(node->child(0)->text(0), QStringLiteral("New"));

        // Undo takes the whole import back: the file has its bytes again.
        emit quern::test::EditMNU(*w.form)->aboutToShow();
        QCOMPARE(quern::test::UndoMNU(*w.form)->text(), QStringLiteral("&Undo import of in.reg\tCtrl+Z"));
        quern::test::UndoMNU(*w.form)->trigger();
        QCOMPARE(w.userFile(), w.userBefore);
    }

    // A file the reader refuses is named with its line and what was expected, and one that
    // changes nothing says so; neither shows the preview nor writes.
    void badFilesAndFilesWithoutChangesWriteNothing() {
        Window w;
        QString message;
        test::answerNextMessageBox(QMessageBox::Ok, &message);
        w.import("Windows Registry Editor Version 5.00\r\n\r\n[" + K + "\r\n\"a\"=\"x\"\r\n", true);
        QVERIFY2(message.contains(QString::fromStdString(w.file + ":3")), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("expected")), qPrintable(message));
        QVERIFY2(message.endsWith(QStringLiteral("Nothing was written.")), qPrintable(message));
        QVERIFY(w.rows.isEmpty());

        test::answerNextMessageBox(QMessageBox::Ok, &message);
        w.import("REGEDIT4\r\n\r\n[" + K + "]\r\n\"a\"=\"1\"\r\n\"b\"=dword:00000002\r\n", true);
        QCOMPARE(message, QStringLiteral("Importing in.reg changes nothing: the registry already holds what it says."));
        QVERIFY(w.rows.isEmpty());
        QCOMPARE(w.userFile(), w.userBefore);
    }

    // A read-only registry can be compared with the file; OK then says why nothing is written.
    void aReadOnlyRegistryShowsThePreviewAndWritesNothing() {
        Window w(true);
        QString message;
        test::whenModalDo<ImportPreview>([&](ImportPreview& preview) {
            QVERIFY(preview.findChild<QLabel*>(QStringLiteral("ReadOnlyNotice")));
            test::answerNextMessageBox(QMessageBox::Ok, &message);
            preview.accept();
        });
        test::writeFile(w.file, kChanges);
        control<QAction>(*w.form, "ImportMNU")->trigger();
        QVERIFY2(message.startsWith(QStringLiteral("Nothing was imported: the registry is read-only.")),
            qPrintable(message));
        QCOMPARE(w.userFile(), w.userBefore);
    }

    // Only a hive loaded, beside no Wine prefix: a file that stays inside the hive is imported, and
    // one that reaches outside it is refused with the reason, before anything is written.
    void aHiveLoadedAloneTakesAnImportThatStaysInsideIt() {
        TempDir dir;
        const reg::Status written = reg::writeEmptyHive(dir / "SYSTEM");
        QVERIFY2(written.ok(), written.message().c_str());
        reg::MemoryRegistryOptions options;
        options.withBaseKeys = false;
        options.fixedPartsReadOnlyReason = "No Wine prefix is open.";
        reg::MemoryRegistry store(options);
        QCOMPARE(reg::mountHiveFile(store, reg::kLocalMachine, u"T", dir / "SYSTEM"), reg::Status::Ok);
        TMainForm form(store);
        form.show();
        const std::string file = dir / "in.reg";
        form.fileDialogs.run = [&](QFileDialog&) { return QString::fromStdString(file); };
        auto import = [&](const std::string& text) {
            writeFile(file, "Windows Registry Editor Version 5.00\r\n\r\n" + text);
            bool notice = true;
            QString message;
            test::whenModalDo<ImportPreview>([&](ImportPreview& preview) {
                notice = preview.findChild<QLabel*>(QStringLiteral("ReadOnlyNotice")) != nullptr;
                test::answerNextMessageBox(QMessageBox::Ok, &message);
                preview.accept();
            });
            control<QAction>(form, "ImportMNU")->trigger();
            return std::make_pair(notice, message);
        };
        const auto inside = import("[HKEY_LOCAL_MACHINE\\T\\In]\r\n\"v\"=dword:00000001\r\n");
        QVERIFY(!inside.first);
        reg::HKey key = reg::kNoKey;
        QCOMPARE(
            store.openKey(reg::kLocalMachine, u"T\\In", reg::Access::Read, reg::kOptionNone, key), reg::Status::Ok);

        const std::string before = readFile(dir / "SYSTEM");
        const auto outside = import("[HKEY_LOCAL_MACHINE\\T\\Also]\r\n\"v\"=dword:00000001\r\n\r\n"
                                    "[HKEY_CURRENT_USER\\Software\\Out]\r\n\"v\"=dword:00000001\r\n");
        QVERIFY(outside.first);
        QVERIFY2(outside.second.contains(QStringLiteral("No Wine prefix is open.")), qPrintable(outside.second));
        QCOMPARE(readFile(dir / "SYSTEM"), before);
    }

    // The import dialog starts on the backup the export just wrote, not on a file of another kind.
    void theImportDialogOffersTheLastExport() {
        Window w;
        w.file = w.dir / "backup.reg";
        TreeView(*w.form)->setFocus();
        w.form->REGExportMNUClick();
        QVERIFY(test::fileExists(w.dir / "backup.reg"));
        w.file.clear(); // Cancel
        control<QAction>(*w.form, "ImportMNU")->trigger();
        QCOMPARE(w.fileDialog.offered, QString::fromStdString(w.dir / "backup.reg"));
        QCOMPARE(w.userFile(), w.userBefore);
    }

    // A write that fails part-way says why and leaves the registry and its files as they were.
    void aFailedWriteChangesNothing() {
        Window w;
        std::string big = "REGEDIT4\r\n\r\n[" + K + "]\r\n\"a\"=\"changed\"\r\n\"big\"=hex:00";
        for (int i = 0; i < 100000; ++i)
            big += ",ab";
        QString message;
        {
            test::FileSizeLimit fullDisk(50000);
            test::whenModalDo<ImportPreview>([&](ImportPreview& preview) {
                test::answerNextMessageBox(QMessageBox::Ok, &message);
                preview.accept();
            });
            test::writeFile(w.file, big + "\r\n");
            control<QAction>(*w.form, "ImportMNU")->trigger();
        }
        QVERIFY2(message.startsWith(QStringLiteral("The import failed, and nothing of it was written:")),
            qPrintable(message));
        QCOMPARE(w.userFile(), w.userBefore);
        QCOMPARE(valueNames(*w.form), (std::vector<std::string> { "a", "b" }));
        QCOMPARE(w.form->valueRows()[0].text, std::string("\"1\""));
    }

    // When the import deletes the key the window stands on, the window goes to the nearest key
    // that is left.
    void theSelectedKeyGoneTheWindowStandsOnItsParent() {
        Window w;
        w.form->GoToPath(QString::fromStdString(K + "\\Sub"));
        w.form->flushTreeChange();
        QCOMPARE(keyPathOfNode(w.form->currentNode()), K + "\\Sub");
        w.import("REGEDIT4\r\n\r\n[-" + K + "\\Sub]\r\n", true);
        QCOMPARE(keyPathOfNode(w.form->currentNode()), K);
    }
};

QTEST_MAIN(ImportCommandTest)
#include "ImportCommandTest.moc"
