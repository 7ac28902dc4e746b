// Raised by the serial link on every reply read and block written; lowered by the window's lights.
#pragma once

#include <atomic>

struct ActivityFlags {
    std::atomic<bool> rxSeen{false};
    std::atomic<bool> txSeen{false};
};

// One per process: there is only ever one port open at a time.
extern ActivityFlags activityFlags;
