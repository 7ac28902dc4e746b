// Interrupts on Windows: console control events taken by a thread of their own.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "cli/signal_abort.h"

namespace {

// The console calls the handler on a thread of its own, possibly while the object is going away: what it
// touches lives as long as the process.
std::atomic<bool> armed{false};
std::atomic<int> pendingSignal{0};
const HANDLE interruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI onConsoleControl(DWORD event) {
    if (!armed) return FALSE;
    // Ctrl-C and Ctrl-Break are the user's interrupt (exit 130, as SIGINT); closing the console, logging off
    // or shutting down is a termination request.
    pendingSignal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    SetEvent(interruptEvent);
    return TRUE;
}

}  // namespace

// The handler only records the event; this thread reports it, and the Abort it leads to waits for the worker.
struct SignalAbort::Impl {
    explicit Impl(SignalAbort& owner) {
        pendingSignal = 0;
        ResetEvent(interruptEvent);
        thread = std::thread([this, &owner] {
            const HANDLE events[2] = {interruptEvent, finished};
            while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
                ResetEvent(interruptEvent);
                if (const int signal = pendingSignal.exchange(0)) owner.deliver(signal);
            }
        });
        armed = true;
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    ~Impl() {
        armed = false;
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        SetEvent(finished);
        thread.join();
        CloseHandle(finished);
    }

    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread thread;
};

SignalAbort::SignalAbort() : impl_(std::make_unique<Impl>(*this)) {}

SignalAbort::~SignalAbort() = default;

// The progress bar redraws itself with escape sequences: only a console that takes them gets it.
bool stderrIsTerminal() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(error, &mode) != 0 &&
           SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
