#include "discover/KeyValues.h"

#include <gtest/gtest.h>

#include <string>

using namespace quern::discover;

namespace {

// The tree in one line: "key"="text" for text, "key"{...} for a block, pairs separated by spaces.
std::string dump(const ConfigNode& node) {
    std::string out;
    for (const auto& child : node.children) {
        if (!out.empty()) out += ' ';
        out += '"' + child.key + '"';
        out += child.isMap() ? "{" + dump(child) + "}" : "=\"" + child.text + "\"";
    }
    return out;
}

struct Case {
    const char* what;
    std::string input;
    std::string expected; // the dump, or for a refused input "error: " and the start of the message
};

std::string nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "k{";
    return text + "a b" + std::string(static_cast<std::size_t>(depth), '}');
}

} // namespace

TEST(KeyValuesTest, ReadsValvesTextFormatAndRefusesWhatIsNotIt) {
    const Case cases[] = {
        { "Steam's own layout, with tabs and comments",
            "\"AppState\"\n{\n\t\"appid\"\t\t\"220\" // the id\n"
            "\t\"name\"\t\t\"Half-Life 2\"\n}\n",
            R"("AppState"{"appid"="220" "name"="Half-Life 2"})" },
        { "CR LF line ends and a byte order mark", "\xEF\xBB\xBF\"a\"\r\n{\r\n\"b\" \"c\"\r\n}\r\n",
            R"("a"{"b"="c"})" },
        { "escapes", R"("p" "C:\\Games\\x" "q" "say \"hi\"\tnow" "r" "\?\'")",
            "\"p\"=\"C:\\Games\\x\" \"q\"=\"say \"hi\"\tnow\" \"r\"=\"?'\"" },
        { "bare words, braces against them", "libraryfolders{0{path /home/u/Steam}}",
            R"("libraryfolders"{"0"{"path"="/home/u/Steam"}})" },
        { "a // inside quotes is text, a comment may end the file", "\"url\" \"http://x\" // last",
            R"("url"="http://x")" },
        { "a quoted text over two lines", "\"a\" \"one\ntwo\"", "\"a\"=\"one\ntwo\"" },
        { "keys repeat as written, empty ones too", R"("k" "1" "K" "2" "" "")", R"("k"="1" "K"="2" ""="")" },
        { "an empty block and an empty file", "\"a\" {} ", R"("a"{})" },
        { "nothing but a comment", "// nothing\n", "" },
        { "nesting at the limit", nested(kMaxConfigDepth), "" }, // checked below
        { "a { never closed", "\"a\"\n{\n\"b\" \"c\"\n", "error: line 4: the { of line 2 is never closed" },
        { "a } without its {", "\"a\" \"b\"\n}", "error: line 2: a } without its {" },
        { "a key without a value at the end", "\"a\" { \"b\" }", "error: line 1: the key \"b\" has no value" },
        { "a key without a value", "\"a\"", "error: line 1: the key \"a\" has no value" },
        { "a block where a key should be", "{ \"a\" \"b\" }", "error: line 1: a { where a key should be" },
        { "an unknown escape", "\"a\" \"C:\\Games\"", "error: line 1: \\G is not an escape" },
        { "a backslash at the very end", "\"a\" \"b\\", "error: line 1: \\ is not an escape" },
        { "a quote never closed", "\"a\"\n\"b\n\n", "error: line 2: the quote opened here is never closed" },
        { "a NUL byte", std::string("\"a\" \"b\"\n\0", 9), "error: line 2: a NUL byte" },
        { "a NUL byte in quotes", std::string("\"a\" \"b\0\"", 8), "error: line 1: a NUL byte" },
        { "a condition", "\"a\" \"b\" [$WIN32]", "error: line 1: conditions such as [$WIN32] are not read" },
        { "a directive", "#base \"other.vdf\"", "error: line 1: directives such as #include are not read" },
        { "nesting past the limit", nested(kMaxConfigDepth + 1), "error: line 1: blocks nested more than 64 deep" },
        { "binary data", std::string("\x00\x01\x02", 3), "error: line 1: a NUL byte" },
    };
    for (const auto& c : cases) {
        ConfigNode root;
        const quern::reg::Status parsed = parseKeyValues(c.input, root);
        const bool ok = parsed.ok();
        const std::string error = ok ? std::string() : parsed.message();
        if (c.expected.starts_with("error: ")) {
            EXPECT_FALSE(ok) << c.what;
            EXPECT_TRUE(error.starts_with(c.expected.substr(7))) << c.what << ": " << error;
        } else {
            EXPECT_TRUE(ok) << c.what << ": " << error;
            if (c.input != nested(kMaxConfigDepth)) {
                EXPECT_EQ(dump(root), c.expected) << c.what;
            }
        }
    }
}

// Lookups in Valve's files ignore letter case, as Steam does ("LibraryFolders" in older files).
TEST(KeyValuesTest, LooksUpKeysWithoutLetterCase) {
    ConfigNode root;
    ASSERT_EQ(parseKeyValues("\"LibraryFolders\" { \"1\" \"/games\" \"Path\" \"x\" }", root), quern::reg::Status::Ok);
    const ConfigNode* list = root.child("libraryfolders", true);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->textOf("path", true), "x");
    EXPECT_EQ(list->textOf("path"), "");
    EXPECT_EQ(root.child("libraryfolders"), nullptr);
}
