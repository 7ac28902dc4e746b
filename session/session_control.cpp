#include "session_control.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "serial/thread_priority.h"
#include "session_constants.h"
#include "update_session.h"
#include "worker_panel.h"

using namespace session;

namespace {
struct Worker {
    std::thread thread;
    std::shared_ptr<SessionSync> sync;
};
}  // namespace

struct SessionControl::Impl {
    Impl(Panel& p, UiExecutor e, AbortWoken w) : panel(p), executor(std::move(e)), abortWoken(std::move(w)) {}

    // Stops the current worker: nothing is written or shown by it after this. True if it was still running.
    bool stopWorker();
    // Joins earlier workers that have ended; with `stop`, stops the others first.
    void reapFinishing(bool stop);
    void publish(const std::shared_ptr<SessionSync>& from, int result);

    Panel& panel;
    UiExecutor executor;
    AbortWoken abortWoken;
    SerialLink link;
    SessionState state;
    Payloads payloads = loadPayloads();
    BeforeErase beforeErase;

    std::mutex control;  // one start, abort or shutdown at a time
    Worker current;
    // Sessions that have returned the panel to idle but whose worker is still showing its last message when
    // the next session starts. They no longer touch the link or the flags.
    std::vector<Worker> finishing;

    std::mutex endMutex;
    std::condition_variable endChanged;
    bool finished = true;  // guarded by endMutex
    int result = kNoSession;
    std::shared_ptr<SessionSync> reporting;  // the session whose end waitForEnd reports; guarded by endMutex
};

bool SessionControl::Impl::stopWorker() {
    if (!current.thread.joinable()) return false;
    const bool wasRunning = current.sync->markAborted(link);
    if (abortWoken) abortWoken();
    current.thread.join();
    return wasRunning;
}

void SessionControl::Impl::reapFinishing(bool stop) {
    for (auto it = finishing.begin(); it != finishing.end();) {
        bool ended;
        {
            std::lock_guard lock(it->sync->mutex);
            ended = it->sync->ended || it->sync->aborted;
        }
        if (!ended && !stop) {
            ++it;
            continue;
        }
        // All it has left is its last message: dropping that lets it end at once.
        if (!ended) it->sync->markAborted(link);
        it->thread.join();
        it = finishing.erase(it);
    }
}

void SessionControl::Impl::publish(const std::shared_ptr<SessionSync>& from, int code) {
    {
        std::lock_guard lock(endMutex);
        if (from != reporting) return;  // a session that a newer one has replaced
        result = code;
        finished = true;
    }
    endChanged.notify_all();
}

SessionControl::SessionControl(Panel& panel, UiExecutor executor, AbortWoken abortWoken)
    : impl_(std::make_unique<Impl>(panel, std::move(executor), std::move(abortWoken))) {}

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
    if (impl_->state.sessionRunning)
        abortSession();
    else
        startSession(image);
}

void SessionControl::startSession(const FlashImage& image) {
    Impl& d = *impl_;
    std::lock_guard guard(d.control);
    if (d.state.sessionRunning) return;
    // The last worker may still be showing its final message after its idle reset: it finishes on its own.
    if (d.current.thread.joinable()) d.finishing.push_back(std::move(d.current));
    d.reapFinishing(false);

    d.panel.setFieldText(IDC_UPDATE, kAbortCaption);
    for (int control : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4})
        d.panel.setControlEnabled(control, false);
    d.panel.progressReset();
    d.panel.redrawPanel();
    d.state.sessionRunning = true;
    d.state.abortHintArmed = false;

    auto sync = std::make_shared<SessionSync>();
    {
        std::lock_guard lock(d.endMutex);
        d.finished = false;
        d.reporting = sync;
    }
    d.current.sync = sync;
    d.current.thread = std::thread([&d, sync, &image] {
        // Time-critical: the frame stream has no pacing but the line's, so it must not wait for the CPU.
        raiseThreadPriority();
        WorkerPanel panel(d.panel, d.executor, sync);
        SessionContext ctx{
            panel, d.link, d.state, d.payloads, image, sync->abortedFlag, sync->phoneDetected, d.beforeErase};
        const int code = runUpdateSession(ctx);
        {
            std::lock_guard lock(sync->mutex);
            if (sync->aborted) return;  // the abort reports the ending
            sync->ended = true;
        }
        d.publish(sync, code);
    });
}

void SessionControl::abortSession() {
    Impl& d = *impl_;
    std::shared_ptr<SessionSync> stopped;
    {
        std::lock_guard guard(d.control);
        // After its idle reset a session is over, even while its last message is still on its way.
        if (!d.state.sessionRunning) return;
        if (!d.stopWorker()) return;  // it had just ended on its own
        d.link.close();
        d.state.clockRunning = false;
        stopped = d.current.sync;
    }
    // The box runs an event loop of its own, so no lock is held across it: a close reached from inside it
    // takes the lock at once. sessionRunning stays up meanwhile, so no session starts before the idle reset.
    // The session's own record, not abortHintArmed: a worker stopped on its way out may have lowered that.
    if (stopped->phoneDetected) d.panel.showMessage(kBatteryHint, kAbortHintCaption, MessageIcon::Error);
    std::lock_guard guard(d.control);
    // A shutdown from inside the box has closed everything and leaves the panel alone.
    if (d.state.sessionRunning) {
        idleReset(d.panel, d.state);
        d.link.clearInterrupt();
    }
    d.publish(stopped, kSessionAborted);
}

void SessionControl::shutdown() {
    Impl& d = *impl_;
    std::lock_guard guard(d.control);
    const bool wasRunning = d.stopWorker();
    d.reapFinishing(true);
    d.link.close();
    d.link.clearInterrupt();
    d.state.sessionRunning = false;
    d.state.clockRunning = false;
    if (wasRunning) d.publish(d.current.sync, kSessionAborted);
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
