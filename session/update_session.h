// The conversation with the phone (runs on the worker thread) and the endings it shares with session control.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string_view>

#include "image/flash_image.h"
#include "panel.h"
#include "payloads.h"
#include "serial/serial_link.h"
#include "session_control.h"

struct SessionContext {
    Panel& panel;  // the worker's view of the panel (see WorkerPanel)
    SerialLink& link;
    SessionState& state;
    const Payloads& payloads;
    const FlashImage& image;
    const std::atomic<bool>& aborted;  // raised by abortSession; the worker then stops without a word
    std::atomic<bool>& phoneDetected;  // raised at detection, never lowered: decides the hint after an abort
    // Asked with the IMEI's 15 digits once they are read, before anything is erased; false holds the session
    // there (see BeforeErase). Empty: the session goes on as always.
    BeforeErase beforeErase = {};
    // Where the phone is; without one, the panel's selected COM port (selectedPortDigit).
    std::optional<PortTarget> port = {};
};

// Steps 1-16 of an update. Returns 0 after success, the FailureCode it failed with, kSessionAborted, or
// kSessionHeld when beforeErase said no.
int runUpdateSession(SessionContext& ctx);

// A failed step: closes the link, shows the code's message (and the battery hint when the phone may have been
// touched: not when the port would not open or the image was refused first), returns the panel to idle and
// hands the code back for the worker to return. Does nothing once the session is aborted (the abort owns the
// ending then) and returns kSessionAborted.
int failSession(SessionContext& ctx, int code);

// Every ending returns the panel to idle with this. It also disarms the abort hint: the hint only follows an
// abort of a session in which a phone was detected.
void idleReset(Panel& panel, SessionState& state);

// True when the image's frames can be walked to the termination frame within its size.
bool imageStreamable(const FlashImage& image);
