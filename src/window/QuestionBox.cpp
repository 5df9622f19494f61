#include "window/QuestionBox.h"

#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace quern {

namespace {

QuestionHook& hook() {
    static QuestionHook answered;
    return answered;
}

} // namespace

void setQuestionHook(QuestionHook answer) {
    hook() = std::move(answer);
}

Answer askQuestion(QWidget* parent, const QString& question, bool offerAll, const QString& detail) {
    if (hook()) return hook()(question, offerAll);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), question, QMessageBox::NoButton, parent);
    box.setInformativeText(detail);
    QAbstractButton* yes = box.addButton(QMessageBox::Yes);
    QAbstractButton* no = box.addButton(QMessageBox::No);
    QAbstractButton* all = nullptr;
    QAbstractButton* noToAll = nullptr;
    if (offerAll) {
        all = box.addButton(QMessageBox::YesToAll);
        all->setText(QStringLiteral("&All"));
        noToAll = box.addButton(QMessageBox::NoToAll);
        noToAll->setText(QStringLiteral("N&o to All"));
    }
    // Escape and the close button are No: a question left unanswered deletes nothing.
    box.setEscapeButton(no);
    box.setDefaultButton(static_cast<QPushButton*>(yes));
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    if (clicked == yes) return Answer::Yes;
    if (offerAll && clicked == all) return Answer::All;
    if (offerAll && clicked == noToAll) return Answer::NoToAll;
    return Answer::No;
}

} // namespace quern
