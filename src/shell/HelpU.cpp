#include "shell/HelpU.h"

#include "shell/QuernSettings.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTextDocument>
#include <QVBoxLayout>

#ifndef QUERN_INSTALLED_HELP_DIR
#error "QUERN_INSTALLED_HELP_DIR is where an install puts the help, relative to the program; the build sets it"
#endif

namespace quern {

namespace {

QString& helpFileOfThisRun() {
    static QString name;
    return name;
}

const QString kScheme = QStringLiteral("help");
const QString kContents = QStringLiteral("contents");

QUrl pageUrl(const QString& page, const QString& anchor = {}) {
    QUrl url;
    url.setScheme(kScheme);
    url.setPath(page);
    if (!anchor.isEmpty() && anchor != page) url.setFragment(anchor);
    return url;
}

} // namespace

QStringList helpFileFolders(const QString& programDir) {
    const QDir program(programDir);
    return { program.absolutePath(),
        QDir::cleanPath(program.absoluteFilePath(QStringLiteral(QUERN_INSTALLED_HELP_DIR))), QDir::currentPath() };
}

bool checkHelpFile(QWidget* parent) {
    return checkHelpFile(parent, helpFileFolders(QCoreApplication::applicationDirPath()));
}

bool checkHelpFile(QWidget* parent, const QStringList& folders) {
    for (const QString& folder : folders) {
        const QFileInfo file(QDir(folder), QString::fromLatin1(kHelpFileName));
        if (file.isFile()) {
            helpFileOfThisRun() = file.absoluteFilePath();
            return true;
        }
    }
    helpFileOfThisRun().clear();
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quern"),
        QStringLiteral("THIS PROGRAM NEED THE HELP FILE ! PLESE USE IT..."), QMessageBox::Ok, parent);
    box.exec();
    return false;
}

QString applicationHelpFile() {
    return helpFileOfThisRun();
}

THelpForm* showHelpContents(QWidget* parent) {
    if (helpFileOfThisRun().isEmpty()) return nullptr;
    // One help window at a time: F1 again brings it back to its contents.
    static QPointer<THelpForm> open;
    if (!open || open->parentWidget() != parent) {
        delete open.data();
        open = new THelpForm(helpFileOfThisRun(), parent);
    }
    open->showContents();
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

// --- The browser ---

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
    if (name.scheme() == kScheme) {
        if (type != QTextDocument::HtmlResource) return {};
        return pages.value(name.path());
    }
    return QTextBrowser::loadResource(type, name);
}

// --- The window ---

THelpForm::THelpForm(const QString& fileName, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Quern help"));
    resize(680, 560);

    ContentsBtn = new QPushButton(QStringLiteral("&Contents"), this);
    BackBtn = new QPushButton(QStringLiteral("< &Back"), this);
    ForwardBtn = new QPushButton(QStringLiteral("&Forward >"), this);
    SearchEdit = new QLineEdit(this);
    SearchEdit->setPlaceholderText(QStringLiteral("Search the help"));
    SearchEdit->setClearButtonEnabled(true);
    SearchLabel = new QLabel(this);
    SearchLabel->setMinimumWidth(70);
    Browser = new HelpBrowser(this);
    Browser->setOpenLinks(false);
    BackBtn->setEnabled(false);
    ForwardBtn->setEnabled(false);

    auto* bar = new QHBoxLayout;
    bar->addWidget(ContentsBtn);
    bar->addWidget(BackBtn);
    bar->addWidget(ForwardBtn);
    bar->addSpacing(12);
    bar->addWidget(SearchEdit, 1);
    bar->addWidget(SearchLabel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(Browser, 1);

    connect(ContentsBtn, &QPushButton::clicked, this, &THelpForm::showContents);
    connect(BackBtn, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(ForwardBtn, &QPushButton::clicked, Browser, &QTextBrowser::forward);
    connect(Browser, &QTextBrowser::backwardAvailable, BackBtn, &QWidget::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ForwardBtn, &QWidget::setEnabled);
    connect(Browser, &QTextBrowser::anchorClicked, this, &THelpForm::BrowserAnchorClicked);
    connect(SearchEdit, &QLineEdit::returnPressed, this, &THelpForm::SearchEditReturnPressed);
    connect(SearchEdit, &QLineEdit::textChanged, SearchLabel, &QLabel::clear);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        SearchEdit->setFocus();
        SearchEdit->selectAll();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    load(fileName);
    if (parent) move(parent->geometry().center() - rect().center());
    keepOnScreen(*this); // a main window near the screen's edge would leave the help partly off it
}

void THelpForm::load(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        // Removed since start-up: say so where the help would be.
        m_pageOrder = { kContents };
        Browser->pages.insert(
            kContents, QStringLiteral("<p>The help file %1 cannot be read.</p>").arg(fileName.toHtmlEscaped()));
        m_anchorPage.insert(kContents, kContents);
        return;
    }
    const QString html = QString::fromUtf8(file.readAll());
    static const QRegularExpression styleRule(
        QStringLiteral("<style[^>]*>.*?</style>"), QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression sectionRule(QStringLiteral("<section\\s+id=\"([^\"]+)\"[^>]*>(.*?)</section>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression anchorRule(QStringLiteral("\\b(?:id|name)=\"([^\"]+)\""));
    const QString head
        = QStringLiteral("<html><head>") + styleRule.match(html).captured(0) + QStringLiteral("</head><body>");
    const QString tail = QStringLiteral("</body></html>");

    auto addPage = [&](const QString& name, const QString& body) {
        m_pageOrder.push_back(name);
        Browser->pages.insert(name, head + body + tail);
        m_anchorPage.insert(name, name);
        for (auto anchors = anchorRule.globalMatch(body); anchors.hasNext();)
            m_anchorPage.insert(anchors.next().captured(1), name);
        QTextDocument plain;
        plain.setHtml(body);
        m_pageText.insert(name, plain.toPlainText());
    };
    for (auto sections = sectionRule.globalMatch(html); sections.hasNext();) {
        const auto section = sections.next();
        if (!m_anchorPage.contains(section.captured(1))) addPage(section.captured(1), section.captured(2));
    }
    // A document without pages is one page.
    if (m_pageOrder.isEmpty()) addPage(kContents, html);
}

QString THelpForm::currentPage() const {
    return Browser->source().path();
}

void THelpForm::showContents() {
    const QString first = m_pageOrder.contains(kContents) ? kContents : m_pageOrder.value(0);
    if (currentPage() != first || Browser->source().hasFragment())
        Browser->setSource(pageUrl(first), QTextDocument::HtmlResource);
    Browser->moveCursor(QTextCursor::Start);
    Browser->ensureCursorVisible();
}

bool THelpForm::goToAnchor(const QString& anchor) {
    const QString page = m_anchorPage.value(anchor);
    if (page.isEmpty()) return false;
    Browser->setSource(pageUrl(page, anchor), QTextDocument::HtmlResource);
    return true;
}

void THelpForm::BrowserAnchorClicked(const QUrl& url) {
    if (url.scheme() == kScheme || url.scheme().isEmpty()) {
        (void)goToAnchor(url.hasFragment() ? url.fragment() : url.path());
        return;
    }
    QDesktopServices::openUrl(url); // an address on the web or a mail address
}

bool THelpForm::findText(const QString& text) {
    if (text.isEmpty() || m_pageOrder.isEmpty()) return false;
    if (Browser->find(text)) return true;
    const qsizetype here = std::max<qsizetype>(m_pageOrder.indexOf(currentPage()), 0);
    // The pages after this one, then this one again from its start.
    for (qsizetype step = 1; step <= m_pageOrder.size(); ++step) {
        const QString& page = m_pageOrder[(here + step) % m_pageOrder.size()];
        if (!m_pageText.value(page).contains(text, Qt::CaseInsensitive)) continue;
        if (page != currentPage() || Browser->source().hasFragment())
            Browser->setSource(pageUrl(page), QTextDocument::HtmlResource);
        Browser->moveCursor(QTextCursor::Start);
        if (Browser->find(text)) return true;
    }
    return false;
}

void THelpForm::SearchEditReturnPressed() {
    SearchLabel->setText(findText(SearchEdit->text()) ? QString() : QStringLiteral("Not found"));
}

} // namespace quern
