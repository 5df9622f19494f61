#include "editor/BinGrid.h"

#include "codec/ValueText.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionFrame>

#include <algorithm>

namespace quern {

// --- The grid ---

BinGridModel::BinGridModel(const BinaryPage& page, QObject* parent)
    : QAbstractTableModel(parent)
    , m_page(page)
    , m_rows(static_cast<int>(page.rowCount())) {
}

int BinGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int BinGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 9;
}

QString rowOffsetText(std::size_t row) {
    return QStringLiteral("%1")
        .arg(static_cast<qulonglong>(row * BinaryPage::kColumns), 2, 16, QLatin1Char('0'))
        .toUpper();
}

QVariant BinGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    if (index.column() == 0) return rowOffsetText(static_cast<std::size_t>(index.row()));
    return QString::fromStdString(m_page.cellText(BinGridView::byteIndex(index)));
}

Qt::ItemFlags BinGridModel::flags(const QModelIndex& index) const {
    if (index.column() == 0) return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool BinGridModel::setData(const QModelIndex&, const QVariant&, int) {
    return true; // the page took every change of the editor's text as it was typed
}

void BinGridModel::pageChanged() {
    const int rows = static_cast<int>(m_page.rowCount());
    if (rows > m_rows) {
        beginInsertRows({}, m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    } else if (rows < m_rows) {
        beginRemoveRows({}, rows, m_rows - 1);
        m_rows = rows;
        endRemoveRows();
    }
    if (m_rows > 0) emit dataChanged(index(0, 0), index(m_rows - 1, 8));
}

// Draws the cells (BinGridDrawCell) and gives the cell editor its keys: a blank is no part of a
// number, and Enter moves on to the next cell instead of pressing the dialog's default button.
class BinCellDelegate final : public QStyledItemDelegate {
public:
    explicit BinCellDelegate(BinGridView& grid)
        : QStyledItemDelegate(&grid)
        , m_grid(grid) { }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRect rect = option.rect;
        const QString text = index.data().toString();
        painter->save();
        if (index.column() == 0) {
            painter->fillRect(rect, QColor(192, 192, 192));
            QFont bold = option.font;
            bold.setBold(true);
            painter->setFont(bold);
            painter->setPen(Qt::black);
            painter->drawText(rect.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
        } else {
            const bool lit = m_grid.highlighted && m_grid.highlighted(BinGridView::byteIndex(index));
            painter->fillRect(
                rect, lit ? option.palette.color(QPalette::Active, QPalette::Highlight) : QColor(Qt::white));
            painter->setPen(lit ? QColor(Qt::white) : QColor(Qt::black));
            painter->setFont(option.font);
            painter->drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
        }
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override {
        auto* editor = new QLineEdit(parent);
        editor->setFrame(false);
        const std::size_t byte = BinGridView::byteIndex(index);
        connect(editor, &QLineEdit::textEdited, &m_grid,
            [this, byte](const QString& text) { emit m_grid.cellTextEdited(byte, text); });
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        static_cast<QLineEdit*>(editor)->setText(index.data().toString());
    }

    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override { }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Space) return true;
            if (key->key() == Qt::Key_Escape) {
                // The dialog sees every key first: Escape closes it from a cell too.
                if (auto* dialog = qobject_cast<QDialog*>(m_grid.window())) dialog->reject();
                return true;
            }
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                const QModelIndex current = m_grid.currentIndex();
                if (current.isValid()) emit m_grid.enterPressed(BinGridView::byteIndex(current));
                return true;
            }
            if (auto* editor = qobject_cast<QLineEdit*>(object); editor && m_grid.moveByKey(*key, *editor)) return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    BinGridView& m_grid;
};

BinGridView::BinGridView(BinaryPage& page, QWidget* parent)
    : QTableView(parent)
    , m_page(page)
    , m_model(new BinGridModel(page, this)) {
    setModel(m_model);
    setItemDelegate(new BinCellDelegate(*this));
    horizontalHeader()->hide();
    verticalHeader()->hide();
    // Fixed sizes: the view then never measures a row, whatever their number.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(15 + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setDefaultSectionSize(40);
    horizontalHeader()->setMinimumSectionSize(10);
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::AnyKeyPressed
        | QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked);
    setTabKeyNavigation(false);
}

std::size_t BinGridView::byteIndex(const QModelIndex& index) {
    return static_cast<std::size_t>(index.row()) * BinaryPage::kColumns + static_cast<std::size_t>(index.column() - 1);
}

QModelIndex BinGridView::cellOf(std::size_t byte) const {
    return m_model->index(
        static_cast<int>(byte / BinaryPage::kColumns), static_cast<int>(byte % BinaryPage::kColumns) + 1);
}

bool BinGridView::moveToByte(std::size_t byte) {
    const QModelIndex target = cellOf(byte);
    if (target == currentIndex() || !BinGridSelectCell(target)) return false;
    setCurrentIndex(target);
    scrollTo(target);
    return true;
}

bool BinGridView::moveByKey(const QKeyEvent& key, const QLineEdit& editor) {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || current.column() < 1 || (key.modifiers() & (Qt::ShiftModifier | Qt::AltModifier)))
        return false;
    const std::size_t byte = byteIndex(current);
    const std::size_t rowStart = byte - byte % BinaryPage::kColumns;
    const std::size_t count = m_page.bytes().size();
    // A cell's text whole selected, as the editor opens, is at both of its edges.
    const bool whole = editor.selectedText() == editor.text();
    const bool atStart = whole || (!editor.hasSelectedText() && editor.cursorPosition() == 0);
    const bool atEnd = whole || (!editor.hasSelectedText() && editor.cursorPosition() == editor.text().size());
    const bool control = key.modifiers() & Qt::ControlModifier;
    switch (key.key()) {
    case Qt::Key_Left:
        return !control && atStart && byte > 0 && moveToByte(byte - 1);
    case Qt::Key_Right:
        return !control && atEnd && moveToByte(byte + 1);
    case Qt::Key_Home:
        (void)moveToByte(control ? 0 : rowStart);
        return true;
    case Qt::Key_End: {
        // The last byte of the row (of the value): the cells after the data hold none.
        const std::size_t first = control ? 0 : rowStart;
        const std::size_t end = control ? count : std::min(rowStart + BinaryPage::kColumns, count);
        (void)moveToByte(end > first ? end - 1 : first);
        return true;
    }
    default:
        return false;
    }
}

bool BinGridView::BinGridSelectCell(const QModelIndex& index) const {
    return index.isValid() && index.column() >= 1 && m_page.canMoveTo(byteIndex(index));
}

QModelIndex BinGridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex target = QTableView::moveCursor(action, modifiers);
    return target == currentIndex() || BinGridSelectCell(target) ? target : currentIndex();
}

void BinGridView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex target = indexAt(event->position().toPoint());
    if (target.isValid() && target != currentIndex() && !BinGridSelectCell(target)) {
        // Refused: the click took the focus from the cell editor, which goes back where it was.
        if (state() != EditingState && currentIndex().isValid()) edit(currentIndex());
        return;
    }
    QTableView::mousePressEvent(event);
}

void BinGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (previous.isValid() && previous.column() >= 1) {
        m_page.leaveCell(byteIndex(previous));
        update(previous);
    }
    QTableView::currentChanged(current, previous);
}

// --- The character line ---

BinLineEdit::BinLineEdit(QWidget* parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setCursor(Qt::IBeamCursor);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font().pointSizeF()); // as large as the text around it
    setFont(fixed);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize BinLineEdit::sizeHint() const {
    return { 200, fontMetrics().height() + 8 };
}

int BinLineEdit::charWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('M')));
}

int BinLineEdit::visibleChars() const {
    return std::max(1, (width() - 8) / charWidth());
}

void BinLineEdit::setText(std::string text) {
    m_text = std::move(text);
    m_caret = std::min(m_caret, static_cast<int>(m_text.size()));
    m_anchor = m_caret;
    keepCaretVisible();
    update();
}

void BinLineEdit::setCursorPosition(int position) {
    moveCaret(position, false);
}

void BinLineEdit::setSelection(int start, int length) {
    const int size = static_cast<int>(m_text.size());
    m_anchor = std::clamp(start, 0, size);
    m_caret = std::clamp(start + length, 0, size);
    keepCaretVisible();
    update();
}

void BinLineEdit::moveCaret(int position, bool select) {
    m_caret = std::clamp(position, 0, static_cast<int>(m_text.size()));
    if (!select) m_anchor = m_caret;
    keepCaretVisible();
    update();
}

void BinLineEdit::keepCaretVisible() {
    const int shown = visibleChars();
    if (m_caret < m_scroll) m_scroll = m_caret;
    if (m_caret > m_scroll + shown - 1) m_scroll = m_caret - shown + 1;
    m_scroll = std::clamp(m_scroll, 0, std::max(0, static_cast<int>(m_text.size()) + 1 - shown));
}

int BinLineEdit::positionAt(int x) const {
    const int column = (x - 4 + charWidth() / 2) / charWidth();
    return std::clamp(m_scroll + column, 0, static_cast<int>(m_text.size()));
}

void BinLineEdit::replaceSelection(const std::string& bytes) {
    const int start = selectionStart();
    const auto count = static_cast<std::size_t>(selectionLength());
    std::string shown = bytes;
    std::replace(shown.begin(), shown.end(), '\0', ' ');
    m_text.replace(static_cast<std::size_t>(start), count, shown);
    m_caret = m_anchor = start + static_cast<int>(bytes.size());
    keepCaretVisible();
    update();
    emit edited(static_cast<std::size_t>(start), count, bytes);
}

bool BinLineEdit::insertText(const QString& text) {
    std::string bytes;
    for (QChar c : text) {
        const auto byte = byteOfCharacter(c.unicode());
        if (!byte) return false; // a character no byte shows as: the whole text is refused
        bytes.push_back(static_cast<char>(*byte));
    }
    replaceSelection(bytes);
    return true;
}

void BinLineEdit::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event == QKeySequence::SelectAll) {
        setSelection(0, static_cast<int>(m_text.size()));
    } else if (event == QKeySequence::Copy || event == QKeySequence::Cut) {
        QString copied;
        for (int i = selectionStart(); i < selectionStart() + selectionLength(); ++i)
            copied.append(QChar(byteGlyph(static_cast<std::uint8_t>(m_text[static_cast<std::size_t>(i)]))));
        if (!copied.isEmpty()) QApplication::clipboard()->setText(copied);
        if (event == QKeySequence::Cut && selectionLength() > 0) replaceSelection({});
    } else if (event == QKeySequence::Paste) {
        (void)insertText(QApplication::clipboard()->text());
    } else if (event->key() == Qt::Key_Left) {
        moveCaret(!shift && selectionLength() > 0 ? selectionStart() : m_caret - 1, shift);
    } else if (event->key() == Qt::Key_Right) {
        moveCaret(!shift && selectionLength() > 0 ? selectionStart() + selectionLength() : m_caret + 1, shift);
    } else if (event->key() == Qt::Key_Home) {
        moveCaret(0, shift);
    } else if (event->key() == Qt::Key_End) {
        moveCaret(static_cast<int>(m_text.size()), shift);
    } else if (event->key() == Qt::Key_Backspace) {
        if (selectionLength() == 0 && m_caret > 0) m_anchor = m_caret - 1;
        if (selectionLength() > 0) replaceSelection({});
    } else if (event->key() == Qt::Key_Delete) {
        if (selectionLength() == 0 && m_caret < static_cast<int>(m_text.size())) m_anchor = m_caret + 1;
        if (selectionLength() > 0) replaceSelection({});
    } else if (!event->text().isEmpty() && event->text().front().isPrint()
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        if (!insertText(event->text())) QApplication::beep();
    } else {
        event->ignore(); // Tab, Enter and Escape belong to the dialog
        return;
    }
    event->accept();
}

void BinLineEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) (void)insertText(event->commitString());
    event->accept();
}

void BinLineEdit::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    moveCaret(positionAt(static_cast<int>(event->position().x())), event->modifiers() & Qt::ShiftModifier);
}

void BinLineEdit::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) moveCaret(positionAt(static_cast<int>(event->position().x())), true);
}

void BinLineEdit::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void BinLineEdit::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void BinLineEdit::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, this);
    frame.state |= QStyle::State_Sunken;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);
    const int w = charWidth();
    const int top = (height() - fontMetrics().height()) / 2;
    const int last = std::min(static_cast<int>(m_text.size()), m_scroll + visibleChars() + 1);
    const int selFrom = selectionStart();
    const int selTo = selFrom + selectionLength();
    painter.setClipRect(rect().adjusted(2, 2, -2, -2));
    for (int i = m_scroll; i < last; ++i) {
        const QRect cell(4 + (i - m_scroll) * w, top, w, fontMetrics().height());
        const bool selected = i >= selFrom && i < selTo;
        if (selected) painter.fillRect(cell, palette().color(QPalette::Highlight));
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        const auto byte = static_cast<std::uint8_t>(m_text[static_cast<std::size_t>(i)]);
        painter.drawText(cell, Qt::AlignCenter, QString(QChar(byte == ' ' ? u' ' : byteGlyph(byte))));
    }
    if (hasFocus()) {
        painter.setPen(palette().color(QPalette::Text));
        const int x = 4 + (m_caret - m_scroll) * w;
        painter.drawLine(x, top, x, top + fontMetrics().height());
    }
}

} // namespace quern
