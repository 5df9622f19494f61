#include "WindowTestSupport.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "wine/WinePrefixStore.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

using namespace quern;
using namespace quern::test;

namespace {

// A registry of its own with one key to go to, and a settings file of its own.
struct Fixture {
    Fixture() {
        reg::WinePrefixOptions options;
        options.prefixDir = dir / "registry";
        options.createIfMissing = true;
        options.scanProcesses = false;
        options.serverPaths = { dir / "tmp", "/nonexistent" };
        store = std::make_unique<reg::WinePrefixStore>(options);
        reg::RegAccessor registry(*store);
        registry.selectRoot(reg::kCurrentUser);
        registry.createKey("\\Software\\Vendor\\App");
        setQuernSettingsFileName(settingsFile);
    }
    ~Fixture() { setQuernSettingsFileName({}); }
    test::TempDir dir;
    std::string settingsFile = dir / "settings.ini";
    std::unique_ptr<reg::WinePrefixStore> store;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void showAndWait(QWidget& window) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void everyValueIsAppliedAndThePathIsNotYetFollowed() {
        Fixture f;
        TMainForm form(*f.store);
        test::writeFile(f.settingsFile,
            "260\r\n90\r\nHKEY_CURRENT_USER\\Software\\Vendor\r\n0\r\n2\r\n50\r\n60\r\n640\r\n420\r\n1\r\n");
        QuernIniFile file(f.settingsFile);
        readSettings(form, file);
        QCOMPARE(PathEdit(form)->text(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        QCOMPARE(TreeView(form)->currentItem(), TreeView(form)->topLevelItem(0)); // not navigated
        QCOMPARE(form.BinViewMode, 0);
        QCOMPARE(form.DWViewMode, 2);
        QCOMPARE(KeyGrid(form)->columnWidth(0), 90);
        showAndWait(form);
        QCOMPARE(TreeView(form)->width(), 260);
        QCOMPARE(form.geometry(), QRect(50, 60, 640, 420));
        QVERIFY(!form.isMaximized() && !form.isMinimized());
    }

    void missingOrShortFileKeepsTheDefaults() {
        Fixture f;
        TMainForm form(*f.store);
        test::writeFile(f.settingsFile, "240\r\n90\r\nHKEY_USERS\r\n");
        QuernIniFile file(f.settingsFile);
        const QRect before = form.geometry();
        readSettings(form, file);
        QCOMPARE(PathEdit(form)->text(), QStringLiteral("HKEY_USERS"));
        QCOMPARE(form.BinViewMode, 2);
        QCOMPARE(form.DWViewMode, 1);
        QCOMPARE(form.geometry(), before);

        std::filesystem::remove(f.settingsFile); // the window reads its own settings when it is made
        TMainForm fresh(*f.store);
        QuernIniFile missing(f.dir / "missing.ini");
        readSettings(fresh, missing);
        showAndWait(fresh);
        QCOMPARE(TreeView(fresh)->width(), 201);
        QCOMPARE(KeyGrid(fresh)->columnWidth(0), 150);
        QVERIFY(PathEdit(fresh)->text().isEmpty());
    }

    void treeWidthZeroGivesATreeOnePixelWide() {
        Fixture f;
        TMainForm form(*f.store);
        test::writeFile(f.settingsFile, "0\r\n");
        QuernIniFile file(f.settingsFile);
        readSettings(form, file);
        showAndWait(form);
        QCOMPARE(TreeView(form)->width(), 1);
    }

    void maximisedWindowStartsMaximisedAndRestoresToItsRectangle() {
        Fixture f;
        {
            TMainForm form(*f.store);
            form.setGeometry(30, 40, 600, 400);
            form.showMaximized();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QTRY_VERIFY(form.isMaximized());
            QuernIniFile file(f.settingsFile);
            writeSettings(form, file);
            QVERIFY(!file.writeFailed());
        }
        const auto lines = linesOf(test::readFile(f.settingsFile));
        QCOMPARE(lines.size(), std::size_t(10));
        QCOMPARE(lines[5] + "," + lines[6] + "," + lines[7] + "," + lines[8] + "," + lines[9], "30,40,600,400,3");

        TMainForm again(*f.store);
        QuernIniFile file(f.settingsFile);
        readSettings(again, file);
        showAndWait(again);
        QVERIFY(again.isMaximized());
        QCOMPARE(again.normalGeometry(), QRect(30, 40, 600, 400));
        again.showNormal();
        QTRY_COMPARE(again.geometry(), QRect(30, 40, 600, 400));
    }

    void placementOffEveryScreenComesBackOntoThePrimaryOne() {
        Fixture f;
        TMainForm form(*f.store);
        test::writeFile(f.settingsFile, "201\r\n150\r\n\r\n2\r\n1\r\n-6000\r\n-5000\r\n500\r\n300\r\n1\r\n");
        QuernIniFile file(f.settingsFile);
        readSettings(form, file);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(form.geometry()), "the window was left off the screen");
        QCOMPARE(form.size(), QSize(500, 300));
    }

    void writesTheWindowAsItIs() {
        Fixture f;
        TMainForm form(*f.store);
        showAndWait(form);
        Splitter(form)->setSizes({ 230, Splitter(form)->width() - 230 });
        KeyGrid(form)->setColumnWidth(0, 120);
        PathEdit(form)->setText(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        form.BinViewMode = 0;
        form.DWViewMode = 2;
        QuernIniFile file(f.settingsFile);
        writeSettings(form, file);
        const auto lines = linesOf(test::readFile(f.settingsFile));
        QCOMPARE(lines.size(), std::size_t(10));
        QCOMPARE(std::vector<std::string>(lines.begin(), lines.begin() + 5),
            (std::vector<std::string> { "230", "120", "HKEY_CURRENT_USER\\Software", "0", "2" }));
        QCOMPARE(lines[9], std::string("1"));
    }

    void unwritableFileLeavesTheOldOneAndSaysNothing() {
        Fixture f;
        TMainForm form(*f.store);
        test::writeFile(f.dir / "blocked", "");
        QuernIniFile file(f.dir / "blocked/settings.ini");
        writeSettings(form, file); // no message box may stop this
        QVERIFY(file.writeFailed());
    }

    void settingsLiveBesideTheProgramWhenItsFolderIsWritable() {
        setQuernSettingsFileName({});
        QCOMPARE(QString::fromStdString(quernSettingsFileName()),
            QCoreApplication::applicationDirPath() + QStringLiteral("/settings.ini"));
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "SettingsWindowTest.moc"
