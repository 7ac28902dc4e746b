#include <gtest/gtest.h>

#include <algorithm>

#include "image/summary_text.h"
#include "tests/image/image_fixtures.h"

using namespace fixtures;

namespace {

// An SBIN image whose "CXC" mark starts at image offset `at` (at >= 120): filler frames, then a data frame
// whose body places the mark exactly.
Bytes imageWithMarkAt(std::size_t at, const std::string& version = "CXC123456") {
    Bytes run = headerFrame();
    while (at - run.size() > 200)
        run += frame('1', Bytes(std::min<std::size_t>(254, at - run.size() - 100), 0x11));
    Bytes body{0, 0};
    body += Bytes(at - run.size() - 5, 0x22);  // 'S', type, count and two address bytes come first
    body += bytesOf(version);
    run += frame('1', body);
    run += endFrame();
    return run;
}

}  // namespace

TEST(VersionText, MarkInTheFirst2048BytesOfTheImageIsFound) {
    const ReadResult at2045 = readImage(imageWithMarkAt(2045));
    ASSERT_EQ(at2045.outcome, ReadOutcome::Ok);
    EXPECT_EQ(at2045.summary.versionText, std::string(" CXC123456"));

    for (std::size_t at : {std::size_t{2046}, std::size_t{2047}, std::size_t{3000}}) {
        const ReadResult late = readImage(imageWithMarkAt(at));
        ASSERT_EQ(late.outcome, ReadOutcome::Ok);
        EXPECT_FALSE(late.summary.versionText.has_value()) << at;
    }
}

TEST(VersionText, NulByteEndsTheShownText) {
    const ReadResult result = readImage(sampleImage(1, std::string("CXC12\0"
                                                                   "456",
                                                                   9)));
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_EQ(result.summary.versionText->size(), 10u);
    EXPECT_EQ(displayVersion(result.summary), " CXC12");
    EXPECT_EQ(summaryTexts(result.summary).version, " CXC12");
}

TEST(VersionText, MarkNearTheEndKeepsOnlyTheBytesThatExist) {
    // The image's last bytes are "CXC" + 2 more: the text holds those five.
    Bytes run = headerFrame() + dataFrame(0, 4) + frame('9', {0, 0, 'C', 'X', 'C', '1'});
    run.back() = '2';  // the checksum byte, now wrong, is the fifth byte after the mark
    const ReadResult result = readImage(run);
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_EQ(result.summary.versionText, std::string(" CXC12"));
}

TEST(VersionText, ShexSearchesTheImageNotTheLeftoverText) {
    // The text after the last record still sits in the buffer past the image's size; a mark there is not
    // part of the image.
    Bytes text = toShex(sampleImage(2));
    text += bytesOf("CXC999999\n");
    const ReadResult result = readImage(text);
    ASSERT_EQ(result.outcome, ReadOutcome::Ok);
    EXPECT_FALSE(result.summary.versionText.has_value());

    const ReadResult marked = readImage(toShex(sampleImage(2, "CXC777777")));
    EXPECT_EQ(marked.summary.versionText, std::string(" CXC777777"));
}

TEST(SummaryTexts, ExactFieldTexts) {
    ImageSummary summary;
    summary.format = ImageFormat::EMMA;
    summary.size = 3000000000u;  // past 2 GiB: must not turn negative
    summary.frameCount = 12;
    summary.checksumsOk = false;
    const SummaryTexts texts = summaryTexts(summary);
    EXPECT_EQ(texts.format, "EMMA");
    EXPECT_EQ(texts.version, "");
    EXPECT_EQ(texts.size, " 3000000000 bytes");
    EXPECT_EQ(texts.frames, "12");
    EXPECT_EQ(texts.crc, "ERROR");
    summary.checksumsOk = true;
    EXPECT_EQ(summaryTexts(summary).crc, "OK");
    EXPECT_STREQ(formatName(ImageFormat::SBIN), "SBIN");
    EXPECT_STREQ(formatName(ImageFormat::SHEX), "SHEX");
}
