#include "search/FindU.h"

#include "search/SearchEngine.h"
#include "window/WindowPlacement.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace quern {

TFindForm::TFindForm(SearchState& state, QWidget* parent)
    : QDialog(parent)
    , m_state(state) {
    setObjectName(QStringLiteral("FindForm"));
    setWindowTitle(QStringLiteral("Find :"));
    resize(351, 170);
    setMinimumSize(351, 170);
    TrovaLabel = new QLabel(QStringLiteral("Find:"), this);
    QFont larger = TrovaLabel->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.25);
    TrovaLabel->setFont(larger);
    TrovaLabel->setGeometry(8, 4, 141, 19);
    EditFind = new QLineEdit(this);
    EditFind->setObjectName(QStringLiteral("EditFind"));
    EditFind->setGeometry(6, 23, 331, 23);
    FindBTN = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogContentsView), QStringLiteral("&Find"), this);
    FindBTN->setObjectName(QStringLiteral("FindBTN"));
    FindBTN->setGeometry(202, 62, 121, 27);
    FindBTN->setDefault(true);
    // Every hit at once, in a list beside the tree: what the one-at-a-time search cannot show.
    FindAllBTN = new QPushButton(QStringLiteral("Find &all"), this);
    FindAllBTN->setObjectName(QStringLiteral("FindAllBTN"));
    FindAllBTN->setGeometry(202, 98, 121, 27);
    FindAllBTN->setStatusTip(QStringLiteral("List every key and value that matches"));
    GroupBox1 = new QGroupBox(QStringLiteral("Search in..."), this);
    GroupBox1->setGeometry(8, 56, 177, 87);
    KeyCheck = new QCheckBox(QStringLiteral("Keys"), GroupBox1);
    KeyCheck->setGeometry(10, 20, 160, 19);
    ValueCheck = new QCheckBox(QStringLiteral("Value names"), GroupBox1);
    ValueCheck->setGeometry(10, 40, 160, 19);
    DataCheck = new QCheckBox(QStringLiteral("Value Contents (data)"), GroupBox1);
    DataCheck->setGeometry(10, 60, 160, 19);
    setTabOrder(EditFind, FindBTN);
    setTabOrder(FindBTN, FindAllBTN);
    setTabOrder(FindAllBTN, KeyCheck);
    setTabOrder(KeyCheck, ValueCheck);
    setTabOrder(ValueCheck, DataCheck);

    connect(EditFind, &QLineEdit::textChanged, this, &TFindForm::FindCheck);
    for (QCheckBox* box : { KeyCheck, ValueCheck, DataCheck })
        connect(box, &QCheckBox::clicked, this, &TFindForm::FindCheck);
    connect(FindBTN, &QPushButton::clicked, this, [this] {
        FindBTNClick();
        accept();
    });
    connect(FindAllBTN, &QPushButton::clicked, this, [this] {
        FindBTNClick();
        done(kFindAll);
    });
    FormCreate();
    move(361, 336);
    keepOnScreen(*this);
    EditFind->setFocus();
}

void TFindForm::FormCreate() {
    KeyCheck->setChecked(m_state.SearchKeys);
    ValueCheck->setChecked(m_state.SearchValueNames);
    DataCheck->setChecked(m_state.SearchData);
    EditFind->setText(QString::fromStdString(m_state.expression));
    FindCheck();
}

void TFindForm::FindCheck() {
    const bool anySwitch = KeyCheck->isChecked() || ValueCheck->isChecked() || DataCheck->isChecked();
    FindBTN->setEnabled(!EditFind->text().isEmpty() && anySwitch);
    FindAllBTN->setEnabled(FindBTN->isEnabled());
}

void TFindForm::FindBTNClick() {
    m_state.SearchKeys = KeyCheck->isChecked();
    m_state.SearchValueNames = ValueCheck->isChecked();
    m_state.SearchData = DataCheck->isChecked();
    m_state.expression = EditFind->text().toStdString(); // as typed, spaces and all
}

void TFindForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace quern
