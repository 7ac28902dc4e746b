// What the platform parts of SignalAbort share: handing an interrupt to the run.
#include "cli/signal_abort.h"

#include <utility>

void SignalAbort::setHandler(std::function<void(int)> handler) {
    std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

void SignalAbort::setResizeHandler(std::function<void()> handler) {
    std::lock_guard lock(handlerMutex_);
    resizeHandler_ = std::move(handler);
}

void SignalAbort::deliverResize() {
    std::lock_guard lock(handlerMutex_);
    if (resizeHandler_) resizeHandler_();
}

void SignalAbort::deliver(int signal) {
    int none = 0;
    caught_.compare_exchange_strong(none, signal);
    std::lock_guard lock(handlerMutex_);
    if (handler_) handler_(signal);
}
