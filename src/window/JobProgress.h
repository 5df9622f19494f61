#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

class QProgressDialog;
class QWidget;

namespace quern {

// The progress of a long job the window runs in its own thread (an export, an import): a dialog
// with what is done so far and a Cancel button, shown only once the job has taken longer than a
// moment, so short jobs never flash it. The job calls update() now and then; that keeps the window
// painted and tells whether the user cancelled. The job decides what a cancel leaves: every job
// that offers it leaves nothing half done.
class JobProgress {
public:
    JobProgress(QWidget* parent, QString title);
    ~JobProgress();
    JobProgress(const JobProgress&) = delete;
    JobProgress& operator=(const JobProgress&) = delete;

    // Shows text as the state of the job; false once the user has cancelled.
    [[nodiscard]] bool update(const QString& text);
    [[nodiscard]] bool cancelled() const;
    // The dialog, once it shows (tests press its Cancel).
    [[nodiscard]] QProgressDialog* dialog() const;

    // How long a job runs before its dialog shows; tests set it to zero.
    static inline int showAfterMilliseconds = 400;

private:
    QWidget* m_parent;
    QString m_title;
    QPointer<QProgressDialog> m_dialog;
    QElapsedTimer m_started;
    qint64 m_lastEvents = -1000;
    bool m_cancelled = false;
};

} // namespace quern
