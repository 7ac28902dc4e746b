// readImage over tables of files: detection, the three readers, frame counts, checksums, version marks.
#include "image/read_image.h"

#include <gtest/gtest.h>

#include "image/readers.h"
#include "tests/support/sample_image.h"

using namespace sample;

namespace {

using enum ReadOutcome;
using enum ImageFormat;

// An SBIN image whose "CXC" mark starts at image offset `at` (at >= 120).
Bytes markAt(std::size_t at) {
    Bytes run = header();
    while (at - run.size() > 200)
        run = run + frame('1', Bytes(std::min<std::size_t>(254, at - run.size() - 100)));
    return run + frame('1', Bytes(at - run.size() - 3) + bytesOf("CXC123456")) + endFrame();
}

const Bytes run3 = image(3), text = toShex(run3), two = header() + endFrame();

TEST(ReadImage, RefusesWhatHoldsNoImageAndSaysWhichCheckAndWhere) {
    // No format's first bytes: an S1 record first, a line end or space first.
    for (const Bytes& content :
         {with(text, 1, '1'), bytesOf("\n") + text, bytesOf(" ") + text, bytesOf("\r\n") + run3})
        EXPECT_EQ(readImage(content).outcome, UnrecognizedFormat) << content.size();
    // SBIN with anything but 'S' at a frame start, frames that reach past the end, a lone header; SHEX
    // records that reach past the end; EMMA too short or with one frame.
    const Bytes corrupt[] = {run3 + Bytes{0},
                             run3 + bytesOf("s"),
                             image(1) + bytesOf("X") + image(1),
                             header(),
                             cut(header() + frame('1', Bytes(10, 1))),
                             with(two + frame('1', {0, 0, 1}), header().size(), 'X'),
                             text + bytesOf("S"),
                             text + bytesOf("S90"),
                             cut(toEmma({}), 3),
                             with(with(toEmma(run3), 38, '.'), 39, '.'),
                             toEmma(header())};
    for (std::size_t i = 0; i < std::size(corrupt); ++i)
        EXPECT_EQ(readImage(corrupt[i]).outcome, CorruptFile) << i;
    // Each check's reason, with the offset of the frame it stopped at (the first three: no format at all).
    const Bytes emmaRun = cut(toEmma(run3, "R1A", "000000_0000", 0, {}));
    const std::string cutShort = " is cut short: ";
    const std::pair<Bytes, std::string> rows[] = {
        {{}, "the file is empty"},
        {bytesOf("hello"),
         "the first bytes, 68 65 6C 6C (\"hell\"), are not the start of an SBIN, SHEX or EMMA image"},
        {bytesOf("\x01S"),
         "the first bytes, 01 53 (\".S\"), are not the start of an SBIN, SHEX or EMMA image"},
        {run3 + bytesOf("\n"), "read as SBIN, frame 6 at offset 81 begins with 0A (\".\"), not with S"},
        {cut(run3), "read as SBIN, frame 5 at offset 75" + cutShort + "5 of its 6 bytes are in the file"},
        {run3 + bytesOf("S9"),
         "read as SBIN, frame 6 at offset 81" + cutShort + "2 of its 3 bytes are in the file"},
        {bytesOf("S0"), "read as SHEX, frame 1 at offset 0" + cutShort + "2 of its 4 bytes are in the file"},
        {cut(text, 3), "read as SHEX, frame 5 at offset " + std::to_string(text.size() - 12) + cutShort +
                           "9 of its 10 bytes are in the file"},
        {toShex(header()),
         "read as SHEX, too few frames: 1 frame, where an image needs a header and a termination frame"},
        {toEmma({}),
         "read as EMMA, too few frames: 0 frames, where an image needs a header and a termination frame"},
        {bytesOf("%PDF"), "the EMMA header" + cutShort + "4 of its 38 bytes are in the file"},
        {toEmma(run3, "R1A", "000000_0000", 2047 - 38), "no #% in the EMMA header's first 2,048 bytes"},
        {emmaRun, "read as EMMA, frame 5 at offset 111" + cutShort + "4 of its 5 bytes are in the file"},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const ReadResult r = readImage(rows[i].first);
        EXPECT_EQ(r.outcome, i < 3 ? UnrecognizedFormat : CorruptFile) << i;
        EXPECT_EQ(loadFailureReason("in/f\n", r.failure), "in/f\u240a: " + rows[i].second);
    }
    EXPECT_EQ(loadFailureReason("f", readImage(run3).failure), "");
}

struct Case {
    std::string name;
    Bytes content;
    std::optional<Bytes> run;  // the frame run expected, when known
    int frames;                // -1: not checked
    ImageFormat format = SBIN;
    bool checksumsOk = true;
    std::optional<std::string> version = {};
};

TEST(ReadImage, ReadsEveryFormatIntoTheSameFrames) {
    const Bytes run5 = image(5), marked = image(2, "CXC777777"), bad = image(3, "HDR", 16, false);
    const Bytes odd = header() + Bytes{'S', 'x', 0x01, 0xFE} + endFrame(),
                zeros = two + bytesOf("S1") + Bytes{0, 'S', '1', 0};
    const Bytes endMark =
        cut(header() + frame('1', {0, 0, 1, 2}) + frame('9', {0, 0, 'C', 'X', 'C', '1'}), 1) + bytesOf("2");
    const Bytes longest = image(8, "HDR", 252);  // count 255: the longest records
    Bytes controls, growth = toEmma({});
    for (int b = 0; b < 0x20; ++b) controls.push_back(static_cast<std::uint8_t>(b));
    for (int i = 0; i < 5000; ++i) growth = growth + Bytes{'1', EMMA_MASK};  // grows the most: 3 bytes for 2
    std::vector<Case> cases = {
        {"sbin", run5, run5, 5},
        {"sbin bad checksum", bad, bad, 3, SBIN, false},
        {"sbin two frames", two, two, 0},
        {"sbin zero-count frames", zeros, zeros, 2, SBIN, false},
        {"shex longest records", toShex(longest, ""), longest, 8, SHEX},
        {"shex S in other text", toShex(header()) + bytesOf("; Sx01FE\n") + toShex(endFrame()), odd, 1, SHEX},
        {"shex garbage digit", with(text, text.size() - 20, 'Z'), {}, 3, SHEX, false},
        {"shex zero-count record", toShex(header()) + bytesOf("S500\n") + toShex(endFrame()),
         header() + Bytes{'S', '5', 0} + endFrame(), 1, SHEX, false},
        {"shex leftover mark", text + bytesOf("CXC999999\n"), run3, 3, SHEX},
        {"shex mark", toShex(marked), marked, 2, SHEX, true, " CXC777777"},
        {"emma", toEmma(image(5, "CXC1234567"), "R3B", "010203_0405"), image(5, "CXC1234567"), 5, EMMA, true,
         " CXC123456 R3B 010203_0405"},
        {"emma without mark", toEmma(run3, "R3B"), run3, 3, EMMA},
        {"emma control bytes skipped", toEmma(run3, "R1A", "000000_0000", 0, controls), run3, 3, EMMA},
        {"emma marker ends at 2047", toEmma(run3, "R1A", "000000_0000", 2046 - 38), run3, 3, EMMA},
        {"emma worst growth", growth, {}, 4998, EMMA, false},
        {"mark at 2045", markAt(2045), markAt(2045), -1, SBIN, true, " CXC123456"},
        {"mark at 2046", markAt(2046), markAt(2046), -1},
        {"mark at the very end", endMark, endMark, 1, SBIN, false, " CXC12"},
    };
    for (const char* lineEnd : {"\r\n", "\n", "", "\r", "  \t;junk\n"})
        for (bool lower : {false, true})
            cases.push_back({"shex line end", toShex(run5, lineEnd, lower), run5, 5, SHEX});
    for (std::uint8_t type : {0x20, 0x80, 0xFF}) {
        const Bytes typed = header() + Bytes{'S', type, 0x01, 0xFE} + endFrame();
        cases.push_back({"emma type " + std::to_string(type), toEmma(typed), typed, 1, EMMA});
    }
    const Bytes emma = toEmma(image(1));  // any changed masked byte of the data record fails its checksum
    for (std::size_t at = 40 + header().size() + 3, i = 0; i < 19; ++at, ++i)  // address, data, checksum
        cases.push_back(
            {"emma changed byte " + std::to_string(i), with(emma, at, emma[at] ^ 1), {}, 1, EMMA, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult r = readImage(c.content);
        ASSERT_EQ(r.outcome, Ok);
        EXPECT_EQ(r.summary.format, c.format);
        EXPECT_EQ(r.summary.frameCount, r.image.frameCount);
        EXPECT_TRUE(c.frames < 0 || r.image.frameCount == c.frames) << r.image.frameCount;
        EXPECT_EQ(r.summary.checksumsOk, c.checksumsOk);
        EXPECT_EQ(r.summary.versionText, c.version);
        EXPECT_EQ(r.summary.size, r.image.size);
        ASSERT_LE(r.image.size, r.image.data.size());
        EXPECT_TRUE(!c.run || Bytes(r.image.data.begin(), r.image.data.begin() + r.image.size) == *c.run);
    }
}

TEST(ReadImage, DetectionLooksAtTheFirstTwoFrames) {
    const auto detect = [](const Bytes& b) { return detectFormat(b.data(), b.size()); };
    EXPECT_EQ(detect(image(1)), SBIN);
    EXPECT_EQ(detect(toShex(image(1))), SHEX);
    EXPECT_EQ(detect(frame('0', {0, 0, 'H'}, false) + frame('1', {0, 0, 1}) + endFrame()), SHEX);
    EXPECT_EQ(detect(header() + frame('1', {0, 0, 1}, false) + endFrame()), SHEX);
    EXPECT_EQ(detect(header() + frame('1', {0, 0, 1}) + frame('9', {0, 0}, false)), SBIN);
    EXPECT_EQ(detect(cut(header() + frame('1', {0, 0, 1}), 1)), SHEX);  // the second test would read past
}

}  // namespace
