#include "shell/GridViewOptions.h"

#include "shell/ValueGridModel.h"
#include "window/CommandWindow.h"
#include "window/Preferences.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTreeWidget>

namespace quern {

namespace {

constexpr int kTypeColumn = 2;

constexpr const char* kTypeColumnPreference = "grid.typeColumn";
constexpr const char* kTypeWidthPreference = "grid.typeColumnWidth";
constexpr const char* kSortColumnPreference = "grid.sortColumn";
constexpr const char* kSortDescendingPreference = "grid.sortDescending";
constexpr const char* kDesktopColoursPreference = "view.desktopColours";

void setPaneColours(QWidget* widget, const QColor& base, const QColor& text) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Text, text);
    widget->setPalette(palette);
}

} // namespace

GridViewOptions::GridViewOptions(
    CommandWindow& window, QTableView* grid, ValueGridModel* model, QTreeWidget* tree, QPlainTextEdit* memo)
    : QObject(grid)
    , m_window(window)
    , m_main(window.widget())
    , m_grid(grid)
    , m_model(model)
    , m_tree(tree)
    , m_memo(memo)
    , m_colours(classicPaneColours(QApplication::palette())) {
    m_model->setHeaderText(kTypeColumn, QStringLiteral("Type"));
    QHeaderView* header = m_grid->horizontalHeader();
    // Name, Type, Data: the data, the widest, keeps the rest of the row, as the column rule wants.
    header->moveSection(kTypeColumn, 1);
    // Wide enough for every name but the two resource lists' long ones.
    m_defaultTypeWidth = m_grid->fontMetrics().horizontalAdvance(QStringLiteral("REG_DWORD_BIG_ENDIAN")) + 12;
    header->resizeSection(kTypeColumn, m_defaultTypeWidth);
    header->setSectionsClickable(true);
    m_grid->setColumnHidden(kTypeColumn, true);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) { sortBy(column); });
    header->installEventFilter(this); // a dragged Type column keeps its width
    m_main->installEventFilter(this); // the desktop's palette may change while it runs
}

void GridViewOptions::load() {
    const Preferences& preferences = m_window.preferences();
    m_typeColumn = preferences.flag(kTypeColumnPreference);
    m_desktopColours = preferences.flag(kDesktopColoursPreference);
    m_sort = gridSortFrom(preferences.number(kSortColumnPreference, 0), preferences.flag(kSortDescendingPreference));
    if (m_sort.column == GridColumn::Type && !m_typeColumn) m_sort = {};
    const int width = preferences.number(kTypeWidthPreference, m_defaultTypeWidth);
    m_grid->horizontalHeader()->resizeSection(kTypeColumn, width > 0 ? width : m_defaultTypeWidth);
    m_grid->setColumnHidden(kTypeColumn, !m_typeColumn);
    if (m_typeItem) m_typeItem->setChecked(m_typeColumn);
    if (m_coloursItem) m_coloursItem->setChecked(m_desktopColours);
    applyColours();
}

void GridViewOptions::addItems(QMenu* view) {
    view->addSeparator();
    m_typeItem = view->addAction(QStringLiteral("&Type column"));
    m_typeItem->setObjectName(QStringLiteral("TypeColumnMNU"));
    m_typeItem->setStatusTip(QStringLiteral("Show the type of each value in a column of its own"));
    m_coloursItem = view->addAction(QStringLiteral("Desktop &colours"));
    m_coloursItem->setObjectName(QStringLiteral("DesktopColoursMNU"));
    m_coloursItem->setStatusTip(QStringLiteral("Draw the tree, the values and the selection in the desktop's colours"));
    for (QAction* item : { m_typeItem, m_coloursItem })
        item->setCheckable(true);
    m_typeItem->setChecked(m_typeColumn);
    m_coloursItem->setChecked(m_desktopColours);
    connect(m_typeItem, &QAction::triggered, this, [this](bool on) { setTypeColumn(on); });
    connect(m_coloursItem, &QAction::triggered, this, [this](bool on) { setDesktopColours(on); });
}

int GridViewOptions::sortMark(int column) const {
    if (m_sort.isDefault() || column != static_cast<int>(m_sort.column)) return 0;
    return m_sort.descending ? -1 : 1;
}

void GridViewOptions::arrange(std::vector<ValueRow>& rows, int dwordMode) const {
    if (!m_sort.isDefault()) sortValueRows(rows, m_sort, dwordMode); // read in the default order already
}

void GridViewOptions::setTypeColumn(bool on) {
    m_typeColumn = on;
    if (m_typeItem) m_typeItem->setChecked(on);
    Preferences& preferences = m_window.preferences();
    preferences.setFlag(kTypeColumnPreference, on);
    // A sort by a column that is no longer shown would be one the user cannot see or undo.
    if (!on && m_sort.column == GridColumn::Type) {
        m_sort = {};
        preferences.setNumber(kSortColumnPreference, 0);
        preferences.setFlag(kSortDescendingPreference, false);
    }
    m_window.preferencesChanged();
    m_grid->setColumnHidden(kTypeColumn, !on);
    if (m_window.currentNode()) m_window.FillGrid(m_window.currentNode()); // the cells read another way
}

void GridViewOptions::setDesktopColours(bool on) {
    m_desktopColours = on;
    if (m_coloursItem) m_coloursItem->setChecked(on);
    m_window.preferences().setFlag(kDesktopColoursPreference, on);
    m_window.preferencesChanged();
    applyColours();
}

void GridViewOptions::sortBy(int column) {
    if (column < 0 || column > kTypeColumn) return;
    m_sort = clickedGridSort(m_sort, static_cast<GridColumn>(column));
    Preferences& preferences = m_window.preferences();
    preferences.setNumber(kSortColumnPreference, column);
    preferences.setFlag(kSortDescendingPreference, m_sort.descending);
    m_window.preferencesChanged();
    // The rows themselves move, as commands index them; the cursor stays on its value.
    const int current = m_grid->currentIndex().row();
    const std::vector<ValueRow>& rows = m_model->rows();
    const std::string name = current >= 0 && current < static_cast<int>(rows.size())
        ? rows[static_cast<std::size_t>(current)].name
        : std::string();
    const bool hadCursor = current >= 0 && current < static_cast<int>(rows.size());
    m_model->sortRows(m_sort, m_window.dwordViewMode());
    if (hadCursor)
        for (std::size_t row = 0; row < rows.size(); ++row)
            if (rows[row].name == name) {
                m_grid->setCurrentIndex(m_model->index(static_cast<int>(row), 0));
                break;
            }
    m_grid->horizontalHeader()->viewport()->update();
}

bool GridViewOptions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange && watched == m_main) applyColours();
    if (event->type() == QEvent::MouseButtonRelease && watched == m_grid->horizontalHeader()) keepTypeColumnWidth();
    return false;
}

void GridViewOptions::keepTypeColumnWidth() {
    if (!m_typeColumn) return;
    const int width = m_grid->columnWidth(kTypeColumn);
    if (width == m_window.preferences().number(kTypeWidthPreference, m_defaultTypeWidth)) return;
    m_window.preferences().setNumber(kTypeWidthPreference, width);
    m_window.preferencesChanged();
}

void GridViewOptions::applyColours() {
    const QPalette desktop = QApplication::palette();
    m_colours = m_desktopColours ? desktopPaneColours(desktop) : classicPaneColours(desktop);
    setPaneColours(m_tree, m_colours.base, m_colours.text);
    setPaneColours(m_memo, m_colours.base, m_colours.text);
    setPaneColours(m_grid, m_colours.base, m_colours.text);
    // The tree's current item is drawn on the desktop's highlight in either set of colours.
    QPalette tree = m_tree->palette();
    tree.setColor(QPalette::Highlight, m_colours.highlight);
    tree.setColor(QPalette::HighlightedText, m_colours.highlightedText);
    m_tree->setPalette(tree);
    QPalette header = m_grid->horizontalHeader()->palette();
    header.setColor(QPalette::Button, m_colours.headerFace);
    header.setColor(QPalette::Window, m_colours.headerFace);
    m_grid->horizontalHeader()->setPalette(header);
    m_tree->viewport()->update();
    m_grid->viewport()->update();
    m_grid->horizontalHeader()->viewport()->update();
}

} // namespace quern
