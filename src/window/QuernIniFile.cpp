#include "window/QuernIniFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern {

namespace {

bool parseNumber(const std::string& line, int& number) {
    // Blanks around the digits are forgiven, as a hand-edited file may have them; nothing else is.
    auto first = line.find_first_not_of(" \t");
    auto last = line.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    const char* begin = line.data() + first;
    const char* end = line.data() + last + 1;
    if (*begin == '+') ++begin;
    int value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, 10);
    if (error != std::errc() || stop != end) return false;
    number = value;
    return true;
}

} // namespace

QuernIniFile::QuernIniFile(std::string fileName)
    : m_fileName(std::move(fileName)) {
}

QuernIniFile::~QuernIniFile() {
    close();
}

// --- Reading ---

bool QuernIniFile::openForReading() {
    if (m_writer.isOpen()) closeWriting();
    if (m_reading) return true;
    // A file that exists but cannot be opened is as good as none: the defaults stay.
    std::error_code error;
    if (!std::filesystem::is_regular_file(m_fileName, error)) return false;
    m_reader.clear();
    m_reader.open(m_fileName, std::ios::in | std::ios::binary);
    if (!m_reader.is_open()) return false;
    m_reading = true;
    return true;
}

bool QuernIniFile::readLine(std::string& line) {
    if (!openForReading()) return false;
    // A line ends at CR LF as written, or at a lone LF or CR as an editor may leave it.
    std::string text;
    int c = m_reader.get();
    if (c == std::char_traits<char>::eof()) return false;
    while (c != std::char_traits<char>::eof() && c != '\n' && c != '\r') {
        text.push_back(static_cast<char>(c));
        c = m_reader.get();
    }
    if (c == '\r' && m_reader.peek() == '\n') m_reader.get();
    line = std::move(text);
    return true;
}

bool QuernIniFile::readNumber(int& number) {
    std::string line;
    return readLine(line) && parseNumber(line, number);
}

bool QuernIniFile::readText(std::string& text) {
    return readLine(text);
}

bool QuernIniFile::readPlacement(WindowPlacement& placement) {
    int values[5] = {};
    bool good = true;
    for (int& value : values)
        good = readNumber(value) && good; // every line is used up, good or not
    if (!good) return false;
    placement.left = values[0];
    placement.top = values[1];
    placement.width = values[2];
    placement.height = values[3];
    placement.showCommand = values[4] == kShowMinimized || values[4] == kShowMaximized ? values[4] : kShowNormal;
    return true;
}

void QuernIniFile::closeReading() {
    m_reader.close();
    m_reader.clear();
    m_reading = false;
}

// --- Writing ---

bool QuernIniFile::openForWriting() {
    if (m_reading) closeReading();
    m_writeFailed = false;
    if (m_writer.isOpen()) return true;
    const std::filesystem::path path(m_fileName);
    std::error_code error;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
    if (!m_writer.open(m_fileName).ok()) {
        m_writeFailed = true;
        m_lostLine = true;
        return false;
    }
    return true;
}

void QuernIniFile::writeLine(const std::string& line) {
    if (!openForWriting()) return;
    if (!m_writer.write(line + "\r\n").ok()) {
        m_writeFailed = true;
        m_lostLine = true;
    }
}

void QuernIniFile::writeNumber(int number) {
    writeLine(std::to_string(number));
}

void QuernIniFile::writeText(const std::string& text) {
    writeLine(text.substr(0, text.find_first_of("\r\n")));
}

void QuernIniFile::writePlacement(const WindowPlacement& placement) {
    writeNumber(placement.left);
    writeNumber(placement.top);
    writeNumber(placement.width);
    writeNumber(placement.height);
    writeNumber(placement.showCommand);
}

void QuernIniFile::closeWriting() {
    // A value that went nowhere would shift every line after it: then the old file is kept whole.
    if (m_lostLine) {
        m_writer.abandon();
        m_writeFailed = true;
    } else if (!m_writer.commit().ok()) {
        m_writeFailed = true;
    }
    m_lostLine = false;
}

void QuernIniFile::close() {
    if (m_reading) closeReading();
    if (m_writer.isOpen()) {
        closeWriting();
    } else {
        m_lostLine = false; // nothing was made, so nothing can be half made
    }
}

// --- The ten lines ---

StoredSettings readSettingsLines(QuernIniFile& file) {
    StoredSettings stored;
    int number = 0;
    if (file.readNumber(number)) stored.treeWidth = std::max(number, 1);
    if (file.readNumber(number)) stored.nameColumnWidth = std::max(number, 0);
    std::string text;
    if (file.readText(text)) stored.pathText = text;
    // Only 0, 1 and 2 name a view mode: another number would leave the grid without a rendering.
    if (file.readNumber(number) && number >= 0 && number <= 2) stored.binViewMode = number;
    if (file.readNumber(number) && number >= 0 && number <= 2) stored.dwordViewMode = number;
    WindowPlacement placement;
    if (file.readPlacement(placement)) stored.placement = placement;
    file.close();
    return stored;
}

void writeSettingsLines(QuernIniFile& file, const SettingsToStore& values) {
    file.writeNumber(values.treeWidth);
    file.writeNumber(values.nameColumnWidth);
    file.writeText(values.pathText);
    file.writeNumber(values.binViewMode);
    file.writeNumber(values.dwordViewMode);
    file.writePlacement(values.placement);
    file.close();
}

// --- Where the file lives ---

bool isWritableFolder(const std::string& folder) {
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) return false;
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool isInstalledProgramFolder(const std::string& programFolder) {
    std::filesystem::path folder = std::filesystem::path(programFolder).lexically_normal();
    if (folder.filename().empty()) folder = folder.parent_path(); // written with a slash at its end
    if (folder.filename() != "bin") return false;
    // The help file an install lays out beside bin/ (the build tree has it beside the program).
    std::error_code error;
    return std::filesystem::is_regular_file(folder.parent_path() / "share" / "quern" / "ENGQuern.hlp", error);
}

std::string settingsFilePath(const std::string& programFolder, const std::string& xdgConfigHome,
    const std::string& home, const std::function<bool(const std::string&)>& folderIsWritable) {
    // An installed program's folder is shared by every program there, and one the user may write
    // (~/.local/bin) is still no place for one program's settings.
    if (folderIsWritable(programFolder) && !isInstalledProgramFolder(programFolder))
        return (std::filesystem::path(programFolder) / kSettingsFileName).string();
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    std::filesystem::path config;
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/')
        config = xdgConfigHome;
    else if (!home.empty())
        config = std::filesystem::path(home) / ".config";
    else
        return (std::filesystem::path(programFolder) / kSettingsFileName).string(); // nowhere better
    return (config / "quern" / kSettingsFileName).string();
}

std::string settingsFileToRead(const std::string& settingsPath, const std::string& programFolder) {
    std::error_code error;
    if (std::filesystem::exists(settingsPath, error) || !isInstalledProgramFolder(programFolder)) return settingsPath;
    const std::filesystem::path earlier = std::filesystem::path(programFolder) / kSettingsFileName;
    return std::filesystem::is_regular_file(earlier, error) ? earlier.string() : settingsPath;
}

std::string settingsFilePath(const std::string& programFolder) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return settingsFilePath(programFolder, xdg ? xdg : "", home ? home : "", isWritableFolder);
}

// --- Screens ---

WindowPlacement placeOnScreens(
    WindowPlacement placement, const std::vector<ScreenRect>& screens, const ScreenRect& primary) {
    const auto overlaps = [&](const ScreenRect& screen) {
        const long long left = std::max<long long>(placement.left, screen.left);
        const long long top = std::max<long long>(placement.top, screen.top);
        const long long right = std::min<long long>(static_cast<long long>(placement.left) + placement.width,
            static_cast<long long>(screen.left) + screen.width);
        const long long bottom = std::min<long long>(static_cast<long long>(placement.top) + placement.height,
            static_cast<long long>(screen.top) + screen.height);
        return left < right && top < bottom;
    };
    if (std::any_of(screens.begin(), screens.end(), overlaps)) return placement;
    placement.width = std::clamp(placement.width, 0, primary.width);
    placement.height = std::clamp(placement.height, 0, primary.height);
    placement.left = primary.left + (primary.width - placement.width) / 2;
    placement.top = primary.top + (primary.height - placement.height) / 2;
    return placement;
}

ScreenRect fitOnScreen(ScreenRect window, const ScreenRect& screen) {
    window.width = std::clamp(window.width, 0, std::max(screen.width, 0));
    window.height = std::clamp(window.height, 0, std::max(screen.height, 0));
    window.left = std::clamp(window.left, screen.left, screen.left + screen.width - window.width);
    window.top = std::clamp(window.top, screen.top, screen.top + screen.height - window.height);
    return window;
}

} // namespace quern
