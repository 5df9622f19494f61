#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "TestSupport.h"
#include "shell/QuernSettings.h"

#include <string>

namespace quern::test {

// Answers the next message box with the given button once it shows, and keeps its text.
inline void answerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        if (text) *text = box->text();
        box->button(button)->click();
    });
}

// Gives every test of a window test class a settings file of its own, so no test starts with
// another's settings and none is left beside the program. Call next() from the class's init().
class SeparateSettings {
public:
    ~SeparateSettings() { setQuernSettingsFileName({}); }
    void next() { setQuernSettingsFileName(m_dir / ("settings" + std::to_string(++m_run) + ".ini")); }

private:
    TempDir m_dir;
    int m_run = 0;
};

} // namespace quern::test
