#include "shell/RegistryNotice.h"

#include <QHBoxLayout>
#include <QStyle>

namespace quern {

void ElidedLabel::setFullText(const QString& text) {
    m_fullText = text;
    setToolTip(text);
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
    setText(fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, contentsRect().width()));
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
