// The panel as the worker thread sees it. Every call either goes straight to the real panel (no executor; the
// panel is thread-safe) or is posted to the panel's thread while the worker waits. Once the session is
// aborted, calls are dropped: a posted call checks the flag on the panel's thread just before it would touch
// the panel, and a waiting worker is woken at once. A dropped selectedPortDigit gives no digit ('\0').
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "panel.h"
#include "session_control.h"

// Shared by one session's worker, its posted calls and session control. Posted calls hold it, so a call that
// runs after the session (or the whole SessionControl) is gone still finds a valid, aborted flag.
struct SessionSync {
    std::mutex mutex;
    std::condition_variable wake;
    bool aborted = false;                  // guarded by mutex
    bool ended = false;                    // the worker finished on its own; guarded by mutex
    std::atomic<bool> abortedFlag{false};  // lock-free copy for the worker's checks
    std::atomic<bool> phoneDetected{false};

    // Marks the session aborted unless the worker has already ended; true if it did mark it. The link is
    // interrupted in the same critical section, before a dropped panel call can return to the worker: a
    // worker that notices the abort can no longer open the port or write a byte.
    bool markAborted(SerialLink& link);
};

class WorkerPanel final : public Panel {
  public:
    WorkerPanel(Panel& target, UiExecutor executor, std::shared_ptr<SessionSync> sync);

    void setStatus(const std::string& text) override;
    void setFieldText(int control, const std::string& text) override;
    void clearImageFields() override;
    void progressStart(std::uint32_t range) override;
    void progressStep() override;
    void progressReset() override;
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    char selectedPortDigit() override;
    void setControlEnabled(int control, bool enabled) override;
    void setControlVisible(int control, bool visible) override;
    void redrawPanel() override;

    // One posted call for all of `calls`: on the panel's thread no click is handled between them.
    void together(const std::function<void(Panel&)>& calls) override;

  private:
    // Runs `call` on the panel unless the session is aborted; returns its result or `dropped`.
    char perform(std::function<char(Panel&)> call, char dropped = 0);

    Panel& target_;
    UiExecutor executor_;
    std::shared_ptr<SessionSync> sync_;
};
