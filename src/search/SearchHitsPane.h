#pragma once

#include <QFrame>

#include <string>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;
class QToolButton;

namespace quern {

// The list of every hit of a Find all: each key or value that matched, with the data of value
// hits as the grid shows it. Enter or a double click on a hit goes to it; the pane can be closed.
class SearchHitsPane final : public QFrame {
    Q_OBJECT

public:
    explicit SearchHitsPane(QWidget* parent = nullptr);

    // Starts a new list for the expression.
    void begin(const QString& expression);
    // Adds a hit: its position as the search gives it (a key path or a value path) and, for a
    // value, its data as the grid renders it.
    void addHit(const std::string& position, const QString& dataText);
    // Says how the walk ended: how many hits, and whether it was cancelled.
    void finish(bool cancelled);

    [[nodiscard]] int hitCount() const;
    [[nodiscard]] std::string hitAt(int row) const; // the position of a hit
    QTreeWidget* List = nullptr;

signals:
    void hitActivated(const std::string& position);

private:
    void activate(QTreeWidgetItem* item);

    QLabel* m_title = nullptr;
    QToolButton* m_close = nullptr;
    QString m_expression;
};

} // namespace quern
