#include <gtest/gtest.h>

#include "tests/image/image_fixtures.h"

using namespace fixtures;

TEST(EmmaReader, DecodesMaskedRecordsIntoFrames) {
    const Bytes run = sampleImage(5, "CXC1234567");
    const ReadResult result = readImage(toEmma(run, "R3B", "010203_0405"));
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_EQ(result.summary.format, ImageFormat::EMMA);
    EXPECT_EQ(runOf(result), run);
    EXPECT_EQ(result.image.size, run.size());
    EXPECT_EQ(result.image.frameCount, 5);
    EXPECT_TRUE(result.summary.checksumsOk);
    // " CXC" + six bytes, then the two header fields.
    EXPECT_EQ(result.summary.versionText, std::string(" CXC123456 R3B 010203_0405"));
}

TEST(EmmaReader, HeaderFieldsAppearOnlyWithAVersionMark) {
    const ReadResult result = readImage(toEmma(sampleImage(2, "HDR"), "R3B", "010203_0405"));
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_FALSE(result.summary.versionText.has_value());
}

TEST(EmmaReader, BytesBelow20AreSkippedAndEveryOtherByteStartsARecord) {
    const Bytes run = sampleImage(2);
    Bytes separators;
    for (int b = 0; b < 0x20; ++b) separators.push_back(static_cast<std::uint8_t>(b));
    EXPECT_EQ(runOf(readImage(toEmma(run, "R1A", "000000_0000", 0, separators))), run);

    // 0x20 and 0x80..0xFF are type characters: each begins a record of its own.
    for (std::uint8_t type : {std::uint8_t{0x20}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
        Bytes odd = headerFrame();
        odd += Bytes{'S', type, 0x01, 0xFE};
        odd += endFrame();
        const ReadResult result = readImage(toEmma(odd));
        ASSERT_EQ(result.outcome, ReadOutcome::Ok);
        EXPECT_EQ(runOf(result), odd);
        EXPECT_EQ(result.image.frameCount, 1);
    }
}

TEST(EmmaReader, AnyChangedMaskedByteFailsTheChecksum) {
    const Bytes run = headerFrame() + dataFrame(0x100, 12) + endFrame();
    const Bytes good = toEmma(run);
    ASSERT_TRUE(readImage(good).summary.checksumsOk);
    // The data record's masked bytes follow its type character; change each of address, data and checksum.
    const std::size_t recordStart = 40 + (headerFrame().size() - 1) + 2;  // its type character
    const std::size_t count = dataFrame(0x100, 12)[2];
    for (std::size_t i = 1; i <= count; ++i) {
        Bytes changed = good;
        changed[recordStart + 1 + i] ^= 0x01;
        const ReadResult result = readImage(changed);
        ASSERT_EQ(result.outcome, ReadOutcome::Ok);
        EXPECT_FALSE(result.summary.checksumsOk) << "byte " << i;
    }
}

TEST(EmmaReader, RefusesWhatCannotHoldAnImage) {
    Bytes shortFile(37, '.');
    shortFile[0] = '%';
    EXPECT_EQ(readImage(shortFile).outcome, ReadOutcome::CorruptFile);  // header fields would not fit

    Bytes noMarker = toEmma(sampleImage());
    noMarker[38] = noMarker[39] = '.';  // the only "#%" gone
    EXPECT_EQ(readImage(noMarker).outcome, ReadOutcome::CorruptFile);

    Bytes truncated = toEmma(sampleImage(), "R1A", "000000_0000", 0, {});
    truncated.pop_back();
    EXPECT_EQ(readImage(truncated).outcome, ReadOutcome::CorruptFile);

    EXPECT_EQ(readImage(toEmma(headerFrame())).outcome, ReadOutcome::CorruptFile);  // one frame
}

TEST(EmmaReader, MarkerMustLieWithinTheFirst2048Bytes) {
    const Bytes run = sampleImage(1);
    // Marker at 2046 ends at 2047: found. At 2047 it would end past the window: not found.
    EXPECT_EQ(readImage(toEmma(run, "R1A", "000000_0000", 2046 - 38)).outcome, ReadOutcome::Ok);
    EXPECT_EQ(readImage(toEmma(run, "R1A", "000000_0000", 2047 - 38)).outcome, ReadOutcome::CorruptFile);
}

TEST(EmmaReader, WorstCaseGrowthFitsTheOutputBuffer) {
    // Two-byte records (count 0) grow the most: 3 bytes out for 2 in.
    Bytes content(38, '.');
    content[0] = '%';
    content += bytesOf("#%");
    for (int i = 0; i < 5000; ++i) content += Bytes{'1', EMMA_MASK};
    const ReadResult result = readImage(content);
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_EQ(result.image.size, 5000u * 3);
    EXPECT_LE(result.image.size, result.image.data.size());
    EXPECT_EQ(result.image.frameCount, 4998);
    EXPECT_FALSE(result.summary.checksumsOk);
}
