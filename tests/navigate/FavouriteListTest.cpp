#include "navigate/FavouriteList.h"
#include "window/Preferences.h"

#include <gtest/gtest.h>

using namespace quern;

// Favourites go through the preferences' text and back unchanged, whatever their paths hold (line
// breaks, percent signs, backslashes); names are one trimmed line, told apart without case, and a
// name given again moves its favourite rather than adding a second one.
TEST(FavouriteList, KeptThroughThePreferencesAndToldApartByName) {
    std::vector<Favourite> list;
    putFavourite(list, { "  Wine ", "HKEY_CURRENT_USER\\Software\\Wine" });
    putFavourite(list, { "Odd\nsecond line", "HKEY_CURRENT_USER\\Software\\a\nb\\100%" });
    putFavourite(list, { "wine", "HKEY_LOCAL_MACHINE\\Software\\Wine" });
    putFavourite(list, { "   ", "HKEY_LOCAL_MACHINE" });
    putFavourite(list, { "No path", "" });
    const std::vector<Favourite> expected { { "Wine", "HKEY_LOCAL_MACHINE\\Software\\Wine" },
        { "Odd", "HKEY_CURRENT_USER\\Software\\a\nb\\100%" } };
    EXPECT_EQ(list, expected);
    EXPECT_EQ(findFavourite(list, "ODD"), 1u);
    EXPECT_EQ(findFavourite(list, "none"), std::nullopt);

    Preferences written;
    writeFavourites(written, list);
    Preferences read;
    read.fromText(written.toText());
    EXPECT_EQ(readFavourites(read), expected);

    // Entries broken by hand are skipped, not shown as empty items.
    read.fromText("favourite.1=no break\nfavourite.2=%0Aonly path\nfavourite.3=Ok%0AHKEY_USERS\n");
    EXPECT_EQ(readFavourites(read), (std::vector<Favourite> { { "Ok", "HKEY_USERS" } }));

    EXPECT_EQ(defaultFavouriteName("HKEY_CURRENT_USER\\Software\\Wine"), "Wine");
    EXPECT_EQ(defaultFavouriteName("HKEY_USERS"), "HKEY_USERS");
}
