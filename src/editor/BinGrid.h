#pragma once

#include "editor/BinaryPage.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>

#include <functional>
#include <string>

class QKeyEvent;
class QLineEdit;

namespace quern {

// The byte grid's cells over a BinaryPage: column 0 the offset of the row's first byte in hex,
// columns 1 to 8 one byte each. Rows are only as many as the page has, so a value of a megabyte is
// 131,073 rows that cost nothing until they are painted.
class BinGridModel final : public QAbstractTableModel {
public:
    explicit BinGridModel(const BinaryPage& page, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Tells the view that the page changed: rows added or gone, and every cell's text.
    void pageChanged();

private:
    const BinaryPage& m_page;
    int m_rows = 0;
};

// The offset label of a row: the index of its first byte in hex, at least two digits.
[[nodiscard]] QString rowOffsetText(std::size_t row);

// The byte grid. The cell editor is always open on the current cell while the grid has the focus,
// and the current cell moves only where the page allows it (filled from the front).
class BinGridView final : public QTableView {
    Q_OBJECT

public:
    BinGridView(BinaryPage& page, QWidget* parent = nullptr);

    [[nodiscard]] BinGridModel& gridModel() { return *m_model; }
    [[nodiscard]] static std::size_t byteIndex(const QModelIndex& index);
    [[nodiscard]] QModelIndex cellOf(std::size_t byteIndex) const;
    // Makes the cell of a byte index the current one, where the grid allows it; false otherwise.
    bool moveToByte(std::size_t byteIndex);
    // The moves of a hex editor, by a key pressed in the cell editor: Left and Right at the edge of
    // the cell's text to the cell before or after (across rows), Home and End to the first and last
    // byte of the row, Ctrl+Home and Ctrl+End to those of the value. True when the key was one.
    bool moveByKey(const QKeyEvent& key, const QLineEdit& editor);
    // Whether the cell of a byte index is drawn highlighted: set by the dialog.
    std::function<bool(std::size_t)> highlighted;

signals:
    // The text of the open cell editor changed (BinGridSetEditText).
    void cellTextEdited(std::size_t byteIndex, const QString& text);
    // Enter in the cell editor.
    void enterPressed(std::size_t byteIndex);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    friend class BinCellDelegate;
    bool BinGridSelectCell(const QModelIndex& index) const;

    BinaryPage& m_page;
    BinGridModel* m_model;
};

// The character line: one character per byte, edited as text (characters inserted, deleted,
// overwritten through a selection, pasted). A plain line edit lays out all of its text at every
// change, which takes a second for a megabyte; this one draws only what shows, in a fixed-width
// font, so any length edits at once. Bytes without a visible character show as the grid's
// character view shows them.
class BinLineEdit final : public QWidget {
    Q_OBJECT

public:
    explicit BinLineEdit(QWidget* parent = nullptr);

    [[nodiscard]] const std::string& text() const { return m_text; }
    void setText(std::string text);
    [[nodiscard]] int cursorPosition() const { return m_caret; }
    void setCursorPosition(int position);
    // The selection's start (the caret's place without one) and its length.
    [[nodiscard]] int selectionStart() const { return std::min(m_caret, m_anchor); }
    [[nodiscard]] int selectionLength() const { return std::abs(m_caret - m_anchor); }
    void setSelection(int start, int length);

    QSize sizeHint() const override;

signals:
    // count characters at position were replaced by the bytes given (each a character's byte).
    void edited(std::size_t position, std::size_t count, const std::string& bytes);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void moveCaret(int position, bool select);
    void replaceSelection(const std::string& bytes);
    bool insertText(const QString& text);
    int positionAt(int x) const;
    int charWidth() const;
    int visibleChars() const;
    void keepCaretVisible();

    std::string m_text;
    int m_caret = 0;
    int m_anchor = 0;
    int m_scroll = 0; // the first character shown
};

} // namespace quern
