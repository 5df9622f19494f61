#pragma once

#include "import/RegImport.h"
#include "store/RegStore.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QVBoxLayout;

namespace quern {

// A registry the compare window can take a side from: an open tab's, or a .reg file read into
// one of its own.
struct CompareSource {
    QString name;
    reg::RegStore* store = nullptr;
    std::shared_ptr<reg::RegStore> owned; // a file's registry, kept while the window shows it
};

// What the compare window asks of the main window: the open registries, how to show a key of one
// (its tab in front, the key selected), and to read one again (before a comparison, and after a
// change) as Refresh does.
struct CompareHost {
    std::function<std::vector<CompareSource>()> registries;
    std::function<void(reg::RegStore& store, const std::string& keyPath)> showKey;
    std::function<void(reg::RegStore& store)> changed;
};

// File > Compare...: two sides, each a key (the whole registry when empty) of an open registry or of
// a .reg file, and the differences from the left to the right, grouped by key with their counts:
// keys and values only on the left or only on the right, and values changed, with the data of
// both sides. A filter narrows the list by path; Show left and Show right go to a key in its tab.
// Save writes the .reg file that turns the left into the right (or the reverse); Make right like
// left writes that into the right's registry as one change, after the list of what it does.
class CompareWindow final : public QDialog {
    Q_OBJECT

public:
    CompareWindow(CompareHost host, QWidget* parent);

    // Sets a side: the source (added when it is not listed) and the key path.
    void setSide(bool left, const CompareSource& source, const QString& keyPath);
    void compare();
    [[nodiscard]] const ImportPlan& plan() const { return m_plan; }
    [[nodiscard]] QTreeWidget* list() const { return m_list; }
    [[nodiscard]] QString summary() const;

    // Writes the file that turns the left into the right (reverse: the right into the left). The
    // status of the write.
    reg::Status saveChanges(const std::string& path, bool reverse);
    // Makes the right side like the left after the list of changes (accepted there), as one batch.
    void makeRightLikeLeft();

    // Chooses the file Save writes, or the file a side reads; tests answer it instead.
    std::function<QString(bool forSaving)> chooseFile;

private:
    struct Side {
        QComboBox* registry = nullptr;
        QLineEdit* key = nullptr;
    };
    void buildSides(QVBoxLayout& layout);
    void buildButtons(QVBoxLayout& layout);
    void addSource(const CompareSource& source);
    void readFileInto(bool left);
    void fill();
    void showSelected(bool left);
    // The changes from one side to the other (what the list shows of them: shownPart).
    [[nodiscard]] ImportPlan planBetween(bool reverse, std::string* problem = nullptr);
    [[nodiscard]] bool shown(const RegChange& change) const;
    [[nodiscard]] ImportPlan shownPart(const ImportPlan& plan) const;
    [[nodiscard]] QString summaryOf(const ImportPlan& plan) const;
    [[nodiscard]] reg::RegStore* storeOf(const Side& side) const;
    // The side's key path in the registry's long form; empty for the whole registry, or with
    // problem set when the text names no key path.
    [[nodiscard]] std::string keyPathOf(const Side& side, std::string* problem = nullptr) const;

    CompareHost m_host;
    std::vector<CompareSource> m_sources;
    Side m_left;
    Side m_right;
    QLineEdit* m_filter = nullptr;
    QLabel* m_counts = nullptr;
    QTreeWidget* m_list = nullptr;
    ImportPlan m_plan;
};

} // namespace quern
