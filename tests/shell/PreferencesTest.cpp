#include "window/Preferences.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quern;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Values of every shape come back as they were set, through the file, and lines the program does
// not know (a later version's, a comment, a broken line) are written back untouched.
TEST(Preferences, RoundTripKeepsValuesAndForeignLines) {
    TempDir dir;
    const std::string file = dir.path() + "/preferences.ini";
    writeFile(file, "# kept\nfuture.option=x=y\nnot a line\ngrid.typeColumn=1\ngrid.typeColumn=0\n");
    Preferences prefs(file);
    ASSERT_TRUE(prefs.load().ok());
    EXPECT_TRUE(prefs.flag("grid.typeColumn"));
    EXPECT_EQ(prefs.text("future.option"), "x=y");

    prefs.setNumber("grid.sortColumn", -1);
    prefs.setText("odd", "line\r\nbreak 100% \\ HKLM\\Software");
    prefs.setList("favourite", { "Wine\tHKEY_CURRENT_USER\\Software\\Wine", "", "Run\tHKLM\\Run" });
    ASSERT_TRUE(prefs.save().ok());

    Preferences again(file);
    ASSERT_TRUE(again.load().ok());
    EXPECT_EQ(again.number("grid.sortColumn", 5), -1);
    EXPECT_EQ(again.text("odd"), "line\r\nbreak 100% \\ HKLM\\Software");
    EXPECT_EQ(again.list("favourite"),
        (std::vector<std::string> { "Wine\tHKEY_CURRENT_USER\\Software\\Wine", "", "Run\tHKLM\\Run" }));
    const std::string text = readFile(file);
    EXPECT_EQ(text.rfind("# kept\nfuture.option=x=y\nnot a line\ngrid.typeColumn=1\ngrid.typeColumn=0\n", 0), 0u);

    // A shorter list leaves no stale tail behind; a value read wrongly gives the fallback.
    again.setList("favourite", { "only" });
    again.setText("grid.sortColumn", "12abc");
    EXPECT_EQ(again.list("favourite"), std::vector<std::string> { "only" });
    EXPECT_EQ(again.number("grid.sortColumn", 7), 7);
    EXPECT_FALSE(again.flag("odd", false));
}

// A missing file is an empty set; one that cannot be read is never written over, so a bad moment
// does not cost the user their favourites.
TEST(Preferences, UnreadableFileIsNotWrittenOver) {
    TempDir dir;
    Preferences missing(dir.path() + "/none/preferences.ini");
    ASSERT_TRUE(missing.load().ok());
    missing.setFlag("a", true);
    ASSERT_TRUE(missing.save().ok()); // the folder is made
    EXPECT_EQ(readFile(dir.path() + "/none/preferences.ini"), "a=1\n");

    const std::string folder = dir.path() + "/folder-not-file";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    Preferences odd(folder);
    EXPECT_FALSE(odd.load().ok());
    odd.setFlag("a", true);
    EXPECT_FALSE(odd.save().ok());
    struct stat st { };
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}
