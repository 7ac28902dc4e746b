#include "image/byte_ops.h"
#include "image/readers.h"

bool walkSbin(const std::uint8_t* content, std::size_t size, FrameRun& run) {
    std::size_t position = 0;
    while (position < size) {
        if (content[position] != Frame::kStart) {
            run.failure =
                LoadFailure::notFrameStart(run.frames + 1, position, static_cast<char>(content[position]));
            return false;
        }
        const std::size_t countAt = position + Frame::kCountOffset;
        const std::size_t length = countAt < size ? Frame::length(content + position) : Frame::kOverhead;
        if (length > size - position) {
            run.failure = LoadFailure::frameCut(run.frames + 1, position, length, size - position);
            return false;
        }
        if (!frameChecksumValid(content + countAt, size - countAt)) run.checksumsOk = false;
        ++run.frames;
        position += length;
    }
    run.size = size;
    return true;
}
