#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "cli/signal_abort.h"

// SIGINT, SIGTERM and SIGHUP are taken by a thread with sigwait, so no code runs inside a signal handler.
// SIGUSR2 only wakes that thread for its end; sent from elsewhere it is swallowed.
struct SignalAbort::Impl {
    explicit Impl(SignalAbort& owner) {
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        // A hang-up (the terminal closed, an ssh session dropped) ends the run like SIGTERM, unless the run
        // was started to outlive it (nohup leaves SIGHUP ignored).
        struct sigaction hangup {};
        if (sigaction(SIGHUP, nullptr, &hangup) != 0 || hangup.sa_handler != SIG_IGN) sigaddset(&set, SIGHUP);
        sigaddset(&set, SIGUSR2);
        pthread_sigmask(SIG_BLOCK, &set, &previous);
        thread = std::thread([this, &owner] {
            for (;;) {
                int signal = 0;
                if (sigwait(&set, &signal) != 0) continue;
                if (signal != SIGUSR2)
                    owner.deliver(signal);
                else if (closing)
                    return;
            }
        });
    }
    ~Impl() {
        closing = true;
        pthread_kill(thread.native_handle(), SIGUSR2);
        thread.join();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    sigset_t set{};
    sigset_t previous{};
    std::atomic<bool> closing{false};
    std::thread thread;
};

SignalAbort::SignalAbort() : impl_(std::make_unique<Impl>(*this)) {}

SignalAbort::~SignalAbort() = default;

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}
