#include "search/SearchHitsPane.h"

#include "search/SearchHitsModel.h"
#include "window/KeyTreeItem.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace quern {

namespace {

// The list takes Enter for itself (in the window it would otherwise run the Modify command), and
// shows a cell's whole text in a tooltip where the column cuts it off.
class HitTable final : public QTableView {
public:
    using QTableView::QTableView;
    std::function<void(const QModelIndex&)> onEnter;
    std::function<QString(const QPoint&)> toolTipAt;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                event->accept();
                return true;
            }
        }
        return QTableView::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid() && onEnter) {
            onEnter(currentIndex());
            return;
        }
        QTableView::keyPressEvent(event);
    }
    bool viewportEvent(QEvent* event) override {
        if (event->type() != QEvent::ToolTip || !toolTipAt) return QTableView::viewportEvent(event);
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport(), visualRect(indexAt(help->pos())));
        return true;
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
    auto* filterLabel = new QLabel(QStringLiteral("Fil&ter:"), this);
    Filter = new QLineEdit(this);
    Filter->setObjectName(QStringLiteral("HitFilter"));
    Filter->setClearButtonEnabled(true);
    Filter->setPlaceholderText(QStringLiteral("*\\Wine\\* AND NOT *dll*"));
    Filter->setStatusTip(QStringLiteral("Show only the hits whose path (a value's name after a backslash) the "
                                        "expression matches: * and ?, AND, OR and NOT, as in Find"));
    filterLabel->setBuddy(Filter);
    top->addWidget(filterLabel);
    top->addWidget(Filter, 1);
    SaveBtn = new QPushButton(QStringLiteral("&Save hits..."), this);
    SaveBtn->setObjectName(QStringLiteral("SaveHitsBtn"));
    SaveBtn->setStatusTip(QStringLiteral("Save the hits the list shows to a text file, one a line"));
    MarkBtn = new QPushButton(QStringLiteral("&Mark hits"), this);
    MarkBtn->setObjectName(QStringLiteral("MarkHitsBtn"));
    MarkBtn->setStatusTip(QStringLiteral("Add the keys and values the list shows to the selection, to export them"));
    top->addWidget(SaveBtn);
    top->addWidget(MarkBtn);
    m_close = new QToolButton(this);
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setAutoRaise(true);
    m_close->setToolTip(QStringLiteral("Close the list of hits"));
    connect(m_close, &QToolButton::clicked, this, &QWidget::hide);
    top->addWidget(m_close);
    layout->addLayout(top);

    m_model = new SearchHitsModel(this);
    auto* list = new HitTable(this);
    list->onEnter = [this](const QModelIndex& index) { activate(index); };
    list->toolTipAt = [this](const QPoint& at) { return toolTipAt(at); };
    List = list;
    List->setObjectName(QStringLiteral("HitList"));
    List->setModel(m_model);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List->setWordWrap(false);
    List->setShowGrid(false);
    List->setTabKeyNavigation(false);
    List->setTextElideMode(Qt::ElideMiddle); // the start of a path and its last names both show
    List->verticalHeader()->hide();
    // Every row as high as the first: the view then never measures a million of them.
    List->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    List->verticalHeader()->setDefaultSectionSize(List->fontMetrics().height() + 4);
    List->horizontalHeader()->setHighlightSections(false);
    List->horizontalHeader()->setStretchLastSection(true);
    List->horizontalHeader()->resizeSection(0, 420);
    List->horizontalHeader()->resizeSection(1, 160);
    // A click on a header sorts by it, and the hit the cursor is on stays the current one.
    List->horizontalHeader()->setSectionsClickable(true);
    List->horizontalHeader()->setSortIndicatorShown(true);
    List->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder); // the walk's order
    connect(List->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
        [this](int column, Qt::SortOrder order) { keepCurrent([&] { m_model->sort(column, order); }); });
    List->setStatusTip(QStringLiteral("Every key and value the search found: Enter or a double click goes to it"));
    connect(List, &QTableView::activated, this, [this](const QModelIndex& index) { activate(index); });
    layout->addWidget(List, 1);

    m_filterDelay = new QTimer(this);
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(150); // filtered once the typing pauses, not at every key
    connect(m_filterDelay, &QTimer::timeout, this, &SearchHitsPane::applyFilter);
    connect(Filter, &QLineEdit::textChanged, m_filterDelay, qOverload<>(&QTimer::start));
    connect(Filter, &QLineEdit::returnPressed, this, &SearchHitsPane::applyFilter);
    connect(SaveBtn, &QPushButton::clicked, this, &SearchHitsPane::saveRequested);
    connect(MarkBtn, &QPushButton::clicked, this, &SearchHitsPane::markRequested);
    hide();
}

void SearchHitsPane::setSource(reg::RegStore& store, std::function<std::pair<int, int>()> viewModes) {
    m_model->setSource(&store, std::move(viewModes));
}

void SearchHitsPane::begin(const QString& expression) {
    m_expression = expression;
    m_model->clear();
    Filter->blockSignals(true);
    Filter->clear();
    Filter->blockSignals(false);
    m_filterDelay->stop();
    List->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_title->setText(QStringLiteral("Looking for \"%1\"...").arg(expression));
    SaveBtn->setEnabled(false);
    MarkBtn->setEnabled(false);
    show();
}

void SearchHitsPane::addHit(const std::string& position) {
    m_model->hits().add(position);
}

void SearchHitsPane::showNewHits() {
    m_model->showNewHits();
}

void SearchHitsPane::finish(bool cancelled) {
    showNewHits();
    const int count = static_cast<int>(m_model->hits().size());
    QString text = count == 1 ? QStringLiteral("1 hit for \"%1\"").arg(m_expression)
                              : QStringLiteral("%L1 hits for \"%2\"").arg(count).arg(m_expression);
    text += cancelled ? QStringLiteral(" (the search was cancelled before its end)")
                      : QStringLiteral(" (searched the whole registry)");
    m_title->setText(text);
    SaveBtn->setEnabled(count > 0);
    MarkBtn->setEnabled(count > 0);
    if (count > 0) List->setCurrentIndex(m_model->index(0, 0));
}

void SearchHitsPane::recheck() {
    m_model->recheck();
    List->viewport()->update();
}

void SearchHitsPane::showEvent(QShowEvent* event) {
    recheck();
    QFrame::showEvent(event);
}

int SearchHitsPane::hitCount() const {
    return m_model->rowCount();
}

std::string SearchHitsPane::hitAt(int row) const {
    if (row < 0 || row >= m_model->rowCount()) return {};
    return m_model->hits().position(m_model->hitOfRow(row));
}

QString SearchHitsPane::title() const {
    return m_title->text();
}

QString SearchHitsPane::toolTipAt(const QPoint& viewportPosition) const {
    const QModelIndex index = List->indexAt(viewportPosition);
    if (!index.isValid()) return {};
    const QString text = index.data().toString();
    // The text's room: the cell less the margin the style keeps on either side of it.
    const int margin = List->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, List) + 1;
    const int room = List->visualRect(index).width() - 2 * margin;
    return List->fontMetrics().horizontalAdvance(text) > room ? text : QString();
}

void SearchHitsPane::keepCurrent(const std::function<void()>& change) {
    const QModelIndex current = List->currentIndex();
    const std::size_t hit = current.isValid() ? m_model->hitOfRow(current.row()) : SIZE_MAX;
    change();
    const int row = hit == SIZE_MAX ? -1 : m_model->rowOfHit(hit);
    if (row < 0) return;
    List->setCurrentIndex(m_model->index(row, current.column()));
    List->scrollTo(List->currentIndex());
}

void SearchHitsPane::applyFilter() {
    m_filterDelay->stop();
    keepCurrent([this] { m_model->setFilter(rawText(Filter->text())); });
    const bool any = hitCount() > 0;
    SaveBtn->setEnabled(any);
    MarkBtn->setEnabled(any);
}

void SearchHitsPane::activate(const QModelIndex& index) {
    if (index.isValid()) emit hitActivated(hitAt(index.row()));
}

} // namespace quern
