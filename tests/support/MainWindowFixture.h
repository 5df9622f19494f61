#pragma once

#include "TestSupport.h"
#include "shell/QuernU.h"
#include "window/QuestionBox.h"
#include "wine/WinePrefixStore.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quern::test {

// What a main-window test starts from: a registry of its own in a temporary folder, helpers that
// fill it under HKEY_CURRENT_USER, and the main window over it, made only when the test asks, so
// that the registry holds the test's content before the window first reads it. A test file
// derives from it to add its own content and helpers.
class MainWindowFixture {
public:
    // Whether questions show in a real box (for tests that answer the box) or go to a recorder that
    // keeps each and answers from a script: a command over several items asks once for each, and
    // a test checks the whole exchange.
    enum class Questions { Shown, Recorded };
    // How far showWindow() waits: until the window is on screen, or until it has the focus too.
    enum class Shown { Exposed, Active };

    explicit MainWindowFixture(Questions asked = Questions::Shown);
    ~MainWindowFixture();
    MainWindowFixture(const MainWindowFixture&) = delete;
    MainWindowFixture& operator=(const MainWindowFixture&) = delete;

    // The registry's folder, and its file of HKEY_CURRENT_USER.
    [[nodiscard]] std::string registryDir() const { return dir / "registry"; }
    [[nodiscard]] std::string userFilePath() const { return dir / "registry/user.reg"; }

    // Sets a value under HKEY_CURRENT_USER, its key made first when missing.
    void set(
        std::u16string_view key, std::u16string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data);
    // Makes a key under HKEY_CURRENT_USER, with the keys above it.
    void makeKey(std::u16string_view key);
    [[nodiscard]] bool exists(std::u16string_view key);

    // Holds the lock a running wineserver holds and opens the registry again, read-only as such a
    // server makes it; store stays as it was opened. The fixture keeps both until it goes, after
    // any window over them.
    reg::WinePrefixStore& openWhileServerRuns(bool create = false);

    // The main window over store, made on first use; or over another store the fixture holds (one
    // openWhileServerRuns gave), which must come before the first use.
    TMainForm& window();
    TMainForm& window(reg::RegStore& over);
    // Shows the window and, for Shown::Active, makes it the active one as a desktop would: false
    // when that never happens, for the test to check.
    [[nodiscard]] bool showWindow(Shown shown = Shown::Active);
    // Selects the key at path (as the path edit names it) and tells the tree's change at once,
    // without its delay, so the grid shows the key's values.
    void goTo(std::string_view path);

    // The file dialogs answer with what answer gives (the empty text for Cancel) without showing,
    // after keeping what they offered in fileDialog; fileType, when set, is the file type the user
    // picks.
    struct FileDialogSeen {
        QString title;
        QString filter; // the file types offered, with ';' between them
        QString suffix;
        QString offered; // the file the dialog started on
    };
    void answerFileDialogs(std::function<QString()> answer);

    TempDir dir;
    std::unique_ptr<reg::WinePrefixStore> store;

private:
    std::unique_ptr<HeldLock> m_serverLock;
    std::unique_ptr<reg::WinePrefixStore> m_storeWhileServerRuns;

public:
    // The window; after the stores above, so that it goes first.
    std::unique_ptr<TMainForm> form;

    // With Questions::Recorded: every question asked, with " [all]" after those that offer All and
    // No to All, and the answers still to give, first first; No once they run out.
    QStringList questions;
    std::deque<Answer> answers;

    FileDialogSeen fileDialog;
    QString fileType;

private:
    bool m_recordsQuestions = false;
};

} // namespace quern::test
