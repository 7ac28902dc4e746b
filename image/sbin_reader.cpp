// The SBIN reader: binary S-records back to back, taken as they stand.
#include "image/byte_ops.h"
#include "image/readers.h"

bool walkSbin(const std::uint8_t* content, std::size_t size, FrameRun& run) {
    std::size_t position = 0;
    while (position < size) {
        if (content[position] != Frame::kStart) return false;
        const std::size_t countAt = position + Frame::kCountOffset;
        if (countAt >= size) return false;
        const std::size_t length = Frame::length(content + position);
        if (length > size - position) return false;
        if (!frameChecksumValid(content + countAt, size - countAt)) run.checksumsOk = false;
        ++run.frames;
        position += length;
    }
    run.size = size;
    return true;
}
