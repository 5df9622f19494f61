#pragma once

#include "discover/RegistryDiscovery.h"
#include "discover/RegistryPlace.h"

#include <QDialog>

#include <functional>
#include <optional>

class QFileDialog;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace quern {

// File > Open registry...: the Wine registries found on this machine (name, kind, folder, size,
// last change, and which programs hold it), narrowed by a filter as the user types; Browse for any
// other prefix folder or a hive file.
class OpenRegistryDialog final : public QDialog {
    Q_OBJECT

public:
    OpenRegistryDialog(discover::Discovery found, QWidget* parent);

    // The registry chosen, once the dialog was accepted.
    [[nodiscard]] const discover::RegistryPlace& chosen() const { return m_chosen; }
    [[nodiscard]] QTableWidget* table() const { return m_table; }
    // Shows Browse's folder or file dialog, and gives what was chosen (empty: cancelled). Tests
    // answer it instead.
    std::function<QString(QFileDialog& dialog)> runFileDialog;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillTable();
    void applyFilter(const QString& text);
    void openRow(int row);
    void browse(bool forFolder);

    discover::Discovery m_found;
    discover::RegistryPlace m_chosen;
    QLineEdit* m_filter = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_notes = nullptr;
    QString m_allText; // the notes' line while the filter is empty
};

// Looks for the registries, and shows the dialog over parent: the registry chosen, or nothing.
[[nodiscard]] std::optional<discover::RegistryPlace> chooseRegistryPlace(QWidget* parent);

} // namespace quern
