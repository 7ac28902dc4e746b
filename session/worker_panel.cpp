// The worker's view of the panel: direct, or posted to the panel's thread and waited for.
#include "worker_panel.h"

#include <utility>

bool SessionSync::markAborted(SerialLink& link) {
    {
        std::lock_guard lock(mutex);
        if (ended) return false;
        // The flag first: a worker woken by the interrupt finds itself aborted and ends without a word.
        aborted = true;
        abortedFlag = true;
        link.interrupt();
    }
    wake.notify_all();
    return true;
}

WorkerPanel::WorkerPanel(Panel& target, UiExecutor executor, std::shared_ptr<SessionSync> sync)
    : target_(target), executor_(std::move(executor)), sync_(std::move(sync)) {}

namespace {
struct PostedCall {
    bool done = false;  // guarded by SessionSync::mutex
    char result = 0;
};
}  // namespace

char WorkerPanel::perform(std::function<char(Panel&)> call, char dropped) {
    if (!executor_) {
        // Held across the call so that abortSession, which takes the same lock to mark the abort, can never
        // be followed by a call from this session.
        std::lock_guard lock(sync_->mutex);
        return sync_->aborted ? dropped : call(target_);
    }
    auto posted = std::make_shared<PostedCall>();
    executor_([sync = sync_, posted, target = &target_, call = std::move(call)] {
        bool run;
        {
            std::lock_guard lock(sync->mutex);
            run = !sync->aborted;
        }
        // Abort runs on this same thread, so the flag cannot change between the check and the call.
        char result = run ? call(*target) : 0;
        {
            std::lock_guard lock(sync->mutex);
            posted->done = true;
            posted->result = result;
        }
        sync->wake.notify_all();
    });
    std::unique_lock lock(sync_->mutex);
    sync_->wake.wait(lock, [&] { return posted->done || sync_->aborted; });
    return posted->done && !sync_->aborted ? posted->result : dropped;
}

void WorkerPanel::setStatus(const std::string& text) {
    perform([text](Panel& p) {
        p.setStatus(text);
        return char{};
    });
}
void WorkerPanel::setFieldText(int control, const std::string& text) {
    perform([control, text](Panel& p) {
        p.setFieldText(control, text);
        return char{};
    });
}
void WorkerPanel::clearImageFields() {
    perform([](Panel& p) {
        p.clearImageFields();
        return char{};
    });
}
void WorkerPanel::progressStart(std::uint32_t range) {
    perform([range](Panel& p) {
        p.progressStart(range);
        return char{};
    });
}
void WorkerPanel::progressStep() {
    perform([](Panel& p) {
        p.progressStep();
        return char{};
    });
}
void WorkerPanel::progressReset() {
    perform([](Panel& p) {
        p.progressReset();
        return char{};
    });
}
void WorkerPanel::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    perform([text, caption, icon](Panel& p) {
        p.showMessage(text, caption, icon);
        return char{};
    });
}
char WorkerPanel::selectedPortDigit() {
    return perform([](Panel& p) { return p.selectedPortDigit(); });
}
void WorkerPanel::setControlEnabled(int control, bool enabled) {
    perform([control, enabled](Panel& p) {
        p.setControlEnabled(control, enabled);
        return char{};
    });
}
void WorkerPanel::setControlVisible(int control, bool visible) {
    perform([control, visible](Panel& p) {
        p.setControlVisible(control, visible);
        return char{};
    });
}
void WorkerPanel::redrawPanel() {
    perform([](Panel& p) {
        p.redrawPanel();
        return char{};
    });
}
void WorkerPanel::together(const std::function<void(Panel&)>& calls) {
    perform([calls](Panel& p) {
        calls(p);
        return char{};
    });
}
