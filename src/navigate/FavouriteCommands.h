#pragma once

class QMenu;

namespace quern {

class CommandWindow;

// Favourites > Add to favourites...: keeps the selected key under a name the user gives (the key's
// own name unless changed); a name already taken asks whether its favourite should go to this key.
void runAddFavourite(CommandWindow& window);

// Favourites > Remove favourite...: the user picks one of them, which goes.
void runRemoveFavourite(CommandWindow& window);

// Fills the Favourites menu: the two commands, then one item per favourite that goes to its key
// (saying which part is missing when it is gone). Refilled each time it opens, so it shows what
// another window of Quern kept too.
void fillFavouritesMenu(CommandWindow& window, QMenu& menu);

} // namespace quern
