#include "shell/RegistryNotice.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QStyle>

#include <algorithm>

namespace quern {

void ElidedLabel::setFullText(const QString& text) {
    setParts({ Part { text, true } });
}

void ElidedLabel::setParts(std::vector<Part> parts) {
    m_parts = std::move(parts);
    m_fullText.clear();
    for (const Part& part : m_parts)
        m_fullText += part.text;
    setToolTip(m_fullText);
    updateGeometry();
    elide();
}

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    return { fontMetrics().horizontalAdvance(m_fullText) + margins.left() + margins.right() + 2 * margin() + 2,
        QLabel::sizeHint().height() };
}

QSize ElidedLabel::minimumSizeHint() const {
    // Small enough that the status bar's hints always keep the room they need.
    return { fontMetrics().averageCharWidth() * 8, QLabel::minimumSizeHint().height() };
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    const QFontMetrics metrics = fontMetrics();
    const int width = contentsRect().width();
    if (metrics.horizontalAdvance(m_fullText) <= width) {
        setText(m_fullText);
        return;
    }
    // The room the whole parts leave is shared among the others, a few pixels kept back for
    // what joining the pieces changes in their widths; a part shorter than its share keeps its
    // whole text and leaves the rest to the longer ones.
    int room = width - 4;
    std::vector<std::size_t> shortened;
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        if (m_parts[i].mayShorten)
            shortened.push_back(i);
        else
            room -= metrics.horizontalAdvance(m_parts[i].text);
    }
    if (room <= 0 || shortened.empty()) {
        // Not even the names fit: the end goes, so that the start still says what this is.
        setText(metrics.elidedText(m_fullText, Qt::ElideRight, width));
        return;
    }
    std::sort(shortened.begin(), shortened.end(), [&](std::size_t a, std::size_t b) {
        return metrics.horizontalAdvance(m_parts[a].text) < metrics.horizontalAdvance(m_parts[b].text);
    });
    std::vector<QString> shown(m_parts.size());
    for (std::size_t k = 0; k < shortened.size(); ++k) {
        const Part& part = m_parts[shortened[k]];
        const int share = room / static_cast<int>(shortened.size() - k);
        shown[shortened[k]] = metrics.elidedText(part.text, Qt::ElideMiddle, share);
        room -= metrics.horizontalAdvance(shown[shortened[k]]);
    }
    QString text;
    for (std::size_t i = 0; i < m_parts.size(); ++i)
        text += m_parts[i].mayShorten ? shown[i] : m_parts[i].text;
    setText(text);
}

ReadOnlyBar::ReadOnlyBar(QWidget* parent)
    : QFrame(parent) {
    setObjectName(QStringLiteral("ReadOnlyBar"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xff, 0xf4, 0xc8));
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_text, 1);
    hide();
}

void ReadOnlyBar::setReason(const QString& reason) {
    if (reason.isEmpty()) {
        m_text->clear();
        hide();
        return;
    }
    QString text = QStringLiteral("Read-only: ") + reason;
    if (!reason.contains(QStringLiteral("(F5)")))
        text += QStringLiteral(" Quern changes nothing here until then; Refresh (F5) opens the registry for editing "
                               "once the cause is gone.");
    m_text->setText(text);
    show();
}

QString ReadOnlyBar::text() const {
    return m_text->text();
}

} // namespace quern
