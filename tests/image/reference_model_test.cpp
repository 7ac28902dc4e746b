// Differential test: readImage against a deliberately plain reading of the format rules (text copied down
// with a byte loop and converted where it lands, every access bounds-checked by vector::at), on thousands of
// mutated files of all three formats.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "tests/image/image_fixtures.h"

using namespace fixtures;

namespace {

struct Expected {
    ReadOutcome outcome = ReadOutcome::UnrecognizedFormat;
    ImageFormat format = ImageFormat::SBIN;
    Bytes run;
    std::int32_t frameCount = 0;
    bool checksumsOk = true;
    std::optional<std::string> version;
};

std::uint8_t digit(std::uint8_t c) {
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c > '9') c = static_cast<std::uint8_t>(c - 7);
    return static_cast<std::uint8_t>(c - '0');
}

bool checksumAt(const Bytes& buffer, std::size_t countAt, std::size_t end) {
    if (countAt >= end) return false;
    const std::size_t n = buffer.at(countAt);
    if (n == 0 || countAt + n >= end) return false;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + buffer.at(countAt + i));
    return buffer.at(countAt + n) == static_cast<std::uint8_t>(255 - sum);
}

std::int64_t find(const Bytes& buffer, std::size_t length, const std::string& pattern) {
    const std::size_t window = std::min<std::size_t>(length, 2048);
    if (window < pattern.size()) return -1;
    for (std::size_t p = 0; p + pattern.size() <= window; ++p) {
        if (std::equal(pattern.begin(), pattern.end(), buffer.begin() + static_cast<std::ptrdiff_t>(p))) {
            return static_cast<std::int64_t>(p);
        }
    }
    return -1;
}

Expected corrupt() {
    return Expected{ReadOutcome::CorruptFile, {}, {}, 0, true, {}};
}

Expected model(Bytes c) {
    Expected e;
    const std::size_t size = c.size();
    Bytes out;
    std::size_t frames = 0;
    std::string emmaHeader;
    if (size >= 2 && c[0] == 'S' && c[1] == '0') {
        e.format = (checksumAt(c, 2, size) && checksumAt(c, std::size_t{c[2]} + 5, size)) ? ImageFormat::SBIN
                                                                                          : ImageFormat::SHEX;
    } else if (size >= 1 && c[0] == '%') {
        e.format = ImageFormat::EMMA;
    } else {
        return e;
    }

    if (e.format == ImageFormat::SBIN) {
        for (std::size_t position = 0; position < size; position += std::size_t{c.at(position + 2)} + 3) {
            if (c[position] != 'S' || position + 2 >= size || position + c[position + 2] + 3 > size)
                return corrupt();
            if (!checksumAt(c, position + 2, size)) e.checksumsOk = false;
            ++frames;
        }
        out = c;
    } else if (e.format == ImageFormat::SHEX) {
        std::size_t in = 0, o = 0;
        while (in < size) {
            if (c[in] != 'S') {
                ++in;
                continue;
            }
            if (in + 4 > size) return corrupt();
            const std::size_t n = static_cast<std::uint8_t>((digit(c[in + 2]) << 4) | digit(c[in + 3]));
            if (in + 2 * n + 4 > size) return corrupt();
            for (std::size_t i = 0; i < 2 * n + 4; ++i) c.at(o + i) = c.at(in + i);
            for (std::size_t k = 0; k <= n; ++k) {
                c.at(o + 2 + k) =
                    static_cast<std::uint8_t>((digit(c.at(o + 2 + 2 * k)) << 4) | digit(c.at(o + 3 + 2 * k)));
            }
            if (!checksumAt(c, o + 2, o + n + 3)) e.checksumsOk = false;
            ++frames;
            in += 2 * n + 4;
            o += n + 3;
        }
        out.assign(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(o));
    } else {
        if (size < 38) return corrupt();
        emmaHeader = " " + std::string(c.begin() + 23, c.begin() + 26) + " " +
                     std::string(c.begin() + 27, c.begin() + 38);
        const std::int64_t marker = find(c, size, "#%");
        if (marker < 0) return corrupt();
        for (std::size_t in = static_cast<std::size_t>(marker) + 2; in < size;) {
            if (c[in] < 0x20) {
                ++in;
                continue;
            }
            if (in + 1 >= size) return corrupt();
            const std::size_t n = c[in + 1] ^ EMMA_MASK;
            if (in + n + 2 > size) return corrupt();
            const std::size_t start = out.size();
            out.push_back('S');
            out.push_back(c[in]);
            for (std::size_t i = 0; i <= n; ++i) out.push_back(c.at(in + 1 + i) ^ EMMA_MASK);
            if (!checksumAt(out, start + 2, out.size())) e.checksumsOk = false;
            ++frames;
            in += n + 2;
        }
        if (out.size() > size + size / 2) return corrupt();
    }
    if (frames < 2) return corrupt();
    e.outcome = ReadOutcome::Ok;
    e.run = out;
    e.frameCount = static_cast<std::int32_t>(frames - 2);
    const std::int64_t mark = find(out, out.size(), "CXC");
    if (mark >= 0) {
        const std::size_t from = static_cast<std::size_t>(mark);
        e.version =
            " " + std::string(out.begin() + static_cast<std::ptrdiff_t>(from),
                              out.begin() + static_cast<std::ptrdiff_t>(std::min(out.size(), from + 9)));
        if (e.format == ImageFormat::EMMA) *e.version += emmaHeader;
    }
    return e;
}

Bytes mutate(Bytes bytes, std::mt19937& random) {
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < edits && !bytes.empty(); ++i) {
        const std::size_t at = random() % bytes.size();
        const auto value = static_cast<std::uint8_t>(random());
        switch (random() % 6) {
            case 0:
                bytes[at] = value;
                break;
            case 1:
                bytes[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                break;
            case 2:
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), value);
                break;
            case 3:
                bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            case 4:
                bytes.resize(at);
                break;
            case 5:
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), 'S');
                break;
        }
    }
    return bytes;
}

}  // namespace

TEST(ReferenceModel, MutatedFilesOfEveryFormatReadTheSame) {
    const Bytes run = sampleImage(6, "CXC424242");
    const std::vector<Bytes> bases = {run, toShex(run, "\r\n"), toShex(run, "", true), toEmma(run),
                                      toEmma(run, "R1A", "000000_0000", 2000)};
    std::mt19937 random(20240611);
    int ok = 0, corruptCount = 0, unrecognized = 0;
    for (int iteration = 0; iteration < 30000; ++iteration) {
        const Bytes input = mutate(bases[iteration % bases.size()], random);
        const Expected expected = model(input);
        const ReadResult actual = readImage(input);
        ASSERT_EQ(actual.outcome, expected.outcome) << "iteration " << iteration;
        if (actual.outcome == ReadOutcome::CorruptFile) ++corruptCount;
        if (actual.outcome == ReadOutcome::UnrecognizedFormat) ++unrecognized;
        if (actual.outcome != ReadOutcome::Ok) continue;
        ++ok;
        ASSERT_EQ(actual.summary.format, expected.format) << "iteration " << iteration;
        ASSERT_EQ(runOf(actual), expected.run) << "iteration " << iteration;
        ASSERT_EQ(actual.image.frameCount, expected.frameCount) << "iteration " << iteration;
        ASSERT_EQ(actual.summary.checksumsOk, expected.checksumsOk) << "iteration " << iteration;
        ASSERT_EQ(actual.summary.versionText, expected.version) << "iteration " << iteration;
    }
    // The mutations must exercise every outcome, or the comparison proves little.
    EXPECT_GT(ok, 5000);
    EXPECT_GT(corruptCount, 1000);
    EXPECT_GT(unrecognized, 100);
}
