// phone-updater-cli flash --port DEVICE FILE: one update session through the terminal.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "image/read_image.h"
#include "image/whole_file.h"
#include "serial/serial_link.h"
#include "session/session_control.h"
#include "terminal_panel.h"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitCannotOpen = 2;
constexpr int kExitUnrecognized = 3;
constexpr int kExitCorrupt = 4;

struct FlashArgs {
    std::string device;
    std::string file;
};

bool parseArgs(const std::vector<std::string>& args, FlashArgs& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--port" && i + 1 < args.size()) {
            out.device = args[++i];
        } else if (arg.rfind("--port=", 0) == 0) {
            out.device = arg.substr(7);
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return false;
        } else if (out.file.empty()) {
            out.file = arg;
        } else {
            return false;
        }
    }
    return !out.device.empty() && !out.file.empty();
}

// "COM1".."COM4" (any case) name the description's ports; anything else is a device path.
char comPortDigit(const std::string& device) {
    if (device.size() == 4 && (device[0] | 0x20) == 'c' && (device[1] | 0x20) == 'o' && (device[2] | 0x20) == 'm' &&
        device[3] >= '1' && device[3] <= '4')
        return device[3];
    return 0;
}

// Loads FILE exactly as `info` does: same messages, same exit codes; 0 when it loaded.
int loadImage(const std::string& path, FlashImage& image) {
    std::vector<std::uint8_t> content;
    if (!readWholeFile(path, content)) {
        std::fprintf(stderr, "Unable to open flash image\n");
        return kExitCannotOpen;
    }
    ReadResult result = readImage(std::move(content));
    switch (result.outcome) {
    case ReadOutcome::Ok:
        image = std::move(result.image);
        return 0;
    case ReadOutcome::UnrecognizedFormat:
        std::fprintf(stderr, "Unrecognized flash image format\n");
        return kExitUnrecognized;
    case ReadOutcome::CorruptFile:
        break;
    }
    std::fprintf(stderr, "File is corrupt or unknown format\n");
    return kExitCorrupt;
}

std::string whyPortFailed(const SerialLink& link) {
    std::string why = link.lastOpenPath() + ": " + openErrorText(link.lastOpenError());
    if (link.lastOpenError() == OpenError::Permission)
        why += " (add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again)";
    return why;
}

// SIGINT and SIGTERM are taken by a thread with sigwait, so no code runs inside a signal handler; the thread
// turns the first of them into an Abort. SIGUSR2 only wakes it up when the session ended by itself.
class SignalAbort {
public:
    explicit SignalAbort(SessionControl& control) : control_(control) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGUSR2);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
        thread_ = std::thread([this] { waitForSignal(); });
    }
    ~SignalAbort() {
        if (!caught_) pthread_kill(thread_.native_handle(), SIGUSR2);
        thread_.join();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    int caught() const { return caught_; }

private:
    void waitForSignal() {
        int signal = 0;
        if (sigwait(&set_, &signal) != 0 || signal == SIGUSR2) return;
        caught_ = signal;
        control_.abortSession();
    }

    SessionControl& control_;
    sigset_t set_{};
    sigset_t previous_{};
    std::thread thread_;
    std::atomic<int> caught_{0};
};

}  // namespace

int cmdFlash(const std::vector<std::string>& args) {
    FlashArgs flash;
    if (!parseArgs(args, flash)) {
        std::fprintf(stderr, "usage: phone-updater-cli flash --port DEVICE FILE   (DEVICE: a path or COM1..COM4)\n");
        return kExitUsage;
    }
    FlashImage image;
    if (int code = loadImage(flash.file, image)) return code;

    const char digit = comPortDigit(flash.device);
    TerminalPanel panel(stderr, isatty(STDERR_FILENO) == 1, digit ? digit : '1');
    SessionControl control(panel);
    if (!digit) control.link().setPortResolver([device = flash.device](char) { return device; });

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
