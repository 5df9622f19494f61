#pragma once

#include <QWidget>

#include <cstdint>
#include <span>
#include <vector>

class QLabel;
class QPlainTextEdit;

namespace quern {

// The page "Multi-string type" of the value editor: the strings of a REG_MULTI_SZ value, one a
// line, in a plain text field. An empty line between two strings is an empty string of the list;
// empty lines at the end are left out (a note on the page says so).
//
// Stored data whose lines cannot give it back byte for byte (no closing NUL, NULs past it, an odd
// byte count, a string holding a line break, a character the field cannot hold) is written back
// exactly as it was while the text stays as shown; the page says so, and once the text is changed
// it says what saving will change.
class MultiStringPage final : public QWidget {
    Q_OBJECT

public:
    explicit MultiStringPage(QWidget* parent = nullptr);

    QPlainTextEdit* EditMulti = nullptr;
    QLabel* MultiNote = nullptr;
    QLabel* MultiWarning = nullptr;

    // Shows a stored value's data.
    void load(std::span<const std::uint8_t> data);
    // Whether the text differs from what load showed.
    [[nodiscard]] bool changed() const;
    // The data to write: the stored data while the text is as load showed it, else the lines'.
    [[nodiscard]] std::vector<std::uint8_t> data() const;
    // The text as lines with '\n' between them, as the field holds it.
    [[nodiscard]] QString lines() const;

private:
    void showWarning();

    std::vector<std::uint8_t> m_stored;
    bool m_hasStored = false;
    QString m_loaded;
    unsigned m_losses = 0;
};

} // namespace quern
