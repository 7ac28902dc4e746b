// phone-updater-cli: the command-line companion of the updater. Only picks the subcommand; each lives in its
// own cmd_*.cpp.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/usage.h"
#include "resources/program_text.h"
#include "serial/standard_descriptors.h"

namespace {

int dispatch(int argc, char** argv) {
    if (argc < 2) return usageError("missing command");
    const std::string command = argv[1];
    const CommandArgs args(argv + 2, argv + argc);

    if (command == "--help" || command == "-h") {
        printHelp(stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("phone-updater-cli %s\n", kProgramVersion);
        return kExitOk;
    }
    if (command == "info") return runInfo(args);
    if (command == "convert") return runConvert(args);
    if (command == "flash") return runFlash(args);
    if (command == "ports") return runPorts(args);
    // Further subcommands dispatch here, one line each.

    return usageError((command[0] == '-' ? "unknown option '" : "unknown command '") + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
    guardStandardDescriptors();
    const int code = dispatch(argc, argv);
    // Output that never arrived (a full disk, a closed pipe) is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("phone-updater-cli: cannot write the output\n", stderr);
        return code == kExitOk ? kExitWriteFailed : code;
    }
    return code;
}
