#include "MainWindowFixture.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "codec/ValueText.h"
#include "registry/KeyDetails.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "shell/RegistryNotice.h"
#include "window/KeyTreeItem.h"
#include "window/PaneColours.h"

#include <QHeaderView>
#include <QStyleOptionViewItem>
#include <QTest>

#include <cstdlib>
#include <ctime>
#include <filesystem>

using namespace quern;
using namespace quern::test;

// The grid's Type column, its sorting and the window's desktop colours, driven as a user does
// (menu items, clicks on the header), with a second window over the same settings finding them.

namespace {

constexpr const char* kGridKey = "HKEY_CURRENT_USER\\Software\\Grid";

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

// A window over values of every kind the Type column names differently, with settings (and so
// preferences.ini) of its own.
struct Fixture : MainWindowFixture {
    Fixture()
        : MainWindowFixture(Questions::Recorded) {
        setQuernSettingsFileName(settingsFile());
        set(u"Software\\Grid", u"", reg::kRegSz, utf16zBytes(u"zeta"));
        set(u"Software\\Grid", u"alpha", reg::kRegDword, bytes({ 5, 0, 0, 0 }));
        set(u"Software\\Grid", u"Beta", reg::kRegDword, bytes({ 0xff, 0xff, 0xff, 0xff }));
        set(u"Software\\Grid", u"list", reg::kRegMultiSz, utf16zBytes(std::u16string(u"one\0two\0", 8)));
        set(u"Software\\Grid", u"big", reg::kRegQword, bytes({ 0, 0, 0, 0, 1, 0, 0, 0 }));
        set(u"Software\\Grid", u"be", reg::kRegDwordBigEndian, bytes({ 0, 0, 1, 0 }));
        set(u"Software\\Grid", u"odd", 0x12345678, bytes({ 0x41 }));
    }
    ~Fixture() { setQuernSettingsFileName({}); }
    [[nodiscard]] std::string settingsFile() const { return dir / "settings.ini"; }
    [[nodiscard]] std::string preferencesFile() const { return dir / "preferences.ini"; }
};

QAction* item(const TMainForm& form, const char* name) {
    return control<QAction>(form, name);
}

int rowOf(const TMainForm& form, const std::string& name) {
    const auto names = valueNames(form);
    return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
}

// A real click on a header cell, in its middle.
void clickHeader(TMainForm& form, int column) {
    QHeaderView* header = KeyGrid(form)->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

QString keyDetails(const TMainForm& form) {
    return control<ElidedLabel>(form, "KeyDetailsLabel")->fullText();
}

// A dark desktop, as a dark theme gives one.
QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Light, QColor(0x60, 0x60, 0x60));
    dark.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::HighlightedText, QColor(0x00, 0x00, 0x00));
    return dark;
}

} // namespace

class GridViewWindowTest : public QObject {
    Q_OBJECT

private slots:
    // The Type column and a sort picked with the mouse survive the window; commands act on the
    // rows as the grid shows them sorted; settings.ini keeps its ten lines.
    void typeColumnAndSortAreKeptForTheNextWindow() {
        Fixture f;
        TMainForm& form = f.window();
        QVERIFY(f.showWindow());
        f.goTo(kGridKey);
        QVERIFY(KeyGrid(form)->isColumnHidden(2));
        QVERIFY(!item(form, "TypeColumnMNU")->isChecked());
        const QString bytesText = form.cellText(1, rowOf(form, "list") + 1);
        QCOMPARE(bytesText,
            QString::fromStdString(gridText(
                reg::kRegMultiSz, utf16zBytes(std::u16string(u"one\0two\0", 8)), kBytesCharacters, kDwordDecimal)));

        item(form, "TypeColumnMNU")->trigger();
        QVERIFY(!KeyGrid(form)->isColumnHidden(2));
        QCOMPARE(form.cellText(2, 0), QStringLiteral("Type"));
        QCOMPARE(form.cellText(2, rowOf(form, "odd") + 1), QStringLiteral("0x12345678"));
        QCOMPARE(form.cellText(2, rowOf(form, "be") + 1), QStringLiteral("REG_DWORD_BIG_ENDIAN"));
        QCOMPARE(form.cellText(1, rowOf(form, "list") + 1), QStringLiteral("one \u00b6 two"));
        QCOMPARE(form.cellText(1, rowOf(form, "big") + 1), QStringLiteral("4294967296"));
        QCOMPARE(form.cellText(1, rowOf(form, "be") + 1), QStringLiteral("256"));
        const QTableView* grid = KeyGrid(form);
        QCOMPARE(grid->columnWidth(1), grid->viewport()->width() - grid->columnWidth(0) - grid->columnWidth(2) - 2);
        QVERIFY(grid->horizontalHeader()->sectionViewportPosition(2)
            < grid->horizontalHeader()->sectionViewportPosition(1));

        const std::vector<std::string> byData { "Beta", "alpha", "be", "big", "list", "", "odd" };
        clickHeader(form, 1);
        QCOMPARE(valueNames(form), byData);
        clickHeader(form, 1);
        QCOMPARE(valueNames(form), std::vector<std::string>(byData.rbegin(), byData.rend()));

        // Row 0 is now "odd": the command deletes the value the user sees there.
        form.focusValueRow(0);
        f.answers = { Answer::Yes };
        item(form, "DeleteMNU")->trigger();
        QCOMPARE(f.questions, QStringList { QStringLiteral("Delete \"odd\" value, are you sure ?") });
        QCOMPARE(valueNames(form), (std::vector<std::string> { "", "list", "big", "be", "alpha", "Beta" }));
        const std::string preferences = readFile(f.preferencesFile());
        for (const char* line : { "grid.typeColumn=1\n", "grid.sortColumn=1\n", "grid.sortDescending=1\n" })
            QVERIFY2(preferences.find(line) != std::string::npos, preferences.c_str());

        f.form.reset(); // closes the window: settings.ini is written
        std::string settings = readFile(f.settingsFile());
        QCOMPARE(std::count(settings.begin(), settings.end(), '\n'), 10);
        TMainForm& again = f.window();
        QVERIFY(f.showWindow());
        f.goTo(kGridKey);
        QVERIFY(item(again, "TypeColumnMNU")->isChecked());
        QVERIFY(!KeyGrid(again)->isColumnHidden(2));
        QCOMPARE(valueNames(again), (std::vector<std::string> { "", "list", "big", "be", "alpha", "Beta" }));

        // Sorted by type, the column goes: the order is the default one again, and kept so.
        clickHeader(again, 2);
        QCOMPARE(valueNames(again), (std::vector<std::string> { "alpha", "Beta", "be", "list", "big", "" }));
        item(again, "TypeColumnMNU")->trigger();
        QVERIFY(KeyGrid(again)->isColumnHidden(2));
        QCOMPARE(valueNames(again), (std::vector<std::string> { "", "alpha", "be", "Beta", "big", "list" }));
        QVERIFY(readFile(f.preferencesFile()).find("grid.sortColumn=0\n") != std::string::npos);
    }

    // With Desktop colours a dark desktop gives dark panes whose every text and mark reads;
    // without, the panes keep the program's white whatever the desktop is.
    void desktopColoursFollowADarkPalette() {
        const QPalette before = QApplication::palette();
        QApplication::setPalette(darkPalette());
        {
            Fixture f;
            f.makeKey(u"Software\\Grid\\Below");
            TMainForm& form = f.window();
            QVERIFY(f.showWindow());
            f.goTo(kGridKey);
            auto cellBackground = [&form] {
                QTableView* grid = KeyGrid(form);
                const QImage image = grid->viewport()->grab().toImage();
                return image.pixelColor(grid->columnViewportPosition(1) + grid->columnWidth(1) - 4, 3 * 17 + 8);
            };
            QCOMPARE(cellBackground(), QColor(Qt::white));
            QCOMPARE(TreeView(form)->palette().color(QPalette::Base), QColor(Qt::white));

            item(form, "DesktopColoursMNU")->trigger();
            QCOMPARE(cellBackground(), darkPalette().color(QPalette::Base));
            QCOMPARE(TreeView(form)->palette().color(QPalette::Base), darkPalette().color(QPalette::Base));
            QCOMPARE(Memo(form)->palette().color(QPalette::Base), darkPalette().color(QPalette::Base));
            const QImage header = KeyGrid(form)->horizontalHeader()->grab().toImage();
            QCOMPARE(header.pixelColor(60, 8), darkPalette().color(QPalette::Button));

            // Every state a tree item can be drawn in reads on what it is drawn on.
            const PaneColours colours = desktopPaneColours(darkPalette());
            const QColor base = colours.base;
            const QColor lit = colours.highlight;
            const std::pair<QColor, QColor> pairs[] = { { colours.text, base }, { colours.highlightedText, lit },
                { colours.aloneText, base }, { colours.aloneHighlightedText, lit },
                { colours.withSubkeysHighlightedText, lit }, { colours.greyText, base },
                { colours.greyHighlightedText, lit }, { colours.headerText, colours.headerFace } };
            for (const auto& [text, background] : pairs)
                QVERIFY2(contrastRatio(text, background) >= 3.0,
                    qPrintable(text.name() + QStringLiteral(" on ") + background.name()));
            QVERIFY(colours.aloneText.blue() > colours.aloneText.red()); // still blue, lighter
            form.focusTree();
            item(form, "SelMNU")->trigger(); // the key alone: blue
            QStyleOptionViewItem option;
            form.TreeViewCustomDrawItem(option, form.currentNode());
            QCOMPARE(option.palette.color(QPalette::Text), colours.aloneText);

            item(form, "DesktopColoursMNU")->trigger();
            QCOMPARE(cellBackground(), QColor(Qt::white));
            item(form, "DesktopColoursMNU")->trigger();
            f.form.reset();
            TMainForm& again = f.window();
            QVERIFY(item(again, "DesktopColoursMNU")->isChecked());
            QCOMPARE(TreeView(again)->palette().color(QPalette::Base), darkPalette().color(QPalette::Base));
        }
        QApplication::setPalette(before);
    }

    // The status bar tells when the key was written, as the file's #time says, in local time,
    // its counts, and the size of the value under the grid's cursor.
    void statusBarTellsTheKeysTimeCountsAndValueSize() {
        const char* zone = std::getenv("TZ");
        const QByteArray savedZone = zone ? QByteArray(zone) : QByteArray();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        {
            TempDir dir;
            setQuernSettingsFileName(dir / "settings.ini");
            std::filesystem::create_directories(dir / "prefix");
            copySamplePrefix(dir / "prefix");
            reg::WinePrefixStore store(testPrefixOptions(dir / "prefix", dir / "servers"));
            TMainForm form(store);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\Desktop"));
            form.flushTreeChange();
            // [Control Panel\\Desktop] has #time=1dd86825f56f9b8, one subkey and 24 values.
            QCOMPARE(keyDetails(form), QStringLiteral("Written 2026-12-07 19:37:19 \u00b7 1 subkey \u00b7 24 values"));
            // The part shows whole in a window of the usual width.
            const auto* part = control<ElidedLabel>(form, "KeyDetailsLabel");
            QCoreApplication::processEvents();
            QCOMPARE(part->text(), part->fullText());
            const int caret = rowOf(form, "CaretWidth");
            form.focusValueRow(static_cast<std::size_t>(caret));
            QVERIFY(keyDetails(form).endsWith(QStringLiteral("\u00b7 value 4 bytes")));
            form.GoToPath(QStringLiteral("HKEY_CURRENT_USER"));
            form.flushTreeChange();
            QVERIFY(keyDetails(form).contains(QStringLiteral(" subkeys \u00b7 0 values")));
            form.GoToPath(QString());
            form.flushTreeChange();
            QCOMPARE(keyDetails(form), QString()); // the top node is no key
            setQuernSettingsFileName({});
        }
        if (savedZone.isEmpty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", savedZone.constData(), 1);
        ::tzset();
    }
};

QTEST_MAIN(GridViewWindowTest)
#include "GridViewWindowTest.moc"
