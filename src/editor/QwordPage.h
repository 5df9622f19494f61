#pragma once

#include "editor/DwordText.h"

#include <QWidget>

#include <cstdint>

class QGroupBox;
class QKeyEvent;
class QLineEdit;
class QRadioButton;

namespace quern {

// The page "QWORD type" of the value editor: a 64-bit number typed in one of three bases, as the
// DWORD page takes a 32-bit one. Only digits of the base go in; a number that does not fit 64 bits
// is refused as it is typed, so the field never shows a number other than the one OK writes.
class QwordPage final : public QWidget {
    Q_OBJECT

public:
    explicit QwordPage(QWidget* parent = nullptr);

    QLineEdit* EditQword = nullptr;
    QGroupBox* QwordTypeGroup = nullptr;
    QRadioButton* QwordBinary = nullptr;
    QRadioButton* QwordDecimal = nullptr;
    QRadioButton* QwordHex = nullptr;

    [[nodiscard]] std::uint64_t value() const { return m_value; }
    // Shows the number in the page's base.
    void setValue(std::uint64_t value);
    [[nodiscard]] DwordBase base() const { return m_base; }
    // As a click on its radio item: the field shows the number in the new base.
    void setBase(DwordBase base);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void textEdited();
    void showValue();
    [[nodiscard]] bool refusesKey(const QKeyEvent& key) const;

    std::uint64_t m_value = 0;
    DwordBase m_base = DwordBase::Decimal;
    QString m_text; // the field's last accepted text
};

} // namespace quern
