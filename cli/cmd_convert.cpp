// `convert FILE OUT`: writes an image's frame run (an SBIN file) to OUT.
#include <cstdio>
#include <string>

#include "cli/atomic_write.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/load_image.h"
#include "cli/usage.h"
#include "image/flash_image.h"

int runConvert(const CommandArgs& args) {
    const ParsedArgs parsed = parseArgs(args, {});
    if (!parsed.error.empty()) return usageError(parsed.error);
    if (parsed.help) {
        printHelp(stdout);
        return kExitOk;
    }
    const std::vector<std::string>& operands = parsed.operands;
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
