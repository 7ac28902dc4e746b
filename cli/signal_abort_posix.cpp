#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

#include "cli/signal_abort.h"

// SIGINT and SIGTERM are taken by a thread with sigwait, so no code runs inside a signal handler; the thread
// hands the first of them on. SIGUSR2 only wakes it up when the run ended by itself.
struct SignalAbort::Impl {
    void waitForSignal() {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || signal == SIGUSR2) return;
        std::lock_guard lock(mutex);
        caught = signal;
        if (action) action(signal);
    }

    sigset_t set{};
    sigset_t previous{};
    std::mutex mutex;
    std::function<void(int)> action;  // guarded by mutex
    std::atomic<int> caught{0};
    std::thread thread;
};

SignalAbort::SignalAbort() : impl_(std::make_unique<Impl>()) {
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

void SignalAbort::onSignal(std::function<void(int)> action) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    d.action = std::move(action);
    if (d.caught && d.action) d.action(d.caught);
}

int SignalAbort::caught() const {
    return impl_->caught;
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}
