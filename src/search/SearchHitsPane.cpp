#include "search/SearchHitsPane.h"

#include "window/KeyTreeItem.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quern {

namespace {

constexpr int kPositionRole = Qt::UserRole + 1;

// The list takes Enter for itself: in the window it would otherwise run the Modify command.
class HitList final : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    std::function<void(QTreeWidgetItem*)> onEnter;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                event->accept();
                return true;
            }
        }
        return QTreeWidget::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem() && onEnter) {
            onEnter(currentItem());
            return;
        }
        QTreeWidget::keyPressEvent(event);
    }
};

} // namespace

SearchHitsPane::SearchHitsPane(QWidget* parent)
    : QFrame(parent) {
    setObjectName(QStringLiteral("SearchHitsPane"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    auto* top = new QHBoxLayout;
    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    top->addWidget(m_title, 1);
    m_close = new QToolButton(this);
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setAutoRaise(true);
    m_close->setToolTip(QStringLiteral("Close the list of hits"));
    connect(m_close, &QToolButton::clicked, this, &QWidget::hide);
    top->addWidget(m_close);
    layout->addLayout(top);
    auto* list = new HitList(this);
    list->onEnter = [this](QTreeWidgetItem* item) { activate(item); };
    List = list;
    List->setObjectName(QStringLiteral("HitList"));
    List->setRootIsDecorated(false);
    List->setUniformRowHeights(true);
    List->setTextElideMode(Qt::ElideMiddle); // the start of a path and its last names both show
    List->setHeaderLabels({ QStringLiteral("Found"), QStringLiteral("Data") });
    List->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    List->header()->resizeSection(0, 420);
    List->setStatusTip(QStringLiteral("Every key and value the search found: Enter or a double click goes to it"));
    connect(List, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { activate(item); });
    layout->addWidget(List, 1);
    hide();
}

void SearchHitsPane::begin(const QString& expression) {
    m_expression = expression;
    List->clear();
    m_title->setText(QStringLiteral("Looking for \"%1\"...").arg(expression));
    show();
}

void SearchHitsPane::addHit(const std::string& position, const QString& dataText) {
    auto* item = new QTreeWidgetItem(List, { shownText(position), dataText });
    item->setData(0, kPositionRole, QByteArray::fromStdString(position));
}

void SearchHitsPane::finish(bool cancelled) {
    const int count = hitCount();
    QString text = count == 1 ? QStringLiteral("1 hit for \"%1\"").arg(m_expression)
                              : QStringLiteral("%1 hits for \"%2\"").arg(count).arg(m_expression);
    if (cancelled) text += QStringLiteral(" (the search was cancelled before its end)");
    m_title->setText(text);
    if (count > 0) List->setCurrentItem(List->topLevelItem(0));
}

int SearchHitsPane::hitCount() const {
    return List->topLevelItemCount();
}

std::string SearchHitsPane::hitAt(int row) const {
    const QTreeWidgetItem* item = List->topLevelItem(row);
    return item ? item->data(0, kPositionRole).toByteArray().toStdString() : std::string();
}

void SearchHitsPane::activate(QTreeWidgetItem* item) {
    if (item) emit hitActivated(item->data(0, kPositionRole).toByteArray().toStdString());
}

} // namespace quern
