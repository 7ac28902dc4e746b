// Byte-level primitives the readers and the session rest on. All are bounds-aware.
#pragma once

#include <cstddef>
#include <cstdint>

// Checksum test of the frame whose count byte is at `countByte`; `available` is how many bytes exist from
// countByte on. A count of 0 fails; so does a frame that would reach past `available`.
bool frameChecksumValid(const std::uint8_t* countByte, std::size_t available);

// Converts pairCount pairs of hex characters at source into bytes at destination (may be the same place).
void hexPairsToBytes(const std::uint8_t* source, std::uint8_t* destination, std::size_t pairCount);

// First offset p in [0, windowLength - patternLength] where pattern occurs, or -1. Offsets are signed 32-bit:
// a window is searched no further than its first INT32_MAX bytes (the readers search 2048).
std::int32_t findPattern(const std::uint8_t* window, std::size_t windowLength, const std::uint8_t* pattern,
                         std::size_t patternLength);
