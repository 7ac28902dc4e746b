#include "session_control.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "session_constants.h"
#include "update_session.h"
#include "worker_panel.h"

using namespace session;

struct SessionControl::Impl {
    Impl(Panel& p, UiExecutor e) : panel(p), executor(std::move(e)) {}

    // Stops the worker: nothing is written or shown by it after this. True if it was still running.
    bool stopWorker();
    void publish(int result);

    Panel& panel;
    UiExecutor executor;
    SerialLink link;
    SessionState state;
    Payloads payloads = loadPayloads();
    BeforeErase beforeErase;

    std::mutex control;  // one start, abort or shutdown at a time
    std::thread worker;
    std::shared_ptr<SessionSync> sync;  // the current session's; a new one per session

    std::mutex endMutex;
    std::condition_variable endChanged;
    bool finished = true;  // guarded by endMutex
    int result = kNoSession;
};

bool SessionControl::Impl::stopWorker() {
    if (!worker.joinable()) return false;
    const bool wasRunning = sync->markAborted();
    if (wasRunning) link.interrupt();  // wakes a read window or a write stalled on the line
    worker.join();
    return wasRunning;
}

void SessionControl::Impl::publish(int code) {
    {
        std::lock_guard lock(endMutex);
        result = code;
        finished = true;
    }
    endChanged.notify_all();
}

SessionControl::SessionControl(Panel& panel, UiExecutor executor)
    : impl_(std::make_unique<Impl>(panel, std::move(executor))) {}

SessionControl::~SessionControl() {
    shutdown();
}

SerialLink& SessionControl::link() {
    return impl_->link;
}
SessionState& SessionControl::state() {
    return impl_->state;
}
const Payloads& SessionControl::payloads() const {
    return impl_->payloads;
}
void SessionControl::setPayloads(const Payloads& payloads) {
    impl_->payloads = payloads;
}

void SessionControl::setBeforeErase(BeforeErase gate) {
    impl_->beforeErase = std::move(gate);
}

void SessionControl::updatePressed(const FlashImage& image) {
    if (running())
        abortSession();
    else
        startSession(image);
}

void SessionControl::startSession(const FlashImage& image) {
    Impl& d = *impl_;
    std::lock_guard guard(d.control);
    {
        std::lock_guard lock(d.endMutex);
        if (!d.finished) return;
        d.finished = false;
    }
    // A worker that ended on its own has shown its last message already and only needs reaping.
    if (d.worker.joinable()) d.worker.join();

    d.panel.setFieldText(IDC_UPDATE, kAbortCaption);
    for (int control : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4})
        d.panel.setControlEnabled(control, false);
    d.panel.progressReset();
    d.panel.redrawPanel();
    d.state.sessionRunning = true;
    d.state.abortHintArmed = false;

    d.sync = std::make_shared<SessionSync>();
    // No priority boost: a raised scheduling class needs privileges, and the line, not the CPU, paces the
    // stream.
    d.worker = std::thread([&d, sync = d.sync, &image] {
        WorkerPanel panel(d.panel, d.executor, sync);
        SessionContext ctx{
            panel, d.link, d.state, d.payloads, image, sync->abortedFlag, sync->phoneDetected, d.beforeErase};
        const int code = runUpdateSession(ctx);
        {
            std::lock_guard lock(sync->mutex);
            if (sync->aborted) return;  // the abort reports the ending
            sync->ended = true;
        }
        d.publish(code);
    });
}

void SessionControl::abortSession() {
    Impl& d = *impl_;
    std::lock_guard guard(d.control);
    if (!d.stopWorker()) return;  // nothing running, or it had just ended on its own
    d.link.close();
    d.state.clockRunning = false;
    // The session's own record, not abortHintArmed: a worker stopped on its way out may have lowered that.
    if (d.sync->phoneDetected) d.panel.showMessage(kBatteryHint, kAbortHintCaption, MessageIcon::Error);
    idleReset(d.panel, d.state);
    d.link.clearInterrupt();
    d.publish(kSessionAborted);
}

void SessionControl::shutdown() {
    Impl& d = *impl_;
    std::lock_guard guard(d.control);
    const bool wasRunning = d.stopWorker();
    d.link.close();
    d.link.clearInterrupt();
    d.state.sessionRunning = false;
    d.state.clockRunning = false;
    if (wasRunning) d.publish(kSessionAborted);
}

bool SessionControl::running() const {
    std::lock_guard lock(impl_->endMutex);
    return !impl_->finished;
}

int SessionControl::waitForEnd() {
    Impl& d = *impl_;
    std::unique_lock lock(d.endMutex);
    d.endChanged.wait(lock, [&] { return d.finished; });
    return d.result;
}
