#pragma once

#include "window/QuernIniFile.h"
#include "window/WindowPlacement.h"

#include <string>

class QWidget;

namespace quern {

class TMainForm;

// The settings file of this run: settings.ini beside the program, or in the user's configuration
// folder when the program's folder cannot be written (see settingsFilePath).
[[nodiscard]] std::string quernSettingsFileName();
// Where the settings are read from at start: quernSettingsFileName(), or the file an earlier
// version of an installed Quern wrote beside itself while that is not there yet.
[[nodiscard]] std::string quernSettingsFileToRead();
// Points this process at another settings file, as tests do so that no run sees another's
// settings; the empty name goes back to the rule above.
void setQuernSettingsFileName(std::string fileName);

// preferences.ini beside the settings file of this run.
[[nodiscard]] std::string quernPreferencesFileName();

// Start-up: reads the ten lines in order and applies each value that reads well: the tree width
// (at least 1), the name column's width, the path text (not navigated to yet), the two view modes
// (without their check marks) and the window placement. Closes the file.
void readSettings(TMainForm& form, QuernIniFile& settings);
// Close: writes the ten lines from the window as it is and closes the file. A file that cannot be
// written is left as it was, without a message.
void writeSettings(TMainForm& form, QuernIniFile& settings);

} // namespace quern
