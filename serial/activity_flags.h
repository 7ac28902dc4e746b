// Raised by a serial link on every reply read and block written; lowered by the window's lights. Each link
// has its own (SerialLink::activity()).
#pragma once

#include <atomic>

struct ActivityFlags {
    std::atomic<bool> rxSeen{false};
    std::atomic<bool> txSeen{false};
};
