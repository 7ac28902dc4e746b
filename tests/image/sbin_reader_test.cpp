#include <gtest/gtest.h>

#include "tests/image/image_fixtures.h"

using namespace fixtures;

TEST(SbinReader, TakesTheFileBufferOverUnchanged) {
    Bytes content = sampleImage(5);
    const Bytes expected = content;
    const std::uint8_t* original = content.data();
    const ReadResult result = readImage(std::move(content));
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_EQ(result.image.bytes(), original);  // no copy
    EXPECT_EQ(runOf(result), expected);
    EXPECT_EQ(result.image.size, expected.size());
    EXPECT_EQ(result.image.frameCount, 5);
    EXPECT_EQ(result.summary.size, result.image.size);
    EXPECT_EQ(result.summary.frameCount, 5);
    EXPECT_TRUE(result.summary.checksumsOk);
}

TEST(SbinReader, BadChecksumsStillReadOk) {
    Bytes content = sampleImage(1);
    content += frame('1', {0, 0x40, 1, 2, 3}, false);
    content += endFrame();
    const ReadResult result = readImage(content);
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_FALSE(result.summary.checksumsOk);
    EXPECT_EQ(result.image.frameCount, 3);
    EXPECT_EQ(runOf(result), content);
}

TEST(SbinReader, AnythingButSAtAFrameStartIsCorrupt) {
    for (const Bytes& tail : {Bytes{'\n'}, Bytes{'\r', '\n'}, Bytes{0}, Bytes{'s'}}) {
        Bytes content = sampleImage();
        content += tail;
        EXPECT_EQ(readImage(content).outcome, ReadOutcome::CorruptFile);
    }
    Bytes middle = sampleImage(1);
    middle += Bytes{'X'};
    middle += sampleImage(1);
    EXPECT_EQ(readImage(middle).outcome, ReadOutcome::CorruptFile);
}

TEST(SbinReader, FrameReachingPastTheEndIsCorrupt) {
    Bytes content = sampleImage();
    content.pop_back();  // the termination frame loses its checksum byte
    EXPECT_EQ(readImage(content).outcome, ReadOutcome::CorruptFile);

    Bytes lone = sampleImage();
    lone += Bytes{'S', '9'};  // a frame start with no count byte
    EXPECT_EQ(readImage(lone).outcome, ReadOutcome::CorruptFile);
}

TEST(SbinReader, FrameCountEdgesAndZeroCountFrames) {
    const ReadResult two = readImage(headerFrame() + endFrame());
    ASSERT_EQ(two.outcome, ReadOutcome::Ok);
    EXPECT_EQ(two.image.frameCount, 0);

    // Zero-count frames take 3 bytes each, fail the checksum and still count.
    Bytes zeros = sampleImage(0);
    zeros += Bytes{'S', '1', 0, 'S', '1', 0};
    const ReadResult withZeros = readImage(zeros);
    ASSERT_EQ(withZeros.outcome, ReadOutcome::Ok);
    EXPECT_EQ(withZeros.image.frameCount, 2);
    EXPECT_FALSE(withZeros.summary.checksumsOk);
}
