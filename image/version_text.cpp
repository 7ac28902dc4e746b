// Finding the version mark (the first CXC) near the start of an image.
#include "image/byte_ops.h"
#include "image/read_image.h"
#include "image/readers.h"

namespace {
constexpr std::uint8_t kVersionMark[] = {'C', 'X', 'C'};
constexpr std::size_t kVersionLength = 9;  // "CXC" and six bytes after it
}  // namespace

std::optional<std::string> findVersionText(const std::uint8_t* image, std::size_t size) {
    const std::int32_t found =
        findPattern(image, size < kSearchWindow ? size : kSearchWindow, kVersionMark, sizeof kVersionMark);
    if (found < 0) return std::nullopt;
    const std::size_t start = static_cast<std::size_t>(found);
    // Near the end of a small image fewer than nine bytes exist: keep only those.
    const std::size_t length = size - start < kVersionLength ? size - start : kVersionLength;
    std::string text(1, ' ');
    text.append(reinterpret_cast<const char*>(image + start), length);
    return text;
}
