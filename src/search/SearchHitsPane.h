#pragma once

#include <QFrame>

#include <functional>
#include <string>
#include <utility>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;

namespace quern {

namespace reg {
class RegStore;
}
class SearchHits;
class SearchHitsModel;

// The list of every hit of a Find all: the key's full path, a value's name and its data as the grid
// shows it. A filter (a wildcard expression, as in Find) narrows it; a click on a header sorts it;
// hits whose key or value went since are greyed and say "(deleted)", checked whenever the list is
// shown or refreshed. Enter or a double click on a hit goes to it; the pane can be closed.
class SearchHitsPane final : public QFrame {
    Q_OBJECT

public:
    explicit SearchHitsPane(QWidget* parent = nullptr);

    // Where the hits' data is read and how the grid shows it (binary and DWORD view modes).
    void setSource(reg::RegStore& store, std::function<std::pair<int, int>()> viewModes);

    // Starts a new list for the expression: no hits, no filter, the walk's order.
    void begin(const QString& expression);
    // Adds a hit as the search gives it (a key path, or a value path); it gets its row at the
    // next showNewHits, so a walk can add them fast and show them a few times a second.
    void addHit(const std::string& position);
    void showNewHits();
    // Says how the walk ended: how many hits, and whether it was cancelled.
    void finish(bool cancelled);
    // Reads again whether each hit is still there, and its data, as its row is drawn.
    void recheck();

    [[nodiscard]] int hitCount() const; // the rows the filter lets through
    [[nodiscard]] std::string hitAt(int row) const; // the position of a hit, as the search gives it
    [[nodiscard]] QString title() const;
    // The text a tooltip shows at a place in the list: a cell's whole text where it is cut off.
    [[nodiscard]] QString toolTipAt(const QPoint& viewportPosition) const;
    [[nodiscard]] SearchHitsModel& model() { return *m_model; }

    QTableView* List = nullptr;
    QLineEdit* Filter = nullptr;
    QPushButton* SaveBtn = nullptr;
    QPushButton* MarkBtn = nullptr;

signals:
    void hitActivated(const std::string& position);
    void saveRequested();
    void markRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void activate(const QModelIndex& index);
    void applyFilter();
    void keepCurrent(const std::function<void()>& change);

    QLabel* m_title = nullptr;
    QToolButton* m_close = nullptr;
    QTimer* m_filterDelay = nullptr;
    SearchHitsModel* m_model = nullptr;
    QString m_expression;
};

} // namespace quern
