#pragma once

// What several benchmarks share: the large registry they all time, made from the sample prefix the
// same way each time, so their figures describe the same registry.

#include "wine/WinePrefixStore.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quern::bench {

std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);

// Options for a store over a prefix folder that no Wine program runs on: looking for one would
// only add its cost to the figures.
reg::WinePrefixOptions optionsFor(const std::string& dir);

// Replicates the sample's system.reg under numbered top-level keys until it is about targetBytes.
std::string generatedSystemReg(const std::string& sample, std::size_t targetBytes);

// Runs program with args as a whole process, its output thrown away, in the environment given
// (this process's own when empty): the seconds it took, and its exit code (-1 when it did not exit).
struct ProcessRun {
    double seconds = 0;
    int exitCode = -1;
};
ProcessRun runProcess(
    const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& environment = {});

// The middle of the times (the upper one of the two for an even count).
double median(std::vector<double> times);

} // namespace quern::bench
