// The one wording of an image file's load failure: the window's box, the CLI's second line and --json's
// "reason" all show this text.
#include "image/load_failure.h"

#include <cstdio>

#include "image/display_text.h"
#include "image/read_image.h"
#include "image/readers.h"

namespace {

// The system's reasons a user meets most, worded the same whatever the locale; others as the system words
// them.
std::string systemReason(const std::error_code& error) {
    const std::error_condition condition = error.default_error_condition();
    if (condition == std::errc::no_such_file_or_directory) return "no such file or directory";
    if (condition == std::errc::permission_denied || condition == std::errc::operation_not_permitted)
        return "permission denied";
    if (condition == std::errc::is_a_directory) return "is a directory";
    if (condition == std::errc::not_a_directory) return "a part of the path is not a folder";
    return error.message();
}

// 53 31 20 69 ("S1 i"): the bytes in hex, then as text with '.' for what is not printable ASCII.
std::string dump(const std::string& bytes) {
    std::string hex, text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", byte);
        hex += (hex.empty() ? "" : " ") + std::string(pair);
        text.push_back(byte >= 0x20 && byte < 0x7F ? c : '.');
    }
    return hex + " (\"" + text + "\")";
}

std::string why(const LoadFailure& f) {
    // The format the first bytes chose decides how the rest is read: name it where the reading failed.
    const std::string readAs = f.format ? std::string("read as ") + formatName(*f.format) + ", " : "";
    const std::string frame =
        readAs + "frame " + std::to_string(f.frame) + " at offset " + std::to_string(f.offset);
    switch (f.problem) {
        case LoadProblem::None:
            break;
        case LoadProblem::System:
            return systemReason(f.error);
        case LoadProblem::Directory:
            return "is a directory";
        case LoadProblem::NotRegular:
            return "not a regular file (a device, a pipe or a socket)";
        case LoadProblem::NoMemory:
            return "too large to hold in memory";
        case LoadProblem::Changed:
            return "the file changed while it was read";
        case LoadProblem::Empty:
            return "the file is empty";
        case LoadProblem::UnknownStart:
            return "the first bytes, " + dump(f.firstBytes) +
                   ", are not the start of an SBIN, SHEX or EMMA image";
        case LoadProblem::NotFrameStart:
            return frame + " begins with " + dump(f.firstBytes) + ", not with S";
        case LoadProblem::FrameCut:
            return frame + " is cut short: " + std::to_string(f.left) + " of its " +
                   std::to_string(f.needed) + " bytes are in the file";
        case LoadProblem::TooFewFrames:
            return readAs + "too few frames: " + std::to_string(f.frame) +
                   (f.frame == 1 ? " frame" : " frames") +
                   ", where an image needs a header and a termination frame";
        case LoadProblem::EmmaTooShort:
            return "the EMMA header is cut short: " + std::to_string(f.left) + " of its " +
                   std::to_string(kEmmaMinimumSize) + " bytes are in the file";
        case LoadProblem::EmmaNoMarker:
            return "no #% in the EMMA header's first 2,048 bytes";
        case LoadProblem::TooLarge:
            return "larger than an image can be (4 GiB)";
    }
    return {};
}

}  // namespace

LoadFailure LoadFailure::frameCut(std::uint64_t frame, std::uint64_t offset, std::uint64_t needed,
                                  std::uint64_t left) {
    LoadFailure failure(LoadProblem::FrameCut);
    failure.frame = frame;
    failure.offset = offset;
    failure.needed = needed;
    failure.left = left;
    return failure;
}

LoadFailure LoadFailure::notFrameStart(std::uint64_t frame, std::uint64_t offset, char found) {
    LoadFailure failure(LoadProblem::NotFrameStart);
    failure.frame = frame;
    failure.offset = offset;
    failure.firstBytes.assign(1, found);
    return failure;
}

LoadFailure LoadFailure::tooFewFrames(std::uint64_t frames) {
    LoadFailure failure(LoadProblem::TooFewFrames);
    failure.frame = frames;
    return failure;
}

std::string loadFailureReason(const std::string& path, const LoadFailure& failure) {
    const std::string reason = why(failure);
    if (reason.empty()) return {};
    return displayText(path, TextBytes::Utf8OrLatin1) + ": " + reason;
}
