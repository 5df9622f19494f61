#pragma once

#include "registry/RegAccessor.h"
#include "registry/RegStore.h"

#include <QMainWindow>

#include <memory>

class QLabel;

namespace quern {

// The main window. For now it opens the registry and says in its status bar when that registry
// cannot be written, and why; the panes come with the key tree and the value grid.
class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(std::unique_ptr<reg::RegStore> store, QWidget* parent = nullptr);
    ~TMainForm() override;

    [[nodiscard]] reg::RegAccessor& registry() { return *m_registry; }
    [[nodiscard]] QString readOnlyText() const;

private:
    std::unique_ptr<reg::RegStore> m_store;
    std::unique_ptr<reg::RegAccessor> m_registry;
    QLabel* m_readOnlyLabel = nullptr;
};

} // namespace quern
