#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace quern {

// The address the about dialog shows and mails, fixed when Quern is built.
[[nodiscard]] QString contactAddress();

// The about dialog: the picture, the version, the author's address (a click writes a mail to it)
// and OK. It holds no state; the command that shows it destroys it afterwards.
class TAboutForm final : public QDialog {
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Mail = nullptr;
    QPushButton* BitBtn1 = nullptr;

    void FormKeyPress(QKeyEvent* event);
    void MailClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The about command: the dialog, owned by the parent, shown modally and destroyed when it closes.
void showAbout(QWidget* parent);

} // namespace quern
