// Matches the key names, value names and string data of the sample Wine prefix against typical
// search expressions, once with JollyCheck and once with glibc fnmatch composed the same way, so
// the two names-per-second figures come from one run on one machine.

#include "search/JollyCheckU.h"

#include <benchmark/benchmark.h>

#include <fnmatch.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

int hexValue(char c) {
    const char lower = static_cast<char>(c | 0x20);
    if (c >= '0' && c <= '9') return c - '0';
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Reads an escaped string up to the closing quote or the end of the line, starting after the
// opening quote; `at` is left just past the closing quote.
std::string readQuoted(std::string_view line, std::size_t& at) {
    std::string out;
    while (at < line.size() && line[at] != '"') {
        char c = line[at++];
        if (c != '\\' || at == line.size()) {
            out += c;
            continue;
        }
        c = line[at++];
        if (c == 'x') {
            unsigned code = 0;
            for (int digits = 0; digits < 4 && at < line.size() && hexValue(line[at]) >= 0; ++digits)
                code = code * 16 + static_cast<unsigned>(hexValue(line[at++]));
            appendUtf8(out, code);
        } else {
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == '0' ? '\0' : c;
        }
    }
    ++at;
    return out;
}

// Every key (the listed ones and the keys above them) contributes its name once; every value its
// name, and string values their data.
std::vector<std::string> loadNames() {
    std::vector<std::string> names;
    std::set<std::string> keyPaths;
    for (const char* file : { "system.reg", "user.reg", "userdef.reg" }) {
        std::ifstream in(std::string(QUERN_SAMPLE_PREFIX_DIR) + "/" + file);
        if (!in) std::cerr << "cannot read " << file << '\n';
        std::string line;
        while (std::getline(in, line)) {
            std::size_t at = 1;
            if (line.starts_with('[')) {
                std::string path = readQuoted(line.substr(0, line.rfind(']')), at);
                for (std::size_t cut = 0; cut != std::string::npos; cut = path.find('\\', cut + 1)) {
                    const std::string prefix = path.substr(0, path.find('\\', cut + 1));
                    if (keyPaths.insert(std::string(file) + ':' + prefix).second)
                        names.push_back(prefix.substr(prefix.rfind('\\') + 1));
                }
                continue;
            }
            if (line.starts_with('"'))
                names.push_back(readQuoted(line, at));
            else if (line.starts_with("@="))
                at = 1;
            else
                continue;
            const std::string_view data = std::string_view(line).substr(at);
            std::size_t dataAt = 0;
            if (data.starts_with("=\""))
                dataAt = 2;
            else if (data.starts_with("=str(2):\""))
                dataAt = 9;
            if (dataAt != 0) names.push_back(readQuoted(data, dataAt));
        }
    }
    return names;
}

const std::vector<std::string>& names() {
    static const std::vector<std::string> all = loadNames();
    return all;
}

bool globbed(const std::string& text, const char* pattern) {
    return fnmatch(pattern, text.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) == 0;
}

void run(benchmark::State& state, const std::function<bool(const std::string&)>& matches) {
    std::size_t hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const std::string& name : names())
            hits += matches(name);
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * names().size()));
    state.counters["matches"] = static_cast<double>(hits);
}

void registerPair(const char* expression, std::function<bool(const std::string&)> viaFnmatch) {
    benchmark::RegisterBenchmark((std::string("JollyCheck «") + expression + "»").c_str(),
        [expression = std::string_view(expression)](benchmark::State& state) {
            run(state, [expression](const std::string& s) { return quern::JollyCheck(s, expression, false); });
        });
    benchmark::RegisterBenchmark((std::string("fnmatch    «") + expression + "»").c_str(),
        [viaFnmatch](benchmark::State& state) { run(state, viaFnmatch); });
}

} // namespace

int main(int argc, char** argv) {
    if (names().empty()) {
        std::cerr << "no names read from " << QUERN_SAMPLE_PREFIX_DIR << "\n";
        return 1;
    }
    std::cout << names().size() << " key names, value names and string data from the sample prefix\n";
    registerPair("*font*", [](const std::string& s) { return globbed(s, "*font*"); });
    registerPair(
        "*shell* AND NOT *open*", [](const std::string& s) { return globbed(s, "*shell*") && !globbed(s, "*open*"); });
    registerPair(
        "?:\\*.dll OR *.exe", [](const std::string& s) { return globbed(s, "?:\\*.dll") || globbed(s, "*.exe"); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
