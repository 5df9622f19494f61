#include "navigate/FavouriteList.h"

#include "base/Names.h"
#include "window/Preferences.h"

#include <algorithm>

namespace quern {

namespace {

constexpr std::string_view kListName = "favourite";

// A name is one line without blanks at its ends, as a menu item shows it.
std::string oneLine(std::string_view name) {
    name = name.substr(0, name.find_first_of("\r\n"));
    const std::size_t first = name.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return std::string(name.substr(first, name.find_last_not_of(" \t") - first + 1));
}

} // namespace

std::vector<Favourite> readFavourites(const Preferences& preferences) {
    std::vector<Favourite> favourites;
    for (const std::string& entry : preferences.list(kListName)) {
        const std::size_t lineBreak = entry.find('\n');
        if (lineBreak == std::string::npos || lineBreak == 0 || lineBreak + 1 == entry.size()) continue;
        favourites.push_back({ entry.substr(0, lineBreak), entry.substr(lineBreak + 1) });
    }
    return favourites;
}

void writeFavourites(Preferences& preferences, const std::vector<Favourite>& favourites) {
    std::vector<std::string> entries;
    for (const Favourite& favourite : favourites)
        entries.push_back(oneLine(favourite.name) + "\n" + favourite.path);
    preferences.setList(kListName, entries);
}

std::optional<std::size_t> findFavourite(const std::vector<Favourite>& favourites, std::string_view name) {
    const std::string wanted = reg::upperAscii(oneLine(name));
    const auto found = std::find_if(favourites.begin(), favourites.end(),
        [&](const Favourite& favourite) { return reg::upperAscii(favourite.name) == wanted; });
    if (found == favourites.end()) return std::nullopt;
    return static_cast<std::size_t>(found - favourites.begin());
}

void putFavourite(std::vector<Favourite>& favourites, Favourite favourite) {
    favourite.name = oneLine(favourite.name);
    if (favourite.name.empty() || favourite.path.empty()) return;
    if (const auto index = findFavourite(favourites, favourite.name)) {
        favourites[*index].path = std::move(favourite.path);
        return;
    }
    favourites.push_back(std::move(favourite));
}

std::string defaultFavouriteName(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    return oneLine(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace quern
