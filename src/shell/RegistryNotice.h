#pragma once

#include <QFrame>
#include <QLabel>

#include <vector>

class QStatusBar;

namespace quern {

// A label that shows as much of its text as fits, cut in the middle, and the whole text as its
// tooltip: a long folder keeps both its start and its last component in view.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    // A piece of the text, and whether it may be shortened (a file's path) or always shows whole
    // (the names that say which registry or hive the path is of).
    struct Part {
        QString text;
        bool mayShorten = true;
    };

    using QLabel::QLabel;
    void setFullText(const QString& text);
    // The text in parts: where it does not fit, only the parts that may be shortened are, in
    // their middle, the longest first, so that each keeps as much as there is room for.
    void setParts(std::vector<Part> parts);
    [[nodiscard]] const QString& fullText() const { return m_fullText; }
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString m_fullText;
    std::vector<Part> m_parts;
};

// The bar above the panes that says, in full, why the registry is read-only and what to do about
// it; hidden while the registry can be written. The status bar keeps its room for the hints.
class ReadOnlyBar final : public QFrame {
    Q_OBJECT

public:
    explicit ReadOnlyBar(QWidget* parent = nullptr);
    // Shows the reason, or hides the bar for an empty one.
    void setReason(const QString& reason);
    [[nodiscard]] QString text() const;

private:
    QLabel* m_text = nullptr;
};

} // namespace quern
