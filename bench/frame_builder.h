// Frame runs for the benchmarks: frames of any type and length with a valid checksum and varied data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline void appendFrame(std::vector<std::uint8_t>& run, char type, std::size_t length, std::uint32_t seed) {
    const std::size_t start = run.size();
    run.push_back('S');
    run.push_back(static_cast<std::uint8_t>(type));
    run.push_back(static_cast<std::uint8_t>(length - 3));
    for (std::size_t i = 0; i + 4 < length; ++i) run.push_back(static_cast<std::uint8_t>(seed * 31 + i * 7));
    std::uint8_t sum = 0;
    for (std::size_t i = start + 2; i < run.size(); ++i) sum = static_cast<std::uint8_t>(sum + run[i]);
    run.push_back(static_cast<std::uint8_t>(~sum));
}
