// readImage over one table of files: detection, the three readers, frame counts, checksums, version marks.
#include "image/read_image.h"

#include <gtest/gtest.h>

#include <optional>

#include "image/readers.h"
#include "image/summary_text.h"
#include "tests/support/sample_image.h"

using namespace sample;

namespace {

using enum ReadOutcome;
using enum ImageFormat;

struct Case {
    std::string name;
    Bytes content;
    ReadOutcome outcome;
    std::optional<Bytes> run = {};  // the frame run expected, when known
    int frames = 0;  // -1: not checked
    ImageFormat format = SBIN;
    bool checksumsOk = true;
    std::optional<std::string> version = {};
};

Bytes with(Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

Bytes cut(Bytes bytes, std::size_t count) {
    bytes.resize(bytes.size() - count);
    return bytes;
}

// An SBIN image whose "CXC" mark starts at image offset `at` (at >= 120).
Bytes markAt(std::size_t at) {
    Bytes run = header();
    while (at - run.size() > 200)
        run = run + frame('1', Bytes(std::min<std::size_t>(254, at - run.size() - 100), 0x11));
    return run + frame('1', Bytes(at - run.size() - 3, 0x22) + bytesOf("CXC123456")) + endFrame();
}

std::vector<Case> cases() {
    const Bytes run3 = image(3), run5 = image(5), two = header() + endFrame(), text = toShex(run3);
    const Bytes odd = header() + Bytes{'S', 'x', 0x01, 0xFE} + endFrame(),
                zeroRecord = header() + Bytes{'S', '5', 0} + endFrame();
    Bytes longest = header();
    for (int i = 0; i < 8; ++i)
        longest = longest + frame('3', Bytes(254, static_cast<std::uint8_t>(0x30 + i)));
    longest = longest + endFrame();
    Bytes controls;
    for (int b = 0; b < 0x20; ++b) controls.push_back(static_cast<std::uint8_t>(b));
    Bytes growth = toEmma({});  // two-byte records grow the most: 3 bytes out for 2 in
    for (int i = 0; i < 5000; ++i) growth = growth + Bytes{'1', EMMA_MASK};
    const Bytes endMark =
        cut(header() + frame('1', {0, 0, 1, 2}) + frame('9', {0, 0, 'C', 'X', 'C', '1'}), 1) + bytesOf("2");
    std::vector<Case> c = {
        {"empty", {}, UnrecognizedFormat},
        {"lone S", {'S'}, UnrecognizedFormat},
        {"other text", bytesOf("hello"), UnrecognizedFormat},
        {"S1 first", with(text, 1, '1'), UnrecognizedFormat},
        {"blank line first", bytesOf("\n") + text, UnrecognizedFormat},
        {"space first", bytesOf(" ") + text, UnrecognizedFormat},
        {"line end before binary", bytesOf("\r\n") + run3, UnrecognizedFormat},
        {"sbin", run5, Ok, run5, 5},
        {"sbin bad checksum", image(3, "HDR", 16, false), Ok, image(3, "HDR", 16, false), 3, SBIN, false},
        {"sbin two frames", two, Ok, two, 0},
        {"sbin zero-count frames", two + bytesOf("S1") + Bytes{0, 'S', '1', 0}, Ok,
         two + bytesOf("S1") + Bytes{0, 'S', '1', 0}, 2, SBIN, false},
        {"sbin LF after", run3 + bytesOf("\n"), CorruptFile},
        {"sbin CR LF after", run3 + bytesOf("\r\n"), CorruptFile},
        {"sbin NUL after", run3 + Bytes{0}, CorruptFile},
        {"sbin lower s after", run3 + bytesOf("s"), CorruptFile},
        {"sbin X between", image(1) + bytesOf("X") + image(1), CorruptFile},
        {"sbin cut checksum", cut(run3, 1), CorruptFile},
        {"sbin start without count", run3 + bytesOf("S9"), CorruptFile},
        {"header alone", header(), CorruptFile},
        {"second frame cut", cut(header() + frame('1', Bytes(10, 1)), 1), CorruptFile},
        {"no-S second frame", with(two + frame('1', {0, 0, 1}), header().size(), 'X'), CorruptFile},
        {"shex longest records", toShex(longest), Ok, longest, 8, SHEX},
        {"shex S in other text", toShex(header()) + bytesOf("; Sx01FE note\n") + toShex(endFrame()), Ok, odd,
         1, SHEX},
        {"shex garbage digit", with(text, text.size() - 20, 'Z'), Ok, {}, 3, SHEX, false},
        {"shex zero-count record", toShex(header()) + bytesOf("S500\n") + toShex(endFrame()), Ok, zeroRecord,
         1, SHEX, false},
        {"shex cut checksum digit", cut(text, 3), CorruptFile},
        {"shex tail S", text + bytesOf("S"), CorruptFile},
        {"shex tail S9", text + bytesOf("S9"), CorruptFile},
        {"shex tail S90", text + bytesOf("S90"), CorruptFile},
        {"shex one record", toShex(header()), CorruptFile},
        {"shex S0 only", bytesOf("S0"), CorruptFile},
        {"shex two records", toShex(two), Ok, two, 0, SHEX},
        {"shex leftover mark", text + bytesOf("CXC999999\n"), Ok, run3, 3, SHEX},
        {"shex mark", toShex(image(2, "CXC777777")), Ok, image(2, "CXC777777"), 2, SHEX, true, " CXC777777"},
        {"emma", toEmma(image(5, "CXC1234567"), "R3B", "010203_0405"), Ok, image(5, "CXC1234567"), 5, EMMA,
         true, " CXC123456 R3B 010203_0405"},
        {"emma without mark", toEmma(run3, "R3B"), Ok, run3, 3, EMMA},
        {"emma control bytes skipped", toEmma(run3, "R1A", "000000_0000", 0, controls), Ok, run3, 3, EMMA},
        {"emma too short", cut(toEmma({}), 3), CorruptFile},
        {"emma percent alone", bytesOf("%"), CorruptFile},
        {"emma no marker", with(with(toEmma(run3), 38, '.'), 39, '.'), CorruptFile},
        {"emma cut record", cut(toEmma(run3, "R1A", "000000_0000", 0, {}), 1), CorruptFile},
        {"emma one frame", toEmma(header()), CorruptFile},
        {"emma marker ends at 2047", toEmma(run3, "R1A", "000000_0000", 2046 - 38), Ok, run3, 3, EMMA},
        {"emma marker past the window", toEmma(run3, "R1A", "000000_0000", 2047 - 38), CorruptFile},
        {"emma worst growth", growth, Ok, {}, 4998, EMMA, false},
        {"mark at 2045", markAt(2045), Ok, markAt(2045), -1, SBIN, true, " CXC123456"},
        {"mark at 2046", markAt(2046), Ok, markAt(2046), -1},
        {"mark at 2047", markAt(2047), Ok, markAt(2047), -1},
        {"mark at the very end", endMark, Ok, endMark, 1, SBIN, false, " CXC12"},
    };
    for (const char* lineEnd : {"\r\n", "\n", "", "\r", "  \t;junk\n"})
        for (bool lower : {false, true})
            c.push_back({std::string("shex line end ") + std::to_string(std::string(lineEnd).size()) +
                             (lower ? " lower" : ""),
                         toShex(run5, lineEnd, lower), Ok, run5, 5, SHEX});
    for (std::uint8_t type : {0x20, 0x80, 0xFF}) {
        const Bytes typed = header() + Bytes{'S', type, 0x01, 0xFE} + endFrame();
        c.push_back({"emma type " + std::to_string(type), toEmma(typed), Ok, typed, 1, EMMA});
    }
    // Any changed masked byte of a data record (address, data, checksum) fails its checksum.
    const Bytes emma = toEmma(image(1));
    for (std::size_t i = 1; i <= 19; ++i) {
        const std::size_t at = 40 + header().size() - 1 + 2 + 1 + i;
        c.push_back(
            {"emma changed byte " + std::to_string(i), with(emma, at, emma[at] ^ 1), Ok, {}, 1, EMMA, false});
    }
    return c;
}

TEST(ReadImage, EveryCaseOfTheTable) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const ReadResult r = readImage(c.content);
        ASSERT_EQ(r.outcome, c.outcome);
        if (r.outcome != Ok) continue;
        EXPECT_EQ(r.summary.format, c.format);
        EXPECT_EQ(r.summary.frameCount, r.image.frameCount);
        if (c.frames >= 0) EXPECT_EQ(r.image.frameCount, c.frames);
        EXPECT_EQ(r.summary.checksumsOk, c.checksumsOk);
        EXPECT_EQ(r.summary.versionText, c.version);
        EXPECT_EQ(r.summary.size, r.image.size);
        ASSERT_LE(r.image.size, r.image.data.size());
        if (c.run) {
            EXPECT_EQ(Bytes(r.image.data.begin(), r.image.data.begin() + r.image.size), *c.run);
        }
    }
}

TEST(ReadImage, DetectionLooksAtTheFirstTwoFramesAndTheBufferIsTakenOver) {
    const auto detect = [](const Bytes& b) { return detectFormat(b.data(), b.size()); };
    EXPECT_EQ(detect(image(1)), SBIN);
    EXPECT_EQ(detect(toShex(image(1))), SHEX);
    EXPECT_EQ(detect(frame('0', {0, 0, 'H'}, false) + frame('1', {0, 0, 1}) + endFrame()), SHEX);
    EXPECT_EQ(detect(header() + frame('1', {0, 0, 1}, false) + endFrame()), SHEX);
    EXPECT_EQ(detect(header() + frame('1', {0, 0, 1}) + frame('9', {0, 0}, false)), SBIN);
    EXPECT_EQ(detect(cut(header() + frame('1', {0, 0, 1}), 1)),
              SHEX);  // the second test would read past the end
    // SBIN keeps the file's buffer as it stands; SHEX is converted inside it.
    for (Bytes content : {image(2), toShex(image(2))}) {
        const std::uint8_t* original = content.data();
        EXPECT_EQ(readImage(std::move(content)).image.bytes(), original);
    }
}
}  // namespace
