// Images built in memory for the session tests: valid S-record frames, read back through readImage so the
// session gets exactly what a loaded file would give it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/flash_image.h"
#include "image/read_image.h"

namespace test_image {

// One frame of `length` bytes (at least 6) with a valid checksum; data bytes follow from `seed`.
inline void appendFrame(std::vector<std::uint8_t>& run, char type, std::size_t length, std::uint32_t seed) {
    const std::size_t count = length - 3;
    const std::size_t start = run.size();
    run.push_back('S');
    run.push_back(static_cast<std::uint8_t>(type));
    run.push_back(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i + 1 < count; ++i) run.push_back(static_cast<std::uint8_t>(seed * 31 + i * 7));
    std::uint8_t sum = 0;
    for (std::size_t i = start + 2; i < run.size(); ++i) sum = static_cast<std::uint8_t>(sum + run[i]);
    run.push_back(static_cast<std::uint8_t>(~sum));
}

inline FlashImage fromRun(std::vector<std::uint8_t> run) {
    ReadResult read = readImage(std::move(run));
    return read.outcome == ReadOutcome::Ok ? std::move(read.image) : FlashImage{};
}

// A header frame, `frames` data frames of `frameLength` bytes and a termination frame.
inline FlashImage withFrames(std::size_t frames, std::size_t frameLength = 40) {
    std::vector<std::uint8_t> run;
    appendFrame(run, '0', 20, 0);
    for (std::size_t k = 0; k < frames; ++k)
        appendFrame(run, '3', frameLength, static_cast<std::uint32_t>(k + 1));
    appendFrame(run, '7', 8, 0);
    return fromRun(std::move(run));
}

// An image of exactly `size` bytes (at least 40): full 258-byte frames and one shorter where needed.
inline FlashImage ofSize(std::size_t size) {
    constexpr std::size_t kHeader = 20, kTermination = 8, kFull = 258, kMin = 6;
    std::size_t rest = size - kHeader - kTermination;
    std::vector<std::size_t> lengths(rest / kFull, kFull);
    if (std::size_t r = rest % kFull; r != 0) {
        if (r < kMin) {
            lengths.back() -= kMin - r;
            r = kMin;
        }
        lengths.push_back(r);
    }
    std::vector<std::uint8_t> run;
    run.reserve(size);
    appendFrame(run, '0', kHeader, 0);
    for (std::size_t k = 0; k < lengths.size(); ++k)
        appendFrame(run, '3', lengths[k], static_cast<std::uint32_t>(k + 1));
    appendFrame(run, '7', kTermination, 0);
    return fromRun(std::move(run));
}

}  // namespace test_image
