#include "search/SearchingU.h"

#include "search/SearchEngine.h"
#include "window/JpegImage.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <cmath>
#include <numbers>

namespace quern {

SearchAnimation::SearchAnimation(QWidget* parent)
    : QWidget(parent) {
    m_timer = new QTimer(this);
    m_timer->setInterval(110);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kFrames;
        update();
    });
    m_timer->start();
}

void SearchAnimation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    // A page with lines of text, the keys being read.
    const QRectF page(area.left() + 2, area.top() + 4, area.width() * 0.55, area.height() - 8);
    painter.setPen(QPen(QColor(0x6e, 0x66, 0x5b), 1));
    painter.setBrush(QColor(0xfb, 0xf7, 0xef));
    painter.drawRect(page);
    painter.setPen(QPen(QColor(0xa7, 0x9d, 0x8f), 1.5));
    for (int line = 0; line < 5; ++line) {
        const double y = page.top() + 5 + line * (page.height() - 8) / 5;
        painter.drawLine(QPointF(page.left() + 3, y), QPointF(page.right() - 3 - (line % 2) * 4, y));
    }
    // The lens goes round over the page, one eighth of a turn a frame.
    const double angle = 2 * std::numbers::pi * m_frame / kFrames;
    const QPointF centre(page.center().x() + std::cos(angle) * page.width() * 0.3,
        page.center().y() + std::sin(angle) * page.height() * 0.25);
    const double radius = area.width() * 0.2;
    painter.setPen(QPen(QColor(0x3d, 0x2f, 0x22), 3, Qt::SolidLine, Qt::RoundCap));
    const QPointF handle = centre + QPointF(radius * 0.75, radius * 0.75);
    painter.drawLine(handle, handle + QPointF(radius * 0.8, radius * 0.8));
    painter.setBrush(QColor(0xe2, 0xb6, 0x4a, 90));
    painter.drawEllipse(centre, radius, radius);
}

TWaitForm::TWaitForm(SearchState& state, QWidget* parent)
    : QDialog(parent)
    , m_state(state) {
    setObjectName(QStringLiteral("WaitForm"));
    setWindowTitle(QStringLiteral("Looking for"));
    setFixedSize(290, 109);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(216, 208, 200));
    setPalette(colours);
    Image = new QLabel(this);
    Image->setGeometry(0, 0, 290, 96);
    Image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image->setPixmap(QPixmap::fromImage(quernPicture(QuernPicture::Wait)));
    LabelProgress = new QLabel(QStringLiteral("Searching, Please wait---"), this);
    LabelProgress->setObjectName(QStringLiteral("LabelProgress"));
    LabelProgress->setGeometry(0, 92, 290, 17);
    LabelProgress->setTextFormat(Qt::PlainText);
    LabelCounts = new QLabel(this);
    LabelCounts->setObjectName(QStringLiteral("LabelCounts"));
    LabelCounts->setGeometry(0, 92, 290, 17);
    LabelCounts->setTextFormat(Qt::PlainText);
    LabelCounts->hide();
    StopBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    StopBtn->setObjectName(QStringLiteral("StopBtn"));
    StopBtn->setGeometry(207, 56, 75, 25);
    StopBtn->setDefault(true);
    Animate = new SearchAnimation(this);
    Animate->setGeometry(224, 8, 41, 41);
    connect(StopBtn, &QPushButton::clicked, this, &QWidget::close);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

void TWaitForm::showCounts(std::uint64_t keys, std::size_t hits) {
    if (LabelCounts->isHidden()) {
        setFixedSize(290, 126);
        LabelProgress->move(0, 109);
        LabelCounts->show();
    }
    LabelCounts->setText(QStringLiteral("Whole registry: %L1 %2, %L3 %4")
                             .arg(static_cast<qulonglong>(keys))
                             .arg(keys == 1 ? QStringLiteral("key") : QStringLiteral("keys"))
                             .arg(static_cast<qulonglong>(hits))
                             .arg(hits == 1 ? QStringLiteral("hit") : QStringLiteral("hits")));
}

void TWaitForm::FormCreate() {
    m_state.SearchCancelled = false;
}

void TWaitForm::FormClose() {
    m_state.SearchCancelled = true;
}

void TWaitForm::keyPressEvent(QKeyEvent* event) {
    // Any key that types a character, Escape and Enter among them, stops the search.
    if (!event->text().isEmpty()) {
        event->accept();
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TWaitForm::closeEvent(QCloseEvent* event) {
    FormClose();
    QDialog::closeEvent(event);
}

} // namespace quern
