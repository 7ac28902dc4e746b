// The byte helpers and module names.
#include "image/byte_ops.h"

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

#include "image/module_name.h"
#include "tests/support/sample_image.h"

using namespace sample;

namespace {

// Checks a frame from its count byte on, in a heap block of exactly its size: AddressSanitizer catches any
// read past it.
bool checksumOf(const Bytes& countOnward) {
    const auto copy = std::make_unique<std::uint8_t[]>(countOnward.size());
    std::copy(countOnward.begin(), countOnward.end(), copy.get());
    return frameChecksumValid(copy.get(), countOnward.size());
}

}  // namespace

TEST(ByteOps, FrameChecksum) {
    const Bytes full = frame('1', Bytes(254, 0x5A));                      // count 255, the largest
    EXPECT_TRUE(checksumOf({0x06, 0x00, 0x00, 0x48, 0x44, 0x52, 0x1B}));  // S00600004844521B
    EXPECT_TRUE(checksumOf(Bytes(full.begin() + 2, full.end())));
    EXPECT_FALSE(checksumOf(Bytes(full.begin() + 2, full.end() - 1)));  // reaches past the buffer
    EXPECT_FALSE(checksumOf({0x00}) || checksumOf({}));                 // count 0: nothing more is read
    for (int last = 0; last < 256; ++last) {
        EXPECT_EQ(checksumOf({0x03, 0x00, 0x00, std::uint8_t(last)}), last == 0xFC) << last;  // S9030000FC
        EXPECT_EQ(checksumOf({0x01, std::uint8_t(last)}), last == 0xFE) << last;
    }
}

TEST(ByteOps, HexPairsAndPatterns) {
    // Letters of either case in either position; other characters follow the plain arithmetic.
    Bytes text = bytesOf("FC009A1aa1fFCe0GG00 1g\r\n");
    hexPairsToBytes(text.data(), text.data(), 12);  // in place
    EXPECT_EQ(Bytes(text.begin(), text.begin() + 12),
              (Bytes{0xFC, 0x00, 0x9A, 0x1A, 0xA1, 0xFF, 0xCE, 0x10, 0x00, 0xF0, 0x30, 0xDA}));

    const Bytes window = bytesOf("xxCXCyyCXC"), mark = bytesOf("CXC");
    EXPECT_EQ(findPattern(window.data(), 10, mark.data(), 3), 2);     // the first of two
    EXPECT_EQ(findPattern(window.data() + 5, 5, mark.data(), 3), 2);  // standing at the very end
    EXPECT_EQ(findPattern(window.data() + 5, 4, mark.data(), 3), -1);
    EXPECT_EQ(findPattern(mark.data(), 2, mark.data(), 3), -1);  // window shorter than the pattern
    EXPECT_EQ(findPattern(mark.data(), 3, mark.data(), 3), 0);
    EXPECT_EQ(findPattern(window.data(), 3, mark.data(), 3), -1);
    static_assert(std::is_same_v<decltype(findPattern(nullptr, 0, nullptr, 0)), std::int32_t>);
}

TEST(ModuleName, DirectoryGoesNameIsUpperCasedAndCutAtTheFirstDot) {
    const std::pair<const char*, const char*> rows[] = {
        {"/home/user/images/update.final.sbin", " UPDATE"},
        {"dir.with.dots/Name_v2", " NAME_V2"},
        {"/tmp/.hidden.shex", " "},
        {"caf\xe9\xf7\xff.sbin", " CAF\xc9\xf7\xff"},      // Latin-1: no capital for the division sign and y
        {"x\xc0\xafy", " X\xc0\xafY"},                     // an overlong form is not UTF-8
        {"\xc3\xa9t\xc3\xa9.shex", " \xc3\x89T\xc3\x89"},  // UTF-8, per code point
        {"\xc3\xbf\xcf\x82\xd1\x91", " \xc5\xb8\xce\xa3\xd0\x81"},  // y-diaeresis, final sigma, Cyrillic yo
        // Polish l upper-cased; CJK and an emoji (three and four UTF-8 bytes) have no case.
        {"\xc5\x82\xe6\x97\xa5\xf0\x9f\x93\xb1", " \xc5\x81\xe6\x97\xa5\xf0\x9f\x93\xb1"},
    };
    for (const auto& [path, module] : rows) EXPECT_EQ(moduleName(path), module) << path;
    for (const char* invalid : {"\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe9t\xe9"})
        EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
    // Every one- and two-byte name keeps its encoding, so the window can always tell how to decode it.
    for (int a = 0; a < 256; ++a) {
        for (int b = -1; b < 256; ++b) {
            const std::string name = std::string(1, char(a)) + (b < 0 ? "" : std::string(1, char(b)));
            const std::string upper = upperCaseName(name);
            ASSERT_TRUE(isValidUtf8(name) ? isValidUtf8(upper) : upper.size() == name.size())
                << a << " " << b;
        }
    }
}
