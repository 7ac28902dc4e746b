#include <gtest/gtest.h>

#include "image/readers.h"
#include "tests/image/image_fixtures.h"

using namespace fixtures;

namespace {
ReadResult read(const Bytes& content) {
    return readImage(content);
}
}  // namespace

TEST(DetectFormat, FirstBytesOfNoFormatAreUnrecognized) {
    const Bytes text = toShex(sampleImage());
    Bytes s1 = text;
    s1[1] = '1';
    for (const Bytes& content : {Bytes{}, Bytes{'S'}, bytesOf("hello"), s1, bytesOf("\n") + text,
                                 bytesOf(" ") + text, bytesOf("\r\n") + sampleImage()}) {
        EXPECT_EQ(read(content).outcome, ReadOutcome::UnrecognizedFormat);
    }
}

TEST(DetectFormat, S0IsBinaryOnlyWhenBothFrameTestsPass) {
    const auto detect = [](const Bytes& content) { return detectFormat(content.data(), content.size()); };
    EXPECT_EQ(detect(sampleImage()), ImageFormat::SBIN);
    EXPECT_EQ(detect(toShex(sampleImage())), ImageFormat::SHEX);
    EXPECT_EQ(detect(headerFrame() + endFrame()), ImageFormat::SBIN);

    // A bad checksum in the first or the second frame makes it text; in the third it does not matter.
    EXPECT_EQ(detect(frame('0', {0, 0, 'H'}, false) + dataFrame(0, 4) + endFrame()), ImageFormat::SHEX);
    EXPECT_EQ(detect(headerFrame() + frame('1', {0, 0, 1}, false) + endFrame()), ImageFormat::SHEX);
    EXPECT_EQ(detect(headerFrame() + dataFrame(0, 4) + frame('9', {0, 0}, false)), ImageFormat::SBIN);
    // The second frame's leading 'S' and type are not looked at.
    Bytes noS = headerFrame() + dataFrame(0, 4) + endFrame();
    noS[headerFrame().size()] = 'X';
    EXPECT_EQ(detect(noS), ImageFormat::SBIN);
    EXPECT_EQ(readImage(noS).outcome, ReadOutcome::CorruptFile);
    // Second frame cut before its checksum byte: the test would read past the end, so it fails.
    Bytes cut = headerFrame() + dataFrame(0, 4);
    cut.pop_back();
    EXPECT_EQ(detect(cut), ImageFormat::SHEX);
}

TEST(DetectFormat, SecondFrameTestReachingPastTheEndMeansNotBinary) {
    // A valid header frame alone: the second count byte lies past the end, so the binary test fails and the
    // content is read as text, which then holds a record running past the end.
    const Bytes header = headerFrame();
    const ReadResult alone = read(header);
    EXPECT_EQ(alone.outcome, ReadOutcome::CorruptFile);

    // Second frame present but cut short before its checksum byte: same.
    Bytes cut = headerFrame() + dataFrame(0, 8);
    cut.pop_back();
    EXPECT_EQ(read(cut).outcome, ReadOutcome::CorruptFile);
}

TEST(DetectFormat, PercentStartsEmmaWhateverFollows) {
    EXPECT_EQ(read(toEmma(sampleImage())).summary.format, ImageFormat::EMMA);
    EXPECT_EQ(read(bytesOf("%")).outcome, ReadOutcome::CorruptFile);  // EMMA, but too short for its header
}
