#pragma once

// What several benchmarks share: the large registry they all time, made from the sample prefix the
// same way each time, so their figures describe the same registry.

#include "wine/WinePrefixStore.h"

#include <cstddef>
#include <string>

namespace quern::bench {

std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);

// Options for a store over a prefix folder that no Wine program runs on: looking for one would
// only add its cost to the figures.
reg::WinePrefixOptions optionsFor(const std::string& dir);

// Replicates the sample's system.reg under numbered top-level keys until it is about targetBytes.
std::string generatedSystemReg(const std::string& sample, std::size_t targetBytes);

} // namespace quern::bench
