// The worker's panel calls carried to the user-interface thread with SendMessage.
#include "win32/ui_thread_calls.h"

UiExecutor UiThreadCalls::executor() {
    return [this](std::function<void()> call) {
        {
            std::lock_guard lock(mutex_);
            if (dropping_) return;
            ++inFlight_;
        }
        SendMessageW(panel_, kRunPanelCall, 0, reinterpret_cast<LPARAM>(&call));
        --inFlight_;
    };
}

void UiThreadCalls::stopCalls() {
    {
        std::lock_guard lock(mutex_);
        dropping_ = true;
    }
    // A call already on its way is carried out here: peeking dispatches the messages sent to this thread.
    while (inFlight_ > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void UiThreadCalls::resumeCalls() {
    std::lock_guard lock(mutex_);
    dropping_ = false;
}
