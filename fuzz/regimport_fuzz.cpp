// Feeds arbitrary bytes to the reader of registry files that are imported. A file it takes must
// import into an empty registry, plan the same keys and values it imports, and come back the same
// through Quern's own Version 5.00 export; a file it refuses must say where and leave nothing.

#include "export/RegExport.h"
#include "import/RegImport.h"
#include "store/MemoryRegistry.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace quern;

namespace {

// Most inputs should get past the header, where the interesting parsing is.
std::string withHeader(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (size == 0) return text;
    if (data[0] % 3 == 1) return "Windows Registry Editor Version 5.00\r\n" + text.substr(1);
    if (data[0] % 3 == 2) return "REGEDIT4\n" + text.substr(1);
    return text;
}

std::string exported(reg::RegStore& store) {
    static const std::string path
        = (std::filesystem::temp_directory_path() / ("regimport_fuzz." + std::to_string(::getpid()) + ".reg")).string();
    RegFileExport file(store);
    if (!file.OpenRegFile(path, RegFileForm::Unicode).ok()) std::abort();
    for (const char* root : { "HKEY_LOCAL_MACHINE\\", "HKEY_CURRENT_USER\\", "HKEY_USERS\\" })
        file.ExportTree(root);
    if (!file.CloseRegFile().ok()) std::abort();
    // A key whose name holds a line break cannot be written; the fuzzer's file may make one.
    return file.leftOutKeys().empty() ? path : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RegFileContent content;
    if (const reg::Status parsed = parseRegFile(withHeader(data, size), "f.reg", content); !parsed.ok()) {
        if (parsed.message().rfind("f.reg:", 0) != 0 || !content.keys.empty()) std::abort();
        return 0;
    }
    reg::MemoryRegistry store;
    ImportPlan plan;
    // A key the registry refuses (HKEY_DYN_DATA, a long name) fails the import; one it cannot even
    // look for fails the plan as well.
    const bool planned = planImport(store, content, plan).ok();
    const bool imported = applyImport(store, content).ok();
    if (!imported) return 0;
    if (!planned) std::abort();

    // The plan of an import into an empty registry adds what the import added, no more.
    reg::MemoryRegistry empty;
    const ImportPlan added = compareStores(empty, store);
    if (added.valuesAdded > plan.valuesAdded + plan.valuesChanged) std::abort();

    // What was imported comes back whole through an export.
    const std::string path = exported(store);
    if (path.empty()) return 0;
    RegFileContent again;
    if (!readRegFile(path, again).ok()) std::abort();
    reg::MemoryRegistry copy;
    if (const reg::Status status = applyImport(copy, again); !status.ok()) {
        std::fprintf(stderr, "%s\n", status.message().c_str());
        std::abort();
    }
    const ImportPlan lost = compareStores(store, copy);
    for (const RegChange& change : lost.changes)
        std::fprintf(stderr, "%s\n", changeLine(change).c_str());
    if (!lost.empty()) std::abort();
    return 0;
}
