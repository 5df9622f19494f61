#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quern::reg {

// A 64-bit fingerprint of a file's content, to tell whether a file is still the one that was read.
// Four independent lanes keep it near the speed of memory, so that taking it while a large file is
// mapped costs little beside reading it; each step is a bijection of its lane and of its word, so
// a change of one 8-byte word always changes the fingerprint. Not for adversaries.
[[nodiscard]] inline std::uint64_t fingerprint(std::string_view bytes) {
    constexpr std::uint64_t kPrime = 0x9e3779b97f4a7c15ULL;
    std::uint64_t lane[4]
        = { 0x243f6a8885a308d3ULL, 0x13198a2e03707344ULL, 0xa4093822299f31d0ULL, 0x082efa98ec4e6c89ULL };
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    auto step = [](std::uint64_t state, std::uint64_t word) {
        state = (state ^ word) * kPrime;
        return (state << 29) | (state >> 35);
    };
    for (; left >= 32; at += 32, left -= 32) {
        std::uint64_t words[4];
        std::memcpy(words, at, sizeof words);
        for (int i = 0; i < 4; ++i)
            lane[i] = step(lane[i], words[i]);
    }
    for (std::size_t i = 0; i < left; ++i)
        lane[0] = step(lane[0], static_cast<unsigned char>(at[i]) | 0x100u);
    std::uint64_t result = bytes.size();
    for (const std::uint64_t value : lane)
        result = step(result, value);
    return result;
}

} // namespace quern::reg
