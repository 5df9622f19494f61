#include "shell/QuernU.h"

#include <QLabel>
#include <QStatusBar>

namespace quern {

TMainForm::TMainForm(std::unique_ptr<reg::RegStore> store, QWidget* parent)
    : QMainWindow(parent)
    , m_store(std::move(store))
    , m_registry(std::make_unique<reg::RegAccessor>(*m_store)) {
    setWindowTitle(QStringLiteral("Quern - THE registry editor & backupper"));
    resize(800, 560);
    m_readOnlyLabel = new QLabel(this);
    statusBar()->addPermanentWidget(m_readOnlyLabel);
    m_readOnlyLabel->setText(readOnlyText());
}

TMainForm::~TMainForm() = default;

QString TMainForm::readOnlyText() const {
    const std::string reason = m_store->readOnlyReason();
    if (reason.empty()) return {};
    return QStringLiteral("Read-only: ") + QString::fromStdString(reason);
}

} // namespace quern
