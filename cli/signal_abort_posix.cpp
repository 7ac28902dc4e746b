#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "cli/signal_abort.h"

// SIGINT and SIGTERM are taken by a thread with sigwait, so no code runs inside a signal handler; the thread
// turns the first of them into an Abort. SIGUSR2 only wakes it up when the session ended by itself.
struct SignalAbort::Impl {
    explicit Impl(SessionControl& c) : control(c) {}

    void waitForSignal() {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || signal == SIGUSR2) return;
        caught = signal;
        control.abortSession();
    }

    SessionControl& control;
    sigset_t set{};
    sigset_t previous{};
    std::thread thread;
    std::atomic<int> caught{0};
};

SignalAbort::SignalAbort(SessionControl& control) : impl_(std::make_unique<Impl>(control)) {
    Impl& d = *impl_;
    sigemptyset(&d.set);
    sigaddset(&d.set, SIGINT);
    sigaddset(&d.set, SIGTERM);
    sigaddset(&d.set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &d.set, &d.previous);
    d.thread = std::thread([&d] { d.waitForSignal(); });
}

SignalAbort::~SignalAbort() {
    Impl& d = *impl_;
    if (!d.caught) pthread_kill(d.thread.native_handle(), SIGUSR2);
    d.thread.join();
    pthread_sigmask(SIG_SETMASK, &d.previous, nullptr);
}

int SignalAbort::caught() const {
    return impl_->caught;
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}
