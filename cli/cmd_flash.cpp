// phone-updater-cli flash --port DEVICE [--port DEVICE]... [--repeat] [--log FILE] [--events] FILE: update
// sessions through the terminal, one per port at a time.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/load_image.h"
#include "cli/output_queue.h"
#include "cli/port_report.h"
#include "cli/signal_abort.h"
#include "cli/station.h"
#include "cli/station_io.h"
#include "cli/terminal_panel.h"
#include "cli/usage.h"
#include "serial/port_info.h"

namespace {

struct FlashArgs {
    std::vector<std::string> ports;
    std::string file;
    std::string logPath;
    bool repeat = false;
    bool events = false;
};

// Two names of one device (a by-id link and its target, a COM name and its device): two sessions on it would
// find it held by each other.
bool sameDevice(const std::string& a, const std::string& b) {
    const auto device = [](const std::string& port) {
        const bool com = port.size() == 4 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' &&
                         (port[2] | 0x20) == 'm' && port[3] >= '1' && port[3] <= '4';
        return com ? defaultPortPath(port[3]) : port;
    };
    // Devices are compared by the path every link leads to (a device node has no identity the standard
    // library would compare).
    std::error_code errorA, errorB;
    const std::filesystem::path pathA = std::filesystem::canonical(device(a), errorA);
    const std::filesystem::path pathB = std::filesystem::canonical(device(b), errorB);
    return !errorA && !errorB && pathA == pathB;
}

// Empty when the arguments are fine, else the reason for the usage error.
std::string checkArgs(const ParsedArgs& parsed, FlashArgs& out) {
    if (!parsed.error.empty()) return parsed.error;
    if (parsed.values.count("--port")) out.ports = parsed.values.at("--port");
    if (out.ports.empty() || std::count(out.ports.begin(), out.ports.end(), "") > 0)
        return "flash needs --port DEVICE (a device path, COM1..COM4 or auto)";
    for (auto it = out.ports.begin(); it != out.ports.end(); ++it) {
        if (std::find(it + 1, out.ports.end(), *it) != out.ports.end())
            return "port " + *it + " is given twice";
        for (auto other = it + 1; other != out.ports.end(); ++other)
            if (sameDevice(*it, *other))
                return "--port " + *it + " and --port " + *other + " are the same device";
    }
    if (out.ports.size() > 1 && std::count(out.ports.begin(), out.ports.end(), "auto") > 0)
        return "--port auto stands for the one USB serial device, so it comes alone";
    if (parsed.operands.size() != 1) return "flash takes exactly one FILE";
    out.file = parsed.operands[0];
    if (parsed.has("--log")) {
        out.logPath = parsed.options.at("--log");
        if (out.logPath.empty()) return "--log needs a FILE";
    }
    out.repeat = parsed.has("--repeat");
    out.events = parsed.has("--events");
    return {};
}

}  // namespace

int runFlash(const CommandArgs& args) {
    FlashArgs flash;
    const ParsedArgs parsed = parseArgs(args, {"--repeat", "--events"}, {"--port", "--log"});
    if (parsed.help) {
        printHelp(stdout);
        return kExitOk;
    }
    if (std::string reason = checkArgs(parsed, flash); !reason.empty()) return usageError(reason);
    // A reader that went away (a pager quit, `| head`) is no reason to abandon a phone half-written: its
    // output fails, the sessions go on.
    ignoreBrokenPipe();
    // From here on an interrupt ends the command with 129, 130 or 143, whenever it comes.
    SignalAbort interrupts;
    // Nothing is opened unless the image loads.
    LoadedImage loaded = loadImageFile(flash.file);
    if (interrupts.caught()) return 128 + interrupts.caught();
    if (loaded.exitCode != kExitOk) {
        printLoadFailure(loaded);
        return loaded.exitCode == kExitCannotOpen ? kExitFlashCannotOpen : kExitFlashBadImage;
    }
    // "auto" takes the one USB serial device there is, from the system's tables: nothing is sent to find it.
    std::string chosen;
    if (flash.ports.front() == "auto") {
        const AutoPort pick = pickAutoPort(listPorts());
        if (pick.path.empty()) {
            std::fprintf(stderr, "phone-updater-cli: %s\n", pick.error.c_str());
            return kExitNoPort;
        }
        flash.ports.front() = pick.path;
        chosen = "Port: " + portSummary(describePort(pick.path));
    }

    StationOptions options;
    options.ports = flash.ports;
    options.repeat = flash.repeat;
    options.events = flash.events;
    if (!flash.logPath.empty()) {
        std::string why;
        options.logFd = openAppend(flash.logPath, why);
        if (options.logFd < 0) {
            std::fprintf(stderr, "phone-updater-cli: cannot append to %s: %s\n", flash.logPath.c_str(),
                         why.c_str());
            return kExitCannotCreate;
        }
    }
    // One port, once: the lines of a lone update, as they have always been.
    std::optional<TerminalPanel> classic;
    if (flash.ports.size() == 1 && !flash.repeat) classic.emplace(kStderrFd, stderrIsTerminal(), '1');
    if (!chosen.empty()) {
        if (classic)
            classic->note(chosen);
        else
            std::fprintf(stderr, "%s\n", chosen.c_str());
    }

    int code;
    bool recorded;
    {
        Station station(loaded.read.image, {flash.file, loaded.read.summary}, options,
                        classic ? &*classic : nullptr);
        interrupts.setHandler([&station](int signal) { station.stop(signal); });
        // One taken before the handler found nothing to stop: no session starts now.
        if (interrupts.caught()) station.stop(interrupts.caught());
        station.run();
        interrupts.setHandler({});
        code = station.exitCode();
        recorded = station.recordsWritten();
    }
    closeFile(options.logFd);
    // The lone session's lines, unless the terminal stopped taking them (they are dropped then).
    if (classic) classic->finish();
    if (!recorded) {
        if (!outputLost(kStderrFd))
            std::fputs("phone-updater-cli: not every record could be written\n", stderr);
        if (code == kExitOk) code = kExitRecordsLost;
    }
    if (outputLost(kStderrFd) && code == kExitOk) code = kExitOutputLost;
    return code;
}
