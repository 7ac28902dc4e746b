// Telling SBIN, SHEX and EMMA apart from a file's first bytes.
#include "image/byte_ops.h"
#include "image/readers.h"

std::optional<ImageFormat> detectFormat(const std::uint8_t* content, std::size_t size) {
    if (size >= 2 && content[0] == Frame::kStart && content[1] == '0') {
        // Binary only when a first frame and the count byte of a second one both check out as binary frames.
        if (frameChecksumValid(content + Frame::kCountOffset, size - Frame::kCountOffset)) {
            const std::size_t secondCount = std::size_t{content[Frame::kCountOffset]} + 5;
            if (secondCount < size && frameChecksumValid(content + secondCount, size - secondCount)) {
                return ImageFormat::SBIN;
            }
        }
        return ImageFormat::SHEX;
    }
    if (size >= 1 && content[0] == '%') return ImageFormat::EMMA;
    return std::nullopt;
}
