#include "cli/load_image.h"

#include <cstdio>
#include <utility>

#include "cli/exit_codes.h"
#include "cli/memory_hint.h"
#include "image/load_failure.h"
#include "image/summary_text.h"
#include "image/whole_file.h"

namespace {
int exitCodeOf(ReadOutcome outcome) {
    switch (outcome) {
        case ReadOutcome::Ok:
            return kExitOk;
        case ReadOutcome::UnrecognizedFormat:
            return kExitUnrecognized;
        case ReadOutcome::CorruptFile:
            return kExitCorrupt;
        case ReadOutcome::OutOfMemory:
            break;
    }
    return kExitCannotOpen;  // no memory for the decoded image: as with a buffer that cannot be had
}
}  // namespace

LoadedImage loadImageFile(const std::string& path) {
    LoadedImage loaded;
    std::vector<std::uint8_t> content;
    LoadFailure failure;
    // A file that cannot be read whole is never handed on in part.
    if (!readWholeFile(path, content, adviseLargePages, &failure)) {
        loaded.exitCode = kExitCannotOpen;
        loaded.error = kCannotOpenText;
        loaded.reason = loadFailureReason(path, failure);
        return loaded;
    }
    loaded.read = readImage(std::move(content));
    loaded.exitCode = exitCodeOf(loaded.read.outcome);
    loaded.error = loadFailureText(loaded.read.outcome);
    loaded.reason = loadFailureReason(path, loaded.read.failure);
    return loaded;
}

void printLoadFailure(const LoadedImage& loaded) {
    std::fprintf(stderr, "%s\n", loaded.error);
    if (!loaded.reason.empty()) std::fprintf(stderr, "%s\n", loaded.reason.c_str());
}
