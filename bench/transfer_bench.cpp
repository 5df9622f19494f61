// Comparing and copying big: "quern-reg diff" of two generated registries of about 51.5 MB that
// differ in 1,000 values (whole process, against its target of 2 s and beside the two registries
// merely read by quern-reg in the same run), the file it writes imported into a copy of the left
// (then diff finds nothing); and a copy-paste of a 10,000-key subtree as the window makes it: read,
// planned, written and committed to the prefix's file, against its target of 1 s.

#include "base/Names.h"
#include "generated_registry.h"
#include "import/KeyCopy.h"
#include "store/KeyWalk.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quern;
using namespace quern::bench;

namespace {

// quern-reg with args as a whole process: the seconds it took and its exit code.
std::pair<double, int> run(const std::vector<std::string>& args) {
    const ProcessRun done = runProcess(QUERN_REG_PROGRAM, args);
    return { done.seconds, done.exitCode };
}

void copyPrefix(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(from / name, to / name, fs::copy_options::overwrite_existing);
}

// Changes the first value of every few keys below HKEY_LOCAL_MACHINE, count values in all.
void changeValues(const fs::path& prefix, std::size_t count) {
    reg::WinePrefixStore store(optionsFor(prefix));
    std::vector<std::u16string> keys;
    {
        reg::KeyWalk walk(store, reg::kLocalMachine, {}, reg::KeyWalk::Links::AsKeys);
        while (walk.next()) {
            reg::KeyInfo info;
            // A link's one value is where it leads; a program changes the values of ordinary keys.
            if (walk.depth() > 0 && !walk.isLink() && walk.status().ok() && store.queryInfo(walk.key(), info).ok()
                && info.valueCount > 0)
                keys.push_back(reg::toUtf16(walk.path().substr(1))); // the walk's paths begin with a backslash
        }
    }
    reg::WriteBatch batch(store);
    const std::size_t step = std::max<std::size_t>(1, keys.size() / count);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < keys.size() && changed < count; i += step) {
        reg::KeyHandle key(store);
        if (!store.openKey(reg::kLocalMachine, keys[i], reg::Access::Full, reg::kOpenLink, key.out()).ok()) continue;
        std::u16string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (!store.enumValue(key.get(), 0, name, &type, &data).ok()) continue;
        data.push_back(0x5a);
        if (store.setValue(key.get(), name, reg::kRegBinary, data).ok()) ++changed;
    }
    (void)batch.finish();
    std::printf("  changed %zu values in the right registry (of %zu keys with values)\n", changed, keys.size());
}

void benchDiff(const fs::path& work) {
    const fs::path left = work / "left";
    const fs::path right = work / "right";
    const std::string changes = (work / "changes.reg").string();
    std::printf("quern-reg diff of two generated registries (system.reg %.1f MB each)\n",
        static_cast<double>(fs::file_size(left / "system.reg")) / 1e6);
    changeValues(right, 1000);
    std::vector<double> diffs;
    std::vector<double> reads;
    for (int i = 0; i < 5; ++i) {
        const auto [diff, code] = run({ "/prefix", left, "diff", "HKLM", "HKLM", "/right", right, "/out", changes });
        if (code != 1) std::printf("  diff exited %d, not 1\n", code);
        // Both registries merely read, as the diff must: a query of the root's default value of each.
        diffs.push_back(diff);
        reads.push_back(run({ "/prefix", left, "query", "HKLM", "/ve" }).first
            + run({ "/prefix", right, "query", "HKLM", "/ve" }).first);
    }
    const double diff = median(diffs);
    const double read = median(reads);
    std::printf(
        "  %-56s %7.3f s   (target under 2 s: %.2f of it)\n", "diff /out, whole process, median of 5", diff, diff / 2);
    std::printf("  %-56s %7.3f s   (the diff takes %.2f times as long)\n",
        "both registries read by quern-reg, same run", read, diff / read);
    copyPrefix(left, work / "applied");
    const int imported = run({ "/prefix", work / "applied", "import", changes }).second;
    const int after = run({ "/prefix", work / "applied", "diff", "HKLM", "HKLM", "/right", right }).second;
    std::printf("  the .reg imported into a copy of the left: import exit %d, then diff exit %d (%s)\n", imported,
        after, imported == 0 && after == 0 ? "the right side exactly" : "NOT the right side");
}

void benchCopyPaste(const fs::path& work) {
    const fs::path prefix = work / "paste";
    copyPrefix(work / "sample", prefix);
    reg::WinePrefixStore store(optionsFor(prefix));
    {
        reg::WriteBatch batch(store);
        reg::KeyHandle top(store);
        (void)store.createKey(reg::kCurrentUser, u"Software\\Source", reg::Access::Full, 0, top.out());
        for (int i = 0; i < 10000; ++i) {
            reg::KeyHandle key(store);
            const std::string name = "Key" + std::to_string(i / 100) + "\\Sub" + std::to_string(i % 100);
            (void)store.createKey(top.get(), reg::toUtf16(name), reg::Access::Full, 0, key.out());
            const std::vector<std::uint8_t> data { static_cast<std::uint8_t>(i), 0, 0, 0 };
            (void)store.setValue(key.get(), u"Value", reg::kRegDword, data);
        }
        (void)batch.finish();
    }
    const auto start = std::chrono::steady_clock::now();
    reg::KeyHandle source(store);
    (void)store.openKey(reg::kCurrentUser, u"Software\\Source", reg::Access::Read, reg::kOpenLink, source.out());
    CopyNode tree;
    readCopySource(store, source.get(), tree, true);
    const ImportPlan plan = planCopy(store, reg::kNoKey, tree, "HKEY_CURRENT_USER\\Software\\Pasted");
    reg::WriteBatch batch(store);
    reg::KeyHandle target(store);
    reg::Status status = store.createKey(reg::kCurrentUser, u"Software\\Pasted", reg::Access::Full, 0, target.out());
    if (status.ok()) status = writeCopy(store, target.get(), tree, "HKEY_CURRENT_USER\\Software\\Pasted");
    if (status.ok()) status = batch.finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Copy-paste of a subtree of %zu keys and %zu values into the sample prefix (%s)\n", plan.keysAdded,
        plan.valuesAdded, status.ok() ? "written" : status.message().c_str());
    std::printf(
        "  %-56s %7.3f s   (target under 1 s: %.2f of it)\n", "read, planned, written and committed", seconds, seconds);
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const fs::path work = fs::temp_directory_path() / ("quern-transfer-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "left");
    copyPrefix(QUERN_SAMPLE_PREFIX_DIR, work / "sample");
    copyPrefix(work / "sample", work / "left");
    writeText((work / "left/system.reg").string(),
        generatedSystemReg(readText(std::string(QUERN_SAMPLE_PREFIX_DIR) + "/system.reg"), 51500000));
    copyPrefix(work / "left", work / "right");
    benchDiff(work);
    benchCopyPaste(work);
    fs::remove_all(work);
    return 0;
}
