#include "SettleEvents.h"
#include "TestSupport.h"
#include "shell/AboutU.h"
#include "shell/HelpU.h"
#include "window/JpegImage.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <filesystem>

#include <jpeglib.h>

using namespace quern;

namespace {

// Encodes a picture of four coloured quarters with libjpeg, baseline or progressive.
QByteArray encodeQuarters(int width, int height, bool progressive, bool grey = false) {
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(width * info.input_components));
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            const QColor colour = bottom ? (right ? QColor(240, 240, 240) : QColor(20, 20, 200))
                                         : (right ? QColor(20, 180, 20) : QColor(220, 20, 20));
            if (grey) {
                row[static_cast<std::size_t>(x)] = static_cast<unsigned char>(qGray(colour.rgb()));
            } else {
                row[static_cast<std::size_t>(x * 3)] = static_cast<unsigned char>(colour.red());
                row[static_cast<std::size_t>(x * 3 + 1)] = static_cast<unsigned char>(colour.green());
                row[static_cast<std::size_t>(x * 3 + 2)] = static_cast<unsigned char>(colour.blue());
            }
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return bytes;
}

bool near(QRgb got, QColor want) {
    return std::abs(qRed(got) - want.red()) < 16 && std::abs(qGreen(got) - want.green()) < 16
        && std::abs(qBlue(got) - want.blue()) < 16;
}

// A JPEG's frame marker tells how it was coded: C0 baseline, C2 progressive.
bool hasMarker(const QByteArray& jpeg, unsigned char marker) {
    return jpeg.contains(QByteArray("\xff") + char(marker));
}

QByteArray resource(const QString& name) {
    (void)quernPicture(QuernPicture::About); // makes the pictures' resource known
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Answers the next message box with OK, once it shows, and keeps its text.
void answerNextMessageBox(QString* text) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

// Stands in for the desktop's mail program.
class MailCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// Runs a modal dialog and does something to it once it shows.
int runWith(QDialog& dialog, const std::function<void()>& action) {
    QTimer::singleShot(0, &dialog, [&] {
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        action();
    });
    return dialog.exec();
}

class CurrentFolder {
public:
    explicit CurrentFolder(const QString& folder)
        : m_old(QDir::currentPath()) {
        QDir::setCurrent(folder);
    }
    ~CurrentFolder() { QDir::setCurrent(m_old); }

private:
    QString m_old;
};

} // namespace

class AboutHelpTest : public QObject {
    Q_OBJECT

private slots:
    // --- JPEG ---

    void decodesBaselineAndProgressiveColourAndGrey() {
        for (const bool progressive : { false, true }) {
            const QByteArray jpeg = encodeQuarters(64, 40, progressive);
            QCOMPARE(hasMarker(jpeg, 0xc2), progressive);
            const QImage image = decodeJpeg(jpeg);
            QCOMPARE(image.size(), QSize(64, 40));
            QVERIFY(near(image.pixel(8, 8), QColor(220, 20, 20)));
            QVERIFY(near(image.pixel(56, 8), QColor(20, 180, 20)));
            QVERIFY(near(image.pixel(8, 32), QColor(20, 20, 200)));
            QVERIFY(near(image.pixel(56, 32), QColor(240, 240, 240)));
        }
        const QImage grey = decodeJpeg(encodeQuarters(33, 17, true, true));
        QCOMPARE(grey.size(), QSize(33, 17));
        QCOMPARE(grey.format(), QImage::Format_Grayscale8);
        QVERIFY(std::abs(qGray(grey.pixel(2, 2)) - qGray(qRgb(220, 20, 20))) < 12);
    }

    void damagedDataGivesTheNullImage() {
        const QByteArray good = encodeQuarters(64, 40, true);
        QVERIFY(decodeJpeg(QByteArray()).isNull());
        QVERIFY(decodeJpeg(QByteArrayLiteral("this is not a picture")).isNull());
        QVERIFY(decodeJpeg(good.left(2)).isNull()); // the start marker alone
        QVERIFY(decodeJpeg(good.left(good.size() / 2)).isNull()); // cut short inside the scans
        QByteArray scrambled = good;
        for (qsizetype i = scrambled.size() / 3; i < scrambled.size() - 2; i += 7)
            scrambled[i] = char(0xff); // markers where none may stand
        QVERIFY(decodeJpeg(scrambled).isNull());
        QVERIFY(!decodeJpeg(good).isNull()); // and the good one still decodes after all that
    }

    void builtInPicturesAreOfTheirSizeAndKind() {
        const QByteArray about = resource(QStringLiteral(":/pictures/about.jpg"));
        const QByteArray wait = resource(QStringLiteral(":/pictures/wait.jpg"));
        QVERIFY(hasMarker(about, 0xc2) && !hasMarker(about, 0xc0));
        QVERIFY(hasMarker(wait, 0xc0) && !hasMarker(wait, 0xc2));
        QCOMPARE(quernPicture(QuernPicture::About).size(), QSize(360, 220));
        QCOMPARE(quernPicture(QuernPicture::Wait).size(), QSize(200, 85));
    }

    // --- About ---

    void aboutDialogHasItsLayout() {
        TAboutForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("About Quern..."));
        QCOMPARE(form.size(), QSize(360, 221));
        QCOMPARE(form.minimumSize(), form.maximumSize()); // not sizeable
        QCOMPARE(form.Label1->text(), QStringLiteral("version " QUERN_VERSION)); // project()'s, as the build has it
        QCOMPARE(form.Mail->text(), contactText(contactAddress()));
        // An address when the build was given one, and a link to write to it; else the tracker.
        QCOMPARE(contactText(QStringLiteral("someone@host")), QStringLiteral("someone@host"));
        QCOMPARE(contactText({}), QStringLiteral("Problems: Quern's issue tracker"));
        QVERIFY(!form.Mail->text().contains(QStringLiteral("example.")));
        QCOMPARE(form.Mail->cursor().shape(), contactAddress().isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
        QVERIFY(form.BitBtn1->isDefault());
        QVERIFY(!form.Image1->pixmap().isNull());
    }

    void aboutDialogClosesByOkEscapeAndTheCloseBox() {
        {
            TAboutForm form;
            QCOMPARE(runWith(form, [&] { QTest::mouseClick(form.BitBtn1, Qt::LeftButton); }), int(QDialog::Accepted));
        }
        {
            TAboutForm form;
            QCOMPARE(runWith(form, [&] { QTest::keyClick(form.BitBtn1, Qt::Key_Escape); }), int(QDialog::Rejected));
            QVERIFY(!form.isVisible());
        }
        {
            TAboutForm form;
            QCOMPARE(runWith(form, [&] { form.close(); }), int(QDialog::Rejected)); // what the close box asks for
        }
        {
            TAboutForm form;
            QCOMPARE(runWith(form, [&] { QTest::keyClick(form.BitBtn1, Qt::Key_Return); }), int(QDialog::Accepted));
        }
    }

    void mailLinkOpensANewMessageWithTheSubject() {
        MailCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
        TAboutForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(form.Mail, Qt::LeftButton, {}, form.Mail->rect().center());
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        if (contactAddress().isEmpty()) {
            QVERIFY2(catcher.opened.isEmpty(), "no address: nothing to write to");
            return;
        }
        QCOMPARE(catcher.opened.size(), 1);
        QCOMPARE(catcher.opened[0].toString(),
            QStringLiteral("mailto:") + contactAddress() + QStringLiteral("?Subject=Quern"));
        QVERIFY(form.isVisible()); // the dialog stays
    }

    // --- Help ---

    void helpIsFoundBesideTheProgramOrWhereAnInstallPutsItFromAnyFolder() {
        test::TempDir elsewhere;
        CurrentFolder here(QString::fromStdString(elsewhere.path()));
        QString shown;
        // This program has its help beside it, as the build folder has Quern's: started in a folder
        // without one, it finds that.
        answerNextMessageBox(&shown);
        QVERIFY(checkHelpFile(nullptr));
        QUERN_TRY_SETTLE();
        QVERIFY(shown.isEmpty());
        QCOMPARE(applicationHelpFile(), QCoreApplication::applicationDirPath() + QStringLiteral("/ENGQuern.hlp"));

        // An installed program in PREFIX/bin has its help in PREFIX/share/quern.
        test::TempDir prefix;
        const QString bin = QString::fromStdString(prefix / "bin");
        const QString installed = QString::fromStdString(prefix / "share/quern/ENGQuern.hlp");
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(QFileInfo(installed).path()));
        QVERIFY(QFile::copy(QStringLiteral(QUERN_HELP_SOURCE), installed));
        answerNextMessageBox(&shown);
        QVERIFY(checkHelpFile(nullptr, helpFileFolders(bin)));
        QUERN_TRY_SETTLE();
        QVERIFY(shown.isEmpty());
        QCOMPARE(applicationHelpFile(), installed); // a plain path, without "bin/.."
        THelpForm help(applicationHelpFile());
        QVERIFY(help.pageNames().size() >= 10);

        // A help beside the program comes first: an older install cannot hide the program's own.
        QVERIFY(QFile::copy(QStringLiteral(QUERN_HELP_SOURCE), bin + QStringLiteral("/ENGQuern.hlp")));
        QVERIFY(checkHelpFile(nullptr, helpFileFolders(bin)));
        QCOMPARE(applicationHelpFile(), bin + QStringLiteral("/ENGQuern.hlp"));
    }

    void missingHelpFileIsReportedAndF1DoesNothing() {
        test::TempDir dir;
        CurrentFolder here(QString::fromStdString(dir.path()));
        QString shown;
        answerNextMessageBox(&shown);
        // Not beside the program, not in ../share/quern, not in the current folder.
        QVERIFY(!checkHelpFile(nullptr, helpFileFolders(QString::fromStdString(dir / "bin"))));
        QCOMPARE(shown, QStringLiteral("THIS PROGRAM NEED THE HELP FILE ! PLESE USE IT..."));
        QVERIFY(applicationHelpFile().isEmpty());
        QWidget window;
        QVERIFY(!showHelpContents(&window));
        QVERIFY(window.findChildren<THelpForm*>().isEmpty());
    }

    void presentHelpFileOpensAtItsContentsOnF1() {
        test::TempDir dir;
        QVERIFY(QFile::copy(QStringLiteral(QUERN_HELP_SOURCE), QString::fromStdString(dir / "ENGQuern.hlp")));
        {
            // In the current folder only, where earlier versions looked.
            CurrentFolder here(QString::fromStdString(dir.path()));
            QString shown;
            answerNextMessageBox(&shown);
            QVERIFY(checkHelpFile(nullptr, helpFileFolders(QStringLiteral("/nonexistent/bin"))));
            QUERN_TRY_SETTLE();
            QVERIFY(shown.isEmpty()); // no message
        }
        // Found by its full path, so leaving the folder does not lose it.
        QCOMPARE(applicationHelpFile(), QString::fromStdString(dir / "ENGQuern.hlp"));
        QWidget window;
        THelpForm* help = showHelpContents(&window);
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->currentPage(), QStringLiteral("contents"));
        QVERIFY(help->Browser->toPlainText().startsWith(QStringLiteral("Quern help: contents")));
        // F1 again, after wandering off, comes back to the contents in the same window.
        QVERIFY(help->goToAnchor(QStringLiteral("expressions")));
        QCOMPARE(help->currentPage(), QStringLiteral("search"));
        QCOMPARE(showHelpContents(&window), help);
        QCOMPARE(help->currentPage(), QStringLiteral("contents"));
        QVERIFY(!help->Browser->source().hasFragment());
    }

    void helpLinksLeadToTheirPagesAndBackAgain() {
        THelpForm help(QStringLiteral(QUERN_HELP_SOURCE));
        help.show();
        help.showContents();
        QVERIFY(help.pageNames().size() >= 10);
        QVERIFY(!help.BackBtn->isEnabled());
        emit help.Browser->anchorClicked(QUrl(QStringLiteral("help:contents#search")));
        QCOMPARE(help.currentPage(), QStringLiteral("search"));
        QVERIFY(help.BackBtn->isEnabled());
        QTest::mouseClick(help.BackBtn, Qt::LeftButton);
        QCOMPARE(help.currentPage(), QStringLiteral("contents"));
        QTest::mouseClick(help.ForwardBtn, Qt::LeftButton);
        QCOMPARE(help.currentPage(), QStringLiteral("search"));
        QTest::mouseClick(help.ContentsBtn, Qt::LeftButton);
        QCOMPARE(help.currentPage(), QStringLiteral("contents"));
        QVERIFY(!help.goToAnchor(QStringLiteral("no-such-anchor")));
        QCOMPARE(help.currentPage(), QStringLiteral("contents"));
    }

    // Each item of the File menu, and the commands that change or compare the registry, has its
    // place in the help.
    void theHelpDescribesEveryFileCommandAndUndo() {
        QFile file(QStringLiteral(QUERN_HELP_SOURCE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        for (const char* item :
            { "Export to .REG file...", "Import .REG file...", "Load key selection...", "Save key selection...",
                "Load hive...", "Unload hive", "Exit", "Edit &#9656; Undo", "quern-reg compare" })
            QVERIFY2(html.contains(QLatin1String(item)), item);
        THelpForm help(QStringLiteral(QUERN_HELP_SOURCE));
        for (const char* page : { "import", "hives", "undo" })
            QVERIFY2(help.goToAnchor(QLatin1String(page)), page);
    }

    void everyLinkOfTheHelpHasATarget() {
        QFile file(QStringLiteral(QUERN_HELP_SOURCE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        THelpForm help(QStringLiteral(QUERN_HELP_SOURCE));
        static const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
        int links = 0;
        for (auto it = link.globalMatch(html); it.hasNext(); ++links) {
            const QString anchor = it.next().captured(1);
            QVERIFY2(help.goToAnchor(anchor), qPrintable(anchor));
        }
        QVERIFY(links > 20);
        // Every page can be reached from another one.
        for (const QString& page : help.pageNames())
            if (page != QStringLiteral("contents"))
                QVERIFY2(html.contains(QStringLiteral("href=\"#") + page + QLatin1Char('"')), qPrintable(page));
    }

    void helpSearchFindsTextOnEveryPageInTurn() {
        THelpForm help(QStringLiteral(QUERN_HELP_SOURCE));
        help.show();
        help.showContents();
        // "No more matches found" is only on the search page: the search moves there.
        QVERIFY(help.findText(QStringLiteral("no more MATCHES found")));
        QCOMPARE(help.currentPage(), QStringLiteral("search"));
        QCOMPARE(help.Browser->textCursor().selectedText().toLower(), QStringLiteral("no more matches found"));
        // Found again from there, the search comes round to the same place.
        QVERIFY(help.findText(QStringLiteral("No more matches found")));
        QCOMPARE(help.currentPage(), QStringLiteral("search"));
        QVERIFY(!help.findText(QStringLiteral("xyzzy-nowhere")));
        // Through the window's field.
        help.SearchEdit->setText(QStringLiteral("settings.ini"));
        QTest::keyClick(help.SearchEdit, Qt::Key_Return);
        QVERIFY(help.SearchLabel->text().isEmpty());
        QVERIFY(help.Browser->textCursor().hasSelection());
        help.SearchEdit->setText(QStringLiteral("xyzzy-nowhere"));
        QTest::keyClick(help.SearchEdit, Qt::Key_Return);
        QCOMPARE(help.SearchLabel->text(), QStringLiteral("Not found"));
    }

    void unreadableHelpFileShowsWhyInTheWindow() {
        THelpForm help(QStringLiteral("/nonexistent/ENGQuern.hlp"));
        help.showContents();
        QVERIFY(help.Browser->toPlainText().contains(QStringLiteral("cannot be read")));
    }
};

QTEST_MAIN(AboutHelpTest)
#include "AboutHelpTest.moc"
