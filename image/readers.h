// The per-format steps behind readImage. Internal to image/ but kept includable so that benchmarks and tests
// can time and probe one reader at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/flash_image.h"
#include "image/load_failure.h"

// What a reader pass leaves behind: the length of the frame run it produced and what it saw on the way, or
// where it stopped and why.
struct FrameRun {
    std::size_t size = 0;
    std::size_t frames = 0;
    bool checksumsOk = true;
    LoadFailure failure;
};

// Decided from the first bytes alone; nullopt when they match no format.
std::optional<ImageFormat> detectFormat(const std::uint8_t* content, std::size_t size);

// Each returns false for a file that is corrupt: a frame start that is not 'S' (SBIN), or any frame or record
// whose count reaches past the end of the content; `run.failure` then says which and where.
bool walkSbin(const std::uint8_t* content, std::size_t size, FrameRun& run);
// Rewrites the text at the start of `content` into frames, in place.
bool convertShex(std::uint8_t* content, std::size_t size, FrameRun& run);
// `output` must hold size + size/2 bytes; `headerText` receives " " + field 1 + " " + field 2.
bool decodeEmma(const std::uint8_t* content, std::size_t size, std::uint8_t* output, std::size_t outputSize,
                FrameRun& run, std::string& headerText);

// Smallest EMMA file that holds both header fields.
inline constexpr std::size_t kEmmaMinimumSize = 38;

// " CXC" + the six bytes after the mark, as far as the image holds them; nullopt when there is no mark in the
// first kSearchWindow bytes.
std::optional<std::string> findVersionText(const std::uint8_t* image, std::size_t size);
