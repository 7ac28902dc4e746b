#include "cli/load_image.h"

#include <new>
#include <utility>

#include "cli/exit_codes.h"
#include "cli/memory_hint.h"
#include "image/whole_file.h"

LoadedImage loadImageFile(const std::string& path) {
    LoadedImage loaded;
    std::vector<std::uint8_t> content;
    // A file that cannot be read whole is never handed on in part.
    if (!readWholeFile(path, content, adviseLargePages)) {
        loaded.exitCode = kExitCannotOpen;
        loaded.error = "Unable to open flash image";
        return loaded;
    }
    try {
        loaded.read = readImage(std::move(content));
    } catch (const std::bad_alloc&) {
        // No memory for the decoded image: as with a buffer that cannot be had, the file cannot be loaded.
        loaded.exitCode = kExitCannotOpen;
        loaded.error = "Unable to open flash image";
        return loaded;
    }
    switch (loaded.read.outcome) {
        case ReadOutcome::Ok:
            loaded.exitCode = kExitOk;
            break;
        case ReadOutcome::UnrecognizedFormat:
            loaded.exitCode = kExitUnrecognized;
            loaded.error = "Unrecognized flash image format";
            break;
        case ReadOutcome::CorruptFile:
            loaded.exitCode = kExitCorrupt;
            loaded.error = "File is corrupt or unknown format";
            break;
    }
    return loaded;
}
