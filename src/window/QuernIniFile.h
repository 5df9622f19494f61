#pragma once

#include "codec/AtomicFile.h"

#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quern {

inline constexpr const char* kSettingsFileName = "settings.ini";

// The show command of a window's placement, as the settings file stores it.
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;

// A window's placement: its restored (normal) rectangle in screen pixels and how it is shown.
// The rectangle is the one the window returns to from maximised or minimised.
struct WindowPlacement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int showCommand = kShowNormal;
    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// A rectangle of the desktop, for fitting a placement onto the screens there are.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The settings file: a fixed sequence of lines, read one value after the other at start-up and
// written anew at close. Reads and writes may be mixed; switching from one to the other closes the
// file first, so a read after writes starts again at the first line.
class QuernIniFile {
public:
    explicit QuernIniFile(std::string fileName);
    ~QuernIniFile(); // closes the file, as close() does
    QuernIniFile(const QuernIniFile&) = delete;
    QuernIniFile& operator=(const QuernIniFile&) = delete;

    [[nodiscard]] const std::string& fileName() const { return m_fileName; }

    // Each read takes the next line. It gives false, leaving its output unchanged, when the file is
    // missing or cannot be read, when its end is reached, or when the line is not what was asked
    // for; a line that is not a number is used up all the same, so later values keep their lines.
    [[nodiscard]] bool readNumber(int& number);
    [[nodiscard]] bool readText(std::string& text);
    // Five lines: left, top, width, height, show command. When any of them is missing or not a
    // number, all five are used up and the placement is left unchanged. A show command other than
    // minimised or maximised reads as normal, so a stored window is never hidden.
    [[nodiscard]] bool readPlacement(WindowPlacement& placement);

    // Each write adds one line (CR LF) to a new file that replaces the old one when the file is
    // closed. When the new file cannot be made, writeFailed() turns true, the value is lost and the
    // next write tries again; a file that lost a value is never put in place of the old one, whose
    // lines would otherwise move up into the wrong values.
    void writeNumber(int number);
    // A line break inside the text would move every later value: the text ends at its first one.
    void writeText(const std::string& text);
    void writePlacement(const WindowPlacement& placement);

    // Closes the file. A file being written is flushed to disk and renamed over the old one, so a
    // crash at any moment leaves either the old file or the whole new one.
    void close();

    // True when the last write, or the last close of a file being written, failed.
    [[nodiscard]] bool writeFailed() const { return m_writeFailed; }

private:
    bool openForReading();
    bool readLine(std::string& line);
    bool openForWriting();
    void writeLine(const std::string& line);
    void closeReading();
    void closeWriting();

    std::string m_fileName;
    std::ifstream m_reader;
    bool m_reading = false;
    AtomicFile m_writer; // the new file while writing
    bool m_writeFailed = false;
    bool m_lostLine = false; // a value of this writing went nowhere
};

// The values of the settings file's ten lines, as read back: a value that did not read well is
// absent, and the window keeps its default for it.
struct StoredSettings {
    std::optional<int> treeWidth; // raised to at least 1
    std::optional<int> nameColumnWidth; // never negative
    std::optional<std::string> pathText;
    std::optional<int> binViewMode; // only 0, 1 or 2; another number leaves the default
    std::optional<int> dwordViewMode; // likewise
    std::optional<WindowPlacement> placement;
};

// The values the window writes at close, in the order of the file's lines.
struct SettingsToStore {
    int treeWidth = 0;
    int nameColumnWidth = 0;
    std::string pathText;
    int binViewMode = 0;
    int dwordViewMode = 0;
    WindowPlacement placement;
};

// Reads the ten lines in their order and closes the file.
[[nodiscard]] StoredSettings readSettingsLines(QuernIniFile& file);
// Writes the ten lines in their order and closes the file.
void writeSettingsLines(QuernIniFile& file, const SettingsToStore& values);

// Whether a program's folder is the bin/ of an install (/usr/local/bin, ~/.local/bin): a folder
// named bin whose ../share/quern holds the help.
[[nodiscard]] bool isInstalledProgramFolder(const std::string& programFolder);

// Where the settings file lives: settings.ini in the program's folder when that folder is writable
// and no install's bin/ (a build tree, a folder of its own); otherwise, as for an installed copy,
// settings.ini in the folder "quern" of the user's configuration folder ($XDG_CONFIG_HOME when it
// is an absolute path, else ~/.config). Both reading and writing use the one place this gives.
// Empty environment values count as unset.
[[nodiscard]] std::string settingsFilePath(const std::string& programFolder, const std::string& xdgConfigHome,
    const std::string& home, const std::function<bool(const std::string&)>& folderIsWritable);
// The file to read the settings from: settingsPath, or, while it is not there, the settings.ini an
// installed Quern of an earlier version kept in its bin/, so that an upgrade keeps the user's
// layout (the next write goes to settingsPath).
[[nodiscard]] std::string settingsFileToRead(const std::string& settingsPath, const std::string& programFolder);
// The same, with this process's environment and the real test of the folder.
[[nodiscard]] std::string settingsFilePath(const std::string& programFolder);
// True when files can be made in the folder by this process.
[[nodiscard]] bool isWritableFolder(const std::string& folder);

// A placement that lies wholly off every screen is moved onto the primary one, centred there and
// made no larger than it; any other placement is returned as it is. A rectangle without area lies on
// no screen.
[[nodiscard]] WindowPlacement placeOnScreens(
    WindowPlacement placement, const std::vector<ScreenRect>& screens, const ScreenRect& primary);

// The window's rectangle made no larger than the screen's and moved the least distance that puts it
// wholly on that screen, so that its title bar and edges can be reached.
[[nodiscard]] ScreenRect fitOnScreen(ScreenRect window, const ScreenRect& screen);

} // namespace quern
