#pragma once

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quern {

struct SearchState;

// The Find dialog: the search expression and what it is tested on. Find stores them in the search
// state and closes with Accepted; Find all does the same and closes with kFindAll. Escape and the
// close box store nothing.
class TFindForm final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kFindAll = 2;

    TFindForm(SearchState& state, QWidget* parent = nullptr);

    QLabel* TrovaLabel = nullptr;
    QLineEdit* EditFind = nullptr;
    QPushButton* FindBTN = nullptr;
    QPushButton* FindAllBTN = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* KeyCheck = nullptr;
    QCheckBox* ValueCheck = nullptr;
    QCheckBox* DataCheck = nullptr;

    void FindCheck();
    void FindBTNClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate();

    SearchState& m_state;
};

} // namespace quern
