#include "cli/signal_abort.h"

#include <csignal>
#include <utility>

void SignalAbort::setHandler(std::function<void(int)> handler) {
    std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

void SignalAbort::deliver(int signal) {
    int none = 0;
    caught_.compare_exchange_strong(none, signal);
    std::lock_guard lock(handlerMutex_);
    if (handler_) handler_(signal);
}

int runSessionUntilInterrupted(SessionControl& control, const FlashImage& image, SignalAbort& interrupts) {
    interrupts.setHandler([&control](int) { control.abortSession(); });
    if (!interrupts.caught()) control.startSession(image);
    // An interrupt taken before the start found nothing to abort; one taken since is aborted here or by the
    // handler, and whichever comes second does nothing.
    if (interrupts.caught()) control.abortSession();
    const int result = control.waitForEnd();
    interrupts.setHandler({});
    if (result != kSessionAborted && result != kNoSession) return result;
    return 128 + (interrupts.caught() != 0 ? interrupts.caught() : SIGINT);
}
