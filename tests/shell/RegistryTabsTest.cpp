#include "shell/RegistryTabs.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "discover/OpenRegistryDialog.h"
#include "discover/RegistryPlace.h"
#include "hive/OfflineHive.h"
#include "window/KeyTreeItem.h"
#include "window/Preferences.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>

#include <cstdlib>
#include <filesystem>

using namespace quern;
using namespace quern::test;
using discover::RegistryPlace;

namespace {

const QString kTitle = QStringLiteral("Quern - THE registry editor & backupper");

// A folder of the test's own holding settings.ini and preferences.ini, and two prefixes.
struct Machine {
    Machine() {
        setQuernSettingsFileName(dir / "settings.ini");
        std::filesystem::create_directories(first);
        std::filesystem::create_directories(second);
        copySamplePrefix(first);
        copySamplePrefix(second);
    }
    ~Machine() { setQuernSettingsFileName({}); }
    TempDir dir;
    std::string first = dir / "first";
    std::string second = dir / "game";

    [[nodiscard]] Preferences preferences() const {
        Preferences kept(dir / "preferences.ini");
        (void)kept.load();
        return kept;
    }
    // The window as the program starts it: on the first prefix, named by the environment.
    void start(RegistryTabs& tabs) const {
        std::string problem;
        tabs.start(discover::openPlace({ RegistryPlace::Kind::Prefix, first, "" }, problem),
            { RegistryPlace::Kind::Prefix, first, "" });
        tabs.show();
        QApplication::setActiveWindow(&tabs);
        QVERIFY(QTest::qWaitForWindowActive(&tabs));
    }
};

bool tabBarShows(RegistryTabs& tabs) {
    return tabs.findChild<QTabBar*>()->isVisible();
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

} // namespace

class RegistryTabsTest : public QObject {
    Q_OBJECT

private slots:
    // One tab looks as the window always did; File > Open registry opens another in a tab of its
    // own (once, however its folder is spelled); the tab keys move between them with the keyboard
    // in the tree; Close tab closes one, and the last one closes the window, keeping the open tabs.
    void eachRegistryOpensInATabOfItsOwn() {
        Machine machine;
        RegistryTabs tabs;
        machine.start(tabs);
        QCOMPARE(tabs.count(), 1);
        QVERIFY(!tabBarShows(tabs));
        QCOMPARE(tabs.windowTitle(), kTitle);
        QCOMPARE(
            tabs.currentForm()->locationText(), QStringLiteral("Registry: ") + QString::fromStdString(machine.first));

        std::vector<RegistryPlace> answers { { RegistryPlace::Kind::Prefix, machine.second, "Game" },
            { RegistryPlace::Kind::Prefix, machine.second + "/../game/", "Game again" } };
        tabs.chooseRegistry = [&](QWidget*) {
            RegistryPlace next = answers.front();
            answers.erase(answers.begin());
            return std::optional(next);
        };
        control<QAction>(*tabs.currentForm(), "OpenRegistryMNU")->trigger();
        QCOMPARE(tabs.count(), 2);
        QCOMPARE(tabs.currentIndex(), 1);
        QVERIFY(tabBarShows(tabs));
        QCOMPARE(tabs.windowTitle(), QStringLiteral("Game - ") + kTitle);
        QCOMPARE(tabs.currentForm()->locationText(),
            QStringLiteral("Registry: Game (") + QString::fromStdString(machine.second) + QLatin1Char(')'));
        QVERIFY(&tabs.form(0)->store() != &tabs.form(1)->store());
        control<QAction>(*tabs.form(0), "OpenRegistryMNU")->trigger(); // the same folder: its tab again
        QCOMPARE(tabs.count(), 2);

        QTRY_COMPARE(tabs.currentForm()->focusedPane(), CommandWindow::Pane::Tree);
        press(Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs.currentIndex(), 0);
        QCOMPARE(tabs.windowTitle(), kTitle);
        QCOMPARE(tabs.currentForm()->focusedPane(), CommandWindow::Pane::Tree);
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(tabs.currentIndex(), 1);
        press(Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(tabs.currentIndex(), 0);

        control<QAction>(*tabs.form(0), "CloseTabMNU")->trigger();
        QTRY_COMPARE(tabs.count(), 1);
        QCOMPARE(tabs.windowTitle(), QStringLiteral("Game - ") + kTitle);
        QVERIFY(!tabBarShows(tabs));
        control<QAction>(*tabs.currentForm(), "CloseTabMNU")->trigger();
        QTRY_VERIFY(!tabs.isVisible());
        const Preferences kept = machine.preferences();
        QCOMPARE(kept.list("OpenRegistries"), std::vector<std::string> { "prefix\tGame\t" + machine.second });
        QCOMPARE(kept.list("OpenRegistryKeys").size(), std::size_t { 1 });
        QCOMPARE(kept.list("RecentRegistries").size(), std::size_t { 1 });
    }

    // The tabs of the last session come back, a registry gone since left out; each opens its
    // registry only when first shown, and one that cannot be read then goes, with the reason. A prefix a wineserver
    // holds shows read-only, and its bar names the Windows program that runs in it.
    void theLastSessionsTabsComeBackAndTheBarNamesWhatHoldsAPrefix() {
        Machine machine;
        Preferences kept(machine.dir / "preferences.ini");
        // The game's tab stood on a key of its own, which it goes back to when first shown.
        kept.setList("OpenRegistryKeys", { "HKEY_CURRENT_USER\\Control Panel\\Mouse", "", "", "" });
        kept.setList("OpenRegistries",
            { "prefix\tGame\t" + machine.second, "prefix\tGone\t" + (machine.dir / "gone"),
                "prefix\t\t" + machine.first, "hive\tBroken\t" + (machine.dir / "BROKEN") });
        writeFile(machine.dir / "BROKEN", "regf, and nothing else a hive has");
        QVERIFY(kept.save().ok());
        const std::string tmp = machine.dir / "tmp";
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QByteArray::fromStdString(tmp));
        const HeldLock server(debianLockPath(machine.second, tmp));
        const FakeWineProcess game(copyOfSleep(machine.dir / "wine/wine64-preloader"), "C:\\Games\\game.exe",
            { "WINEPREFIX=" + machine.second }, machine.dir.path());
        {
            RegistryTabs tabs;
            machine.start(tabs);
            QCOMPARE(tabs.count(), 3);
            QCOMPARE(tabs.currentIndex(), 1); // the registry the program was started on, where it was
            QString said;
            answerNextMessageBox(QMessageBox::Ok, &said);
            tabs.setCurrentIndex(2); // the hive cannot be read now: said, and its tab goes
            QTRY_COMPARE(tabs.count(), 2);
            QVERIFY2(!said.isEmpty(), "the broken hive's tab went without a word");
            QCOMPARE(tabs.form(0), nullptr);
            tabs.setCurrentIndex(0);
            QVERIFY(tabs.form(0));
            QCOMPARE(tabs.windowTitle(), QStringLiteral("Game - ") + kTitle);
            QCOMPARE(
                keyPathOfNode(tabs.form(0)->currentNode()), std::string("HKEY_CURRENT_USER\\Control Panel\\Mouse"));
            const QString bar = tabs.form(0)->readOnlyText();
            QVERIFY2(bar.contains(QStringLiteral("A wineserver")), qPrintable(bar));
            QVERIFY2(bar.endsWith(QStringLiteral(" Running in it now: game.exe (process %1).").arg(game.pid())),
                qPrintable(bar));
            QVERIFY(tabs.form(1)->readOnlyText().isEmpty());
        }
        if (oldTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
    }

    // The list narrows as the user types; Browse takes a hive file, and says why a folder that is
    // no prefix cannot be opened, the list kept open for another choice.
    void theListNarrowsAndBrowseTakesOnlyRegistries() {
        const TempDir dir;
        std::filesystem::create_directories(dir / "not-a-prefix");
        QVERIFY(reg::writeEmptyHive(dir / "SYSTEM").ok());
        discover::Discovery found;
        auto add = [&](const char* name, discover::RegistryKind kind, const char* folder) {
            discover::FoundRegistry registry;
            registry.name = name;
            registry.kind = kind;
            registry.folder = folder;
            found.registries.push_back(registry);
        };
        add("~/.wine", discover::RegistryKind::Wine, "/home/ann/.wine");
        add("Half-Life 2", discover::RegistryKind::Steam, "/games/220/pfx");
        found.registries.back().held = true;
        found.registries.back().serverPid = 4242;
        found.notes.push_back({ "/games/broken.vdf", "is not a library list" });
        OpenRegistryDialog dialog(found, nullptr);
        QTableWidget* table = dialog.table();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(1, 5)->text(), QStringLiteral("Yes: wineserver (process 4242)"));
        auto* notes = dialog.findChild<QLabel*>(QStringLiteral("RegistryNotes"));
        QVERIFY(notes->text().contains(QStringLiteral("1 passed over")));
        auto* filter = dialog.findChild<QLineEdit*>(QStringLiteral("RegistryFilter"));
        QVERIFY(filter->hasFocus() || !dialog.isVisible()); // typing narrows the list at once
        filter->setText(QStringLiteral("HALF"));
        QVERIFY(table->isRowHidden(0));
        QCOMPARE(table->currentRow(), 1);
        QCOMPARE(notes->text(), QStringLiteral("1 of 2 shown."));

        QStringList answers { QString::fromStdString(dir / "not-a-prefix"), QString::fromStdString(dir / "SYSTEM") };
        dialog.runFileDialog = [&](QFileDialog&) { return answers.takeFirst(); };
        auto browseFolder = [&] {
            for (QPushButton* button : dialog.findChildren<QPushButton*>())
                if (button->text() == QStringLiteral("Browse &folder...")) button->click();
        };
        QString said;
        answerNextMessageBox(QMessageBox::Ok, &said);
        browseFolder();
        QVERIFY2(said.endsWith(
                     QStringLiteral("not-a-prefix is not a Wine prefix: it holds neither system.reg nor user.reg.")),
            qPrintable(said));
        QCOMPARE(dialog.result(), int(QDialog::Rejected)); // not closed: nothing chosen yet
        browseFolder(); // a hive file given where a folder was asked for is taken as what it is
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen().kind, RegistryPlace::Kind::HiveFile);
        QCOMPARE(dialog.chosen().name, std::string("SYSTEM"));
    }
};

QTEST_MAIN(RegistryTabsTest)
#include "RegistryTabsTest.moc"
