#include "image/read_image.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

#include "image/readers.h"

namespace {

// The session needs a header frame and a termination frame.
constexpr std::size_t kMinimumFrames = 2;

ReadResult refused(ReadOutcome outcome, LoadFailure failure) {
    ReadResult result;
    result.outcome = outcome;
    result.failure = std::move(failure);
    return result;
}

ReadResult unrecognized(const std::vector<std::uint8_t>& content) {
    if (content.empty()) return refused(ReadOutcome::UnrecognizedFormat, LoadFailure(LoadProblem::Empty));
    LoadFailure failure(LoadProblem::UnknownStart);
    failure.firstBytes.assign(content.begin(), content.begin() + std::min<std::size_t>(content.size(), 4));
    return refused(ReadOutcome::UnrecognizedFormat, std::move(failure));
}

ReadResult readImageOrThrow(std::vector<std::uint8_t> content) {
    const std::optional<ImageFormat> format = detectFormat(content.data(), content.size());
    if (!format) return unrecognized(content);
    FrameRun run;
    const auto corrupt = [&run, format] {
        run.failure.format = format;
        return refused(ReadOutcome::CorruptFile, run.failure);
    };
    // Positions and sizes in an image are 32-bit.
    if (content.size() > std::numeric_limits<std::uint32_t>::max()) {
        run.failure.problem = LoadProblem::TooLarge;
        return corrupt();
    }

    std::string emmaHeader;
    std::vector<std::uint8_t> buffer;
    switch (*format) {
        case ImageFormat::SBIN:
            if (!walkSbin(content.data(), content.size(), run)) return corrupt();
            buffer = std::move(content);
            break;
        case ImageFormat::SHEX:
            if (!convertShex(content.data(), content.size(), run)) return corrupt();
            buffer = std::move(content);
            break;
        case ImageFormat::EMMA: {
            buffer.resize(content.size() + content.size() / 2);
            if (!decodeEmma(content.data(), content.size(), buffer.data(), buffer.size(), run, emmaHeader)) {
                return corrupt();
            }
            std::vector<std::uint8_t>().swap(content);  // the file's buffer is no longer needed
            break;
        }
    }
    if (run.frames < kMinimumFrames) run.failure = LoadFailure::tooFewFrames(run.frames);
    if (run.size > std::numeric_limits<std::uint32_t>::max()) run.failure.problem = LoadProblem::TooLarge;
    if (run.failure.problem != LoadProblem::None) return corrupt();

    ReadResult result;
    result.outcome = ReadOutcome::Ok;
    result.image.data = std::move(buffer);
    result.image.size = static_cast<std::uint32_t>(run.size);
    result.image.frameCount = static_cast<std::int32_t>(run.frames - kMinimumFrames);

    result.summary.format = *format;
    result.summary.versionText = findVersionText(result.image.bytes(), run.size);
    if (result.summary.versionText && *format == ImageFormat::EMMA) *result.summary.versionText += emmaHeader;
    result.summary.size = result.image.size;
    result.summary.frameCount = result.image.frameCount;
    result.summary.checksumsOk = run.checksumsOk;
    return result;
}

}  // namespace

ReadResult readImage(std::vector<std::uint8_t> content) {
    try {
        return readImageOrThrow(std::move(content));
    } catch (const std::bad_alloc&) {
        // The EMMA output buffer (one and a half times the file) is the allocation that can fail.
        return refused(ReadOutcome::OutOfMemory, LoadFailure(LoadProblem::NoMemory));
    }
}
