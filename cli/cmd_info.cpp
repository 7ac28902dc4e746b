// `info [--json] FILE`: the particulars the window shows for an image file.
#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "station/json_text.h"
#include "cli/load_image.h"
#include "cli/usage.h"
#include "image/display_text.h"
#include "image/module_name.h"
#include "image/summary_text.h"

namespace {

void printText(const std::string& module, const ImageSummary& summary) {
    const SummaryTexts texts = summaryTexts(summary);
    // "Label: " then the field's text exactly as the window shows it (some texts begin with a space).
    std::printf("Module: %s\n", displayText(module, TextBytes::Utf8OrLatin1).c_str());
    std::printf("Format: %s\n", texts.format.c_str());
    std::printf("Version: %s\n", texts.version.c_str());
    std::printf("Size: %s\n", texts.size.c_str());
    std::printf("Frames: %s\n", texts.frames.c_str());
    std::printf("CRC: %s\n", texts.crc.c_str());
}

void printJson(const std::string& module, const ImageSummary& summary) {
    const SummaryTexts texts = summaryTexts(summary);
    // Data, not display: the exact characters, with JSON's own escapes for control characters.
    const std::string moduleUtf8 = isValidUtf8(module) ? module : latin1ToUtf8(module);
    const std::string version =
        summary.versionText ? jsonString(latin1ToUtf8(displayVersion(summary))) : "null";
    std::printf(
        "{\"module\": %s, \"format\": %s, \"version\": %s, \"size\": %u, \"frames\": %d, "
        "\"checksums_ok\": %s}\n",
        jsonString(moduleUtf8).c_str(), jsonString(texts.format).c_str(), version.c_str(),
        static_cast<unsigned>(summary.size), static_cast<int>(summary.frameCount),
        summary.checksumsOk ? "true" : "false");
}

}  // namespace

int runInfo(const CommandArgs& args) {
    const ParsedArgs parsed = parseArgs(args, {"--json"});
    if (!parsed.error.empty()) return usageError(parsed.error);
    if (parsed.help) {
        printHelp(stdout);
        return kExitOk;
    }
    const bool json = parsed.has("--json");
    const std::vector<std::string>& operands = parsed.operands;
    if (operands.size() != 1) return usageError("info takes exactly one FILE");

    const LoadedImage loaded = loadImageFile(operands[0]);
    if (loaded.exitCode != kExitOk) {
        std::fprintf(stderr, "%s\n", loaded.error);
        if (json) std::printf("{\"error\": %s}\n", jsonString(loaded.error).c_str());
        return loaded.exitCode;
    }
    const std::string module = moduleName(operands[0]);
    if (json) {
        printJson(module, loaded.read.summary);
    } else {
        printText(module, loaded.read.summary);
    }
    return kExitOk;
}
