// Why an image file did not load, as data: the system's reason when the file could not be read whole, or the
// check that refused its content. loadFailureReason words it once for every front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "image/flash_image.h"

enum class LoadProblem {
    None,
    // The file could not be read whole.
    System,      // `error` is the system's reason (no such file, permission denied, ...)
    Directory,   // a folder, not a file
    NotRegular,  // a device, a pipe or a socket
    NoMemory,    // the file, or the image decoded from it, does not fit in memory
    Changed,     // the file grew or shrank while it was read
    // The content is no image the readers accept.
    Empty,
    UnknownStart,   // `firstBytes` match no format's start
    NotFrameStart,  // SBIN: no 'S' (but `firstBytes`) where frame `frame` must begin, at `offset`
    FrameCut,       // frame `frame` at `offset` takes `needed` bytes; only `left` are in the file
    TooFewFrames,   // `frame` frames: no header and termination frame
    EmmaTooShort,   // only `left` bytes: no room for the EMMA header's two fields
    EmmaNoMarker,   // no "#%" in the first 2048 bytes
    TooLarge,       // more than a 32-bit size can hold
};

struct LoadFailure {
    LoadFailure() = default;
    explicit LoadFailure(LoadProblem why, std::error_code systemError = {})
        : problem(why), error(systemError) {}
    static LoadFailure frameCut(std::uint64_t frame, std::uint64_t offset, std::uint64_t needed,
                                std::uint64_t left);
    static LoadFailure notFrameStart(std::uint64_t frame, std::uint64_t offset, char found);
    static LoadFailure tooFewFrames(std::uint64_t frames);

    LoadProblem problem = LoadProblem::None;
    std::error_code error;
    std::uint64_t frame = 0;  // counted from 1, the header frame included
    std::uint64_t offset = 0;
    std::uint64_t needed = 0;
    std::uint64_t left = 0;
    std::string firstBytes;             // up to four bytes, as they stand in the file
    std::optional<ImageFormat> format;  // what the first bytes made of the file, for a refused content
};

// "PATH: why", one line, the path as displayText shows a file name. Empty when there is no problem.
std::string loadFailureReason(const std::string& path, const LoadFailure& failure);
