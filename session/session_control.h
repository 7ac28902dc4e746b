// Starting, aborting and ending update sessions. One SessionControl per window (or CLI run).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "image/flash_image.h"
#include "panel.h"
#include "payloads.h"
#include "serial/serial_link.h"

struct SessionState {
    std::atomic<bool> sessionRunning{false};
    std::atomic<bool> clockRunning{false};
    std::atomic<bool> abortHintArmed{false};
    std::atomic<bool> failureHintWanted{false};
};

enum FailureCode : int {
    kPortBusy = 1,
    kWrongResponse = 2,
    kWrongImageSize = 3,
    kWrongSoftware = 4,
    kTransmitError = 5,
    // Not one of the phone's failures: an image whose frames run past its size (the readers never make one).
    // Refused before the port is opened; shown as "Unknown error".
    kUnusableImage = 6,
};

// How a session ended, as waitForEnd() reports it: 0 success, 1..5 a FailureCode, or one of these.
inline constexpr int kSessionAborted = -1;
inline constexpr int kNoSession = -2;
// Stopped after the IMEI read because beforeErase said no: nothing erased, the port closed, no message shown.
inline constexpr int kSessionHeld = -3;

// Decides, from the IMEI just read (15 digits), whether the session may erase the phone. Runs on the worker.
using BeforeErase = std::function<bool(std::string_view imei)>;

const char* failureMessage(int code);  // "Unknown error" for codes outside 1..5
inline constexpr const char* kBatteryHint =
    "You will have to remove the battery and put it back before restarting";

// Runs a closure on the thread that owns the panel and returns at once (e.g. a queued Qt invocation).
using UiExecutor = std::function<void(std::function<void()>)>;

// Runs on the aborting thread right after the worker has been told to stop, before it is joined: lets a test
// act in that moment (the programs pass none).
using AbortWoken = std::function<void()>;

class SessionControl {
  public:
    // With an executor, every panel call the worker makes is carried out on the panel's thread while the
    // worker waits, and calls from an aborted session are dropped. Without one, the worker calls the panel
    // directly and the panel must be thread-safe (the terminal front end, tests).
    explicit SessionControl(Panel& panel, UiExecutor executor = {}, AbortWoken abortWoken = {});
    ~SessionControl();  // stops a running session silently (no message) and releases the port
    SessionControl(const SessionControl&) = delete;
    SessionControl& operator=(const SessionControl&) = delete;

    SerialLink& link();
    SessionState& state();
    const Payloads& payloads() const;
    void setPayloads(const Payloads& payloads);
    // For the sessions started after it; call while none runs.
    void setBeforeErase(BeforeErase gate);

    // The Update/Abort button, dispatched on sessionRunning: start when it is down, abort when it is up.
    void updatePressed(const FlashImage& image);
    // Does nothing while sessionRunning is up. The worker reads `image` until its idle reset: the image must
    // outlive that (it is never changed). A session whose idle reset is done may still be showing its last
    // message: it ends on its own, beside the new one.
    void startSession(const FlashImage& image);
    // Panel's thread; does nothing unless sessionRunning is up. Returns when the worker has stopped and the
    // port is closed; nothing is written after it is called. Shows the battery hint if the phone was
    // detected in this session, then the idle reset.
    void abortSession();
    // Window closing: like abortSession but shows nothing and leaves the panel alone.
    void shutdown();

    // The latest session's worker has not ended yet (it may be past its idle reset).
    bool running() const;
    // Blocks until the latest session's worker has ended; its result (0, a FailureCode, kSessionAborted,
    // kSessionHeld).
    int waitForEnd();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
