// phone-updater-cli flash --port DEVICE FILE: one update session through the terminal.
#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/load_image.h"
#include "cli/signal_abort.h"
#include "cli/terminal_panel.h"
#include "cli/usage.h"
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
    if (out.device.empty()) return "flash needs --port DEVICE (a device path or COM1..COM4)";
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
    std::string why = link.lastOpenPath() + ": " + openErrorText(link.lastOpenError());
    if (link.lastOpenError() == OpenError::Permission)
        why += " (add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again)";
    return why;
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
    // From here on an interrupt ends the command with 130 or 143, whenever it comes.
    SignalAbort interrupts;
    // Nothing is opened unless the image loads.
    LoadedImage loaded = loadImageFile(flash.file);
    if (interrupts.caught()) return 128 + interrupts.caught();
    if (loaded.exitCode != kExitOk) {
        std::fprintf(stderr, "%s\n", loaded.error);
        return loaded.exitCode == kExitCannotOpen ? kExitFlashCannotOpen : kExitFlashBadImage;
    }
    const FlashImage& image = loaded.read.image;

    const char digit = comPortDigit(flash.device);
    TerminalPanel panel(stderr, stderrIsTerminal(), digit ? digit : '1');
    SessionControl control(panel);
    if (!digit) control.link().setPortResolver([device = flash.device](char) { return device; });

    const int result = runSessionUntilInterrupted(control, image, interrupts);
    if (result == kPortBusy) panel.note(whyPortFailed(control.link()));
    return result;
}
