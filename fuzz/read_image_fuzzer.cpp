// Feeds arbitrary bytes to readImage and checks what an Ok outcome promises, so that a reader that stays
// inside its buffers but produces a broken run is caught too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/byte_ops.h"
#include "image/read_image.h"

namespace {
void check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> content(data, data + size);
    const ReadResult result = readImage(std::move(content));
    if (result.outcome != ReadOutcome::Ok) return 0;

    const FlashImage& image = result.image;
    check(image.size <= image.data.size());
    check(image.frameCount >= 0);
    check(result.summary.size == image.size && result.summary.frameCount == image.frameCount);

    // The run must walk from 0 to exactly size, every frame starting with 'S', and agree with the summary.
    std::size_t position = 0;
    std::int64_t frames = 0;
    bool checksumsOk = true;
    while (position < image.size) {
        check(image.data[position] == 'S');
        check(position + Frame::kCountOffset < image.size);
        const std::size_t length = Frame::length(image.bytes() + position);
        check(length <= image.size - position);
        if (!frameChecksumValid(image.bytes() + position + 2, length - 2)) checksumsOk = false;
        position += length;
        ++frames;
    }
    check(position == image.size);
    check(frames - 2 == image.frameCount);
    check(checksumsOk == result.summary.checksumsOk);
    if (result.summary.versionText) {
        const std::size_t length = result.summary.versionText->size();
        check(length >= 4 && length <= (result.summary.format == ImageFormat::EMMA ? 26u : 10u));
    }
    return 0;
}
