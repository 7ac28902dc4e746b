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
const HANDLE interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
const HANDLE runOver = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // the run has stopped, records written

// Closing the console, logging off and shutting down end the process as soon as their handler returns, and
// after about five seconds whatever it does: it stops the run as SIGTERM does and returns only once the
// run is over (an aborted session takes milliseconds), or a little before Windows would end it anyway.
constexpr DWORD kEndGraceMs = 4000;

void terminateRun() {
    pendingSignal = SIGTERM;
    SetEvent(interruptEvent);
    WaitForSingleObject(runOver, kEndGraceMs);
}

BOOL WINAPI onConsoleControl(DWORD event) {
    if (!armed) return FALSE;
    // Ctrl-C and Ctrl-Break are the user's interrupt (exit 130, as SIGINT).
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        pendingSignal = SIGINT;
        SetEvent(interruptEvent);
    } else {
        terminateRun();
    }
    return TRUE;
}

// A program that has user32 loaded (this window loads it, and so may listing the ports) hears of a logoff or
// a shutdown through its top-level windows only, not through the console handler.
LRESULT CALLBACK endSessionProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION) {
        if (wParam != FALSE && armed) terminateRun();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A hidden window on a thread of its own, for WM_ENDSESSION; its loop ends at WM_CLOSE.
void listenForSessionEnd(HANDLE ready, HWND& window) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = endSessionProcedure;
    windowClass.lpszClassName = L"PhoneUpdaterCliSessionEnd";
    RegisterClassW(&windowClass);
    window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             nullptr, nullptr);
    SetEvent(ready);
    MSG message;
    while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_CLOSE) break;
        DispatchMessageW(&message);
    }
    if (window != nullptr) DestroyWindow(window);
}

}  // namespace

// The handler only records the event; this thread reports it, and the Abort it leads to waits for the worker.
struct SignalAbort::Impl {
    explicit Impl(SignalAbort& owner) {
        pendingSignal = 0;
        ResetEvent(interruptEvent);
        ResetEvent(runOver);
        thread = std::thread([this, &owner] {
            const HANDLE events[2] = {interruptEvent, finished};
            while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
                ResetEvent(interruptEvent);
                if (const int signal = pendingSignal.exchange(0)) owner.deliver(signal);
            }
        });
        const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        sessionEnd = std::thread([this, ready] { listenForSessionEnd(ready, sessionWindow); });
        WaitForSingleObject(ready, INFINITE);
        CloseHandle(ready);
        armed = true;
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    ~Impl() {
        SetEvent(runOver);  // a close, logoff or shutdown waiting for the records may let the process go now
        armed = false;
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        if (sessionWindow != nullptr) PostMessageW(sessionWindow, WM_CLOSE, 0, 0);
        sessionEnd.join();
        SetEvent(finished);
        thread.join();
        CloseHandle(finished);
    }

    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread thread;
    HWND sessionWindow = nullptr;
    std::thread sessionEnd;
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
