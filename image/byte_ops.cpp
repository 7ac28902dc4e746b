// Byte helpers of the frame model: pattern search, frame checksums, hex pairs.
#include "image/byte_ops.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace {

// Digit value of each character. Capitals and digits convert as hex; lowercase 'a'..'f' too, so that images
// written by tools that emit lowercase survive. Every other byte keeps the plain "subtract 7 above '9', then
// subtract '0'" arithmetic: no validation here, garbage shows up later as a checksum failure.
constexpr std::array<std::uint8_t, 256> makeDigitTable() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        unsigned value = c;
        if (c >= 'a' && c <= 'f') {
            value = c - 'a' + 10;
        } else {
            if (c > '9') value -= 7;
            value -= '0';
        }
        table[c] = static_cast<std::uint8_t>(value);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kDigit = makeDigitTable();

}  // namespace

bool frameChecksumValid(const std::uint8_t* countByte, std::size_t available) {
    if (available == 0) return false;
    const std::size_t count = countByte[0];
    // The count byte, count-1 address/data bytes and the checksum byte must all exist.
    if (count == 0 || available < count + 1) return false;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + countByte[i]);
    return countByte[count] == static_cast<std::uint8_t>(~sum);
}

void hexPairsToBytes(const std::uint8_t* source, std::uint8_t* destination, std::size_t pairCount) {
    // Byte k is written at destination+k after reading source+2k and source+2k+1, so with
    // destination <= source the output never overtakes unread input.
    for (std::size_t k = 0; k < pairCount; ++k) {
        const std::uint8_t high = kDigit[source[2 * k]];
        const std::uint8_t low = kDigit[source[2 * k + 1]];
        destination[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(high << 4) | low);
    }
}

std::int32_t findPattern(const std::uint8_t* window, std::size_t windowLength, const std::uint8_t* pattern,
                         std::size_t patternLength) {
    if (windowLength < patternLength) return -1;
    const std::size_t lastStart = std::min<std::size_t>(windowLength - patternLength, INT32_MAX);
    for (std::size_t p = 0; p <= lastStart; ++p) {
        if (std::memcmp(window + p, pattern, patternLength) == 0) return static_cast<std::int32_t>(p);
    }
    return -1;
}
