#include "generated_registry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

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

ProcessRun runProcess(
    const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    std::vector<std::string> argStrings { program };
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = environment;
    std::vector<char*> envp;
    for (auto& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment.empty() ? environ : envp.data()) == 0)
        ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return { seconds, WIFEXITED(status) ? WEXITSTATUS(status) : -1 };
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace quern::bench
