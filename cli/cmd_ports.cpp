// `ports [--json]`: every serial device of the machine and whether it can be used. Reads the system's tables
// only; no device is opened.
#include <cstdio>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "station/json_text.h"
#include "cli/port_report.h"
#include "cli/usage.h"

int runPorts(const CommandArgs& args) {
    const ParsedArgs parsed = parseArgs(args, {"--json"});
    if (!parsed.error.empty()) return usageError(parsed.error);
    if (parsed.help) {
        printHelp(stdout);
        return kExitOk;
    }
    if (!parsed.operands.empty()) return usageError("ports takes no operands");
    const bool json = parsed.has("--json");
    if (!canListPorts()) {
        const char* error = "cannot list serial devices: this system has no /sys/class/tty";
        std::fprintf(stderr, "phone-updater-cli: %s\n", error);
        if (json) std::printf("{\"error\": %s}\n", jsonString(error).c_str());
        return kExitNoPort;
    }
    const std::vector<PortInfo> ports = listPorts();
    std::fputs((json ? portsJson(ports) : portsText(ports)).c_str(), stdout);
    return kExitOk;
}
