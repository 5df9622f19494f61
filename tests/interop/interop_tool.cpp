// Helper of wine-regedit-import.sh: makes a registry holding every kind of value, names with line
// breaks and a key whose name holds one, and exports it; then compares what Wine's regedit
// imported from that export with the source. With "unicode" the export is the lossless form, and
// every value, non-ASCII text included, must arrive with its type and bytes.
//   interop_tool make SOURCE_DIR OUT.reg [unicode]
//   interop_tool compare SOURCE_DIR WINE_PREFIX [unicode]
// Helper of wine-reg-export.sh: adds HKEY_CURRENT_USER\Software\QuernExport, values of every
// kind that Wine's reg export writes without loss, to the prefix's files.
//   interop_tool fill PREFIX

#include "codec/Utf.h"
#include "export/RegExport.h"
#include "wine/WinePrefixStore.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace quern;

namespace {

constexpr std::u16string_view kKey = u"Software\\QuernInterop";
// A key name with a line break cannot be written: the export leaves it out, and nothing of it
// may arrive, in it or in the key above. The subkey after it still arrives.
constexpr std::u16string_view kBrokenKey = u"Key\nBreak";
constexpr std::u16string_view kSubkey = u"Sub";
constexpr std::u16string_view kKindsKey = u"Kinds";

std::vector<std::uint8_t> utf16z(std::u16string_view text) {
    std::vector<std::uint8_t> bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

struct Sample {
    std::u16string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    bool ascii; // names and text in ASCII only
};

std::vector<Sample> samples() {
    return {
        { u"", reg::kRegSz, utf16z(u"default value"), true },
        { u"String", reg::kRegSz, utf16z(u"C:\\Program Files\\App \"quoted\""), true },
        { u"Empty string", reg::kRegSz, utf16z(u""), true },
        { u"Expand", reg::kRegExpandSz, utf16z(u"%SystemRoot%\\system32"), true },
        { u"Two lines", reg::kRegSz, utf16z(u"first\r\nsecond"), true },
        { u"Expand lines", reg::kRegExpandSz, utf16z(u"%A%\n%B%"), true },
        { u"Dword", reg::kRegDword, { 0x78, 0x56, 0x34, 0x12 }, true },
        { u"Dword max", reg::kRegDword, { 0xff, 0xff, 0xff, 0xff }, true },
        { u"Binary", reg::kRegBinary, { 0x00, 0x0a, 0xff, 0x10 }, true },
        { u"Empty binary", reg::kRegBinary, {}, true },
        { u"Multi", reg::kRegMultiSz, utf16z(std::u16string(u"one\0two\0", 8)), true },
        { u"Qword", reg::kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 }, true },
        { u"None", reg::kRegNone, { 9, 8 }, true },
        { u"Line\nbreak", reg::kRegSz, utf16z(u"in a name"), true },
        { u"Carriage\rreturn", reg::kRegDword, { 1, 0, 0, 0 }, true },
        { u"Both\r\nand \\ \"", reg::kRegBinary, { 7 }, true },
        { u"Dword of 8 bytes", reg::kRegDword, { 1, 2, 3, 4, 5, 6, 7, 8 }, true },
        { u"Dword of 2 bytes", reg::kRegDword, { 1, 2 }, true },
        { u"Empty dword", reg::kRegDword, {}, true },
        { u"Caf\u00e9", reg::kRegSz, utf16z(u"cr\u00e8me \u20ac"), false },
    };
}

// Values whose lossless lines Wine's reg export writes as Quern does: names and text beyond ASCII
// and beyond the 16-bit plane, escapes, every type, and hex data long enough to be broken into
// continuation lines after names of many lengths.
std::vector<Sample> exportSamples() {
    std::vector<Sample> list {
        { u"", reg::kRegSz, utf16z(u"default"), true },
        { u"Caf\u00e9 \U0001F600", reg::kRegSz, utf16z(u"cr\u00e8me \u20ac \U0001F600 \u4e2d\u6587"), false },
        { u"quote \" and \\", reg::kRegSz, utf16z(u"C:\\Dir \"x\""), true },
        { u"line\r\nbreak", reg::kRegSz, utf16z(u"one\r\ntwo\nthree"), true },
        { u"empty", reg::kRegSz, utf16z(u""), true },
        { u"expand", reg::kRegExpandSz, utf16z(u"%SystemRoot%\\\u00e9"), true },
        { u"multi", reg::kRegMultiSz, utf16z(std::u16string(u"one\0two\0", 8)), true },
        { u"empty multi", reg::kRegMultiSz, {}, true },
        { u"dword", reg::kRegDword, { 0x78, 0x56, 0x34, 0x12 }, true },
        { u"qword", reg::kRegQword, { 1, 2, 3, 4, 5, 6, 7, 8 }, true },
        { u"none", reg::kRegNone, { 9, 8, 7 }, true },
        { u"empty none", reg::kRegNone, {}, true },
        { u"big-endian", reg::kRegDwordBigEndian, { 1, 2, 3, 4 }, true },
        { u"odd type", 0x12345678, { 0xab, 0xcd }, true },
        { u"empty binary", reg::kRegBinary, {}, true },
    };
    std::vector<std::uint8_t> bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t length : { 1, 2, 20, 21, 22, 60, 70, 75, 76, 77, 80 }) {
        const std::u16string name(length, u'n');
        list.push_back({ name, reg::kRegBinary, bytes, true });
        list.push_back({ name + u"\u00e9x", reg::kRegMultiSz, bytes, false });
    }
    return list;
}

reg::WinePrefixOptions optionsFor(const char* dir, bool create) {
    reg::WinePrefixOptions options;
    options.prefixDir = dir;
    options.createIfMissing = create;
    options.scanProcesses = false;
    return options;
}

std::string shown(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char hex[4];
    for (auto b : bytes)
        std::snprintf(hex, sizeof hex, "%02x ", b), text += hex;
    return text;
}

// The Kinds key of a Unicode import: every value with its type and bytes. The number of failures.
int compareKinds(reg::WinePrefixStore& imported, reg::HKey parent) {
    reg::HKey kinds = reg::kNoKey;
    if (imported.openKey(parent, kKindsKey, reg::Access::Read, reg::kOptionNone, kinds) != reg::Status::Ok) {
        std::printf("FAIL: the key of every kind did not arrive\n");
        return 1;
    }
    int failures = 0;
    for (const auto& sample : exportSamples()) {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        // Wine's regedit ends multi-string data that lacks its closing NUL with one: a change of
        // Wine's import, which the file does not ask for.
        std::vector<std::uint8_t> expected = sample.data;
        const std::size_t n = expected.size();
        if (sample.type == reg::kRegMultiSz && n >= 2 && n % 2 == 0 && (expected[n - 2] || expected[n - 1]))
            expected.insert(expected.end(), { 0, 0 });
        const bool same = imported.queryValue(kinds, sample.name, type, data) == reg::Status::Ok && type == sample.type
            && data == expected;
        if (!same) {
            std::printf("FAIL: Kinds \"%s\" type %u bytes %s\n", shownKeyPath(reg::toUtf8(sample.name)).c_str(), type,
                shown(data).c_str());
            ++failures;
        }
    }
    std::printf("%s: the %zu values of every kind arrived whole\n", failures ? "FAIL" : "ok", exportSamples().size());
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "fill" && argc == 3) {
        reg::WinePrefixStore store(optionsFor(argv[2], false));
        reg::HKey key = reg::kNoKey;
        if (store.createKey(reg::kCurrentUser, u"Software\\QuernExport", reg::Access::Full, reg::kOptionNone, key)
            != reg::Status::Ok)
            return 1;
        for (const auto& sample : exportSamples())
            if (store.setValue(key, sample.name, sample.type, sample.data) != reg::Status::Ok) return 1;
        return 0;
    }
    const bool unicode = argc == 5 && std::string(argv[4]) == "unicode";
    if (argc != 4 && !(argc == 5 && (unicode || std::string(argv[4]) == "regedit4"))) {
        std::fprintf(stderr,
            "usage: interop_tool make SOURCE_DIR OUT.reg [unicode] | compare SOURCE_DIR WINE_PREFIX [unicode] | fill "
            "PREFIX\n");
        return 2;
    }
    if (command == "make") {
        reg::WinePrefixStore store(optionsFor(argv[2], true));
        reg::HKey key = reg::kNoKey;
        if (store.createKey(reg::kCurrentUser, kKey, reg::Access::Full, reg::kOptionNone, key) != reg::Status::Ok)
            return 1;
        for (const auto& sample : samples())
            (void)store.setValue(key, sample.name, sample.type, sample.data);
        for (auto name : { kBrokenKey, kSubkey }) {
            reg::HKey sub = reg::kNoKey;
            if (store.createKey(key, name, reg::Access::Full, reg::kOptionNone, sub) != reg::Status::Ok) return 1;
            (void)store.setValue(sub, u"inside", reg::kRegSz, utf16z(name));
            (void)store.closeKey(sub);
        }
        if (unicode) {
            // Every kind of value, names and text beyond the 16-bit plane, long hex lines.
            reg::HKey kinds = reg::kNoKey;
            if (store.createKey(key, kKindsKey, reg::Access::Full, reg::kOptionNone, kinds) != reg::Status::Ok)
                return 1;
            for (const auto& sample : exportSamples())
                (void)store.setValue(kinds, sample.name, sample.type, sample.data);
            (void)store.closeKey(kinds);
        }
        reg::RegAccessor registry(store);
        RegFileExport file(registry.store());
        if (!file.OpenRegFile(argv[3], unicode ? RegFileForm::Unicode : RegFileForm::Regedit4).ok()) return 1;
        const std::string path = "HKEY_CURRENT_USER\\" + reg::toUtf8(kKey);
        file.ExportTree(path + "\\");
        if (!file.CloseRegFile().ok()) return 1;
        const std::vector<std::string> expected { path + "\\" + reg::toUtf8(kBrokenKey) };
        const bool named = file.leftOutKeys() == expected;
        std::printf(
            "%s: the key with a line break is %snamed as left out\n", named ? "ok" : "FAIL", named ? "" : "not ");
        return named ? 0 : 3;
    }
    if (command != "compare") return 2;
    reg::WinePrefixStore source(optionsFor(argv[2], false));
    reg::WinePrefixStore imported(optionsFor(argv[3], false));
    reg::HKey key = reg::kNoKey;
    if (imported.openKey(reg::kCurrentUser, kKey, reg::Access::Read, reg::kOptionNone, key) != reg::Status::Ok) {
        std::printf("FAIL: the key did not arrive\n");
        return 1;
    }
    int failures = 0;
    for (const auto& sample : samples()) {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        const std::string name = shownKeyPath(reg::toUtf8(sample.name)); // one line however it is named
        if (!sample.ascii && !unicode) {
            // Wine reads REGEDIT4 text in its ANSI code page: report what non-ASCII text became.
            std::u16string found;
            for (std::uint32_t i = 0; imported.enumValue(key, i, found, &type, &data) == reg::Status::Ok; ++i)
                if (found.size() > 3 && found.substr(0, 3) == u"Caf")
                    std::printf("note: \"%s\" arrived as \"%s\" = %s\n", name.c_str(), reg::toUtf8(found).c_str(),
                        reg::toUtf8(std::u16string(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2))
                            .c_str());
            continue;
        }
        if (imported.queryValue(key, sample.name, type, data) != reg::Status::Ok) {
            std::printf("FAIL: \"%s\" did not arrive\n", name.c_str());
            ++failures;
            continue;
        }
        // The export keeps the kinds it can write: strings (with expand strings written as strings
        // unless they hold a line break, when their hex form keeps the kind), DWORDs and binary;
        // every other kind arrives as binary holding the bytes the program sees.
        std::uint32_t expectedType = sample.type;
        std::vector<std::uint8_t> expected = sample.data;
        // The lossless form: everything arrives as it was.
        if (!unicode && sample.type == reg::kRegExpandSz && sample.name != u"Expand lines") expectedType = reg::kRegSz;
        if (!unicode
            && (sample.type == reg::kRegMultiSz || sample.type == reg::kRegQword || sample.type == reg::kRegNone)) {
            expectedType = reg::kRegBinary;
            expected = reg::programData(sample.type, sample.data);
        }
        const bool same = type == expectedType && data == expected;
        std::printf("%s: \"%s\" type %u (expected %u) bytes %s\n", same ? "ok" : "FAIL", name.c_str(), type,
            expectedType, shown(data).c_str());
        if (!same) ++failures;
    }
    // Nothing arrived that the source does not hold: a split header would have made a key of the
    // name's second line, or put the values of the key left out into this one.
    std::u16string name;
    std::size_t values = 0;
    for (std::uint32_t i = 0; imported.enumValue(key, i, name, nullptr, nullptr) == reg::Status::Ok; ++i)
        ++values;
    std::vector<std::string> subkeys;
    for (std::uint32_t i = 0; imported.enumKey(key, i, name) == reg::Status::Ok; ++i)
        subkeys.push_back(reg::toUtf8(name));
    if (unicode) failures += compareKinds(imported, key);
    const std::vector<std::string> expectedSubkeys
        = unicode ? std::vector<std::string> { "Kinds", "Sub" } : std::vector<std::string> { "Sub" };
    const bool onlyTheSource = values == samples().size() && subkeys == expectedSubkeys;
    std::printf("%s: %zu values (expected %zu), subkeys:", onlyTheSource ? "ok" : "FAIL", values, samples().size());
    for (const auto& subkey : subkeys)
        std::printf(" \"%s\"", shownKeyPath(subkey).c_str());
    std::printf(" (expected \"Sub\"%s)\n", unicode ? " and \"Kinds\"" : "");
    if (!onlyTheSource) ++failures;
    std::printf("%d failed\n", failures);
    return failures ? 1 : 0;
}
