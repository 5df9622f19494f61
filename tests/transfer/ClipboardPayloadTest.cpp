#include "transfer/ClipboardPayload.h"

#include <gtest/gtest.h>

using namespace quern;

// Every payload comes back as it went, whatever its names hold; text that is not one is refused,
// so a paste never acts on what another program put under the type.
TEST(ClipboardPayloadTest, NamesSurviveTheClipboardAndOtherTextIsRefused) {
    ClipboardPayload keys;
    keys.registry = "/home/ann/Games/pfx\twith\\odd\nparts";
    keys.keyPath = "HKEY_CURRENT_USER\\Software\\Game\r\\x";
    keys.cut = true;
    ClipboardPayload values;
    values.registry = "memory";
    values.keyPath = "HKEY_LOCAL_MACHINE\\SOFT";
    values.valuesOnly = true;
    values.valueNames = { "", "a\\b", "tab\there", "line\nbreak", "\xF0\x9F\x98\x80" };
    for (const ClipboardPayload& payload : { keys, values }) {
        const auto back = readClipboardText(clipboardText(payload));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->registry, payload.registry);
        EXPECT_EQ(back->keyPath, payload.keyPath);
        EXPECT_EQ(back->cut, payload.cut);
        EXPECT_EQ(back->valuesOnly, payload.valuesOnly);
        EXPECT_EQ(back->valueNames, payload.valueNames);
    }
    for (const char* bad : { "", "quern-clipboard 2\nregistry\tx\nkey\tHKCU\\A\n", "quern-clipboard 1\nkey\tHKCU\\A\n",
             "quern-clipboard 1\nregistry\tx\n", "quern-clipboard 1\nregistry\tx\nkey\tA\nother\t1\n",
             "quern-clipboard 1\nregistry\tx\\q\nkey\tA\n", "quern-clipboard 1\nregistry\tx\\\nkey\tA\n" })
        EXPECT_FALSE(readClipboardText(bad)) << bad;

    EXPECT_TRUE(looksLikeRegFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"));
    EXPECT_TRUE(looksLikeRegFile("\xEF\xBB\xBF\r\n  REGEDIT4\n[HKEY_CURRENT_USER\\A]"));
    EXPECT_TRUE(looksLikeRegFile("REGEDIT4"));
    EXPECT_FALSE(looksLikeRegFile("REGEDIT45\r\n"));
    EXPECT_FALSE(looksLikeRegFile("Here is the file: Windows Registry Editor Version 5.00"));
    EXPECT_FALSE(looksLikeRegFile(""));
}
