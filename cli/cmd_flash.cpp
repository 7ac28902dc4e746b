// phone-updater-cli flash --port DEVICE FILE: one update session through the terminal.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/load_image.h"
#include "cli/port_report.h"
#include "cli/signal_abort.h"
#include "cli/terminal_panel.h"
#include "cli/usage.h"
#include "serial/port_info.h"
#include "serial/serial_link.h"
#include "session/session_control.h"

namespace {

struct FlashArgs {
    std::string device;
    std::string file;
};

// Empty when the arguments are fine, else the reason for the usage error.
std::string checkArgs(const ParsedArgs& parsed, FlashArgs& out) {
    if (!parsed.error.empty()) return parsed.error;
    if (parsed.has("--port")) out.device = parsed.options.at("--port");
    if (out.device.empty()) return "flash needs --port DEVICE (a device path, COM1..COM4 or auto)";
    if (parsed.operands.size() != 1) return "flash takes exactly one FILE";
    out.file = parsed.operands[0];
    return {};
}

// "COM1".."COM4" (any case) name the four serial ports; anything else is a device path.
char comPortDigit(const std::string& device) {
    if (device.size() == 4 && (device[0] | 0x20) == 'c' && (device[1] | 0x20) == 'o' &&
        (device[2] | 0x20) == 'm' && device[3] >= '1' && device[3] <= '4')
        return device[3];
    return 0;
}

std::string whyPortFailed(const SerialLink& link) {
    return openFailureReason(describePort(link.lastOpenPath()), link.lastOpenError());
}

}  // namespace

int runFlash(const CommandArgs& args) {
    FlashArgs flash;
    const ParsedArgs parsed = parseArgs(args, {}, {"--port"});
    if (parsed.help) {
        printHelp(stdout);
        return kExitOk;
    }
    if (std::string reason = checkArgs(parsed, flash); !reason.empty()) return usageError(reason);
    // Nothing is opened unless the image loads.
    LoadedImage loaded = loadImageFile(flash.file);
    if (loaded.exitCode != kExitOk) {
        std::fprintf(stderr, "%s\n", loaded.error);
        return loaded.exitCode;
    }
    const FlashImage& image = loaded.read.image;
    // "auto" takes the one USB serial device there is, from the system's tables: nothing is sent to find it.
    std::string chosen;
    if (flash.device == "auto") {
        const AutoPort pick = pickAutoPort(listPorts());
        if (pick.path.empty()) {
            std::fprintf(stderr, "phone-updater-cli: %s\n", pick.error.c_str());
            return kExitNoPort;
        }
        flash.device = pick.path;
        chosen = "Port: " + portSummary(describePort(pick.path));
    }

    const char digit = comPortDigit(flash.device);
    TerminalPanel panel(stderr, stderrIsTerminal(), digit ? digit : '1');
    SessionControl control(panel);
    if (!digit) control.link().setPortResolver([device = flash.device](char) { return device; });
    if (!chosen.empty()) panel.note(chosen);

    int result;
    int signal;
    {
        SignalAbort abort(control);
        control.startSession(image);
        result = control.waitForEnd();
        signal = abort.caught();
    }
    if (result == kSessionAborted) return 128 + (signal ? signal : SIGINT);
    if (result == kPortBusy) panel.note(whyPortFailed(control.link()));
    return result;
}
