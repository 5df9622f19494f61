#pragma once

#include "editor/DwordText.h"

#include <QApplication>
#include <QLineEdit>
#include <QString>

#include <algorithm>
#include <optional>
#include <string>

class QKeyEvent;

namespace quern {

// The number fields of the value editor (the DWORD and the QWORD page) take only the digits of
// their base. Whether a key is refused there: Backspace and the dialog's own keys (Tab, Enter,
// Escape) and keys without a character (arrows, Delete) pass on; with shortcutsPass, so do Ctrl
// keys, whose paste acceptNumberEdit then keeps to the digits.
[[nodiscard]] bool refusesNumberKey(const QKeyEvent& key, DwordBase base, bool shortcutsPass);

// After an edit of such a field: pasted text keeps only the digits of the base, the caret where it
// was among them; a number parse refuses (too large for the type) puts the last accepted text back
// with a beep, so the field never shows a number other than the one OK would write. The number
// the field now holds, or nothing when the edit was refused; accepted follows the field.
template<class Parse>
auto acceptNumberEdit(QLineEdit& field, QString& accepted, DwordBase base, Parse parse)
    -> decltype(parse(std::string(), base)) {
    const QString shown = field.text();
    std::size_t caret = static_cast<std::size_t>(field.cursorPosition());
    const std::string digits = keepDwordDigits(shown.toLatin1().toStdString(), base, &caret);
    const auto number = parse(digits, base);
    if (!number) {
        const int back = std::max(0, field.cursorPosition() - static_cast<int>(shown.size() - accepted.size()));
        field.setText(accepted);
        field.setCursorPosition(back);
        QApplication::beep();
        return number;
    }
    if (QString::fromLatin1(digits) != shown) {
        field.setText(QString::fromLatin1(digits));
        field.setCursorPosition(static_cast<int>(caret));
    }
    accepted = field.text();
    return number;
}

} // namespace quern
