#include "image/byte_ops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/image/image_fixtures.h"

using namespace fixtures;

namespace {

// A heap copy of exactly `bytes`, so that AddressSanitizer catches any read one past the end.
std::unique_ptr<std::uint8_t[]> exact(const Bytes& bytes) {
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

bool checksumOf(const Bytes& countOnward) {
    return frameChecksumValid(exact(countOnward).get(), countOnward.size());
}

std::uint8_t pair(const char* two) {
    std::uint8_t out = 0;
    hexPairsToBytes(reinterpret_cast<const std::uint8_t*>(two), &out, 1);
    return out;
}

}  // namespace

TEST(FrameChecksum, KnownRecordsPassAndEveryOtherChecksumByteFails) {
    EXPECT_TRUE(checksumOf({0x03, 0x00, 0x00, 0xFC}));                    // S9030000FC
    EXPECT_TRUE(checksumOf({0x06, 0x00, 0x00, 0x48, 0x44, 0x52, 0x1B}));  // S00600004844521B
    for (int last = 0; last < 256; ++last) {
        if (last == 0xFC) continue;
        EXPECT_FALSE(checksumOf({0x03, 0x00, 0x00, static_cast<std::uint8_t>(last)})) << last;
    }
}

TEST(FrameChecksum, CountZeroFailsAndCountOnePassesOnlyWithFE) {
    EXPECT_FALSE(checksumOf({0x00}));  // exactly one byte available: nothing further may be read
    for (int next = 0; next < 256; ++next) {
        EXPECT_EQ(checksumOf({0x01, static_cast<std::uint8_t>(next)}), next == 0xFE) << next;
    }
}

TEST(FrameChecksum, FrameReachingPastTheBufferFailsWithoutReadingIt) {
    // Count 3 needs four bytes from the count on; with three (or none) available the test fails.
    EXPECT_FALSE(checksumOf({0x03, 0x00, 0x00}));
    EXPECT_FALSE(frameChecksumValid(nullptr, 0));
    const Bytes full = frame('1', Bytes(254, 0x5A));  // count 255, the largest
    EXPECT_TRUE(checksumOf(Bytes(full.begin() + 2, full.end())));
    EXPECT_FALSE(checksumOf(Bytes(full.begin() + 2, full.end() - 1)));
}

TEST(HexPairs, DigitsCapitalsAndLowercaseInBothPositions) {
    EXPECT_EQ(pair("FC"), 0xFC);
    EXPECT_EQ(pair("00"), 0x00);
    EXPECT_EQ(pair("9A"), 0x9A);
    EXPECT_EQ(pair("1a"), 0x1A);
    EXPECT_EQ(pair("a1"), 0xA1);
    EXPECT_EQ(pair("fF"), 0xFF);
    EXPECT_EQ(pair("Ce"), 0xCE);
}

TEST(HexPairs, OtherCharactersFollowThePlainArithmetic) {
    // value(c) = (c > '9' ? c - 7 : c) - '0', 8-bit; high digit keeps its low four bits, low digit is ORed
    // whole.
    EXPECT_EQ(pair("0G"), 0x10);    // 'G' -> 0x10
    EXPECT_EQ(pair("G0"), 0x00);    // 0x10 << 4 loses everything
    EXPECT_EQ(pair("0 "), 0xF0);    // ' ' -> 0x20 - 0x30 = 0xF0
    EXPECT_EQ(pair("1g"), 0x30);    // lowercase beyond 'f' is not a digit: 'g' -> 0x30
    EXPECT_EQ(pair("\r\n"), 0xDA);  // 0xDD << 4 = 0xD0, | 0xDA
}

TEST(HexPairs, ConvertsInPlace) {
    Bytes text = bytesOf("0300001AfcFF");
    hexPairsToBytes(text.data(), text.data(), 6);
    EXPECT_EQ(Bytes(text.begin(), text.begin() + 6), (Bytes{0x03, 0x00, 0x00, 0x1A, 0xFC, 0xFF}));
}

TEST(FindPattern, BoundsAndOrder) {
    const Bytes abc = bytesOf("abc"), abd = bytesOf("abd");
    auto a = exact(abc), b = exact(abd);
    EXPECT_EQ(findPattern(a.get(), 2, b.get(), 3), -1);  // window shorter than the pattern
    EXPECT_EQ(findPattern(a.get(), 3, a.get(), 3), 0);   // equal lengths: equality test
    EXPECT_EQ(findPattern(a.get(), 3, b.get(), 3), -1);

    const Bytes text = bytesOf("xxCXCyyCXC");
    auto t = exact(text);
    const std::uint8_t mark[] = {'C', 'X', 'C'};
    EXPECT_EQ(findPattern(t.get(), text.size(), mark, 3), 2);           // the first of two
    EXPECT_EQ(findPattern(t.get() + 5, text.size() - 5, mark, 3), 2);   // standing at the very end
    EXPECT_EQ(findPattern(t.get() + 5, text.size() - 6, mark, 3), -1);  // would end past the window
}

TEST(CopyForward, OverlappingTowardsTheStartAndBeyondIt) {
    Bytes buffer{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    copyForward(buffer.data(), buffer.data() + 4, 8);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), (Bytes{4, 5, 6, 7, 8, 9, 10, 11}));

    // Destination inside the source above it: the literal low-to-high copy repeats the leading bytes.
    Bytes spread{1, 2, 0, 0, 0, 0};
    copyForward(spread.data() + 2, spread.data(), 4);
    EXPECT_EQ(spread, (Bytes{1, 2, 1, 2, 1, 2}));
}

TEST(FillBytes, SetsExactlyCountBytes) {
    Bytes buffer(6, 0x11);
    fillBytes(buffer.data() + 1, 0xEE, 4);
    EXPECT_EQ(buffer, (Bytes{0x11, 0xEE, 0xEE, 0xEE, 0xEE, 0x11}));
}
