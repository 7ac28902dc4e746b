#include <windows.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

#include "cli/signal_abort.h"

namespace {

// The console calls the handler on a thread of its own, possibly while the object is going away: what it
// touches lives as long as the process.
std::atomic<bool> armed{false};
std::atomic<int> caughtSignal{0};
const HANDLE interruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI onConsoleControl(DWORD event) {
    if (!armed) return FALSE;
    // Ctrl-C and Ctrl-Break are the user's interrupt (exit 130, as SIGINT); closing the console, logging off
    // or shutting down is a termination request.
    const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    int none = 0;
    if (caughtSignal.compare_exchange_strong(none, signal)) SetEvent(interruptEvent);
    return TRUE;
}

}  // namespace

// The handler only records the event; this thread runs the action, which waits for the workers.
struct SignalAbort::Impl {
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::mutex mutex;
    std::function<void(int)> action;  // guarded by mutex
    bool interrupted = false;         // guarded by mutex
    std::thread thread;
};

SignalAbort::SignalAbort() : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    caughtSignal = 0;
    ResetEvent(interruptEvent);
    d.thread = std::thread([&d] {
        const HANDLE events[2] = {interruptEvent, d.finished};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) return;
        std::lock_guard lock(d.mutex);
        d.interrupted = true;
        if (d.action) d.action(caughtSignal);
    });
    armed = true;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

SignalAbort::~SignalAbort() {
    Impl& d = *impl_;
    armed = false;
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    SetEvent(d.finished);
    d.thread.join();
    CloseHandle(d.finished);
}

void SignalAbort::onSignal(std::function<void(int)> action) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    d.action = std::move(action);
    if (d.interrupted && d.action) d.action(caughtSignal);
}

int SignalAbort::caught() const {
    return caughtSignal;
}

// The progress bar redraws itself with escape sequences: only a console that takes them gets it.
bool stderrIsTerminal() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(error, &mode) != 0 &&
           SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
