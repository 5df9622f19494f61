#include "generated_registry.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace quern::bench {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

reg::WinePrefixOptions optionsFor(const std::string& dir) {
    reg::WinePrefixOptions options;
    options.prefixDir = dir;
    options.scanProcesses = false;
    return options;
}

std::string generatedSystemReg(const std::string& sample, std::size_t targetBytes) {
    const std::size_t firstBlock = sample.find("\n[");
    const std::string header = sample.substr(0, firstBlock + 1);
    const std::string body = sample.substr(firstBlock + 1);
    std::string out = header;
    out.reserve(targetBytes + sample.size());
    for (int copy = 0; out.size() < targetBytes; ++copy) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "[Bench%03d\\\\", copy);
        std::size_t pos = 0;
        while (pos < body.size()) {
            std::size_t end = body.find('\n', pos);
            end = end == std::string::npos ? body.size() : end + 1;
            if (body[pos] == '[') {
                out += prefix;
                out.append(body, pos + 1, end - pos - 1);
            } else {
                out.append(body, pos, end - pos);
            }
            pos = end;
        }
    }
    return out;
}

} // namespace quern::bench
