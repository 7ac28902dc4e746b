// Turning the user's interrupt into an Abort of the running session, and the other few things `flash` asks
// of the terminal. One implementation file per platform: signals on POSIX, console control events on
// Windows.
#pragma once

#include <memory>

#include "session/session_control.h"

// While it lives, the first interrupt (Ctrl-C; SIGTERM on POSIX; Ctrl-Break or closing the console on
// Windows) aborts the session from a thread of its own, never from inside a handler.
class SignalAbort {
  public:
    explicit SignalAbort(SessionControl& control);
    ~SignalAbort();
    SignalAbort(const SignalAbort&) = delete;
    SignalAbort& operator=(const SignalAbort&) = delete;

    // The POSIX signal number of the interrupt caught (SIGINT for Ctrl-C and Ctrl-Break), 0 when none.
    int caught() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

bool stderrIsTerminal();
