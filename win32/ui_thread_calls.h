// The session's worker reaches the panel through SendMessage: each panel call runs on the user-interface
// thread while the worker waits for it. Abort and shutdown run on that thread too and wait for the worker,
// so before they wait, calls are switched off and the one in flight is let through: neither thread can then
// be left waiting for the other.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "session/session_control.h"

inline constexpr UINT kRunPanelCall = WM_APP + 1;  // lParam: the std::function<void()> to run

class UiThreadCalls {
  public:
    void setPanel(HWND panel) { panel_ = panel; }
    UiExecutor executor();

    // User-interface thread: from now on calls are dropped (the session's worker then waits for the abort
    // that follows); returns once no call is on its way to the panel.
    void stopCalls();
    void resumeCalls();

    // For the panel's procedure: runs the call a worker sent.
    static void run(LPARAM call) { (*reinterpret_cast<std::function<void()>*>(call))(); }

  private:
    HWND panel_ = nullptr;
    std::mutex mutex_;
    bool dropping_ = false;  // guarded by mutex_
    std::atomic<int> inFlight_{0};
};
