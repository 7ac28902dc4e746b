#include "image/byte_ops.h"
#include "image/read_image.h"
#include "image/readers.h"

namespace {
constexpr std::size_t kField1Offset = 23;
constexpr std::size_t kField1Length = 3;
constexpr std::size_t kField2Offset = 27;
constexpr std::size_t kField2Length = 11;
constexpr std::uint8_t kMarker[] = {'#', '%'};
}  // namespace

bool decodeEmma(const std::uint8_t* content, std::size_t size, std::uint8_t* output, std::size_t outputSize,
                FrameRun& run, std::string& headerText) {
    if (size < kEmmaMinimumSize) {
        run.failure = LoadFailure(LoadProblem::EmmaTooShort);
        run.failure.left = size;
        return false;
    }
    headerText.assign(1, ' ');
    headerText.append(reinterpret_cast<const char*>(content + kField1Offset), kField1Length);
    headerText.push_back(' ');
    headerText.append(reinterpret_cast<const char*>(content + kField2Offset), kField2Length);

    const std::int32_t marker =
        findPattern(content, size < kSearchWindow ? size : kSearchWindow, kMarker, sizeof kMarker);
    if (marker < 0) {
        run.failure.problem = LoadProblem::EmmaNoMarker;
        return false;
    }

    std::size_t input = static_cast<std::size_t>(marker) + sizeof kMarker;
    std::size_t out = 0;
    while (input < size) {
        const std::uint8_t type = content[input];
        if (type < 0x20) {
            ++input;
            continue;
        }
        // Without a count byte, the shortest record is what is missing.
        const std::size_t count = size - input < 2 ? 0 : std::uint8_t(content[input + 1] ^ EMMA_MASK);
        if (count + 2 > size - input) {
            run.failure = LoadFailure::frameCut(run.frames + 1, input, count + 2, size - input);
            return false;
        }
        // Every record grows by one byte and takes at least two on disk, so size + size/2 always suffices;
        // the test only keeps a wrong caller from writing past the buffer.
        if (count + Frame::kOverhead > outputSize - out) return false;

        std::uint8_t* frame = output + out;
        frame[0] = Frame::kStart;
        frame[1] = type;
        const std::uint8_t* masked = content + input + 1;
        for (std::size_t i = 0; i <= count; ++i) frame[2 + i] = masked[i] ^ EMMA_MASK;
        if (!frameChecksumValid(frame + Frame::kCountOffset, count + 1)) run.checksumsOk = false;
        ++run.frames;
        input += count + 2;
        out += count + Frame::kOverhead;
    }
    run.size = out;
    return true;
}
