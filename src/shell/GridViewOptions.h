#pragma once

#include "registry/GridOrder.h"
#include "registry/RegU.h"
#include "window/PaneColours.h"

#include <QObject>

#include <vector>

class QAction;
class QMenu;
class QPlainTextEdit;
class QTableView;
class QTreeWidget;

namespace quern {

class CommandWindow;
class ValueGridModel;

// The grid's options beyond the two view modes, each kept in preferences.ini: View > Type column
// (a third column naming each value's type, with multi-strings and the other numbers readable in
// the characters view), the order the user sorted the rows in by clicking a header, and View >
// Desktop colours (the tree, the grid, its header and the memo in the desktop's palette instead of
// the program's fixed colours). All are off, and the order is by name, until the user changes them.
class GridViewOptions final : public QObject {
public:
    GridViewOptions(
        CommandWindow& window, QTableView* grid, ValueGridModel* model, QTreeWidget* tree, QPlainTextEdit* memo);

    // Takes the options from the window's preferences, once they are read, and shows them.
    void load();
    // The two items, after the items already in the View menu.
    void addItems(QMenu* view);

    [[nodiscard]] bool typeColumn() const { return m_typeColumn; }
    [[nodiscard]] bool desktopColours() const { return m_desktopColours; }
    [[nodiscard]] GridSort sort() const { return m_sort; }
    [[nodiscard]] const PaneColours& colours() const { return m_colours; }
    // How the data cells read while the options are as they are.
    [[nodiscard]] GridTexts texts() const { return m_typeColumn ? GridTexts::Readable : GridTexts::Bytes; }
    // The mark a header cell gets: 1 ascending, -1 descending, 0 none. The default order by name
    // shows none, so the grid looks as it always did until the user sorts.
    [[nodiscard]] int sortMark(int column) const;
    // The order rows are read in for the grid, and what puts them in the user's order after that:
    // a sort of the user's sorts once, whole (its ties go by name), instead of after the name sort.
    [[nodiscard]] RowOrder readOrder() const { return m_sort.isDefault() ? RowOrder::ByName : RowOrder::AsRead; }
    void arrange(std::vector<ValueRow>& rows, int dwordMode) const;

    // The menu items and a click on a header; each is kept in the preferences at once.
    void setTypeColumn(bool on);
    void setDesktopColours(bool on);
    void sortBy(int column);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyColours();
    void keepTypeColumnWidth();

    CommandWindow& m_window;
    QWidget* m_main; // the window itself, asked nothing while it is taken down
    QTableView* m_grid;
    ValueGridModel* m_model;
    QTreeWidget* m_tree;
    QPlainTextEdit* m_memo;
    QAction* m_typeItem = nullptr;
    QAction* m_coloursItem = nullptr;
    int m_defaultTypeWidth = 0;
    bool m_typeColumn = false;
    bool m_desktopColours = false;
    GridSort m_sort;
    PaneColours m_colours;
};

} // namespace quern
