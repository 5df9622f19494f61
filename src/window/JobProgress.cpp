#include "window/JobProgress.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace quern {

namespace {

// The window is kept painted and Cancel heard this often; more would only slow the job.
constexpr qint64 kEventsEveryMilliseconds = 50;

} // namespace

JobProgress::JobProgress(QWidget* parent, QString title)
    : m_parent(parent)
    , m_title(std::move(title)) {
    m_started.start();
}

JobProgress::~JobProgress() {
    delete m_dialog;
}

bool JobProgress::update(const QString& text) {
    if (m_cancelled) return false;
    const qint64 now = m_started.elapsed();
    if (now < showAfterMilliseconds || now - m_lastEvents < kEventsEveryMilliseconds) return true;
    m_lastEvents = now;
    if (!m_dialog) {
        m_dialog = new QProgressDialog(text, QStringLiteral("Cancel"), 0, 0, m_parent);
        m_dialog->setObjectName(QStringLiteral("JobProgress"));
        m_dialog->setWindowTitle(m_title);
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->show();
    }
    m_dialog->setLabelText(text);
    QCoreApplication::processEvents();
    m_cancelled = m_dialog && m_dialog->wasCanceled();
    return !m_cancelled;
}

QProgressDialog* JobProgress::dialog() const {
    return m_dialog;
}

bool JobProgress::cancelled() const {
    return m_cancelled;
}

} // namespace quern
