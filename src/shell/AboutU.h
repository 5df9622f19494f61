#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace quern {

// The address the about dialog shows and mails, fixed when Quern is built; empty when the build
// was given none.
[[nodiscard]] QString contactAddress();

// Where the about dialog sends the user: the address when there is one, else the issue tracker.
[[nodiscard]] QString contactText(const QString& address);

// The about dialog: the picture, the version, where to report problems (a click on an address
// writes a mail to it) and OK. It holds no state; the command that shows it destroys it afterwards.
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
