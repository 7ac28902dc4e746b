// `convert FILE OUT`: writes an image's frame run (an SBIN file) to OUT.
#include <cstdio>
#include <string>

#include "cli/atomic_write.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/load_image.h"
#include "cli/usage.h"
#include "image/byte_ops.h"
#include "image/flash_image.h"

namespace {

std::string typeText(std::uint8_t type) {
    char text[8];
    std::snprintf(text, sizeof text, type >= 0x20 && type < 0x7F ? "'%c'" : "0x%02X", type);
    return text;
}

// A file is read as SBIN only when it begins with a frame of type '0' and its first two frames pass their
// checksums (the format detection's rule); any other frame run, written as it stands, would be refused or
// taken for text when read back. Empty when the run reads back; otherwise which frame fails which test.
std::string whyItWouldNotReadBack(const FlashImage& image) {
    const std::uint8_t* run = image.bytes();
    const std::size_t size = image.size;
    if (run[Frame::kTypeOffset] != '0')
        return "the first frame's type is " + typeText(run[Frame::kTypeOffset]) + ", not '0'";
    if (!frameChecksumValid(run + Frame::kCountOffset, size - Frame::kCountOffset))
        return "the first frame fails its checksum";
    const std::size_t second = Frame::length(run) + Frame::kCountOffset;
    if (second >= size || !frameChecksumValid(run + second, size - second))
        return "the second frame fails its checksum";
    return {};
}

}  // namespace

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
        printLoadFailure(loaded);
        return loaded.exitCode;
    }
    const FlashImage& image = loaded.read.image;
    if (const std::string why = whyItWouldNotReadBack(image); !why.empty()) {
        std::fprintf(stderr, "Not written: %s, so %s would not read back as this image\n", why.c_str(),
                     operands[1].c_str());
        return kExitNoReadBack;
    }
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
