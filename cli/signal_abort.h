// Turning the user's interrupt into a stop of the run, and the other few things `flash` asks of the terminal.
// One implementation file per platform: signals on POSIX, console control events on Windows.
#pragma once

#include <functional>
#include <memory>

// While it lives, interrupts (Ctrl-C; SIGTERM on POSIX; Ctrl-Break or closing the console on Windows) are
// taken by a thread of its own, never inside a handler. Make it before any other thread of the run: on POSIX
// the threads made afterwards inherit the blocked signals, so none of them can take the default action.
class SignalAbort {
  public:
    SignalAbort();
    ~SignalAbort();
    SignalAbort(const SignalAbort&) = delete;
    SignalAbort& operator=(const SignalAbort&) = delete;

    // Runs `action` on that thread with the first interrupt, at once when one came already (before there was
    // anything to stop). An empty one disarms; replacing it waits for an action under way.
    void onSignal(std::function<void(int signal)> action);
    // The POSIX signal number of the interrupt caught (SIGINT for Ctrl-C and Ctrl-Break), 0 when none.
    int caught() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

bool stderrIsTerminal();
