// Turns a whole image file's content into a FlashImage and its summary.
#pragma once

#include <cstdint>
#include <vector>

#include "flash_image.h"
#include "load_failure.h"

// OutOfMemory: the decoded image could not be allocated (shown like a file that cannot be opened).
enum class ReadOutcome { Ok, UnrecognizedFormat, CorruptFile, OutOfMemory };

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::UnrecognizedFormat;
    FlashImage image;      // valid only when outcome == Ok
    ImageSummary summary;  // valid only when outcome == Ok
    LoadFailure failure;   // which check refused the content, when outcome != Ok
};

inline constexpr std::uint8_t EMMA_MASK = 0xA7;
inline constexpr std::size_t kSearchWindow = 2048;

// Takes the file's buffer over: SBIN and SHEX become the image's buffer, EMMA's is released after decoding.
// Reports every failure as an outcome; nothing is thrown.
ReadResult readImage(std::vector<std::uint8_t> content);
