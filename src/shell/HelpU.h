#pragma once

#include <QHash>
#include <QStringList>
#include <QTextBrowser>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quern {

inline constexpr const char* kHelpFileName = "ENGQuern.hlp";

// The folders the help file is looked for in, first to last, for a program in programDir: beside
// the program (a build folder, or a folder the program was unpacked into); where an install puts
// it, relative to the program (../share/quern for one in bin/); and the current folder, where
// earlier versions looked. A program started from a desktop entry or from any terminal folder
// finds its help by the first two.
[[nodiscard]] QStringList helpFileFolders(const QString& programDir);

// Looks for the help file in the folders, as the first step of start-up; without folders, in
// helpFileFolders() of this program. The first one found becomes the help of this run (by its
// full path, so a later change of folder does not lose it); when there is none, the user is told
// in a message box and the run goes on without help. True when the help file was found.
bool checkHelpFile(QWidget* parent);
bool checkHelpFile(QWidget* parent, const QStringList& folders);

// The help file of this run as checkHelpFile found it; empty when there is none.
[[nodiscard]] QString applicationHelpFile();

class THelpForm;

// Opens the help window at its contents page, or brings it to the front there when it is open
// already. Without a help file it does nothing and gives null.
THelpForm* showHelpContents(QWidget* parent);

// The help file is one HTML document whose <section> elements are its pages; links to an id or a
// name anywhere in it lead to the page that holds it. The browser serves those pages.
class HelpBrowser final : public QTextBrowser {
    Q_OBJECT

public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override;
    QHash<QString, QString> pages; // page name to its HTML
};

// The help window: Contents, Back and Forward, a search field over every page, and the page shown.
class THelpForm final : public QWidget {
    Q_OBJECT

public:
    THelpForm(const QString& fileName, QWidget* parent = nullptr);

    QPushButton* ContentsBtn = nullptr;
    QPushButton* BackBtn = nullptr;
    QPushButton* ForwardBtn = nullptr;
    QLineEdit* SearchEdit = nullptr;
    QLabel* SearchLabel = nullptr;
    HelpBrowser* Browser = nullptr;

    [[nodiscard]] QString currentPage() const;
    [[nodiscard]] const QStringList& pageNames() const { return m_pageOrder; }

    void showContents();
    // Goes to the page that holds the anchor (a page name is an anchor too), scrolled to it.
    // False when no page holds it.
    bool goToAnchor(const QString& anchor);
    // Finds the text after the cursor on this page, then on the following pages in turn, coming
    // round to the start of this one; letters are compared without regard to case. False when no
    // page holds it.
    bool findText(const QString& text);

private:
    void load(const QString& fileName);
    void BrowserAnchorClicked(const QUrl& url);
    void SearchEditReturnPressed();

    QStringList m_pageOrder;
    QHash<QString, QString> m_anchorPage;
    QHash<QString, QString> m_pageText; // plain text of each page, for the search
};

} // namespace quern
