#include "editor/NumberField.h"

#include <QKeyEvent>

namespace quern {

bool refusesNumberKey(const QKeyEvent& key, DwordBase base, bool shortcutsPass) {
    if (shortcutsPass && (key.modifiers() & Qt::ControlModifier)) return false;
    switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return false;
    default:
        break;
    }
    const QString text = key.text();
    return !text.isEmpty() && (text.size() != 1 || !isDwordDigit(text.front().toLatin1(), base));
}

} // namespace quern
