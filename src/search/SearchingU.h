#pragma once

#include <QDialog>
#include <QWidget>

#include <cstddef>
#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;

namespace quern {

struct SearchState;

// A small looping picture of a lens sweeping over a page of keys, shown while a search walks.
class SearchAnimation final : public QWidget {
    Q_OBJECT

public:
    explicit SearchAnimation(QWidget* parent = nullptr);
    [[nodiscard]] int frame() const { return m_frame; }
    static constexpr int kFrames = 8;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* m_timer = nullptr;
    int m_frame = 0;
};

// The wait window: stands while the search walks the registry, shows where it is, and cancels it
// when it closes, by whatever way (Cancel, Escape or Enter through it, any character key, the
// close box).
class TWaitForm final : public QDialog {
    Q_OBJECT

public:
    TWaitForm(SearchState& state, QWidget* parent = nullptr);

    QLabel* Image = nullptr;
    QLabel* LabelProgress = nullptr;
    QLabel* LabelCounts = nullptr; // Find all's line of counts, shown by showCounts
    // Find all's counts: the keys visited and the hits found so far in the whole registry. The
    // first call makes room for the line below the picture.
    void showCounts(std::uint64_t keys, std::size_t hits);
    QPushButton* StopBtn = nullptr;
    SearchAnimation* Animate = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormClose();

    SearchState& m_state;
};

} // namespace quern
