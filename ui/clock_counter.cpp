// The elapsed-time clock's counting and text.
#include "ui/clock_counter.h"

#include <cstdio>

std::optional<std::string> ClockCounter::tick(bool running) {
    if (!running) {
        minutes_ = 0;
        seconds_ = 0;
        return std::nullopt;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.2d:%.2d", int{minutes_}, int{seconds_});
    ++seconds_;
    if (seconds_ == 60) {
        seconds_ = 0;
        ++minutes_;  // 8 bits: 255 is followed by 0
    }
    return std::string(text);
}
