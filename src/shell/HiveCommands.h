#pragma once

#include "base/RegTypes.h"
#include "shell/RegistryNotice.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace quern {

namespace reg {
class RegStore;
}
class TMainForm;

// File > Load hive...: a hive file chosen in the open dialog is mounted under HKEY_LOCAL_MACHINE
// or HKEY_USERS with the name the user gives (the file's name, upper-cased, unless changed), and
// the tree moves to it. A file that is no hive is said and changes nothing; a name that is taken
// is said and the name asked for again, the file and the name kept in the dialog.
void loadHiveFile(TMainForm& form);

// File > Unload hive: unloads the hive the selected key is in; outside any, says so.
void unloadSelectedHive(TMainForm& form);

// quern --hive NAME=FILE, as often as given: mounts each hive; what failed, one sentence each.
[[nodiscard]] QStringList mountStartupHives(reg::RegStore& store, const QStringList& arguments);

// The loaded hives for the status bar: each one's key, file, and the copy of it as it was once
// Quern has written it; the keys' names are parts that always show whole. Empty without hives.
[[nodiscard]] std::vector<ElidedLabel::Part> hiveStatusParts(reg::RegStore& store);

// Whether any hive file is loaded: File > Unload hive has something to do.
[[nodiscard]] bool hivesLoaded(reg::RegStore& store);

} // namespace quern
