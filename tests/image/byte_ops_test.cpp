// The byte helpers, module names, whole-file reading and the summary's texts.
#include "image/byte_ops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "image/module_name.h"
#include "image/summary_text.h"
#include "image/whole_file.h"
#include "tests/support/sample_image.h"

using namespace sample;

namespace {

// A heap copy of exactly `bytes`, so that AddressSanitizer catches any read one past the end.
std::unique_ptr<std::uint8_t[]> exact(const Bytes& bytes) {
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

bool checksumOf(const Bytes& countOnward) {
    return frameChecksumValid(exact(countOnward).get(), countOnward.size());
}

}  // namespace

TEST(ByteOps, FrameChecksum) {
    const Bytes full = frame('1', Bytes(254, 0x5A));  // count 255, the largest
    const std::pair<Bytes, bool> rows[] = {
        {{0x06, 0x00, 0x00, 0x48, 0x44, 0x52, 0x1B}, true},  // S00600004844521B
        {{0x00}, false},                                     // count 0: nothing further is read
        {{0x03, 0x00, 0x00}, false},                         // the checksum byte lies past the buffer
        {{}, false},
        {Bytes(full.begin() + 2, full.end()), true},
        {Bytes(full.begin() + 2, full.end() - 1), false},
    };
    for (const auto& [bytes, valid] : rows) EXPECT_EQ(checksumOf(bytes), valid) << bytes.size();
    for (int last = 0; last < 256; ++last) {
        const auto b = static_cast<std::uint8_t>(last);
        EXPECT_EQ(checksumOf({0x03, 0x00, 0x00, b}), last == 0xFC) << last;  // S9030000FC
        EXPECT_EQ(checksumOf({0x01, b}), last == 0xFE) << last;
    }
}

TEST(ByteOps, HexPairs) {
    // Letters of either case in either position; other characters follow the plain arithmetic
    // ((c > '9' ? c - 7 : c) - '0', the high digit keeping its low four bits).
    const std::pair<const char*, int> rows[] = {{"FC", 0xFC}, {"00", 0x00}, {"9A", 0x9A}, {"1a", 0x1A},
                                                {"a1", 0xA1}, {"fF", 0xFF}, {"Ce", 0xCE}, {"0G", 0x10},
                                                {"G0", 0x00}, {"0 ", 0xF0}, {"1g", 0x30}, {"\r\n", 0xDA}};
    for (const auto& [text, value] : rows) {
        std::uint8_t out = 0;
        hexPairsToBytes(reinterpret_cast<const std::uint8_t*>(text), &out, 1);
        EXPECT_EQ(out, value) << text;
    }
    Bytes inPlace = bytesOf("0300001AfcFF");
    hexPairsToBytes(inPlace.data(), inPlace.data(), 6);
    EXPECT_EQ(Bytes(inPlace.begin(), inPlace.begin() + 6), (Bytes{0x03, 0x00, 0x00, 0x1A, 0xFC, 0xFF}));
}

TEST(ByteOps, FindPatternCopyAndFill) {
    auto abc = exact(bytesOf("abc")), abd = exact(bytesOf("abd")), text = exact(bytesOf("xxCXCyyCXC"));
    const std::uint8_t mark[] = {'C', 'X', 'C'};
    EXPECT_EQ(findPattern(abc.get(), 2, abd.get(), 3), -1);  // window shorter than the pattern
    EXPECT_EQ(findPattern(abc.get(), 3, abc.get(), 3), 0);
    EXPECT_EQ(findPattern(abc.get(), 3, abd.get(), 3), -1);
    EXPECT_EQ(findPattern(text.get(), 10, mark, 3), 2);     // the first of two
    EXPECT_EQ(findPattern(text.get() + 5, 5, mark, 3), 2);  // standing at the very end
    EXPECT_EQ(findPattern(text.get() + 5, 4, mark, 3), -1);

    Bytes buffer{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    copyForward(buffer.data(), buffer.data() + 4, 8);
    EXPECT_EQ(buffer, (Bytes{4, 5, 6, 7, 8, 9, 10, 11, 8, 9, 10, 11}));
    Bytes spread{1, 2, 0, 0, 0, 0};  // destination above the source: the low-to-high copy repeats
    copyForward(spread.data() + 2, spread.data(), 4);
    EXPECT_EQ(spread, (Bytes{1, 2, 1, 2, 1, 2}));
    fillBytes(spread.data() + 1, 0xEE, 4);
    EXPECT_EQ(spread, (Bytes{1, 0xEE, 0xEE, 0xEE, 0xEE, 2}));
}

TEST(ModuleName, NamesAndEncodings) {
    const std::pair<const char*, const char*> rows[] = {
        {"/home/user/images/update.final.sbin", " UPDATE"},
        {"dir.with.dots/Name_v2", " NAME_V2"},
        {"/tmp/.hidden.shex", " "},
        {"dir/", " "},
        {"caf\xe9\xf7\xff.sbin", " CAF\xc9\xf7\xff"},  // Latin-1: division sign and y-diaeresis stay
        {"\xe0\xfe\xdf", " \xc0\xde\xdf"},
        {"x\xc0\xafy", " X\xc0\xafY"},                     // overlong form: not UTF-8
        {"\xc3\xa9t\xc3\xa9.shex", " \xc3\x89T\xc3\x89"},  // UTF-8 per code point
        {"\xc3\xbf", " \xc5\xb8"},                         // y-diaeresis
        {"\xcf\x83\xcf\x82", " \xce\xa3\xce\xa3"},         // sigma, final sigma
        {"\xd0\xbf\xd1\x91", " \xd0\x9f\xd0\x81"},         // Cyrillic pe, yo
        {"\xc5\x82\xc3\xb3"
         "d\xc5\xba",
         " \xc5\x81\xc3\x93"
         "D\xc5\xb9"},
        {"\xe6\x97\xa5.bin", " \xe6\x97\xa5"},  // no case: unchanged
    };
    for (const auto& [path, module] : rows) EXPECT_EQ(moduleName(path), module) << path;
    for (const char* valid : {"", "plain", "\xf0\x9f\x93\xb1"}) EXPECT_TRUE(isValidUtf8(valid)) << valid;
    for (const char* invalid : {"\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe9t\xe9"})
        EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
    // Every one- and two-byte name keeps its encoding, so the window can always tell how to decode it.
    for (int a = 0; a < 256; ++a) {
        for (int b = -1; b < 256; ++b) {
            std::string name(1, static_cast<char>(a));
            if (b >= 0) name.push_back(static_cast<char>(b));
            const std::string upper = upperCaseName(name);
            if (isValidUtf8(name))
                ASSERT_TRUE(isValidUtf8(upper)) << a << " " << b;
            else
                ASSERT_EQ(upper.size(), name.size()) << a << " " << b;
        }
    }
}

namespace {
std::uint8_t* hintedData = nullptr;
void recordHint(std::uint8_t* data, std::size_t) {
    hintedData = data;
}
}  // namespace

TEST(WholeFile, ReadsEveryByteAndRefusesWhatIsNoFile) {
    const TempDir dir;
    Bytes bytes(3 * 1024 * 1024 + 7);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    Bytes out;
    ASSERT_TRUE(readWholeFile(dir.write("big", bytes), out, recordHint));
    EXPECT_EQ(out, bytes);
    EXPECT_EQ(hintedData, out.data());  // the hint saw the buffer that was then filled
    hintedData = nullptr;
    ASSERT_TRUE(readWholeFile(dir.write("empty", {}), out, recordHint));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(hintedData, nullptr);
    for (const std::string& path : {(dir.path() / "missing").string(), dir.path().string(), std::string()}) {
        out = {1, 2, 3};
        EXPECT_FALSE(readWholeFile(path, out)) << path;
        EXPECT_TRUE(out.empty()) << path;
    }
}

TEST(SummaryTexts, FieldTexts) {
    ImageSummary summary{ImageFormat::EMMA,
                         std::string(" CXC12\0"
                                     "456",
                                     10),
                         3000000000u, 12, false};
    const SummaryTexts texts = summaryTexts(summary);
    EXPECT_EQ(texts.format, "EMMA");
    EXPECT_EQ(texts.version, " CXC12");  // cut at its NUL byte
    EXPECT_EQ(displayVersion(summary), " CXC12");
    EXPECT_EQ(texts.size, " 3000000000 bytes");  // past 2 GiB: not negative
    EXPECT_EQ(texts.frames, "12");
    EXPECT_EQ(texts.crc, "ERROR");
    summary.checksumsOk = true;
    summary.versionText.reset();
    EXPECT_EQ(summaryTexts(summary).crc, "OK");
    EXPECT_EQ(summaryTexts(summary).version, "");
    EXPECT_STREQ(formatName(ImageFormat::SBIN), "SBIN");
    EXPECT_STREQ(formatName(ImageFormat::SHEX), "SHEX");
}
