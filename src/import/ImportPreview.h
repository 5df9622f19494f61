#pragma once

#include "import/RegImport.h"

#include <QDialog>

#include <array>

class QTreeWidget;

namespace quern {

// The texts of one change as the preview lists it: what happens, the key, the value's name
// ((Default) for the default value) and the old and new data, each as its type and as reg query
// shows it. Names that hold line breaks or lone surrogates are shown so that each stays on its
// line and reads as UTF-8.
[[nodiscard]] std::array<QString, 5> previewColumns(const RegChange& change);

// The words the preview uses for what it shows: an import, or a paste.
struct PreviewWords {
    QString title = QStringLiteral("Import %1");
    QString heading = QStringLiteral("Importing %1 makes these changes: %2");
    QString readOnly = QStringLiteral("The registry is read-only, so nothing can be imported: %1");
    QString button = QStringLiteral("&Import");
};

// Shows what importing a file would do before anything is written: the counts, then every key and
// value the file adds, changes and deletes, in the order the import makes the changes. OK goes
// on, Cancel writes nothing. With a read-only registry it says so above the list.
class ImportPreview : public QDialog {
    Q_OBJECT

public:
    ImportPreview(const QString& fileName, const ImportPlan& plan, const QString& readOnlyReason, QWidget* parent,
        const PreviewWords& words = {});

    [[nodiscard]] QTreeWidget* list() const { return m_list; }
    [[nodiscard]] QString summary() const;

private:
    QTreeWidget* m_list = nullptr;
    QString m_summary;
};

} // namespace quern
