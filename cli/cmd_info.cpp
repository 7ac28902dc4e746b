// `info [--json] FILE`: the particulars the window shows for an image file.
#include <cstdio>
#include <string>
#include <utility>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/json_text.h"
#include "cli/load_image.h"
#include "cli/usage.h"
#include "image/display_text.h"
#include "image/module_name.h"
#include "image/summary_text.h"

namespace {

// The window pads some field texts with one leading blank; a terminal line or a data member does not need it.
std::string unpadded(const std::string& text) {
    return text.empty() || text[0] != ' ' ? text : text.substr(1);
}

void printText(const std::string& module, const ImageSummary& summary) {
    const SummaryTexts texts = summaryTexts(summary);
    const std::pair<const char*, std::string> lines[] = {
        {"Module:", displayText(module, TextBytes::Utf8OrLatin1)},
        {"Format:", texts.format},
        {"Version:", texts.version},
        {"Size:", texts.size},
        {"Frames:", texts.frames},
        {"CRC:", texts.crc},
    };
    // The fields' texts as the window shows them, in one column.
    for (const auto& [label, text] : lines) {
        const std::string value = unpadded(text);
        std::printf(value.empty() ? "%s\n" : "%-8s %s\n", label, value.c_str());
    }
}

void printJson(const std::string& module, const ImageSummary& summary) {
    const SummaryTexts texts = summaryTexts(summary);
    // Data, not display: the exact characters, with JSON's own escapes for control characters. "module" and
    // "version" are the fields' texts, leading blank and all; "module_name" and "version_text" are without
    // it.
    const std::string moduleUtf8 = isValidUtf8(module) ? module : latin1ToUtf8(module);
    const std::string version = latin1ToUtf8(displayVersion(summary));
    const auto orNull = [&summary](const std::string& text) {
        return summary.versionText ? jsonString(text) : std::string("null");
    };
    std::printf(
        "{\"module\": %s, \"module_name\": %s, \"format\": %s, \"version\": %s, \"version_text\": %s, "
        "\"size\": %u, \"frames\": %d, \"checksums_ok\": %s}\n",
        jsonString(moduleUtf8).c_str(), jsonString(unpadded(moduleUtf8)).c_str(),
        jsonString(texts.format).c_str(), orNull(version).c_str(), orNull(unpadded(version)).c_str(),
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
        printLoadFailure(loaded);
        if (json)
            std::printf("{\"error\": %s, \"reason\": %s}\n", jsonString(loaded.error).c_str(),
                        loaded.reason.empty() ? "null" : jsonString(loaded.reason).c_str());
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
