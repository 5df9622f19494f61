#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quern {

class Preferences;

// A key the user keeps in the Favourites menu, under a name of their choosing.
struct Favourite {
    std::string name; // one line; shown as the menu item
    std::string path; // the key path as the tree names it
    friend bool operator==(const Favourite&, const Favourite&) = default;
};

// The favourites in the order the user added them, kept in the preferences as favourite.1, .2, ...
// each "name", a line break, "path" (a name is one line; a path may hold any character).
[[nodiscard]] std::vector<Favourite> readFavourites(const Preferences& preferences);
void writeFavourites(Preferences& preferences, const std::vector<Favourite>& favourites);

// The favourite of that name, compared without regard to ASCII case as menu items are told apart.
[[nodiscard]] std::optional<std::size_t> findFavourite(const std::vector<Favourite>& favourites, std::string_view name);

// Adds a favourite, or gives an existing one of the same name the new path, keeping its place.
void putFavourite(std::vector<Favourite>& favourites, Favourite favourite);

// The name a new favourite is offered: the key's own name (the last component of its path).
[[nodiscard]] std::string defaultFavouriteName(std::string_view path);

} // namespace quern
