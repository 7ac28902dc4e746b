// `convert FILE OUT`: writes an image's frame run (an SBIN file) to OUT.
#include <cstdio>
#include <string>

#include "cli/atomic_write.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/load_image.h"
#include "cli/usage.h"
#include "image/flash_image.h"

int runConvert(const CommandArgs& args) {
    bool optionsDone = false;
    std::vector<std::string> operands;
    for (const std::string& arg : args) {
        if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && (arg == "--help" || arg == "-h")) {
            printHelp(stdout);
            return kExitOk;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "'");
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.size() != 2) {
        return usageError("convert takes exactly FILE and OUT");
    }

    const LoadedImage loaded = loadImageFile(operands[0]);
    if (loaded.exitCode != kExitOk) {
        std::fprintf(stderr, "%s\n", loaded.error);
        return loaded.exitCode;
    }
    const FlashImage& image = loaded.read.image;
    std::string error;
    if (!writeFileAtomically(operands[1], image.bytes(), image.size, error)) {
        std::fprintf(stderr, "Unable to write %s: %s\n", operands[1].c_str(), error.c_str());
        return kExitWriteFailed;
    }
    std::printf("Wrote %u bytes (%s, %d frames, CRC %s) to %s\n", static_cast<unsigned>(image.size),
                formatName(loaded.read.summary.format), static_cast<int>(image.frameCount),
                loaded.read.summary.checksumsOk ? "OK" : "ERROR", operands[1].c_str());
    return kExitOk;
}
