// The in-memory form of every image: one contiguous run of binary S-records ("frames").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Frame layout inside the run: 'S', type character, count N, then N bytes (address, data, checksum).
namespace Frame {
inline constexpr std::size_t kTypeOffset = 1;
inline constexpr std::size_t kCountOffset = 2;
inline constexpr std::size_t kOverhead = 3;       // 'S', type, count
inline constexpr std::size_t kMaxLength = 258;    // 255 + 3
inline constexpr std::uint8_t kStart = 'S';
// Length of the frame whose first byte is at `frame` (the byte at kCountOffset must exist).
inline std::size_t length(const std::uint8_t* frame) { return std::size_t{frame[kCountOffset]} + kOverhead; }
}  // namespace Frame

enum class ImageFormat { SBIN, SHEX, EMMA };

// "SBIN", "SHEX" or "EMMA".
const char* formatName(ImageFormat format);

struct FlashImage {
    std::vector<std::uint8_t> data;  // may be longer than size (SHEX keeps the file's buffer)
    std::uint32_t size = 0;          // bytes of the run that count
    std::int32_t frameCount = 0;     // frames in the run minus header and termination

    const std::uint8_t* bytes() const { return data.data(); }
};

struct ImageSummary {
    ImageFormat format = ImageFormat::SBIN;
    // The version text as found (starts with a space; may hold NUL bytes). See displayVersion().
    std::optional<std::string> versionText;
    std::uint32_t size = 0;
    std::int32_t frameCount = 0;
    bool checksumsOk = true;
};

// The version text as the window shows it: cut at its first NUL byte; empty when there is none.
std::string displayVersion(const ImageSummary& summary);
