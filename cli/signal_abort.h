// Turning the user's interrupts into a stop of the run, whenever they come, and the other few things
// `flash` asks of the terminal. One implementation file per platform: signals on POSIX, console control
// events on Windows; signal_abort.cpp holds what they share.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// From construction on, every interrupt (Ctrl-C; SIGTERM and SIGHUP on POSIX; Ctrl-Break, closing the
// console, logging off or shutting down on Windows) is taken by a thread of its own, never inside a handler,
// until destruction: none is lost or left pending. Construct it before other threads start (on POSIX they
// inherit the blocked signals).
class SignalAbort {
  public:
    SignalAbort();
    ~SignalAbort();
    SignalAbort(const SignalAbort&) = delete;
    SignalAbort& operator=(const SignalAbort&) = delete;

    // The POSIX signal number of the first interrupt (SIGINT for Ctrl-C and Ctrl-Break), 0 before any.
    int caught() const { return caught_; }
    // Runs on the interrupt thread for each interrupt from now on; replacing it waits for a call under way.
    void setHandler(std::function<void(int signal)> handler);
    // The platform part's report of one interrupt, from its thread.
    void deliver(int signal);
    // Runs on the same thread when the terminal's size changes (SIGWINCH on POSIX; Windows sends nothing).
    void setResizeHandler(std::function<void()> handler);
    void deliverResize();

    struct Impl;

  private:
    std::atomic<int> caught_{0};
    std::mutex handlerMutex_;
    std::function<void(int)> handler_;
    std::function<void()> resizeHandler_;
    std::unique_ptr<Impl> impl_;  // last: its thread stops before the handler goes
};

bool stderrIsTerminal();
