#pragma once

#include "base/Status.h"
#include "discover/RegistryDiscovery.h"
#include "store/RegStore.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quern::discover {

// A registry the window opens in a tab of its own: a Wine prefix's folder, or a Windows hive
// file alone (mounted below HKEY_LOCAL_MACHINE in a registry that keeps nothing else).
struct RegistryPlace {
    enum class Kind { Prefix, HiveFile };
    Kind kind = Kind::Prefix;
    std::string path; // the folder or the file, as the user or the list named it
    std::string name; // what the title, the tab and the status bar call it
    friend bool operator==(const RegistryPlace&, const RegistryPlace&) = default;
};

// What path names: a folder that holds system.reg or user.reg, or a file that begins as a hive
// does. NotFound or BadPath, saying why, for anything else, so that a slip of the hand never
// makes a registry in some other folder. The place's name is its default one (placeName).
[[nodiscard]] reg::Status placeOfPath(const std::string& path, RegistryPlace& place);

// The name a place is shown by when nothing better is known: a prefix's folder with the home
// folder written "~" ("~/.wine"), or a hive file's own name.
[[nodiscard]] std::string placeName(const RegistryPlace& place, const std::string& home);

// Whether two places are the same registry: the same kind, and the same folder or file on disk
// (through links and other spellings), or the same text where either cannot be looked at.
[[nodiscard]] bool samePlace(const RegistryPlace& a, const RegistryPlace& b);

// A place as one line of the preferences ("prefix" or "hive", a tab, the name, a tab, the path),
// and back; nullopt for a line that is not one.
[[nodiscard]] std::string placeLine(const RegistryPlace& place);
[[nodiscard]] std::optional<RegistryPlace> placeFromLine(std::string_view line);

// The recent registries, newest first: the place goes to the front (once), at most max are kept.
void rememberPlace(std::vector<RegistryPlace>& recent, const RegistryPlace& place, std::size_t max = 10);

// Opens the registry at place: a WinePrefixStore for a prefix; for a hive file, a registry that
// holds only that hive, as HKEY_LOCAL_MACHINE\NAME (the file's name before its first dot,
// upper-cased). Null, with the reason in problem, when the hive cannot be read.
[[nodiscard]] std::unique_ptr<reg::RegStore> openPlace(const RegistryPlace& place, std::string& problem);

// The Windows programs that run in a prefix, as the user reads them: "game.exe (process 1301) and
// 4 programs of Wine's own". Empty when none runs.
[[nodiscard]] std::string programsSentence(const FoundRegistry& registry);

// Who holds a prefix now, as one sentence for the read-only bar and the list's tooltip: the
// wineserver's process and the Windows programs that run in it, Wine's own counted apart. Empty
// when neither is known.
[[nodiscard]] std::string holdersSentence(const FoundRegistry& registry);

} // namespace quern::discover
