#include "shell/AboutU.h"

#include "QuernVersion.h"
#include "window/JpegImage.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>

#ifndef QUERN_CONTACT_ADDRESS
#error "QUERN_CONTACT_ADDRESS names the address the about dialog shows; the build sets it"
#endif

namespace quern {

QString contactAddress() {
    return QStringLiteral(QUERN_CONTACT_ADDRESS);
}

QString contactText(const QString& address) {
    return address.isEmpty() ? QStringLiteral("Problems: Quern's issue tracker") : address;
}

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About Quern..."));
    setFixedSize(360, 221);
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 360, 221);
    Image1->setAlignment(Qt::AlignCenter);
    const QImage picture = quernPicture(QuernPicture::About);
    if (!picture.isNull()) Image1->setPixmap(QPixmap::fromImage(picture));

    Label1 = new QLabel(QStringLiteral("version ") + QLatin1StringView(kQuernVersion), this);
    Label1->setGeometry(24, 72, 97, 17);
    // Labels draw no background of their own: the picture shows through around the texts.

    Mail = new QLabel(contactText(contactAddress()), this);
    Mail->setGeometry(128, 108, 217, 21);
    Mail->setAlignment(Qt::AlignCenter);
    QFont mailFont = font;
    mailFont.setPointSize(10);
    Mail->setFont(mailFont);
    // Only an address is a link; the tracker is named, not opened, as the build knows no address of it.
    if (!contactAddress().isEmpty()) {
        Mail->setCursor(Qt::PointingHandCursor);
        QPalette blue = Mail->palette();
        blue.setColor(QPalette::WindowText, Qt::blue);
        Mail->setPalette(blue);
        Mail->installEventFilter(this);
    }

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setGeometry(280, 192, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    BitBtn1->setFocus();

    // The form sees every key before its controls do.
    installEventFilter(this);
    BitBtn1->installEventFilter(this);

    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        FormKeyPress(key);
        if (key->isAccepted()) return true;
    }
    if (watched == Mail && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton
        && Mail->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        MailClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::FormKeyPress(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        event->accept();
        return;
    }
    event->ignore(); // every other key goes on to the control as usual
}

void TAboutForm::MailClick() {
    if (contactAddress().isEmpty()) return;
    // The desktop hands the address to the user's mail program; if there is none, nothing happens.
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + Mail->text() + QStringLiteral("?Subject=Quern")));
}

void showAbout(QWidget* parent) {
    TAboutForm form(parent);
    form.exec();
}

} // namespace quern
