// phone-updater-cli: the command-line companion of the updater. Only picks the subcommand; each lives in its
// own cmd_*.cpp.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/usage.h"

int main(int argc, char** argv) {
    if (argc < 2) return usageError("missing command");
    const std::string command = argv[1];
    const CommandArgs args(argv + 2, argv + argc);

    if (command == "--help" || command == "-h") {
        printHelp(stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("phone-updater-cli %s\n", UPDATER_VERSION);
        return kExitOk;
    }
    if (command == "info") return runInfo(args);
    if (command == "convert") return runConvert(args);
    if (command == "flash") return runFlash(args);
    // Further subcommands dispatch here, one line each.

    return usageError((command[0] == '-' ? "unknown option '" : "unknown command '") + command + "'");
}
