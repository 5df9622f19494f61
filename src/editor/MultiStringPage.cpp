#include "editor/MultiStringPage.h"

#include "codec/ValueData.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextDocument>
#include <QVBoxLayout>

namespace quern {

namespace {

// Beyond the codec's losses: characters the text field turns into others (a carriage return or a
// paragraph separator starts a new line in it).
constexpr unsigned kFieldCannotHold = 1u << 16;

QString fromUnits(std::u16string_view units) {
    return QString(reinterpret_cast<const QChar*>(units.data()), static_cast<qsizetype>(units.size()));
}

QString lossesText(unsigned losses) {
    QStringList parts;
    if (losses & codec::kMultiStringOddByte) parts << QStringLiteral("its odd last byte is dropped");
    if (losses & codec::kMultiStringNoEnd) parts << QStringLiteral("the closing NUL it lacks is added");
    if (losses & codec::kMultiStringExtraEnd) parts << QStringLiteral("the empty strings at its end are dropped");
    if (losses & codec::kMultiStringLineBreak)
        parts << QStringLiteral("a string holding a line break becomes two strings");
    if (losses & kFieldCannotHold) parts << QStringLiteral("characters this field cannot hold are changed");
    return parts.join(QStringLiteral("; "));
}

} // namespace

MultiStringPage::MultiStringPage(QWidget* parent)
    : QWidget(parent) {
    setToolTip(QStringLiteral("Multi-string type holds a list of strings, one a line"));
    EditMulti = new QPlainTextEdit(this);
    EditMulti->setObjectName(QStringLiteral("EditMulti"));
    EditMulti->setLineWrapMode(QPlainTextEdit::NoWrap);
    EditMulti->setTabChangesFocus(true); // Tab leaves the field, as in the dialog's other fields
    MultiNote = new QLabel(QStringLiteral("One string a line. An empty line between two strings is an empty "
                                          "string; empty lines at the end are left out."),
        this);
    MultiNote->setObjectName(QStringLiteral("MultiNote"));
    MultiNote->setWordWrap(true);
    MultiWarning = new QLabel(this);
    MultiWarning->setObjectName(QStringLiteral("MultiWarning"));
    MultiWarning->setWordWrap(true);
    MultiWarning->setStyleSheet(QStringLiteral("color: #a00000;"));
    MultiWarning->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->setSpacing(4);
    layout->addWidget(EditMulti, 1);
    layout->addWidget(MultiNote);
    layout->addWidget(MultiWarning);
    connect(EditMulti, &QPlainTextEdit::textChanged, this, [this] { showWarning(); });
}

QString MultiStringPage::lines() const {
    // The raw text, not toPlainText(), which makes a no-break space a blank: blocks are parted by
    // the paragraph separator there, and nothing else changes.
    QString text = EditMulti->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

void MultiStringPage::load(std::span<const std::uint8_t> data) {
    const codec::MultiStringLines shown = codec::multiStringLines(data);
    m_stored.assign(data.begin(), data.end());
    m_hasStored = true;
    m_losses = shown.losses;
    const QString text = fromUnits(shown.text);
    EditMulti->setPlainText(text);
    m_loaded = lines();
    if (m_loaded != text) m_losses |= kFieldCannotHold;
    showWarning();
}

bool MultiStringPage::changed() const {
    return lines() != m_loaded;
}

std::vector<std::uint8_t> MultiStringPage::data() const {
    if (m_hasStored && !changed()) return m_stored;
    const QString text = lines();
    return codec::multiStringFromLines(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

void MultiStringPage::showWarning() {
    if (m_losses == 0) {
        MultiWarning->hide();
        return;
    }
    const QString what = lossesText(m_losses) + QLatin1Char('.');
    MultiWarning->setText(changed() ? QStringLiteral("Will change on save: ") + what
                                    : QStringLiteral("Kept byte for byte unless you change the text, which "
                                                     "would save it in the standard form: ")
                + what);
    MultiWarning->show();
}

} // namespace quern
