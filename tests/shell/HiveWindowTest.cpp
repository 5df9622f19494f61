#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "hive/OfflineHive.h"
#include "registry/RegU.h"
#include "shell/HiveCommands.h"
#include "shell/QuernU.h"
#include "window/KeyTreeItem.h"
#include "wine/WinePrefixStore.h"

#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <filesystem>

using namespace quern;
using namespace quern::test;

namespace {

// A hive made by the test: \Select with Current = 1.
void makeHive(const std::string& path) {
    const reg::Status written = reg::writeEmptyHive(path);
    QVERIFY2(written.ok(), written.message().c_str());
    reg::MemoryRegistry scratch;
    QCOMPARE(reg::mountHiveFile(scratch, reg::kLocalMachine, u"H", path).code(), reg::StatusCode::Ok);
    reg::HKey key = reg::kNoKey;
    QCOMPARE(
        scratch.createKey(reg::kLocalMachine, u"H\\Select", reg::Access::Full, 0, key).code(), reg::StatusCode::Ok);
    QCOMPARE(scratch.setValue(key, u"Current", reg::kRegDword, std::vector<std::uint8_t> { 1, 0, 0, 0 }).code(),
        reg::StatusCode::Ok);
    std::remove((path + ".quern-orig").c_str()); // the copy of the empty hive: the window's write keeps its own
}

QString selectedPath(TMainForm& form) {
    return QString::fromStdString(keyPathOfNode(form.currentNode()));
}

} // namespace

class HiveWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_settings.next(); }

    void aHiveLoadsUnderTheNameGivenWorksLikeAnyKeyAndUnloads() {
        TempDir dir;
        const std::string hive = dir / "NTUSER.DAT";
        makeHive(hive);
        auto store = openTestRegistry(dir / "registry");
        TMainForm form(*store);
        QVERIFY2(!control<QAction>(form, "UnloadHiveMNU")->isEnabled(), "no hive to unload");
        form.fileDialogs.run = [&](QFileDialog&) { return QString::fromStdString(hive); };
        QString offered;
        whenModalDo<QDialog>([&](QDialog& dialog) {
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("HiveNameEdit"));
            offered = name->text();
            name->setText(QStringLiteral("Offline"));
            dialog.findChild<QComboBox*>(QStringLiteral("HiveRootBox"))->setCurrentIndex(1);
            dialog.accept();
        });
        control<QAction>(form, "LoadHiveMNU")->trigger();
        QCOMPARE(offered, QStringLiteral("NTUSER")); // the file's name is offered
        QVERIFY(control<QAction>(form, "UnloadHiveMNU")->isEnabled());
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_USERS\\Offline"));
        QVERIFY(form.locationText().contains(QStringLiteral("HKEY_USERS\\Offline: ") + QString::fromStdString(hive)));

        form.goToKeyPath("HKEY_USERS\\Offline\\Select");
        form.flushTreeChange();
        QCOMPARE(valueNames(form), std::vector<std::string> { "Current" });
        // A change through the registry reaches the hive, and the status names the copy kept of it.
        reg::HKey key = reg::kNoKey;
        QCOMPARE(
            store->openKey(reg::kUsers, u"Offline\\Select", reg::Access::Full, 0, key).code(), reg::StatusCode::Ok);
        QCOMPARE(store->setValue(key, u"Current", reg::kRegDword, std::vector<std::uint8_t> { 2, 0, 0, 0 }).code(),
            reg::StatusCode::Ok);
        form.RefreshMNUClick();
        QVERIFY(form.locationText().contains(
            QStringLiteral("(as it was: ") + QString::fromStdString(hive) + QStringLiteral(".quern-orig)")));
        // The hive stays out of the prefix's own files.
        QVERIFY(test::readFile(store->hive(reg::WinePrefixStore::kSystem).path).find("Offline") == std::string::npos);
        QVERIFY(test::readFile(store->hive(reg::WinePrefixStore::kUser).path).find("Current") == std::string::npos);

        // The next load starts where the last hive was.
        QString startedIn;
        form.fileDialogs.run = [&](QFileDialog& dialog) {
            startedIn = dialog.directory().absolutePath();
            return QString();
        };
        control<QAction>(form, "LoadHiveMNU")->trigger();
        QCOMPARE(startedIn, QString::fromStdString(dir.path()));

        control<QAction>(form, "UnloadHiveMNU")->trigger();
        form.goToKeyPath("HKEY_USERS\\Offline\\Select");
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_USERS"));
        QVERIFY2(!control<QAction>(form, "UnloadHiveMNU")->isEnabled(), "the last hive is gone");
    }

    // A name already taken keeps the dialog, with the file and the name in it, for another name;
    // the status bar then shortens the files' paths and never the hives' names.
    void aTakenNameIsAskedForAgainAndTheStatusKeepsTheNames() {
        TempDir dir;
        const std::string folder = dir / "a-folder-with-a-rather-long-name-to-be-shortened/and-one-more-below-it";
        std::filesystem::create_directories(folder);
        const std::string first = folder + "/SOFTWARE";
        const std::string second = folder + "/SYSTEM";
        makeHive(first);
        makeHive(second);
        auto store = openTestRegistry(dir / "registry");
        QCOMPARE(reg::mountHiveFile(*store, reg::kLocalMachine, u"First", first).code(), reg::StatusCode::Ok);
        TMainForm form(*store);
        form.resize(1000, 500);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY2(control<QAction>(form, "UnloadHiveMNU")->isEnabled(), "a hive loaded at start can be unloaded");

        form.fileDialogs.run = [&](QFileDialog&) { return QString::fromStdString(second); };
        QStringList names;
        QStringList files;
        QString told;
        int asked = 0;
        // Whatever is up is answered as it shows: the name dialog, then the message, then the
        // name dialog again.
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                told = box->text();
                box->button(QMessageBox::Ok)->click();
                return;
            }
            auto* dialog = qobject_cast<QDialog*>(modal);
            auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("HiveNameEdit")) : nullptr;
            if (!name) return;
            ++asked;
            names << name->text();
            for (auto* edit : dialog->findChildren<QLineEdit*>())
                if (edit != name) files << edit->text();
            name->setText(asked == 1 ? QStringLiteral("FIRST") : QStringLiteral("Second")); // taken, in another case
            dialog->accept();
        });
        answer.start();
        control<QAction>(form, "LoadHiveMNU")->trigger();
        QCOMPARE(asked, 2);
        QVERIFY2(told.contains(QStringLiteral("already a key named \"FIRST\"")), qPrintable(told));
        QCOMPARE(names, (QStringList { QStringLiteral("SYSTEM"), QStringLiteral("FIRST") }));
        QCOMPARE(files, (QStringList { QString::fromStdString(second), QString::fromStdString(second) }));
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_LOCAL_MACHINE\\Second"));

        auto* label = control<QLabel>(form, "LocationLabel");
        QTRY_VERIFY(label->text() != label->toolTip()); // too long for the bar: shortened
        for (const char* name : { "Registry: ", "; HKEY_LOCAL_MACHINE\\First: ", "; HKEY_LOCAL_MACHINE\\Second: " })
            QVERIFY2(label->text().contains(QLatin1String(name)), qPrintable(label->text()));
        QVERIFY2(!label->text().contains(QString::fromStdString(folder)), "the paths are what is cut");

        // Outside the hives Unload says where to go.
        form.goToKeyPath("HKEY_USERS");
        form.flushTreeChange();
        told.clear();
        answerNextMessageBox(QMessageBox::Ok, &told);
        control<QAction>(form, "UnloadHiveMNU")->trigger();
        QVERIFY(told.contains(QStringLiteral("in no loaded hive")));
    }

    void startUpHivesAreLoadedAndTheirProblemsSaid() {
        TempDir dir;
        const std::string hive = dir / "SYSTEM";
        makeHive(hive);
        test::writeFile(dir / "not-a-hive", "hello");
        auto store = openTestRegistry(dir / "registry");
        const QStringList problems = mountStartupHives(*store,
            { QStringLiteral("quern"), QStringLiteral("--hive"), QStringLiteral("SYS=") + QString::fromStdString(hive),
                QStringLiteral("--hive"), QStringLiteral("BAD=") + QString::fromStdString(dir / "not-a-hive"),
                QStringLiteral("--hive") });
        QCOMPARE(problems.size(), 2);
        QVERIFY(problems[0].contains(QStringLiteral("is not a registry hive")));
        TMainForm form(*store);
        form.goToKeyPath("HKEY_LOCAL_MACHINE\\SYS\\Select");
        QCOMPARE(selectedPath(form), QStringLiteral("HKEY_LOCAL_MACHINE\\SYS\\Select"));
    }

private:
    SeparateSettings m_settings;
};

QTEST_MAIN(HiveWindowTest)
#include "HiveWindowTest.moc"
