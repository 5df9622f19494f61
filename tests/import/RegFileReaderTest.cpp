#include "import/RegFileReader.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>

using namespace quern;
using quern::test::utf16zBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A Version 5.00 file as Windows writes it: UTF-16LE after its byte-order mark.
std::string utf16File(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

RegFileContent parsed(std::string_view bytes) {
    RegFileContent content;
    EXPECT_EQ(parseRegFile(bytes, "t.reg", content), reg::Status::Ok);
    return content;
}

std::string parseError(std::string_view bytes) {
    RegFileContent content;
    const reg::Status status = parseRegFile(bytes, "t.reg", content);
    EXPECT_EQ(status, reg::Status::ReadFailed) << "accepted: " << std::string(bytes.substr(0, 80));
    EXPECT_TRUE(content.keys.empty()) << "a file that fails gives nothing";
    return status.message();
}

} // namespace

TEST(RegFileReader, EveryFormOfAVersion5FileInUtf16) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n"
                                u"\r\n"
                                u"; a comment\r\n"
                                u"[HKEY_LOCAL_MACHINE\\Software\\Caf\u00e9]\r\n"
                                u"@=\"default\"\r\n"
                                u"\"quote \\\" and \\\\\"=\"line\\nbreak\\r \\\"q\\\" \\\\ \\x\"\r\n"
                                u"\"n\"=dword:0000ffFF\r\n"
                                u"  \"spaced\" = dword: 12 ; a comment\n"
                                u"\"bin\"=hex:00,ff,7,\\\r\n"
                                u"  ; a comment between continuation lines\r\n"
                                u"\r\n"
                                u"  0a\r\n"
                                u"\"empty\"=hex:\r\n"
                                u"\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                                u"\"odd\"=hex(12345678):ab\r\n"
                                u"\"e\"=hex(2):41,00,00,00\r\n"
                                u"\"gone\"=-\r\n"
                                u"@=-\r\n"
                                u"\r\n"
                                u"[-hkcu\\Software\\Old]\r\n"
                                u"[HKCR\\.txt\\]\n"
                                u"[HKU]\r\n"
                                u"[HKCC\\A]\r\n"
                                u"[HKEY_DYN_DATA\\x]";
    const RegFileContent content = parsed(utf16File(text));
    EXPECT_EQ(content.format, RegFileFormat::Version5);
    ASSERT_EQ(content.keys.size(), 6u);
    const RegFileKey& key = content.keys[0];
    EXPECT_EQ(key.root, reg::kLocalMachine);
    EXPECT_EQ(key.path, u"Software\\Caf\u00e9");
    EXPECT_EQ(key.fullPath(), "HKEY_LOCAL_MACHINE\\Software\\Caf\xC3\xA9");
    EXPECT_EQ(key.line, 4u);
    const std::vector<RegFileValue>& v = key.values;
    ASSERT_EQ(v.size(), 11u);
    EXPECT_EQ(v[0].name, u"");
    EXPECT_EQ(v[0].data, utf16zBytes(u"default"));
    EXPECT_EQ(v[1].name, u"quote \" and \\");
    EXPECT_EQ(v[1].type, reg::kRegSz);
    EXPECT_EQ(v[1].data, utf16zBytes(u"line\nbreak\r \"q\" \\ \\x")) << "an unknown escape keeps its backslash";
    EXPECT_EQ(v[2].type, reg::kRegDword);
    EXPECT_EQ(v[2].data, (Bytes { 0xff, 0xff, 0, 0 }));
    EXPECT_EQ(v[3].name, u"spaced");
    EXPECT_EQ(v[3].data, (Bytes { 0x12, 0, 0, 0 }));
    EXPECT_EQ(v[4].type, reg::kRegBinary);
    EXPECT_EQ(v[4].data, (Bytes { 0, 0xff, 7, 0x0a }));
    EXPECT_EQ(v[5].data, Bytes {});
    EXPECT_EQ(v[6].type, reg::kRegQword);
    EXPECT_EQ(v[6].data, (Bytes { 1, 2, 3, 4, 5, 6, 7, 8 }));
    EXPECT_EQ(v[7].type, 0x12345678u);
    EXPECT_EQ(v[7].line, 15u);
    EXPECT_EQ(v[8].type, reg::kRegExpandSz);
    EXPECT_EQ(v[8].data, (Bytes { 0x41, 0, 0, 0 })) << "a Version 5.00 file's hex text is already UTF-16";
    EXPECT_TRUE(v[9].remove);
    EXPECT_EQ(v[9].name, u"gone");
    EXPECT_TRUE(v[10].remove);
    EXPECT_EQ(v[10].name, u"");
    EXPECT_TRUE(content.keys[1].remove);
    EXPECT_EQ(content.keys[1].root, reg::kCurrentUser);
    EXPECT_EQ(content.keys[1].fullPath(), "HKEY_CURRENT_USER\\Software\\Old");
    EXPECT_EQ(content.keys[2].root, reg::kClassesRoot);
    EXPECT_EQ(content.keys[2].path, u".txt") << "one closing backslash is allowed";
    EXPECT_EQ(content.keys[3].root, reg::kUsers);
    EXPECT_EQ(content.keys[3].path, u"");
    EXPECT_EQ(content.keys[4].root, reg::kCurrentConfig);
    EXPECT_EQ(content.keys[5].root, reg::kDynData);
}

TEST(RegFileReader, TextEncodingsAndLineEnds) {
    // The same file as UTF-8 with and without its mark, and as Windows-1252: one result.
    const std::string utf8 = "REGEDIT4\n[HKCU\\Caf\xC3\xA9]\n\"\xE2\x82\xAC\"=\"Caf\xC3\xA9\"\n";
    const std::string cp1252 = "REGEDIT4\r\n[HKCU\\Caf\xE9]\r\n\"\x80\"=\"Caf\xE9\"\r\n";
    for (const std::string& bytes : { utf8, "\xEF\xBB\xBF" + utf8, cp1252, std::string(cp1252).append("\r") }) {
        const RegFileContent content = parsed(bytes);
        EXPECT_EQ(content.format, RegFileFormat::Regedit4);
        ASSERT_EQ(content.keys.size(), 1u);
        EXPECT_EQ(content.keys[0].path, u"Caf\u00e9");
        ASSERT_EQ(content.keys[0].values.size(), 1u);
        EXPECT_EQ(content.keys[0].values[0].name, u"\u20ac");
        EXPECT_EQ(content.keys[0].values[0].data, utf16zBytes(u"Caf\u00e9"));
    }
    // A lone CR ends a line as well; a Version 5.00 header in UTF-8 is read as UTF-8.
    const RegFileContent mac = parsed("Windows Registry Editor Version 5.00\r[HKCU\\A]\r\"x\"=\"\xC3\xA9\"\r");
    ASSERT_EQ(mac.keys.size(), 1u);
    EXPECT_EQ(mac.keys[0].values.at(0).data, utf16zBytes(u"\u00e9"));
    EXPECT_EQ(mac.keys[0].values.at(0).line, 3u);
    // A lone surrogate in a UTF-16 file stays the unit it was.
    const RegFileContent odd = parsed(utf16File(u"Windows Registry Editor Version 5.00\r\n[HKCU\\a\xD800]\r\n"));
    EXPECT_EQ(odd.keys.at(0).path, std::u16string(u"a\xD800"));
}

TEST(RegFileReader, Regedit4TextInHexIsConvertedFromItsCodePage) {
    // What Quern's own REGEDIT4 export writes for strings with line breaks (UTF-8), and what an
    // ANSI program writes (Windows-1252): both arrive as the registry's UTF-16.
    const RegFileContent content = parsed("REGEDIT4\r\n[HKCU\\A]\r\n"
                                          "\"sz\"=hex(1):41,0d,0a,c3,a9,00\r\n"
                                          "\"ex\"=hex(2):25,e9,25,00\r\n"
                                          "\"multi\"=hex(7):61,00,62,00,00\r\n"
                                          "\"bin\"=hex:c3,a9\r\n");
    const auto& v = content.keys.at(0).values;
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].data, utf16zBytes(u"A\r\n\u00e9"));
    EXPECT_EQ(v[1].data, utf16zBytes(u"%\u00e9%"));
    EXPECT_EQ(v[2].data, utf16zBytes(std::u16string(u"a\0b\0", 4)));
    EXPECT_EQ(v[3].data, (Bytes { 0xc3, 0xa9 })) << "binary data is never text";
}

TEST(RegFileReader, BadInputNamesTheFileLineAndWhatWasExpected) {
    const std::string h = "Windows Registry Editor Version 5.00\r\n";
    const std::vector<std::pair<std::string, std::string>> cases {
        { "", "t.reg:1: expected the header" },
        { "Windows Registry Edi", "t.reg:1: expected the header" },
        { "REGEDIT5\r\n[HKCU\\A]\r\n", "t.reg:1: expected the header" },
        { utf16File(u"Windows Registry Editor Version 5.00\r\n").append("\x41"), "t.reg:1: expected UTF-16LE text" },
        { "\xFE\xFF\x00R", "t.reg:1: expected UTF-16LE or UTF-8" },
        { std::string("R\0E\0G\0", 6), "t.reg:1: expected a byte-order mark" },
        { h + "[HKCU\\A\r\n", "t.reg:2: expected ] at the end of the key line" },
        { h + "[HKCU\\A] x\r\n", "t.reg:2: expected nothing but a comment after the ]" },
        { h + "[HKEY_NOWHERE\\A]\r\n", "t.reg:2: expected a root key" },
        { h + "[HKCU\\A\\\\B]\r\n", "t.reg:2: expected a key name between two backslashes" },
        { h + "[-HKLM]\r\n", "t.reg:2: expected a key below the root" },
        { h + "\"a\"=\"b\"\r\n", "t.reg:2: expected a [KEY] line before the first value" },
        { h + "[-HKCU\\A]\r\n\"a\"=\"b\"\r\n", "t.reg:3: expected a [KEY] line" },
        { h + "[HKCU\\A]\r\nvalue=1\r\n", "t.reg:3: expected [KEY], \"NAME\"=" },
        { h + "[HKCU\\A]\r\n\"a\"=hex(xyz):00\r\n", "t.reg:3: expected hex: or hex(TYPE):" },
        { h + "[HKCU\\A]\r\n\"a\"=hex(123456789):00\r\n", "t.reg:3: expected hex: or hex(TYPE):" },
        { h + "[HKCU\\A]\r\n\"a\"=hex(1)00\r\n", "t.reg:3: expected hex: or hex(TYPE):" },
        { h + "[HKCU\\A]\r\n\"a\"=str:\"x\"\r\n", "t.reg:3: expected \"STRING\", dword:" },
        { h + "[HKCU\\A]\r\n\"a\"=dword:123456789\r\n", "t.reg:3: expected 1 to 8 hex digits" },
        { h + "[HKCU\\A]\r\n\"a\"=dword:\r\n", "t.reg:3: expected 1 to 8 hex digits" },
        { h + "[HKCU\\A]\r\n\"a\"=hex:1,234\r\n", "t.reg:3: expected , between two hex bytes" },
        { h + "[HKCU\\A]\r\n\"a\"=hex:1,,2\r\n", "t.reg:3: expected a hex byte" },
        { h + "[HKCU\\A]\r\n\"a\"=hex:1,\\ 2\r\n", "t.reg:3: expected the end of the line after" },
        // Cut short: inside a name, a string, and after a continuation backslash.
        { h + "[HKCU\\A]\r\n\"na", "t.reg:3: expected \" to close the value name" },
        { h + "[HKCU\\A]\r\n\"a\"=\"str", "t.reg:3: expected \" to close the string" },
        { h + "[HKCU\\A]\r\n\"a\"=hex:01,\\\r\n", "t.reg:4: expected more hex data" },
        { h + "[HKCU\\A]\r\n\"a\"=hex:01,\\\r\n\"b\"=\"c\"\r\n", "t.reg:4: expected a hex byte" },
        { h + "[HKCU\\A]\r\n\"a\"\r\n", "t.reg:3: expected = after the value name" },
        { h + "[HKCU\\A]\r\n\"a\"=\"b\" c\r\n", "t.reg:3: expected nothing but a comment after the string" },
        { h + "[HKCU\\A]\r\n\"a\"=- x\r\n", "t.reg:3: expected nothing but a comment after =-" },
    };
    for (const auto& [bytes, expected] : cases) {
        const std::string error = parseError(bytes);
        EXPECT_EQ(error.substr(0, expected.size()), expected) << "for: " << bytes;
    }
}

namespace {

// Seconds to read a file whose value has one line of hex data of about size bytes.
double hexLineSeconds(std::size_t size) {
    const std::string head = "REGEDIT4\r\n[HKCU\\A]\r\n\"a\"=hex:";
    std::string chunk;
    for (int i = 0; i < 4096; ++i)
        chunk += "5a,";
    std::string bytes = head;
    bytes.reserve(size + chunk.size() + 8);
    while (bytes.size() < size)
        bytes += chunk;
    bytes += "5a\r\n";
    const auto start = std::chrono::steady_clock::now();
    const RegFileContent content = parsed(bytes);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(content.keys.at(0).values.at(0).data.size(), (bytes.size() - head.size() - 2) / 3 + 1);
    return seconds;
}

} // namespace

TEST(RegFileReader, AHundredMegabyteLineTakesLinearTime) {
    // A key line that never closes.
    std::string bytes = "REGEDIT4\r\n[HKCU\\";
    bytes.append(100u << 20, 'k');
    EXPECT_NE(parseError(bytes).find("t.reg:2: expected ]"), std::string::npos);
    // A value whose hex data is one line of 100 MB takes about ten times as long as one of 10 MB,
    // however fast the machine: a reader that went over the line again per byte would take a hundred.
    const double tenMegabytes = hexLineSeconds(10u << 20);
    const double hundredMegabytes = hexLineSeconds(100u << 20);
    EXPECT_LT(hundredMegabytes, 30 * tenMegabytes) << tenMegabytes << " s for 10 MB";
}

TEST(RegFileReader, AFileThatCannotBeReadSaysWhy) {
    RegFileContent content;
    reg::Status read = readRegFile("/nonexistent/x.reg", content);
    EXPECT_EQ(read, reg::Status::NotFound);
    EXPECT_EQ(read.message(), "/nonexistent/x.reg: No such file or directory");
    test::TempDir dir;
    read = readRegFile(dir.path(), content);
    EXPECT_EQ(read, reg::Status::ReadFailed);
    EXPECT_NE(read.message().find("is a folder"), std::string::npos);
    // Endless, blocking or unreadable inputs end at once with a sentence, never a hang or an abort.
    read = readRegFile("/dev/zero", content);
    EXPECT_EQ(read, reg::Status::ReadFailed);
    EXPECT_EQ(read.message(), "/dev/zero is a character device, not a regular file");
    ASSERT_EQ(::mkfifo((dir / "fifo.reg").c_str(), 0600), 0);
    read = readRegFile(dir / "fifo.reg", content);
    EXPECT_NE(read.message().find("is a FIFO"), std::string::npos) << read.message();
    read = readRegFile("/proc/self/mem", content);
    EXPECT_EQ(read.message(), "/proc/self/mem cannot be read (Input/output error)");
    test::writeFile(dir / "a.reg", "REGEDIT4\r\n[HKLM\\A]\r\n");
    EXPECT_EQ(readRegFile(dir / "a.reg", content), reg::Status::Ok);
    EXPECT_EQ(content.fileName, dir / "a.reg");
}
