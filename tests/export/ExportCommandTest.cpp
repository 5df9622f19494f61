#include "MainWindowFixture.h"
#include "export/RegExport.h"
#include "window/JobProgress.h"

#include <QProgressDialog>
#include <QStatusBar>

#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "wine/WinePrefixStore.h"
#include <filesystem>

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace quern;
using namespace quern::test;

namespace {

const std::string K = "HKEY_CURRENT_USER\\Software\\K";

// A registry with K (a = "1", b = 2, and the subkey Sub) shown in a window whose save dialog
// answers with answer.
class Window : public test::MainWindowFixture {
public:
    Window() {
        {
            reg::RegAccessor registry(*store);
            registry.selectRoot(reg::kCurrentUser);
            registry.createKey("\\Software\\K\\Sub");
            registry.openKey("\\Software\\K");
            registry.writeString("a", "1");
            registry.writeInteger("b", 2);
        }
        // Before the show is checked: a test that goes on after a failed show never meets a real dialog.
        answerFileDialogs([this] { return answer; });
        QVERIFY(showWindow());
        form->GoToPath(QString::fromStdString(K));
        QTRY_VERIFY(valueNames(*form).size() == 2);
    }
    std::string exportNow() {
        form->REGExportMNUClick();
        return test::readFile(dir / "out.reg");
    }

    QString answer = QString::fromStdString(dir / "out.reg");
};

} // namespace

class ExportCommandTest : public QObject {
    Q_OBJECT
    test::SeparateSettings m_settings;

private slots:
    void init() { m_settings.next(); }

    void withoutASelectionTheFocusDecides() {
        Window w;
        TreeView(*w.form)->setFocus();
        QCOMPARE(w.exportNow(),
            "REGEDIT4\r\n\r\n[" + K + "]\r\n\"a\"=\"1\"\r\n\"b\"=dword:2\r\n\r\n[" + K + "\\Sub]\r\n\r\n");
        QCOMPARE(w.fileDialog.title, QStringLiteral("Save selected keys as .REG..."));
        QCOMPARE(w.fileDialog.filter,
            QStringLiteral("Registry file, REGEDIT4 (*.reg);Unicode registry file, Version 5.00 (*.reg)"));
        QCOMPARE(w.fileDialog.suffix, QStringLiteral("reg"));

        KeyGrid(*w.form)->setFocus();
        KeyGrid(*w.form)->setCurrentIndex(KeyGrid(*w.form)->model()->index(1, 0));
        test::answerNextMessageBox(QMessageBox::Yes);
        QCOMPARE(w.exportNow(), "REGEDIT4\r\n\r\n[" + K + "]\r\n\"b\"=dword:2\r\n\r\n");
    }

    // The status bar says what went where; a Cancel in the progress of a long export leaves no
    // file, and the export says so instead of reporting success.
    void theStatusBarCountsAndCancelLeavesNoFile() {
        Window w;
        TreeView(*w.form)->setFocus();
        (void)w.exportNow();
        QCOMPARE(w.form->statusBar()->currentMessage(), QStringLiteral("Exported 2 keys and 2 values to ") + w.answer);

        {
            reg::RegAccessor registry(*w.store);
            registry.selectRoot(reg::kCurrentUser);
            w.store->beginBatch();
            for (int k = 0; k < 600; ++k)
                registry.createKey("\\Software\\K\\Sub\\" + std::to_string(k));
            QVERIFY(w.store->endBatch().ok());
        }
        const int before = JobProgress::showAfterMilliseconds;
        JobProgress::showAfterMilliseconds = 0;
        w.answer = QString::fromStdString(w.dir / "cancelled.reg");
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (dialog) dialog->cancel();
        });
        TreeView(*w.form)->setFocus();
        w.form->REGExportMNUClick();
        JobProgress::showAfterMilliseconds = before;
        QVERIFY(!std::filesystem::exists(w.dir / "cancelled.reg"));
        QCOMPARE(w.form->statusBar()->currentMessage(), QString::fromLatin1(kExportCancelled));
    }

    void theSelectionIsExportedWhenThereIsOne() {
        Window w;
        TreeView(*w.form)->setFocus();
        QTest::keyClick(TreeView(*w.form), Qt::Key_Space, Qt::ShiftModifier);
        QCOMPARE(w.exportNow(), "REGEDIT4\r\n\r\n[" + K + "]\r\n\"a\"=\"1\"\r\n\"b\"=dword:2\r\n\r\n");
    }

    void keysLeftOutForALineBreakAreNamedAfterTheExport() {
        Window w;
        {
            reg::RegAccessor registry(*w.store);
            registry.selectRoot(reg::kCurrentUser);
            registry.createKey("\\Software\\K\\Two\nLines");
        }
        TreeView(*w.form)->setFocus();
        QString warning;
        test::answerNextMessageBox(QMessageBox::Ok, &warning);
        QCOMPARE(w.exportNow(),
            "REGEDIT4\r\n\r\n[" + K + "]\r\n\"a\"=\"1\"\r\n\"b\"=dword:2\r\n\r\n[" + K + "\\Sub]\r\n\r\n");
        QVERIFY2(warning.endsWith(QStringLiteral("left out of the file with all below them:\n\n"
                                                 "HKEY_CURRENT_USER\\Software\\K\\Two\u240ALines")),
            qPrintable(warning));
    }

    void theUnicodeFileTypeWritesTheLosslessForm() {
        Window w;
        TreeView(*w.form)->setFocus();
        w.fileType = QStringLiteral("Unicode registry file, Version 5.00 (*.reg)");
        const QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[%1]\r\n"
                                            "\"a\"=\"1\"\r\n\"b\"=dword:00000002\r\n\r\n[%1\\Sub]\r\n\r\n")
                                 .arg(QString::fromStdString(K));
        const std::string file = w.exportNow();
        QVERIFY(file.starts_with("\xFF\xFE")); // the byte-order mark
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(file.data() + 2), qsizetype(file.size() / 2 - 1)),
            text);
    }

    void noToTheOverwriteQuestionOrCancelWritesNothing() {
        Window w;
        test::writeFile(w.dir / "out.reg", "earlier");
        QString question;
        test::answerNextMessageBox(QMessageBox::No, &question);
        QCOMPARE(w.exportNow(), std::string("earlier"));
        QCOMPARE(question, QStringLiteral("File already exists, overwrite ?"));
        w.answer.clear();
        QCOMPARE(w.exportNow(), std::string("earlier"));
    }
};

QTEST_MAIN(ExportCommandTest)
#include "ExportCommandTest.moc"
