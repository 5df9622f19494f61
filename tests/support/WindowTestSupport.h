#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include "SettleEvents.h"
#include "TestSupport.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"

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

// The main window's controls, found by the names they carry as object names, as a user's tools
// would find them: the window keeps its widgets to itself.
template<class T> T* control(const QObject& form, const char* name) {
    T* found = form.findChild<T*>(QLatin1String(name));
    if (!found) qFatal("the main window has no control named %s", name);
    return found;
}
#define QUERN_MAIN_CONTROL(Type, Name)                                                                                 \
    inline Type* Name(const QObject& form) {                                                                           \
        return control<Type>(form, #Name);                                                                             \
    }
QUERN_MAIN_CONTROL(QAction, CharMNU)
QUERN_MAIN_CONTROL(QAction, DWBinMNU)
QUERN_MAIN_CONTROL(QAction, DWDecMNU)
QUERN_MAIN_CONTROL(QAction, DWHexMNU)
QUERN_MAIN_CONTROL(QAction, DecMNU)
QUERN_MAIN_CONTROL(QAction, DeleteMNU)
QUERN_MAIN_CONTROL(QMenu, EditMNU)
QUERN_MAIN_CONTROL(QAction, ExitMNU)
QUERN_MAIN_CONTROL(QAction, HexMNU)
QUERN_MAIN_CONTROL(QTableView, KeyGrid)
QUERN_MAIN_CONTROL(QPlainTextEdit, Memo)
QUERN_MAIN_CONTROL(QAction, N2)
QUERN_MAIN_CONTROL(QLineEdit, PathEdit)
QUERN_MAIN_CONTROL(QAction, REGExportMNU)
QUERN_MAIN_CONTROL(QAction, SelMNU)
QUERN_MAIN_CONTROL(QAction, SelRecurseMNU)
QUERN_MAIN_CONTROL(QSplitter, Splitter)
QUERN_MAIN_CONTROL(QTreeWidget, TreeView)
QUERN_MAIN_CONTROL(QAction, UndoMNU)
QUERN_MAIN_CONTROL(QAction, RedoMNU)
QUERN_MAIN_CONTROL(QAction, ValueSelMNU)
#undef QUERN_MAIN_CONTROL

// The names of the values the grid shows, in its order.
inline std::vector<std::string> valueNames(const TMainForm& form) {
    std::vector<std::string> names;
    for (const ValueRow& row : form.valueRows())
        names.push_back(row.name);
    return names;
}

} // namespace quern::test

namespace quern::test {

// Runs act on the next modal dialog of type T once it is up.
template<class T, class Act> void whenModalDo(Act act) {
    QTimer::singleShot(0, [act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) act(*dialog);
    });
}

} // namespace quern::test
