#include "editor/QwordPage.h"

#include "editor/NumberField.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quern {

QwordPage::QwordPage(QWidget* parent)
    : QWidget(parent) {
    setToolTip(QStringLiteral("QWORD type must be a number of up to 64 bits"));
    EditQword = new QLineEdit(this);
    EditQword->setObjectName(QStringLiteral("EditQword"));
    QwordTypeGroup = new QGroupBox(QStringLiteral("Input type"), this);
    QwordTypeGroup->setFixedSize(110, 96);
    QwordBinary = new QRadioButton(QStringLiteral("Binary"), QwordTypeGroup);
    QwordBinary->setGeometry(10, 20, 95, 22);
    QwordDecimal = new QRadioButton(QStringLiteral("Decimal"), QwordTypeGroup);
    QwordDecimal->setGeometry(10, 44, 95, 22);
    QwordHex = new QRadioButton(QStringLiteral("Hex"), QwordTypeGroup);
    QwordHex->setGeometry(10, 68, 95, 22);
    QwordDecimal->setChecked(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 0);
    layout->setSpacing(10);
    layout->addWidget(EditQword, 1, Qt::AlignVCenter);
    layout->addWidget(QwordTypeGroup, 0, Qt::AlignVCenter);

    connect(EditQword, &QLineEdit::textEdited, this, [this] { textEdited(); });
    for (auto [button, base] : { std::pair { QwordBinary, DwordBase::Binary },
             std::pair { QwordDecimal, DwordBase::Decimal }, std::pair { QwordHex, DwordBase::Hex } })
        connect(button, &QRadioButton::toggled, this, [this, base = base](bool on) {
            if (!on) return;
            m_base = base;
            showValue();
        });
    EditQword->installEventFilter(this);
    showValue();
}

void QwordPage::setValue(std::uint64_t value) {
    m_value = value;
    showValue();
}

void QwordPage::setBase(DwordBase base) {
    QRadioButton* button = base == DwordBase::Binary ? QwordBinary : base == DwordBase::Hex ? QwordHex : QwordDecimal;
    button->setChecked(true);
}

void QwordPage::showValue() {
    m_text = QString::fromStdString(qwordText(m_value, m_base));
    EditQword->setText(m_text);
}

void QwordPage::textEdited() {
    if (const auto number = acceptNumberEdit(*EditQword, m_text, m_base, parseQword)) m_value = *number;
}

bool QwordPage::refusesKey(const QKeyEvent& key) const {
    return refusesNumberKey(key, m_base, true); // what a paste brings is kept to the digits
}

bool QwordPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == EditQword && event->type() == QEvent::KeyPress) return refusesKey(*static_cast<QKeyEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

} // namespace quern
