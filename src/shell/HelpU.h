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

// Looks for the help file in the current folder, as the first step of start-up. When it is there it
// becomes the help of this run (by its full path, so a later change of folder does not lose it);
// when it is not, the user is told in a message box and the run goes on without help.
// True when the help file was found.
bool checkHelpFile(QWidget* parent);

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
