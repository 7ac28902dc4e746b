#include <gtest/gtest.h>

#include "tests/image/image_fixtures.h"

using namespace fixtures;

TEST(ShexReader, ConvertsInPlaceToTheExactFrameRun) {
    const Bytes run = sampleImage(4);
    Bytes text = toShex(run);
    const std::uint8_t* original = text.data();
    const ReadResult result = readImage(std::move(text));
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_EQ(result.summary.format, ImageFormat::SHEX);
    EXPECT_EQ(result.image.bytes(), original);  // the file's own buffer
    EXPECT_EQ(runOf(result), run);
    EXPECT_EQ(result.image.size, run.size());  // frame bytes produced, not the file's size
    EXPECT_EQ(result.image.frameCount, 4);
    EXPECT_TRUE(result.summary.checksumsOk);
}

TEST(ShexReader, LineEndsAndCaseGiveTheSameImage) {
    const Bytes run = sampleImage(6);
    for (const char* lineEnd : {"\r\n", "\n", "", "\r", "  \t;junk\n"}) {
        for (bool lowercase : {false, true}) {
            const ReadResult result = readImage(toShex(run, lineEnd, lowercase));
            ASSERT_EQ(result.outcome, ReadOutcome::Ok);
            EXPECT_EQ(runOf(result), run)
                << "line end size " << std::string(lineEnd).size() << " lowercase " << lowercase;
            EXPECT_TRUE(result.summary.checksumsOk);
        }
    }
}

TEST(ShexReader, LongestRecordsSurviveTheInPlaceConversion) {
    Bytes run = headerFrame();
    for (int i = 0; i < 8; ++i) run += frame('3', Bytes(254, static_cast<std::uint8_t>(0x30 + i)));
    run += endFrame();
    const ReadResult result = readImage(toShex(run, "\r\n"));
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_EQ(runOf(result), run);
}

TEST(ShexReader, AnSInOtherTextStartsARecord) {
    const Bytes header = headerFrame(), end = endFrame();
    // "Sx01FE" in a comment is a record: 'S', 'x', count 1, checksum 0xFE.
    Bytes text = toShex(header);
    text += bytesOf("; Sx01FE note\n");
    text += toShex(end);
    const ReadResult result = readImage(text);
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    Bytes expected = header;
    expected += Bytes{'S', 'x', 0x01, 0xFE};
    expected += end;
    EXPECT_EQ(runOf(result), expected);
    EXPECT_EQ(result.image.frameCount, 1);
    EXPECT_TRUE(result.summary.checksumsOk);
}

TEST(ShexReader, GarbageDigitsShowAsChecksumFailureNotCorruption) {
    Bytes text = toShex(sampleImage(2));
    const std::size_t secondRecord = std::string(text.begin(), text.end()).find("S1");
    text[secondRecord + 10] = 'Z';  // a data digit
    const ReadResult result = readImage(text);
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_FALSE(result.summary.checksumsOk);
    EXPECT_EQ(result.image.frameCount, 2);
}

TEST(ShexReader, ZeroCountRecordIsAFailedFrameOfThreeBytes) {
    Bytes text = toShex(headerFrame());
    text += bytesOf("S500\n");
    text += toShex(endFrame());
    const ReadResult result = readImage(text);
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_FALSE(result.summary.checksumsOk);
    EXPECT_EQ(result.image.frameCount, 1);
    EXPECT_EQ(result.image.size, headerFrame().size() + 3 + endFrame().size());
}

TEST(ShexReader, RecordReachingPastTheEndIsCorrupt) {
    Bytes text = toShex(sampleImage());
    text.resize(text.size() - 2);  // drop "C\n" of the last record: its checksum digit is missing
    EXPECT_EQ(readImage(text).outcome, ReadOutcome::CorruptFile);

    for (const char* tail : {"S", "S9", "S90"}) {  // a record start with no room for its count
        Bytes cut = toShex(sampleImage());
        cut += bytesOf(tail);
        EXPECT_EQ(readImage(cut).outcome, ReadOutcome::CorruptFile) << tail;
    }
}

TEST(ShexReader, FewerThanTwoRecordsIsCorrupt) {
    EXPECT_EQ(readImage(toShex(headerFrame())).outcome, ReadOutcome::CorruptFile);
    EXPECT_EQ(readImage(bytesOf("S0")).outcome, ReadOutcome::CorruptFile);
    const ReadResult two = readImage(toShex(headerFrame() + endFrame()));
    ASSERT_EQ(two.outcome, ReadOutcome::Ok);
    EXPECT_EQ(two.image.frameCount, 0);
}
